// DDL analysis: one implementation over the character type (char for UTF-8
// bytes, char16_t for UTF-16 code units); the forms differ only by the rules
// in kForms below.
//
// What a table statement leaves in the model (UTF-8 first form, root page 2):
//
//   text         CREATE TABLE t1 (id INTEGER PRIMARY KEY, name TEXT, price REAL)
//   log line     "Table t1 is found"            name as cut + "is found"
//   descriptor   "t1 +id< P.K >~name~price~#2"  head, columns + "~", "#" + root
//   rebuilt      "create Table [t1] ( [id]  INTEGER, [name]  TEXT, [price] TEXT )"
//   statement    "CREATE TABLE t1 (id INTEGER PRIMARY KEY, name TEXT, price REAL"
//   types        INTEGER, TEXT, TEXT
//
// An index over n columns leaves n entries, each the statement cut after one
// more column; views and triggers are kept as copies from their first letter
// to the end of the text.
#include "core/ddl.h"

#include <map>
#include <string>
#include <type_traits>
#include <vector>

#include "core/session.h"
#include "core/text.h"

namespace veltrane {

namespace {

// The differences between the forms, as data.
struct FormRules {
  bool countsObjects;      // objectCount + 1 per keyword match
  bool sendsProgress;      // progress position after a keyword match
  enum class NameStop { Paren, SpaceOrParen, BlankOrParen } tableNameStop;
  const char* tableLogTail;      // after "Table " + name
  const char* headTail;          // between the name and the descriptor's columns
  const char* columnSeparator;   // between the columns of the rebuilt statement
  bool alwaysBracketTableName;   // the rebuilt statement never falls back to the bare name
  bool foreignKeyEndsColumns;
  bool firstPassSeeksParen;      // pass 1 moves past the first "(", later passes skip one "("
  bool checkLooksAtBracket;      // "check]" is not a check clause
  bool checkLooksAtIdentifier;   // "checked" is not a check clause
  bool createTableEndsDefinition;
  bool endSkipsComma;            // e moves on when "," stands one or two places after it
  bool endSkipsSpace;            // e moves past one following space
  bool nameTakesBlank;           // a column name runs up to and including its first blank
  bool bareKeyMarks;             // "primary key" alone marks the column too
  const char* indexLogHead;      // nullptr: no log line
  bool copiesInTextBuffers;      // view and trigger copies also go to textBuffers
  bool quietAtEnd;               // the end of the text keeps what was stored
};

using Stop = FormRules::NameStop;

constexpr FormRules kUtf8First{
    .countsObjects = true,
    .sendsProgress = true,
    .tableNameStop = Stop::Paren,
    .tableLogTail = "is found",
    .headTail = "+",
    .columnSeparator = ", ",
    .alwaysBracketTableName = false,
    .foreignKeyEndsColumns = true,
    .firstPassSeeksParen = false,
    .checkLooksAtBracket = true,
    .checkLooksAtIdentifier = true,
    .createTableEndsDefinition = false,
    .endSkipsComma = true,
    .endSkipsSpace = true,
    .nameTakesBlank = false,
    .bareKeyMarks = false,
    .indexLogHead = "INDEX ",
    .copiesInTextBuffers = false,
    .quietAtEnd = false,
};

constexpr FormRules SecondForm(FormRules first) {
  first.countsObjects = false;
  return first;
}

constexpr FormRules kUtf8Second = [] {
  FormRules r = SecondForm(kUtf8First);
  r.tableNameStop = Stop::SpaceOrParen;
  r.checkLooksAtBracket = false;
  r.checkLooksAtIdentifier = false;
  r.indexLogHead = "INDEX";
  return r;
}();

constexpr FormRules kUtf16First = [] {
  FormRules r = kUtf8First;
  r.tableNameStop = Stop::SpaceOrParen;
  r.tableLogTail = "  is found";
  r.headTail = " +";
  r.columnSeparator = " , ";
  r.checkLooksAtBracket = false;
  r.checkLooksAtIdentifier = false;
  r.endSkipsComma = false;
  r.indexLogHead = "Index ";
  return r;
}();

constexpr FormRules kUtf16Second = SecondForm(kUtf16First);

constexpr FormRules kSqlite2 = [] {
  FormRules r = kUtf8First;
  r.sendsProgress = false;
  r.tableNameStop = Stop::BlankOrParen;
  r.tableLogTail = " is found";
  r.columnSeparator = " , ";
  r.alwaysBracketTableName = true;
  r.foreignKeyEndsColumns = false;
  r.firstPassSeeksParen = true;
  r.checkLooksAtIdentifier = false;
  r.createTableEndsDefinition = true;
  r.endSkipsSpace = false;
  r.nameTakesBlank = true;
  r.bareKeyMarks = true;
  r.indexLogHead = "Index ";
  r.copiesInTextBuffers = true;
  r.quietAtEnd = true;
  return r;
}();

const FormRules& RulesOf(DdlForm form) {
  switch (form) {
    case DdlForm::Utf8First: return kUtf8First;
    case DdlForm::Utf8Second: return kUtf8Second;
    case DdlForm::Utf16First: return kUtf16First;
    case DdlForm::Utf16Second: return kUtf16Second;
    case DdlForm::Sqlite2: return kSqlite2;
  }
  return kUtf8First;
}

struct Keyword {
  std::string_view text;
  DdlKind kind;
};

// Tested at each position in this order; at most one can match at a position.
constexpr Keyword kKeywords[] = {
    {"CREATE TABLE", DdlKind::Table},         {"CREATE INDEX", DdlKind::Index},
    {"CREATE UNIQUE INDEX", DdlKind::UniqueIndex}, {"CREATE VIRTUAL TABLE", DdlKind::Virtual},
    {"_autoindex", DdlKind::AutoIndex},       {"autoindex", DdlKind::AutoIndex},
    {"CREATE VIEW", DdlKind::View},           {"%REATE VIEW", DdlKind::View},
    {"CREATE TRIGGER", DdlKind::Trigger},     {"&REATE TRIGGER", DdlKind::Trigger},
};

inline unsigned Unit(char c) { return static_cast<unsigned char>(c); }
inline unsigned Unit(char16_t c) { return c; }

std::string ToUtf8(std::string_view s) { return std::string(s); }
std::string ToUtf8(std::u16string_view s) { return Utf16ToUtf8(s); }

// A copy that ends where a zero-terminated buffer would.
template <typename CharT>
std::basic_string<CharT> UpToZero(std::basic_string_view<CharT> s) {
  const size_t zero = s.find(CharT(0));
  return std::basic_string<CharT>(s.substr(0, zero));
}

// The statement lists of one text width.
template <typename CharT>
struct Lists;
template <>
struct Lists<char> {
  static std::vector<std::string>& Tables(sqlite_base& m) { return m.tableStatements; }
  static std::vector<std::string>& Indexes(sqlite_base& m) { return m.indexStatements; }
  static std::vector<std::string>& IndexSources(sqlite_base& m) { return m.indexSourceStatements; }
  static std::vector<std::string>& Views(sqlite_base& m) { return m.viewStatements; }
  static std::vector<std::string>& Triggers(sqlite_base& m) { return m.triggerStatements; }
};
template <>
struct Lists<char16_t> {
  static std::vector<std::u16string>& Tables(sqlite_base& m) { return m.wideTableStatements; }
  static std::vector<std::u16string>& Indexes(sqlite_base& m) { return m.wideIndexStatements; }
  static std::vector<std::u16string>& IndexSources(sqlite_base& m) { return m.wideIndexSourceStatements; }
  static std::vector<std::u16string>& Views(sqlite_base& m) { return m.wideViewStatements; }
  static std::vector<std::u16string>& Triggers(sqlite_base& m) { return m.wideTriggerStatements; }
};

// True when word (ASCII) stands at text[pos..], ignoring case; never reads
// past the end.
template <typename CharT>
bool MatchAt(std::basic_string_view<CharT> text, size_t pos, std::string_view word) {
  if (pos > text.size() || text.size() - pos < word.size()) return false;
  for (size_t k = 0; k < word.size(); ++k) {
    const unsigned c = Unit(text[pos + k]);
    const unsigned w = static_cast<unsigned char>(word[k]);
    const unsigned cu = (c >= 'a' && c <= 'z') ? c - 32 : c;
    const unsigned wu = (w >= 'a' && w <= 'z') ? w - 32 : w;
    if (cu != wu) return false;
  }
  return true;
}

// How many times its own text the entries of one index may hold together.
constexpr size_t kIndexEntryShare = 8;

struct KeywordHit {
  DdlKind kind = DdlKind::None;
  size_t pos = 0;
};

// The first keyword at or after from. An automatic-index name counts only
// when no CREATE statement follows it in the same text: a table or index
// whose own name holds "autoindex" (its name field stands in front of its
// statement in a whole record) must not be taken for an automatic index.
template <typename CharT>
KeywordHit FindKeyword(std::basic_string_view<CharT> text, size_t from) {
  KeywordHit autoHit;
  for (size_t i = from; i < text.size(); ++i) {
    const unsigned c = Unit(text[i]);
    if (c != 'C' && c != 'c' && c != '_' && c != 'a' && c != 'A' && c != '%' && c != '&') continue;
    for (const Keyword& k : kKeywords) {
      if (k.kind == DdlKind::AutoIndex && autoHit.kind != DdlKind::None) continue;
      if (!MatchAt(text, i, k.text)) continue;
      if (k.kind != DdlKind::AutoIndex) return {k.kind, i};
      autoHit = {k.kind, i};
      break;
    }
  }
  return autoHit;
}

// One analysis of one text. Positions are counted from the start of the
// text; every scan stops at its end.
template <typename CharT>
class Analysis {
 public:
  using View = std::basic_string_view<CharT>;
  using String = std::basic_string<CharT>;

  Analysis(sqlite_base& model, RecoverySession& session, View text, const FormRules& rules)
      : model_(model), session_(session), owned_(text), text_(owned_), rules_(rules) {}
  Analysis(const Analysis&) = delete;
  Analysis& operator=(const Analysis&) = delete;

  DdlOutcome Run(int64_t rootPage, uint32_t progressCell, size_t startAt) {
    if (text_.empty()) return {DdlResult::Skipped, DdlKind::None};
    const KeywordHit hit = FindKeyword(text_, startAt);
    if (hit.kind == DdlKind::None) return {DdlResult::NoKeyword, DdlKind::None};
    return AnalyseAt(hit, rootPage, progressCell);
  }

  DdlOutcome AnalyseAt(KeywordHit hit, int64_t rootPage, uint32_t progressCell) {
    if (rules_.countsObjects) ++session_.objectCount;
    if (rules_.sendsProgress) session_.SetProgressPos(progressCell);
    DdlResult result = DdlResult::Done;
    switch (hit.kind) {
      case DdlKind::Table: result = Table(hit.pos, rootPage); break;
      case DdlKind::Index: result = Index(hit.pos, false); break;
      case DdlKind::UniqueIndex: result = Index(hit.pos, true); break;
      case DdlKind::View: Copy(hit.pos, Lists<CharT>::Views(model_)); break;
      case DdlKind::Trigger: Copy(hit.pos, Lists<CharT>::Triggers(model_)); break;
      default: break;  // counted only
    }
    return {result, hit.kind};
  }

 private:
  size_t Length() const { return text_.size(); }
  unsigned At(size_t i) const { return i < text_.size() ? Unit(text_[i]) : 0; }
  bool Match(size_t i, std::string_view word) const { return MatchAt(text_, i, word); }
  std::string Utf8(size_t from, size_t to) const {
    return to > from ? ToUtf8(text_.substr(from, to - from)) : std::string();
  }

  // Moves pos while pred holds; false when the text ends first.
  template <typename Pred>
  bool SkipWhile(size_t& pos, Pred pred) const {
    while (pos < Length() && pred(At(pos))) ++pos;
    return pos < Length();
  }
  bool SkipTo(size_t& pos, unsigned c) const {
    return SkipWhile(pos, [c](unsigned u) { return u != c; });
  }

  // ---- tables ----

  DdlResult Table(size_t p, int64_t rootPage) {
    size_t pos = p + 13;
    if (pos >= Length()) return DdlResult::RanPastEnd;
    if (At(pos) == ')') return DdlResult::Skipped;

    const Stop stop = rules_.tableNameStop;
    size_t nameEnd = pos;
    if (!SkipWhile(nameEnd, [stop](unsigned c) {
          if (c == '(') return false;
          if (stop == Stop::SpaceOrParen && c == ' ') return false;
          if (stop == Stop::BlankOrParen && IsBlank(c)) return false;
          return true;
        }))
      return DdlResult::RanPastEnd;
    const std::string name = Utf8(pos, nameEnd);
    pos = nameEnd;
    if (!SkipWhile(pos, IsBlank)) return DdlResult::RanPastEnd;
    session_.AddLogLine("Table " + name + rules_.tableLogTail);
    const std::string head = name + rules_.headTail;

    std::string rebuilt;
    const std::string cleaned = CleanIdentifier(name);
    if (cleaned.empty() && !rules_.alwaysBracketTableName)
      rebuilt = "create Table " + name + " ( ";
    else
      rebuilt = "create Table [" + cleaned + "] ( ";

    std::string columns;
    model_.currentColumnTypes.clear();
    bool first = true;
    // Every pass moves on by at least one character, so the text's length
    // bounds the passes.
    for (size_t pass = 0; pass <= Length(); ++pass) {
      if (pos >= Length()) return DdlResult::RanPastEnd;
      if (!first && !SkipWhile(pos, IsBlank)) return DdlResult::RanPastEnd;
      if (rules_.firstPassSeeksParen) {
        if (first) {
          if (!SkipTo(pos, '(')) return DdlResult::RanPastEnd;
          ++pos;
        } else if (At(pos) == '(') {
          ++pos;
        }
      } else if (!SkipWhile(pos, [](unsigned c) { return c == '('; })) {
        return DdlResult::RanPastEnd;
      }
      if (At(pos) == ',') ++pos;
      if (!SkipWhile(pos, IsBlank)) return DdlResult::RanPastEnd;
      const bool bracketed = At(pos) == '[';
      first = false;

      if (EndsColumnList(pos)) return ConstraintEnd(p, pos, rootPage, head, columns, rebuilt);

      Column column;
      if (!Definition(pos, bracketed, column)) return DdlResult::RanPastEnd;
      if (column.number > 0) rebuilt += rules_.columnSeparator;
      rebuilt += "[" + CleanIdentifier(column.name) + "]";
      columns += column.name + column.marks + "~";
      rebuilt += " " + column.type;
      model_.currentColumnTypes.push_back(std::string(Trim(column.type)));
      ++columnNumber_;

      pos = column.end;
      if (column.endsTable || At(pos) == ')') return NormalEnd(p, pos, rootPage, head, columns, rebuilt);
    }
    return DdlResult::RanPastEnd;
  }

  bool EndsColumnList(size_t pos) const {
    return Match(pos, "CONSTRAINT") || (rules_.foreignKeyEndsColumns && Match(pos, "foreign key")) ||
           Match(pos, "unique") || Match(pos, "check") || Match(pos, "PRIMARY KEY (") ||
           Match(pos, "PRIMARY KEY(");
  }

  struct Column {
    int number = 0;  // 0 for the first column
    std::string name;
    std::string marks;
    std::string type;
    size_t end = 0;  // where the next column starts
    bool endsTable = false;
  };

  // One column definition starting at a; false when the text ends first.
  bool Definition(size_t a, bool bracketed, Column& column) {
    column.number = columnNumber_;
    size_t e = a;
    if (At(a) != ',') {
      while (At(e) != ')') {
        if (e >= Length()) return false;
        if (rules_.createTableEndsDefinition && Match(e, "CREATE TABLE")) {
          column.endsTable = true;
          break;
        }
        if (Match(e, "check") && CheckCounts(e + 5)) {
          if (!SkipTo(e, '(')) return false;
          int depth = 0;
          for (;; ++e) {
            if (e >= Length()) return false;
            if (At(e) == '(') ++depth;
            if (At(e) == ')' && --depth == 0) break;
          }
        }
        if (At(e) == '(' && !SkipTo(e, ')')) return false;
        if (Match(e, "char(") || Match(e, "char (")) {
          e += 5;
          if (!SkipTo(e, ')')) return false;
        }
        ++e;
        if (At(e) == ',') break;
      }
    }
    if (rules_.endSkipsComma && (At(e + 1) == ',' || At(e + 2) == ',')) ++e;
    // The closing ")" of the column list stays where it is, so that a table
    // with options after it ("... ) WITHOUT ROWID") ends there.
    if (rules_.endSkipsSpace && At(e + 1) == ' ' && At(e) != ')') ++e;
    column.end = e;

    // The name.
    size_t start = a;
    if (!SkipWhile(start, IsBlank)) return false;
    size_t nameEnd = start;
    if (rules_.nameTakesBlank) {
      while (nameEnd < e && !IsBlank(At(nameEnd))) ++nameEnd;
      if (nameEnd < e) ++nameEnd;
    } else {
      while (nameEnd < e && At(nameEnd) != ' ' && At(nameEnd) != ',' && At(nameEnd) != ')') ++nameEnd;
    }
    if (bracketed && nameEnd > start && At(nameEnd - 1) != ']') {
      if (!SkipTo(nameEnd, ']')) return false;
      ++nameEnd;
    }
    column.name = Utf8(a, nameEnd);

    // The INTEGER PRIMARY KEY mark.
    for (size_t q = nameEnd; q < e && e - q >= 19;) {
      if (Match(q, "INTEGER")) {
        q += 8;
        for (; q < e && e - q >= 11;) {
          if (Match(q, "primary key")) {
            column.marks += kKeyMark;
            q += 11;
          } else {
            ++q;
          }
        }
      } else if (rules_.bareKeyMarks && Match(q, "primary key")) {
        column.marks += kKeyMark;
        q += 11;
      } else {
        ++q;
      }
    }

    // The declared type.
    size_t t = nameEnd;
    if (!SkipWhile(t, [](unsigned c) { return c == ' '; })) return false;
    if (e >= nameEnd && e - nameEnd >= 4) {
      for (;;) {
        if (t >= Length()) return false;
        const unsigned c = At(t);
        if (c == ' ' || c == ',' || c == ')') break;
        if (c == '(') {
          if (!SkipTo(t, ')')) return false;
          break;
        }
        ++t;
      }
    }
    const std::string type = NormaliseTypeName(Utf8(nameEnd, t));
    column.type = IsKnownType(type) ? type : "TEXT";
    return true;
  }

  bool CheckCounts(size_t after) const {
    const unsigned c = At(after);
    if (rules_.checkLooksAtBracket && c == ']') return false;
    if (rules_.checkLooksAtIdentifier && IsIdentifierChar(c)) return false;
    return true;
  }

  // The column list ended at a table constraint standing at pos.
  DdlResult ConstraintEnd(size_t p, size_t pos, int64_t rootPage, const std::string& head,
                          const std::string& columns, std::string& rebuilt) {
    // The table's closing parenthesis: depth 1 from the constraint on. The
    // depth is counted from here rather than from the next "(": a column
    // whose name begins like a constraint (unique_code TEXT) may have no
    // parenthesis of its own before the table's end.
    size_t close = Length();
    bool closed = false;
    for (int depth = 1; pos < Length(); ++pos) {
      if (At(pos) == '(') ++depth;
      if (At(pos) == ')' && --depth == 0) {
        close = pos;
        closed = true;
        break;
      }
    }
    // Without its closing parenthesis the statement is incomplete. A SQLite 2
    // record still has every column: keep the table with the text it holds.
    if (!closed && !rules_.quietAtEnd) return DdlResult::RanPastEnd;
    String statement(text_.substr(p, close - p));
    if (!closed) statement = UpToZero<CharT>(statement);
    rebuilt += " )";
    Store(head, columns, rootPage, std::move(statement), rebuilt, closed ? TableOptions(close + 1) : std::string());
    return closed ? DdlResult::Done : DdlResult::RanPastEnd;
  }

  // The column list ended at ")" (or at a following statement) at pos.
  DdlResult NormalEnd(size_t p, size_t pos, int64_t rootPage, const std::string& head,
                      const std::string& columns, std::string& rebuilt) {
    rebuilt += " )";
    if (At(pos + 1) == ')') ++pos;
    Store(head, columns, rootPage, String(text_.substr(p, pos - p)), rebuilt,
          At(pos) == ')' ? TableOptions(pos + 1) : std::string());
    return DdlResult::Done;
  }

  // The four table lists grow together, so their positions keep corresponding.
  // The table options after the column list's ")" at from (" WITHOUT ROWID",
  // " STRICT", both with a comma between), as written: up to the last option
  // recognised; empty when none follows.
  std::string TableOptions(size_t from) const {
    size_t pos = from, end = from;
    auto blanks = [&] {
      while (pos < Length() && IsBlank(At(pos))) ++pos;
    };
    auto word = [&](std::string_view w) {
      if (!Match(pos, w) || IsIdentifierChar(At(pos + w.size()))) return false;
      pos += w.size();
      return true;
    };
    for (bool first = true;; first = false) {
      blanks();
      if (!first) {
        if (At(pos) != ',') break;
        ++pos;
        blanks();
      }
      if (word("strict")) {
        end = pos;
        continue;
      }
      if (!word("without")) break;
      blanks();
      if (!word("rowid")) break;
      end = pos;
    }
    return end > from ? Utf8(from, end) : std::string();
  }

  void Store(const std::string& head, const std::string& columns, int64_t rootPage, String statement,
             const std::string& rebuilt, std::string options) {
    const std::string descriptor = head + columns + "#" + std::to_string(rootPage);
    // Tables stored by other means leave no entry: pad so positions agree.
    model_.tableOptions.resize(model_.tableDescriptors.size());
    model_.tableOptions.push_back(std::move(options));
    model_.textBuffers.push_back(descriptor);
    model_.tableDescriptors.push_back(descriptor);
    Lists<CharT>::Tables(model_).push_back(std::move(statement));
    model_.createStatements.push_back(rebuilt);
    model_.tableColumnTypes.push_back(model_.currentColumnTypes);
    model_.currentColumnTypes.clear();
  }

  // ---- indexes ----

  DdlResult Index(size_t p, bool unique) {
    size_t pos = p + (unique ? 20 : 13);
    if (pos >= Length()) return DdlResult::RanPastEnd;
    if (At(pos) == ')') return DdlResult::Skipped;
    const size_t nameStart = pos;
    auto& entries = Lists<CharT>::Indexes(model_);
    // The last entry of the index also keeps the whole statement as found,
    // for the save; the others keep an empty text (one copy per index).
    auto& sources = Lists<CharT>::IndexSources(model_);
    const size_t entriesBefore = entries.size();
    auto isSkipped = [](unsigned c) { return c == ' ' || c == '(' || c == ','; };
    // Each entry copies the statement's beginning, so a column list of n
    // columns would take n times the text. The entries of one index together
    // hold at most kIndexEntryShare times its text; past that only the
    // longest beginning is kept, the one the tree and the save use.
    const size_t budget = kIndexEntryShare * (Length() - p);
    size_t stored = 0;
    size_t pending = 0;  // a beginning that was not stored, 0 for none
    auto store = [&](size_t end) {
      entries.push_back(String(text_.substr(p, end - p)));
      sources.emplace_back();
    };
    auto finish = [&](DdlResult result) {
      if (pending != 0) store(pending);
      if (entries.size() > entriesBefore) sources.back() = UpToZero<CharT>(text_.substr(p));
      return result;
    };
    auto keep = [&](size_t end) {
      if (stored + (end - p) <= budget) {
        store(end);
        stored += end - p;
        pending = 0;
      } else {
        pending = end;
      }
    };
    auto ranPastEnd = [&] { return finish(DdlResult::RanPastEnd); };
    bool first = true;
    while (At(pos) != ')') {
      if (pos >= Length()) return ranPastEnd();
      if (first) {
        if (!SkipTo(pos, ' ')) return ranPastEnd();
        if (!unique && rules_.indexLogHead != nullptr)
          session_.AddLogLine(rules_.indexLogHead + Utf8(nameStart, pos) + " is found");
        pos += 3;
      }
      if (!SkipWhile(pos, isSkipped)) return ranPastEnd();
      if (first && !SkipWhile(pos, [](unsigned c) { return c != ' ' && c != '('; }))
        return ranPastEnd();
      first = false;
      if (!SkipWhile(pos, isSkipped)) return ranPastEnd();
      if (!SkipWhile(pos, [](unsigned c) { return c != ' ' && c != ',' && c != ')'; }))
        return ranPastEnd();
      if (At(pos) == ' ') ++pos;
      keep(pos);
    }
    return finish(DdlResult::Done);
  }

  // ---- views and triggers ----

  template <typename List>
  void Copy(size_t p, List& list) {
    String copy = UpToZero<CharT>(text_.substr(p));
    if constexpr (std::is_same_v<CharT, char>) {
      if (rules_.copiesInTextBuffers) model_.textBuffers.push_back(copy);
    }
    list.push_back(std::move(copy));
  }

  sqlite_base& model_;
  RecoverySession& session_;
  // The analysis appends to textBuffers, which may hold the text itself.
  const String owned_;
  const View text_;
  const FormRules& rules_;
  int columnNumber_ = 0;
};

template <typename CharT>
DdlOutcome AnalyseText(sqlite_base& model, RecoverySession& session, std::basic_string_view<CharT> text,
                       int64_t rootPage, DdlForm form, uint32_t progressCell, size_t startAt) {
  Analysis<CharT> analysis(model, session, text, RulesOf(form));
  DdlOutcome outcome = analysis.Run(rootPage, progressCell, startAt);
  // The SQLite 2 discovery passes over a record without a statement silently.
  if (form == DdlForm::Sqlite2 && outcome.result == DdlResult::NoKeyword) outcome.result = DdlResult::Skipped;
  return outcome;
}

// The root page digits that end two bytes before the statement at p, read
// backwards; 0 when none stand there or the number exceeds 32 bits.
int64_t RootPageBefore(std::string_view record, size_t p) {
  if (p < 2) return 0;
  size_t begin = p - 1;  // one past the last digit
  while (begin > 0 && record[begin - 1] >= '0' && record[begin - 1] <= '9') --begin;
  uint64_t value = 0;
  for (size_t i = begin; i < p - 1; ++i) {
    value = value * 10 + static_cast<uint64_t>(record[i] - '0');
    if (value > 0xFFFFFFFFull) return 0;
  }
  return static_cast<int64_t>(value);
}

// ---- hand-over to the tree ----

enum class LabelRule { UpToParen, UpToAs, FirstWord };

template <typename CharT>
bool LabelOf(std::basic_string_view<CharT> text, std::string_view keyword, LabelRule rule, std::string& label) {
  // The first occurrence in an upper-cased copy, that is ignoring case.
  size_t at = std::basic_string_view<CharT>::npos;
  for (size_t i = 0; i + keyword.size() <= text.size(); ++i)
    if (MatchAt(text, i, keyword)) {
      at = i;
      break;
    }
  if (at == std::basic_string_view<CharT>::npos) return false;
  size_t from = at + keyword.size();
  size_t to = text.size();
  switch (rule) {
    case LabelRule::UpToParen:
      for (size_t i = from; i < text.size(); ++i)
        if (text[i] == CharT('(')) {
          to = i;
          break;
        }
      break;
    case LabelRule::UpToAs:
      for (size_t i = from; i + 2 < text.size(); ++i) {
        const unsigned a = Unit(text[i + 1]);
        const unsigned s = Unit(text[i + 2]);
        if (IsBlank(Unit(text[i])) && (a == 'a' || a == 'A') && (s == 's' || s == 'S')) {
          to = i;
          break;
        }
      }
      break;
    case LabelRule::FirstWord:
      while (from < text.size() && IsBlank(Unit(text[from]))) ++from;
      for (size_t i = from; i < text.size(); ++i)
        if (IsBlank(Unit(text[i]))) {
          to = i;
          break;
        }
      break;
  }
  label = to > from ? ToUtf8(text.substr(from, to - from)) : std::string();
  return true;
}

struct Group {
  std::string_view keyword;
  LabelRule rule;
};

// One kind: walk the list from its last entry to its first. With a map, a
// new label gets an item as first child and every position joins its label's
// list; without one, every entry gets its own item appended as last child.
template <typename CharT>
void HandOverKind(RecoverySession& session, const std::vector<std::basic_string<CharT>>& list, Group group,
                  TreeItemId root, std::map<std::string, std::vector<int32_t>>* labels) {
  if (root == kTreeRoot) return;
  for (size_t k = list.size(); k-- > 0;) {
    const int32_t j = static_cast<int32_t>(k);
    std::string label;
    if (!LabelOf<CharT>(list[k], group.keyword, group.rule, label)) continue;
    if (labels == nullptr) {
      const TreeItemId item = session.AddTreeItem(label, root, TreePosition::Last);
      session.SetTreeItemData(item, j);
      continue;
    }
    auto [entry, isNew] = labels->try_emplace(label);
    if (isNew) {
      const TreeItemId item = session.AddTreeItem(label, root, TreePosition::First);
      session.SetTreeItemData(item, j);
    }
    entry->second.push_back(j);
  }
}

constexpr Group kTableGroup{"TABLE", LabelRule::UpToParen};
constexpr Group kIndexGroup{"INDEX", LabelRule::UpToParen};
constexpr Group kViewGroup{"VIEW", LabelRule::UpToAs};
constexpr Group kTriggerGroup{"TRIGGER", LabelRule::FirstWord};

}  // namespace

DdlOutcome AnalyseSchemaText(sqlite_base& model, RecoverySession& session, std::string_view text,
                             int64_t rootPage, DdlForm form, uint32_t progressCell, size_t startAt) {
  return AnalyseText<char>(model, session, text, rootPage, form, progressCell, startAt);
}

DdlOutcome AnalyseSchemaText(sqlite_base& model, RecoverySession& session, std::u16string_view text,
                             int64_t rootPage, DdlForm form, uint32_t progressCell, size_t startAt) {
  return AnalyseText<char16_t>(model, session, text, rootPage, form, progressCell, startAt);
}

DdlOutcome AnalyseSqlite2Record(sqlite_base& model, RecoverySession& session, std::string_view record) {
  if (record.empty()) return {DdlResult::Skipped, DdlKind::None};
  const KeywordHit hit = FindKeyword(record, 0);
  if (hit.kind == DdlKind::None) return {DdlResult::Skipped, DdlKind::None};
  Analysis<char> analysis(model, session, record, kSqlite2);
  return analysis.AnalyseAt(hit, RootPageBefore(record, hit.pos), 0);
}

void ExpandTreeGroups(RecoverySession& session) {
  for (TreeItemId root : {session.tablesRoot, session.triggersRoot, session.indexesRoot, session.viewsRoot})
    if (root != kTreeRoot) session.ExpandTreeItem(root);
}

void HandOverToTree(sqlite_base& model, RecoverySession& session, bool utf16) {
  if (utf16) {
    HandOverKind<char16_t>(session, model.wideTableStatements, kTableGroup, session.tablesRoot, nullptr);
    HandOverKind<char16_t>(session, model.wideIndexStatements, kIndexGroup, session.indexesRoot,
                           &session.indexLabels);
    HandOverKind<char16_t>(session, model.wideViewStatements, kViewGroup, session.viewsRoot, nullptr);
    HandOverKind<char16_t>(session, model.wideTriggerStatements, kTriggerGroup, session.triggersRoot, nullptr);
  } else {
    HandOverKind<char>(session, model.tableStatements, kTableGroup, session.tablesRoot, &session.tableLabels);
    HandOverKind<char>(session, model.indexStatements, kIndexGroup, session.indexesRoot, &session.indexLabels);
    HandOverKind<char>(session, model.viewStatements, kViewGroup, session.viewsRoot, &session.viewLabels);
    HandOverKind<char>(session, model.triggerStatements, kTriggerGroup, session.triggersRoot,
                       &session.triggerLabels);
  }
  ExpandTreeGroups(session);
}

}  // namespace veltrane

#include "core/table_shape.h"

#include <initializer_list>

#include "core/text.h"

namespace veltrane {

namespace {

// One token of the statement. Quoted names and strings carry their text
// without the quotes, doubled quotes made single.
struct Token {
  enum class Kind { Word, Quoted, String, Punct };
  Kind kind = Kind::Punct;
  size_t begin = 0;  // where it stands in the text
  size_t end = 0;
  std::string value;
};

bool IsWordChar(unsigned char c) { return IsIdentifierChar(c) || c == '$' || c >= 0x80; }

// Splits the text into tokens, dropping blanks and comments. Every step
// consumes at least one character; an unterminated quote or comment runs to
// the end of the text.
std::vector<Token> Tokenize(std::string_view text) {
  std::vector<Token> tokens;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (IsBlank(c)) {
      ++i;
      continue;
    }
    if (c == '-' && i + 1 < n && text[i + 1] == '-') {
      while (i < n && text[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < n && text[i + 1] == '*') {
      const size_t close = text.find("*/", i + 2);
      i = close == std::string_view::npos ? n : close + 2;
      continue;
    }
    Token t;
    t.begin = i;
    if (c == '"' || c == '`' || c == '\'') {
      t.kind = c == '\'' ? Token::Kind::String : Token::Kind::Quoted;
      size_t j = i + 1;
      while (j < n) {
        if (static_cast<unsigned char>(text[j]) == c) {
          if (j + 1 < n && static_cast<unsigned char>(text[j + 1]) == c) {
            t.value.push_back(text[j]);
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        t.value.push_back(text[j++]);
      }
      t.end = j;
    } else if (c == '[') {
      t.kind = Token::Kind::Quoted;
      const size_t close = text.find(']', i + 1);
      t.end = close == std::string_view::npos ? n : close + 1;
      t.value = std::string(text.substr(i + 1, (close == std::string_view::npos ? n : close) - i - 1));
    } else if (IsWordChar(c)) {
      t.kind = Token::Kind::Word;
      size_t j = i;
      while (j < n && IsWordChar(static_cast<unsigned char>(text[j]))) ++j;
      t.end = j;
      t.value = std::string(text.substr(i, j - i));
    } else {
      t.kind = Token::Kind::Punct;
      t.end = i + 1;
      t.value = std::string(1, text[i]);
    }
    i = t.end;
    tokens.push_back(std::move(t));
  }
  return tokens;
}

bool IsPunct(const Token& t, char c) { return t.kind == Token::Kind::Punct && t.value[0] == c; }
bool IsWord(const Token& t, std::string_view word) {
  return t.kind == Token::Kind::Word && EqualsIgnoreCaseAscii(t.value, word);
}
bool IsWordOf(const Token& t, std::initializer_list<std::string_view> words) {
  for (std::string_view w : words)
    if (IsWord(t, w)) return true;
  return false;
}
bool IsName(const Token& t) { return t.kind != Token::Kind::Punct; }

// Words that begin a table constraint, and those that end a column's type.
bool StartsTableConstraint(const Token& t) {
  return IsWordOf(t, {"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN"});
}
bool StartsColumnConstraint(const Token& t) {
  return IsWordOf(t, {"CONSTRAINT", "PRIMARY", "NOT", "NULL", "UNIQUE", "CHECK", "DEFAULT", "COLLATE",
                      "REFERENCES", "GENERATED", "AS"});
}

// The position after the parenthesis group opening at tokens[k] (or end).
size_t SkipGroup(const std::vector<Token>& tokens, size_t k, size_t end) {
  int depth = 0;
  for (; k < end; ++k) {
    if (IsPunct(tokens[k], '(')) ++depth;
    if (IsPunct(tokens[k], ')') && --depth == 0) return k + 1;
  }
  return end;
}

class ShapeReader {
 public:
  ShapeReader(std::string_view text, std::vector<Token> tokens) : text_(text), tokens_(std::move(tokens)) {}

  TableShape Read() {
    size_t open = 0;
    while (open < tokens_.size() && !IsPunct(tokens_[open], '(')) ++open;
    if (open == tokens_.size()) return shape_;

    // The column list: elements split at top-level commas, up to the closing
    // parenthesis or the end of the text.
    size_t start = open + 1;
    size_t close = tokens_.size();
    int depth = 0;
    for (size_t k = open + 1; k < tokens_.size(); ++k) {
      if (IsPunct(tokens_[k], '(')) ++depth;
      if (IsPunct(tokens_[k], ')')) {
        if (depth == 0) {
          close = k;
          break;
        }
        --depth;
      }
      if (IsPunct(tokens_[k], ',') && depth == 0) {
        Element(start, k);
        start = k + 1;
      }
    }
    Element(start, close);

    for (size_t k = close + 1; k + 1 < tokens_.size(); ++k)
      if (IsWord(tokens_[k], "WITHOUT") && IsWord(tokens_[k + 1], "ROWID")) shape_.withoutRowid = true;

    if (!shape_.withoutRowid && keyItems_ == 1 && shape_.primaryKey.size() == 1 && !keyDescending_) {
      const int column = shape_.primaryKey[0];
      if (integerType_[static_cast<size_t>(column)]) shape_.rowidAlias = column;
    }
    return shape_;
  }

 private:
  void Element(size_t b, size_t e) {
    if (b >= e) return;
    if (StartsTableConstraint(tokens_[b]))
      TableConstraint(b, e);
    else
      Column(b, e);
  }

  void Column(size_t b, size_t e) {
    const Token& nameToken = tokens_[b];
    if (!IsName(nameToken)) return;
    ShapeColumn column;
    column.written = std::string(text_.substr(nameToken.begin, nameToken.end - nameToken.begin));
    column.name = nameToken.value;
    column.nameEnd = column.typeBegin = column.typeEnd = nameToken.end;

    size_t k = b + 1;
    while (k < e && IsName(tokens_[k]) && !StartsColumnConstraint(tokens_[k])) ++k;
    const size_t typeWords = k - (b + 1);
    bool sized = false;
    if (typeWords > 0 && k < e && IsPunct(tokens_[k], '(')) {
      k = SkipGroup(tokens_, k, e);
      sized = true;
    }
    if (typeWords > 0) {
      const size_t from = tokens_[b + 1].begin;
      column.type = std::string(text_.substr(from, tokens_[k - 1].end - from));
      column.typeBegin = from;
      column.typeEnd = tokens_[k - 1].end;
    }
    integerType_.push_back(typeWords == 1 && !sized && EqualsIgnoreCaseAscii(tokens_[b + 1].value, "INTEGER"));

    const int position = static_cast<int>(shape_.columns.size());
    shape_.columns.push_back(std::move(column));

    // Column constraints: only PRIMARY KEY [ASC | DESC] matters here.
    for (; k < e; ++k) {
      if (IsPunct(tokens_[k], '(')) {
        k = SkipGroup(tokens_, k, e) - 1;
        continue;
      }
      if (IsWord(tokens_[k], "PRIMARY") && k + 1 < e && IsWord(tokens_[k + 1], "KEY")) {
        if (keyItems_ == 0) {
          keyItems_ = 1;
          shape_.primaryKey.push_back(position);
          keyDescending_ = k + 2 < e && IsWord(tokens_[k + 2], "DESC");
        }
        ++k;
      }
    }
  }

  void TableConstraint(size_t b, size_t e) {
    size_t k = b;
    if (IsWord(tokens_[k], "CONSTRAINT")) k += 2;
    if (k + 1 >= e || !IsWord(tokens_[k], "PRIMARY") || !IsWord(tokens_[k + 1], "KEY")) return;
    k += 2;
    if (k >= e || !IsPunct(tokens_[k], '(') || keyItems_ != 0) return;
    // Items at depth 1, separated by commas; each begins with a column name
    // (a table constraint with DESC still makes the rowid alias).
    const size_t groupEnd = SkipGroup(tokens_, k, e);
    bool atItemStart = true;
    int depth = 0;
    for (size_t m = k; m < groupEnd; ++m) {
      const Token& t = tokens_[m];
      if (IsPunct(t, '(')) {
        ++depth;
        continue;
      }
      if (IsPunct(t, ')')) {
        --depth;
        continue;
      }
      if (depth != 1) continue;
      if (IsPunct(t, ',')) {
        atItemStart = true;
        continue;
      }
      if (!atItemStart) continue;
      atItemStart = false;
      ++keyItems_;
      const int column = Find(t.value);
      if (IsName(t) && column >= 0) shape_.primaryKey.push_back(column);
    }
  }

  int Find(const std::string& name) const {
    for (size_t i = 0; i < shape_.columns.size(); ++i)
      if (EqualsIgnoreCaseAscii(shape_.columns[i].name, name)) return static_cast<int>(i);
    return -1;
  }

  std::string_view text_;
  std::vector<Token> tokens_;
  TableShape shape_;
  std::vector<bool> integerType_;  // per column: declared type exactly INTEGER
  size_t keyItems_ = 0;            // items of the first primary key
  bool keyDescending_ = false;     // a column constraint PRIMARY KEY DESC
};

}  // namespace

Affinity AffinityOf(std::string_view declaredType) {
  const std::string upper = ToUpperAscii(declaredType);
  auto has = [&](const char* word) { return upper.find(word) != std::string::npos; };
  if (has("INT")) return Affinity::Integer;
  if (has("CHAR") || has("CLOB") || has("TEXT")) return Affinity::Text;
  if (has("BLOB") || Trim(upper).empty()) return Affinity::Blob;
  if (has("REAL") || has("FLOA") || has("DOUB")) return Affinity::Real;
  return Affinity::Numeric;
}

TableShape AnalyseTableShape(std::string_view createTableText) {
  ShapeReader reader(createTableText, Tokenize(createTableText));
  return reader.Read();
}

}  // namespace veltrane

#include "core/parser.h"

#include <cstdlib>

#include "core/session.h"
#include "core/table_shape.h"
#include "core/text.h"

namespace veltrane {

// ---- descriptor ----

TableDescriptorParts ParseTableDescriptor(const std::string& descriptor) {
  TableDescriptorParts parts;
  const size_t plus = descriptor.find('+');
  if (plus == std::string::npos) {
    parts.name = descriptor;
    return parts;
  }
  parts.name = descriptor.substr(0, plus);
  size_t hash = descriptor.rfind('#');
  if (hash == std::string::npos || hash < plus) hash = descriptor.size();
  size_t pos = plus + 1;
  while (pos < hash) {
    size_t tilde = descriptor.find('~', pos);
    if (tilde == std::string::npos || tilde > hash) break;
    parts.columns.push_back(descriptor.substr(pos, tilde - pos));
    pos = tilde + 1;
  }
  for (size_t i = 0; i < parts.columns.size(); ++i) {
    const std::string& c = parts.columns[i];
    if (!c.empty() && c.back() == '>') parts.keyMark = 10 + static_cast<int>(i);
  }
  if (hash < descriptor.size()) parts.rootPage = std::strtoll(descriptor.c_str() + hash + 1, nullptr, 10);
  return parts;
}

std::string StripKeyMark(const std::string& entry) { return ReplaceAll(entry, kKeyMark, ""); }

// ---- shared name helpers ----

std::string NormaliseTypeName(const std::string& type) {
  std::string s = ToUpperAscii(type);
  s = ReplaceAll(std::move(s), "NVARCHAR", "varchar");
  s = ReplaceAll(std::move(s), "LONGVARCHAR", "varchar");
  s = ReplaceAll(std::move(s), "BLOB", "OLE Object");
  return s;
}

bool IsKnownType(const std::string& type) {
  std::string s;
  for (char c : type)
    if (c != ' ') s.push_back(ToUpperAscii(c));
  static const char* const kKnown[] = {"TEXT",     "MEMO",       "BYTE", "INTEGER",   "LONG",
                                       "DOUBLE",   "CURRENCY",   "AUTONUMBER", "DATE", "OLEOBJECT",
                                       "TIME",     "YESNO",      "HYPERLINK",  "FLOAT", "BINARY"};
  for (const char* k : kKnown)
    if (s == k) return true;
  return false;
}

std::string CleanIdentifier(const std::string& name) {
  const std::string stripped = StripKeyMark(name);
  std::string kept;
  for (char c : stripped)
    if (IsIdentifierChar(static_cast<unsigned char>(c))) kept.push_back(c);
  if (!kept.empty()) return kept;
  std::string_view v = Trim(stripped);
  while (!v.empty() && v.front() == '`') v.remove_prefix(1);
  while (!v.empty() && v.back() == '`') v.remove_suffix(1);
  while (!v.empty() && v.front() == '\'') v.remove_prefix(1);
  while (!v.empty() && v.back() == '\'') v.remove_suffix(1);
  return std::string(v);
}

std::string TableOptionsOf(const sqlite_base& model, size_t k) {
  return k < model.tableOptions.size() ? model.tableOptions[k] : std::string();
}

std::string CompleteStatement(const sqlite_base& model, int32_t group, int32_t position) {
  const std::vector<std::string>* narrow = nullptr;
  const std::vector<std::u16string>* wide = nullptr;
  switch (group) {
    case -2: narrow = &model.tableStatements, wide = &model.wideTableStatements; break;
    case -3: narrow = &model.indexStatements, wide = &model.wideIndexStatements; break;
    case -4: narrow = &model.viewStatements, wide = &model.wideViewStatements; break;
    case -5: narrow = &model.triggerStatements, wide = &model.wideTriggerStatements; break;
    default: return {};
  }
  if (position < 0) return {};
  const auto k = static_cast<size_t>(position);
  std::string text;
  if (k < narrow->size())
    text = (*narrow)[k];
  else if (k < wide->size())
    text = Utf16ToUtf8((*wide)[k]);
  else
    return {};
  if (group == -2) return text + ")" + TableOptionsOf(model, k);
  if (group == -3) {
    // The whole statement is kept with the last entry of its index: the
    // first later entry that holds one, as long as the entries continue
    // this one's text.
    std::string whole;
    const bool isWide = k >= narrow->size();
    const size_t count = isWide ? wide->size() : narrow->size();
    for (size_t j = k; j < count && whole.empty(); ++j) {
      if (isWide) {
        if (j > k && (*wide)[j].compare(0, (*wide)[k].size(), (*wide)[k]) != 0) break;
        if (j < model.wideIndexSourceStatements.size()) whole = Utf16ToUtf8(model.wideIndexSourceStatements[j]);
      } else {
        if (j > k && (*narrow)[j].compare(0, (*narrow)[k].size(), (*narrow)[k]) != 0) break;
        if (j < model.indexSourceStatements.size()) whole = model.indexSourceStatements[j];
      }
    }
    std::string_view w = Trim(whole);
    while (!w.empty() && (w.back() == ';' || IsBlank(static_cast<unsigned char>(w.back())))) w.remove_suffix(1);
    if (!w.empty()) return std::string(w);
    return text + ")";
  }
  if (!text.empty()) text[0] = 'C';
  return text;
}

std::vector<std::string> WrittenColumnNames(const sqlite_base& model, int32_t table) {
  std::vector<std::string> names;
  if (table < 0 || static_cast<size_t>(table) >= model.tableDescriptors.size()) return names;
  const TableDescriptorParts parts = ParseTableDescriptor(model.tableDescriptors[table]);
  const TableShape shape = AnalyseTableShape(CompleteStatement(model, -2, table));
  if (shape.columns.size() == parts.columns.size()) {
    for (const ShapeColumn& c : shape.columns) names.push_back(c.written);
  } else {
    for (const std::string& entry : parts.columns) names.emplace_back(Trim(StripKeyMark(entry)));
  }
  return names;
}

// ---- sqlite_base defaults ----

sqlite_base::~sqlite_base() = default;
bool sqlite_base::SaveDatabase(const std::string&) { return true; }
void sqlite_base::ParseFile(const std::string&) {}
void sqlite_base::RecoverRows(std::string, int32_t, int, const std::string&, int) {}
uint64_t sqlite_base::CountEntries() { return 0; }
std::string sqlite_base::NormaliseTypeName(const std::string&) { return ""; }
bool sqlite_base::IsKnownType(const std::string&) { return true; }
void sqlite_base::ExportRows(std::string, int32_t, int, const std::string&, int) {}
uint64_t sqlite_base::CountRows(std::string, uint64_t) { return 0; }
std::string sqlite_base::CleanIdentifier(const std::string&) { return ""; }

void sqlite_base::ResetModel() {
  masterRecordSizes.clear();
  pageHeaders.clear();
  textBuffers.clear();
  tableStatements.clear();
  tableOptions.clear();
  triggerStatements.clear();
  indexStatements.clear();
  indexSourceStatements.clear();
  wideIndexSourceStatements.clear();
  viewStatements.clear();
  createStatements.clear();
  outputColumnNames.clear();
  currentColumnTypes.clear();
  tableDescriptors.clear();
  tableColumnTypes.clear();
  wideTextBuffers.clear();
  wideTableStatements.clear();
  wideTriggerStatements.clear();
  wideIndexStatements.clear();
  wideViewStatements.clear();
  ver2PageHeaders.clear();
  mappedTables.clear();
  pageHeaders.shrink_to_fit();
  ver2PageHeaders.shrink_to_fit();
}

uint64_t sqlite_base::SumCheckedTables(const std::function<uint64_t(uint64_t rootPage)>& count) {
  if (owner == nullptr || owner->tablesRoot == kTreeRoot) return 0;
  uint64_t sum = 0;
  for (TreeItemId child : owner->tree.Children(owner->tablesRoot)) {
    if (!owner->tree.IsChecked(child)) continue;
    const int32_t k = owner->tree.Data(child);
    if (k < 0 || static_cast<size_t>(k) >= tableDescriptors.size()) continue;
    const TableDescriptorParts parts = ParseTableDescriptor(tableDescriptors[k]);
    if (parts.rootPage <= 0) continue;
    // The parser may keep pages of its own for a table besides its tree.
    currentTable = k;
    sum += count(static_cast<uint64_t>(parts.rootPage));
    currentTable = -1;
  }
  return sum;
}

}  // namespace veltrane

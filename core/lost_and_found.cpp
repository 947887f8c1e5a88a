#include "core/lost_and_found.h"

#include <limits>

#include "core/text.h"

namespace veltrane {

const DeepPages* DeepFindings::For(int32_t table) const {
  if (table < 0) return nullptr;
  auto it = tables.find(table);
  return it == tables.end() ? nullptr : &it->second;
}

bool HostTable::FreeFor(const LostPage& page) const {
  for (const RowidRange& r : page.covers) {
    // Disjoint ranges sorted by their start: only the last one starting at or
    // before r's end can reach into r.
    auto it = rowids.upper_bound({r.second, std::numeric_limits<int64_t>::max()});
    if (it == rowids.begin()) continue;
    --it;
    if (it->second >= r.first) return false;
  }
  return true;
}

void HostTable::Take(const LostPage& page) {
  for (const RowidRange& r : page.covers) rowids.insert(r);
  recordColumns.insert(page.columns);
}

namespace {

bool ColumnsFit(const LostPage& page, const HostTable& host) {
  if (page.columns <= 0 || page.columns > host.columns) return false;
  // A record shorter than its table was written before a column was added:
  // the table's own records show such a count too.
  return page.columns == host.columns || host.recordColumns.count(page.columns) != 0;
}

bool ValuesFit(const LostPage& page, const HostTable& host) {
  const size_t n = static_cast<size_t>(page.columns);
  if (host.rowidAlias >= 0 && static_cast<size_t>(host.rowidAlias) < n && host.rowidAlias < page.columns &&
      static_cast<size_t>(host.rowidAlias) < page.classes.size() && page.classes[host.rowidAlias] != kClassNull &&
      page.classes[host.rowidAlias] != 0)
    return false;
  if (host.affinities.size() == static_cast<size_t>(host.columns)) {
    // A column of TEXT affinity turns every number into a text.
    for (size_t i = 0; i < n && i < page.classes.size(); ++i)
      if (host.affinities[i] == Affinity::Text && (page.classes[i] & (kClassInteger | kClassReal)) != 0) return false;
  }
  return true;
}

// The classes of the page appear among those of the table's own records
// (columns the table has no records for say nothing).
bool ClassesFit(const LostPage& page, const HostTable& host) {
  for (size_t i = 0; i < page.classes.size(); ++i) {
    if (i >= host.classes.size() || host.classes[i] == 0) continue;
    const uint8_t extra = static_cast<uint8_t>(page.classes[i] & ~(host.classes[i] | kClassNull));
    if (extra != 0) return false;
  }
  return true;
}

}  // namespace

int ChooseHost(const LostPage& page, const std::vector<HostTable>& hosts) {
  std::vector<int> fit;
  for (size_t h = 0; h < hosts.size(); ++h) {
    const HostTable& host = hosts[h];
    if (!host.takesPages || host.complete) continue;
    if (!ColumnsFit(page, host) || !ValuesFit(page, host) || !host.FreeFor(page)) continue;
    fit.push_back(static_cast<int>(h));
  }
  if (fit.size() == 1) return fit[0];
  if (fit.empty()) return -1;

  std::vector<int> around;
  for (int h : fit) {
    const HostTable& host = hosts[static_cast<size_t>(h)];
    if (host.spanFirst != 0 && host.spanFirst < page.page && page.page < host.spanLast) around.push_back(h);
  }
  if (around.size() == 1) return around[0];
  const std::vector<int>& pool = around.empty() ? fit : around;
  std::vector<int> alike;
  for (int h : pool)
    if (hosts[static_cast<size_t>(h)].records != 0 && ClassesFit(page, hosts[static_cast<size_t>(h)])) alike.push_back(h);
  return alike.size() == 1 ? alike[0] : -1;
}

std::set<std::string> ModelTableNames(const sqlite_base& model) {
  std::set<std::string> names;
  for (const std::string& d : model.tableDescriptors) {
    std::string name(Trim(ParseTableDescriptor(d).name));
    for (char& c : name)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    names.insert(std::move(name));
  }
  return names;
}

std::string LostAndFoundName(const sqlite_base& model, int columns) {
  const std::set<std::string> names = ModelTableNames(model);
  const std::string base = "lost_and_found_" + std::to_string(columns);
  std::string name = base;
  for (int k = 1; names.count(name) != 0 && k < 1000000; ++k) name = base + "_" + std::to_string(k);
  return name;
}

int32_t AddLostAndFoundTable(sqlite_base& model, const std::string& name, int columns, int64_t rootPage, bool wide) {
  std::string descriptor = name + "+pgno~rowid~";
  std::string statement = "CREATE TABLE " + name + " (pgno INTEGER, rowid INTEGER";
  std::string rebuilt = "create Table [" + name + "] ( [pgno] INTEGER, [rowid] INTEGER";
  std::vector<std::string> types{"INTEGER", "INTEGER"};
  for (int i = 0; i < columns; ++i) {
    const std::string c = "c" + std::to_string(i);
    descriptor += c + "~";
    statement += ", " + c;
    rebuilt += ", [" + c + "]";
    types.emplace_back();
  }
  descriptor += "#" + std::to_string(rootPage);
  rebuilt += " )";

  // Whatever the lists held before, the new table's entries stand at the
  // same position in each.
  const size_t k = model.tableDescriptors.size();
  auto reach = [k](auto& list) {
    if (list.size() < k) list.resize(k);
  };
  model.textBuffers.push_back(descriptor);
  model.tableDescriptors.push_back(descriptor);
  if (wide) {
    reach(model.wideTableStatements);
    model.wideTableStatements.push_back(Utf8ToUtf16(statement));
  } else {
    reach(model.tableStatements);
    model.tableStatements.push_back(statement);
  }
  reach(model.createStatements);
  model.createStatements.push_back(rebuilt);
  reach(model.tableColumnTypes);
  model.tableColumnTypes.push_back(std::move(types));
  return static_cast<int32_t>(k);
}

}  // namespace veltrane

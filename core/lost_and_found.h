// Rows found outside every table's tree: the choice of the table a lost page
// belongs to, and the lost_and_found tables that take the pages no table
// claims. Shared by both parsers; the page decoding stays with each of them.
//
// A lost_and_found table of N record columns carries the page number and the
// rowid of each row in front of its values:
//
//   descriptor   "lost_and_found_3+pgno~rowid~c0~c1~c2~#57"   (57: its first page)
//   statement    "CREATE TABLE lost_and_found_3 (pgno INTEGER, rowid INTEGER, c0, c1, c2"
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/parser.h"
#include "core/table_shape.h"

namespace veltrane {

// Storage classes met in one column, as a bit set.
enum StorageClass : uint8_t {
  kClassNull = 1,
  kClassInteger = 2,
  kClassReal = 4,
  kClassText = 8,
  kClassBlob = 16,
};

// The lost pages one table reads besides (or, lost_and_found, instead of) its tree.
struct DeepPages {
  std::vector<uint32_t> pages;
  bool lostAndFound = false;
  int recordColumns = 0;  // lost_and_found: the columns of its records
};

// What the deep steps found, kept by the parser for the row walks.
class DeepFindings {
 public:
  void Clear() { tables.clear(); }
  // The lost pages of the table at position `table` (the parser's
  // currentTable); nullptr when it has none or the table is not known.
  const DeepPages* For(int32_t table) const;

  std::map<int32_t, DeepPages> tables;  // by position in tableDescriptors
};

// A closed range of rowids.
using RowidRange = std::pair<int64_t, int64_t>;

// What one lost page holds.
struct LostPage {
  uint32_t page = 0;
  int columns = 0;                // record columns (the most any sound record has)
  uint32_t records = 0;           // sound records
  std::vector<uint8_t> classes;   // per column: the classes met
  // The rowids the page covers; a page that overlaps rows a table already
  // has cannot belong to it.
  std::vector<RowidRange> covers;
};

// A table that may take lost pages, as its own tree shows it.
struct HostTable {
  int32_t table = -1;               // position in tableDescriptors
  std::string name;
  int columns = 0;                  // of the descriptor
  int rowidAlias = -1;              // the column stored as NULL
  bool takesPages = true;           // false: WITHOUT ROWID, or no usable statement
  bool complete = true;             // the walk met no missing or foreign page
  int64_t rootPage = 0;
  uint64_t spanFirst = 0, spanLast = 0;  // its own pages, root included (0: none)
  std::vector<Affinity> affinities;      // per column, when the statement gives them
  std::set<int> recordColumns;           // column counts of its records
  std::vector<uint8_t> classes;          // per column: the classes its records hold
  uint64_t records = 0;
  std::set<RowidRange> rowids;           // rowid ranges it holds, disjoint

  // True when no range of page overlaps one it holds.
  bool FreeFor(const LostPage& page) const;
  void Take(const LostPage& page);
};

// The table that page belongs to, or -1 (a position in hosts). Only tables
// whose walk found pages missing are considered; of those, the ones whose
// column count, rowid alias, affinities and rowids fit; several are narrowed
// by whose pages surround it, then by the classes their records hold.
int ChooseHost(const LostPage& page, const std::vector<HostTable>& hosts);

// "lost_and_found_N", made unique against the table names the model has.
std::string LostAndFoundName(const sqlite_base& model, int columns);

// Adds a lost_and_found table of `columns` record columns to the model lists
// (wide: the statement goes to the UTF-16 list); returns its position.
int32_t AddLostAndFoundTable(sqlite_base& model, const std::string& name, int columns, int64_t rootPage, bool wide);

// The table names the model holds (descriptor names, trimmed, lower case).
std::set<std::string> ModelTableNames(const sqlite_base& model);

}  // namespace veltrane

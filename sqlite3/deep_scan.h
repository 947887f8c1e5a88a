// The deep steps of a SQLite 3 scan, after the schema walk: schema records
// that lie outside the schema tree (page 1 or a schema page destroyed), and
// table leaves that no table's tree reaches (a parent page destroyed, or
// beyond a truncation).
//
// Which pages count as reached:
//
//   schema tree     every page under page 1
//   freelist        trunk pages (header offset 32, chained by their first 4
//                   bytes, 4-byte leaf count at offset 4, leaf numbers from 8)
//                   and the leaves they list
//   table trees     every page under the root of every table found
//
// A table leaf outside all of these is a lost page. It joins the table it
// fits (see ChooseHost); the others go, by record column count, into
// lost_and_found tables whose rows carry the page number and the rowid.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sqlite3/page_table.h"

namespace veltrane {

class sqlite_ver3;

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
  // The lost pages of table position `table` (when it is known), else of the
  // table whose descriptor names rootPage; nullptr when it has none.
  const DeepPages* For(int32_t table, int64_t rootPage, const std::vector<std::string>& descriptors) const;

  std::map<int32_t, DeepPages> tables;  // by position in tableDescriptors
};

// Runs both deep steps on a scanned file; utf16: its texts are UTF-16 and the
// statements go to the wide lists. Adds the objects found to the model
// before it is handed to the tree, and fills parser.deep.
void RunDeepScan(sqlite_ver3& parser, const PageGeometry& geometry, bool utf16);

}  // namespace veltrane

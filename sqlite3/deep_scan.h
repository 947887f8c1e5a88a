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

#include "core/lost_and_found.h"
#include "sqlite3/page_table.h"

namespace veltrane {

class sqlite_ver3;

// Runs both deep steps on a scanned file; utf16: its texts are UTF-16 and the
// statements go to the wide lists. Adds the objects found to the model
// before it is handed to the tree, and fills parser.deep.
void RunDeepScan(sqlite_ver3& parser, const PageGeometry& geometry, bool utf16);

}  // namespace veltrane

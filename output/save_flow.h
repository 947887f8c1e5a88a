// The save: writes the checked objects of a recovery into the repaired
// SQLite 3 database (the session's OutputPath(), "Repaired_" + the source's
// name by default), whichever format the source had.
//
// SaveRepairedDatabase prepares the output file and the progress range, then
// WriteTables creates each checked table and has the parser decode its rows
// again into the database, and WriteSchemaGroup runs the statements of the
// checked indexes, views and triggers. Everything goes through one
// RepairedDatabase connection; each table's rows are one transaction.
#pragma once

#include <cstdint>

#include "core/object_tree.h"
#include "core/parser.h"
#include "output/repaired_database.h"

namespace veltrane {

class RecoverySession;

enum class SourceFormat : uint8_t { Sqlite3, Sqlite2 };

// Rows of the checked tables: CountRows of every checked table item, with
// the parser's accumulator (totalRows for SQLite 3, rowProgress for SQLite 2)
// set to 0 before each call. The CountEntries of both parsers.
uint64_t CountCheckedEntries(sqlite_base& parser, bool sqlite2);

// The text encoding of the writers: the one of the statement lists the scan
// filled; the encoding flags decide only when that says nothing.
TextMode ChooseTextMode(const sqlite_base& parser);

// The SaveDatabase of both parsers. False only when the user kept the existing
// output file; a save that could not be written returns true with
// owner->lastSave.failed set and an "Error: " log line.
bool SaveRepairedDatabase(sqlite_base& parser, SourceFormat format);

// Creates and fills every checked table under tablesRoot, in tree order.
// False when the database broke and the save must end.
bool WriteTables(sqlite_base& parser, RecoverySession& session, TreeItemId tablesRoot, RepairedDatabase& db);

// Runs the statements of the checked children of an index (-3), view (-4) or
// trigger (-5) group. False when the database broke.
bool WriteSchemaGroup(sqlite_base& parser, RecoverySession& session, TreeItemId group, RepairedDatabase& db,
                      int kind);

}  // namespace veltrane

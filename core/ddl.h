// DDL analysis: finds the CREATE statement in a schema text by keyword search,
// classifies it, and for a table takes it apart into name, columns, declared
// types and the INTEGER PRIMARY KEY mark. Fills the model lists of
// sqlite_base; reports log lines, objectCount and progress through the session.
//
// The text is not parsed as SQL: it is scanned with a few fixed patterns, and
// every scan is bounded by the text's length. One implementation serves UTF-8
// bytes and UTF-16 code units; the differences between the forms are data.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/parser.h"

namespace veltrane {

class RecoverySession;

// Where a text was found decides the form of its analysis.
enum class DdlForm {
  Utf8First,    // UTF-8 texts of page 1 and its left children
  Utf8Second,   // UTF-8 texts of the right-most child of page 1
  Utf16First,   // the same places in UTF-16 mode
  Utf16Second,
  Sqlite2       // every SQLite 2 master record
};

enum class DdlKind { None, Table, Index, UniqueIndex, Virtual, AutoIndex, View, Trigger };

enum class DdlResult {
  Done,        // analysed and stored (or a kind that is only counted)
  NoKeyword,   // no CREATE keyword in the text
  RanPastEnd,  // a bounded scan reached the end of the text before the statement was complete
  Skipped      // nothing to store (a table name starting with ")", an empty text)
};

struct DdlOutcome {
  DdlResult result = DdlResult::Skipped;
  DdlKind kind = DdlKind::None;
};

// Analyses one SQLite 3 schema text. rootPage is the number delivered with the
// text; progressCell is sent as progress position after a keyword match;
// startAt is where the keyword search begins (the right-child pass can start
// it later). The caller shows the box that belongs to a NoKeyword or
// RanPastEnd result.
DdlOutcome AnalyseSchemaText(sqlite_base& model, RecoverySession& session, std::string_view text,
                             int64_t rootPage, DdlForm form, uint32_t progressCell, size_t startAt = 0);
DdlOutcome AnalyseSchemaText(sqlite_base& model, RecoverySession& session, std::u16string_view text,
                             int64_t rootPage, DdlForm form, uint32_t progressCell, size_t startAt = 0);

// The statement scan of one SQLite 2 master record (its bytes as read): finds
// the statement, reads the root page from the digits in front of it and runs
// the SQLite 2 form of the analysis. A record without a statement yields
// Skipped. RanPastEnd here only says that the record ended before its
// statement did: what was complete is stored, and the SQLite 2 discovery
// shows no message for it and goes on with the next record.
DdlOutcome AnalyseSqlite2Record(sqlite_base& model, RecoverySession& session, std::string_view record);

// Hands the objects of the model to the object tree: one item per distinct
// label under the four groups (UTF-16 mode: one item per table, view and
// trigger entry, appended), then expands the groups.
void HandOverToTree(sqlite_base& model, RecoverySession& session, bool utf16);

// Expands the group items in the order tables, triggers, indexes, views (the
// last step of HandOverToTree; alone when a parse had no text mode).
void ExpandTreeGroups(RecoverySession& session);

}  // namespace veltrane

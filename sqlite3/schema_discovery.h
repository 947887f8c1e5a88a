// Schema discovery: the walk over the schema b-tree rooted at page 1.
//
// Page 1 and the subtrees of its left children are read with the first form
// of the DDL analysis, the subtree of its right-most child with the second.
// Interior pages below page 1 are descended (bounded depth, no page twice), so
// a schema of many leaves is found whole. A text that cannot be read or
// analysed is skipped with a log line; its box is shown once per scan.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/ddl.h"
#include "sqlite3/page_table.h"

namespace veltrane {

class sqlite_ver3;
class RecoverySession;

// Where the texts go; the default hands them to the DDL analysis.
class SchemaTextSink {
 public:
  virtual ~SchemaTextSink() = default;
  virtual DdlOutcome Analyse(std::string_view text, int64_t rootPage, DdlForm form, uint32_t progressCell,
                             size_t startAt);
  virtual DdlOutcome Analyse(std::u16string_view text, int64_t rootPage, DdlForm form, uint32_t progressCell,
                             size_t startAt);

  sqlite_base* model = nullptr;
  RecoverySession* session = nullptr;
};

// Reads every schema text under page 1 and hands it to sink (utf16: the wide
// texts). The caller hands the model over to the tree afterwards.
void DiscoverSchema(sqlite_ver3& parser, const PageGeometry& geometry, bool utf16, SchemaTextSink& sink);

}  // namespace veltrane

#include "core/ddl.h"

#include "core/session.h"

namespace veltrane {

// Placeholder bodies until the analysis lands.
DdlOutcome AnalyseSchemaText(sqlite_base&, RecoverySession&, std::string_view, int64_t, DdlForm, uint32_t, size_t) {
  return {};
}
DdlOutcome AnalyseSchemaText(sqlite_base&, RecoverySession&, std::u16string_view, int64_t, DdlForm, uint32_t,
                             size_t) {
  return {};
}
DdlOutcome AnalyseSqlite2Record(sqlite_base&, RecoverySession&, std::string_view) { return {}; }
void HandOverToTree(sqlite_base&, RecoverySession&, bool) {}

}  // namespace veltrane

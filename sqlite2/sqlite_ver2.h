// sqlite_ver2: recovery of SQLite 2.x files, read page by page without the
// SQLite library.
#pragma once

#include "core/parser.h"

namespace veltrane {

class sqlite_ver2 : public sqlite_base {
 public:
  ~sqlite_ver2() override;
  bool SaveDatabase(const std::string& unused) override;
  uint64_t CountEntries() override;
  std::string NormaliseTypeName(const std::string& type) override;
  bool IsKnownType(const std::string& type) override;
  std::string CleanIdentifier(const std::string& name) override;
};

}  // namespace veltrane

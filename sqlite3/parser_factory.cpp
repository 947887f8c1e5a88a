#include "sqlite3/parser_factory.h"

#include "sqlite2/sqlite_ver2.h"
#include "sqlite3/sqlite_ver3.h"

namespace veltrane {

std::unique_ptr<sqlite_base> MakeParser(int32_t formatVersion) {
  if (formatVersion == 1) return std::make_unique<sqlite_ver2>();
  if (formatVersion == 2) return std::make_unique<sqlite_ver3>();
  return nullptr;
}

}  // namespace veltrane

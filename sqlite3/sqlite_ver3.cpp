#include "sqlite3/sqlite_ver3.h"

namespace veltrane {

sqlite_ver3::~sqlite_ver3() = default;

std::string sqlite_ver3::NormaliseTypeName(const std::string& type) { return veltrane::NormaliseTypeName(type); }
bool sqlite_ver3::IsKnownType(const std::string& type) { return veltrane::IsKnownType(type); }
std::string sqlite_ver3::CleanIdentifier(const std::string& name) { return veltrane::CleanIdentifier(name); }

}  // namespace veltrane

#include "sqlite2/sqlite_ver2.h"

namespace veltrane {

sqlite_ver2::~sqlite_ver2() = default;

std::string sqlite_ver2::NormaliseTypeName(const std::string& type) { return veltrane::NormaliseTypeName(type); }
bool sqlite_ver2::IsKnownType(const std::string& type) { return veltrane::IsKnownType(type); }
std::string sqlite_ver2::CleanIdentifier(const std::string& name) { return veltrane::CleanIdentifier(name); }

}  // namespace veltrane

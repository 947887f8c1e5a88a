#include "sqlite2/sqlite_ver2.h"

#include "output/save_flow.h"

namespace veltrane {

sqlite_ver2::~sqlite_ver2() = default;

bool sqlite_ver2::SaveDatabase(const std::string&) { return SaveRepairedDatabase(*this, SourceFormat::Sqlite2); }
uint64_t sqlite_ver2::CountEntries() { return CountCheckedEntries(*this, true); }

std::string sqlite_ver2::NormaliseTypeName(const std::string& type) { return veltrane::NormaliseTypeName(type); }
bool sqlite_ver2::IsKnownType(const std::string& type) { return veltrane::IsKnownType(type); }
std::string sqlite_ver2::CleanIdentifier(const std::string& name) { return veltrane::CleanIdentifier(name); }

}  // namespace veltrane

#include "sqlite3/sqlite_ver3.h"

#include "output/save_flow.h"

namespace veltrane {

sqlite_ver3::~sqlite_ver3() = default;

bool sqlite_ver3::SaveDatabase(const std::string&) { return SaveRepairedDatabase(*this, SourceFormat::Sqlite3); }
uint64_t sqlite_ver3::CountEntries() { return CountCheckedEntries(*this, false); }

std::string sqlite_ver3::NormaliseTypeName(const std::string& type) { return veltrane::NormaliseTypeName(type); }
bool sqlite_ver3::IsKnownType(const std::string& type) { return veltrane::IsKnownType(type); }
std::string sqlite_ver3::CleanIdentifier(const std::string& name) { return veltrane::CleanIdentifier(name); }

}  // namespace veltrane

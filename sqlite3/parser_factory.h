// Creates the parser of a format version (1 = SQLite 2.x, 2 = SQLite 3), the
// factory that front ends hand to RecoverySession.
#pragma once

#include <memory>

#include "core/parser.h"

namespace veltrane {

std::unique_ptr<sqlite_base> MakeParser(int32_t formatVersion);

}  // namespace veltrane

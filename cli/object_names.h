// Finding a recovered object by the name a user types on the command line.
#pragma once

#include <string>

#include "core/session.h"

namespace veltrane {

// An SQL identifier without its quotes: "a""b" -> a"b, [x y] -> x y, `q` -> q.
std::string UnquoteIdentifier(std::string_view name);

// The name a tree label stands for: trimmed, unquoted, and for an index
// without its ON clause.
std::string ObjectNameOf(const std::string& label, bool index);

// The tree item of the object called name: a tree label with its blanks
// trimmed, or also without its quotes or brackets (an index also by its own
// name, without the ON clause). Exact matches win over ones that ignore case;
// tables are searched first. kTreeRoot when there is none.
TreeItemId FindObject(const RecoverySession& session, const std::string& name);

}  // namespace veltrane

// The command line's documentation: one text, printed by --help and turned
// into the manual page veltrane-recover.1.
#pragma once

#include <string>

namespace veltrane {

// The plain text of --help.
std::string HelpText();
// The same text as a troff manual page (section 1).
std::string ManualPage();

}  // namespace veltrane

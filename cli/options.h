// What the user asked the command line for.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/detect.h"

namespace veltrane {

struct Options {
  std::string command;             // scan, show, save, dump, export
  std::vector<std::string> files;  // one for show, dump and export
  std::string name;                // show: the object
  std::string output;              // save: -o
  std::string csvDir;              // export: --csv DIR
  std::vector<std::string> only;   // --only
  bool overwrite = false;
  bool csv = false;   // show --csv
  bool json = false;  // scan/show --json
  bool quiet = false;
  unsigned jobs = 1;
  ManualChoice manual;
};

// Parses argv. Returns the exit status to end with (0 after --help or
// --version, 2 after a usage error, with its message printed), or nullopt to
// go on with options filled.
std::optional<int> ParseArguments(int argc, char** argv, Options& options);

}  // namespace veltrane

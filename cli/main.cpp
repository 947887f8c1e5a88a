// veltrane-recover: the command-line front end. See cli/help.cpp for what it
// does; exit status 0 success, 1 the file could not be recovered, 2 bad
// usage, 130 stopped by Ctrl-C.
#include "cli/commands.h"
#include "cli/options.h"

int main(int argc, char** argv) {
  veltrane::Options options;
  if (const auto status = veltrane::ParseArguments(argc, argv, options)) return *status;
  veltrane::InstallInterruptHandler();
  return veltrane::RunCommand(options);
}

// The command line's commands: scan, show, save, dump and export, over one
// file or (scan, save) several, with Ctrl-C turned into the stop request.
#pragma once

#include "cli/options.h"

namespace veltrane {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

// Runs the command of options and returns the exit status (the worst of all files).
int RunCommand(const Options& options);

// Installs the SIGINT handler: the first Ctrl-C stops the running jobs
// cleanly, a second one ends the process at once.
void InstallInterruptHandler();

}  // namespace veltrane

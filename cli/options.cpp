#include "cli/options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/help.h"
#include "core/observer.h"
#include "core/text.h"

namespace veltrane {

namespace {

constexpr int kUsage = 2;

bool ParseNumber(const char* text, uint64_t& value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  value = v;
  return true;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "veltrane-recover: %s\nTry 'veltrane-recover --help'.\n", message.c_str());
  return kUsage;
}

std::vector<std::string> SplitNames(const std::string& list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    const std::string_view item = Trim(std::string_view(list).substr(start, comma - start));
    if (!item.empty()) names.emplace_back(item);
    start = comma + 1;
  }
  return names;
}

}  // namespace

std::optional<int> ParseArguments(int argc, char** argv, Options& options) {
  enum {
    kOnly = 1000, kOverwrite, kVersion, kSqliteVersion, kEncoding, kPageSize, kOffset, kCsv, kJson, kManual
  };
  static const option longOptions[] = {
      {"output", required_argument, nullptr, 'o'},
      {"only", required_argument, nullptr, kOnly},
      {"overwrite", no_argument, nullptr, kOverwrite},
      {"jobs", required_argument, nullptr, 'j'},
      {"csv", no_argument, nullptr, kCsv},
      {"json", no_argument, nullptr, kJson},
      {"quiet", no_argument, nullptr, 'q'},
      {"sqlite-version", required_argument, nullptr, kSqliteVersion},
      {"encoding", required_argument, nullptr, kEncoding},
      {"page-size", required_argument, nullptr, kPageSize},
      {"offset", required_argument, nullptr, kOffset},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersion},
      {"manual-page", no_argument, nullptr, kManual},
      {nullptr, 0, nullptr, 0}};
  std::vector<std::string> positional;
  opterr = 0;
  optind = 1;
  int c;
  while ((c = getopt_long(argc, argv, "-o:j:qh", longOptions, nullptr)) != -1) {
    uint64_t number = 0;
    switch (c) {
      case 1:
        positional.emplace_back(optarg);
        break;
      case 'o':
        options.output = optarg;
        break;
      case kOnly:
        for (auto& n : SplitNames(optarg)) options.only.push_back(std::move(n));
        break;
      case kOverwrite:
        options.overwrite = true;
        break;
      case 'j':
        if (!ParseNumber(optarg, number) || number == 0 || number > 256)
          return UsageError(std::string("--jobs takes a number from 1 to 256, not '") + optarg + "'");
        options.jobs = static_cast<unsigned>(number);
        break;
      case kCsv:
        options.csv = true;
        break;
      case kJson:
        options.json = true;
        break;
      case 'q':
        options.quiet = true;
        break;
      case kSqliteVersion:
        if (std::strcmp(optarg, "2") == 0)
          options.manual.formatVersion = 1;
        else if (std::strcmp(optarg, "3") == 0)
          options.manual.formatVersion = 2;
        else
          return UsageError(std::string("--sqlite-version takes 2 or 3, not '") + optarg + "'");
        break;
      case kEncoding:
        if (EqualsIgnoreCaseAscii(optarg, "utf8") || EqualsIgnoreCaseAscii(optarg, "utf-8"))
          options.manual.utf16 = false;
        else if (EqualsIgnoreCaseAscii(optarg, "utf16") || EqualsIgnoreCaseAscii(optarg, "utf-16"))
          options.manual.utf16 = true;
        else
          return UsageError(std::string("--encoding takes utf8 or utf16, not '") + optarg + "'");
        break;
      case kPageSize:
        if (!ParseNumber(optarg, number) || number == 0)
          return UsageError(std::string("--page-size takes a positive number, not '") + optarg + "'");
        options.manual.pageSize = number;
        break;
      case kOffset:
        if (!ParseNumber(optarg, number))
          return UsageError(std::string("--offset takes a byte offset, not '") + optarg + "'");
        options.manual.headerOffset = number;
        break;
      case 'h':
        std::fputs(HelpText().c_str(), stdout);
        return 0;
      case kVersion:
        std::printf("veltrane-recover 17.0 (%s)\n", kAppTitle);
        return 0;
      case kManual:
        std::fputs(ManualPage().c_str(), stdout);
        return 0;
      default:
        if (optopt != 0 && optopt < 256)
          return UsageError(std::string("unknown or incomplete option '-") + static_cast<char>(optopt) + "'");
        return UsageError(std::string("unknown or incomplete option '") + argv[optind - 1] + "'");
    }
  }

  if (positional.empty()) return UsageError("no command given");
  options.command = positional[0];
  positional.erase(positional.begin());
  const std::string& cmd = options.command;
  if (cmd != "scan" && cmd != "show" && cmd != "save" && cmd != "dump" && cmd != "export")
    return UsageError("unknown command '" + cmd + "'");
  if (positional.empty()) return UsageError(cmd + " needs a FILE");

  if (cmd == "show") {
    if (positional.size() != 2) return UsageError("show needs a FILE and a NAME");
    options.files = {positional[0]};
    options.name = positional[1];
  } else if (cmd == "dump") {
    if (positional.size() != 1) return UsageError("dump takes one FILE");
    options.files = positional;
  } else if (cmd == "export") {
    // export FILE --csv DIR: DIR arrives as the second positional argument.
    if (!options.csv || positional.size() != 2) return UsageError("export needs a FILE and --csv DIR");
    options.files = {positional[0]};
    options.csvDir = positional[1];
  } else {
    options.files = positional;
  }

  // Options that belong to some commands only.
  auto only = [&](bool given, std::initializer_list<const char*> commands) -> bool {
    if (!given) return true;
    for (const char* c2 : commands)
      if (cmd == c2) return true;
    return false;
  };
  if (!only(!options.output.empty(), {"save"})) return UsageError("-o belongs to save");
  if (!only(options.overwrite, {"save"})) return UsageError("--overwrite belongs to save");
  if (!only(!options.only.empty(), {"save", "dump", "export"}))
    return UsageError("--only belongs to save, dump and export");
  if (!only(options.jobs > 1, {"scan", "save"})) return UsageError("--jobs belongs to scan and save");
  if (!only(options.json, {"scan", "show"})) return UsageError("--json belongs to scan and show");
  if (!only(options.csv, {"show", "export"})) return UsageError("--csv belongs to show and export");
  if (options.csv && options.json) return UsageError("--csv and --json exclude each other");
  if (!options.output.empty() && options.files.size() > 1) return UsageError("-o takes one FILE only");
  return std::nullopt;
}

}  // namespace veltrane

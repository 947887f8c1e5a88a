// veltrane-recover: the command-line front end.
//
//   veltrane-recover scan FILE
//   veltrane-recover show FILE NAME
//   veltrane-recover save FILE [-o OUT] [--only NAME,...] [--overwrite]
//
// Exit status: 0 success, 1 the file could not be recovered, 2 bad usage.
#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/console_observer.h"
#include "cli/object_names.h"
#include "core/session.h"
#include "core/text.h"
#include "sqlite3/parser_factory.h"

using namespace veltrane;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "Usage: veltrane-recover COMMAND FILE [ARGS] [OPTIONS]\n"
    "\n"
    "Recovers tables, indexes, views and triggers from a damaged SQLite 3 or\n"
    "SQLite 2.x database file. The source file is only read, never changed.\n"
    "\n"
    "Commands:\n"
    "  scan FILE          detect the format, scan the file and print the object\n"
    "                     tree (groups and their objects with their item data)\n"
    "  show FILE NAME     scan, then print one object: a table's rows\n"
    "                     (tab-separated, with a header line of the columns) or\n"
    "                     the CREATE statement of an index, view or trigger.\n"
    "                     NAME is the object's name as listed by scan; quotes and\n"
    "                     brackets may be left out\n"
    "  save FILE          scan, then write the recovered objects into a new\n"
    "                     SQLite 3 database, by default \"Repaired_\" + the file\n"
    "                     name in the file's folder\n"
    "\n"
    "Options of save:\n"
    "  -o, --output OUT   write the repaired database to OUT\n"
    "      --only NAMES   save only the objects named (comma-separated)\n"
    "      --overwrite    replace an existing output file without asking\n"
    "\n"
    "Overrides, for every command (what is given replaces what detection found,\n"
    "so a file whose header is destroyed can still be parsed):\n"
    "      --sqlite-version 2|3   the file's format\n"
    "      --encoding utf8|utf16  how the file stores text\n"
    "      --page-size N          the page size in bytes\n"
    "      --offset N             byte offset of the database header in the file\n"
    "\n"
    "  -h, --help         show this help\n"
    "      --version      show the version\n"
    "\n"
    "Log lines go to standard output (to standard error for show, whose output\n"
    "is data); messages go to standard error as \"Caption: text\".\n"
    "\n"
    "Exit status: 0 success, 1 the file could not be recovered (a message says\n"
    "why), 2 bad usage.\n";

struct Options {
  std::string command;
  std::string file;
  std::string name;  // show
  std::string output;
  std::vector<std::string> only;
  bool overwrite = false;
  ManualChoice manual;
};

bool ParseNumber(const char* text, uint64_t& value) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || text[0] == '-') return false;
  value = v;
  return true;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "veltrane-recover: %s\nTry 'veltrane-recover --help'.\n", message.c_str());
  return kExitUsage;
}

// Returns -1 to go on, or the exit status to end with.
int ParseArguments(int argc, char** argv, Options& options) {
  enum { kOnly = 1000, kOverwrite, kVersion, kSqliteVersion, kEncoding, kPageSize, kOffset };
  static const option longOptions[] = {
      {"output", required_argument, nullptr, 'o'},
      {"only", required_argument, nullptr, kOnly},
      {"overwrite", no_argument, nullptr, kOverwrite},
      {"sqlite-version", required_argument, nullptr, kSqliteVersion},
      {"encoding", required_argument, nullptr, kEncoding},
      {"page-size", required_argument, nullptr, kPageSize},
      {"offset", required_argument, nullptr, kOffset},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersion},
      {nullptr, 0, nullptr, 0}};
  std::vector<std::string> positional;
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, "-o:h", longOptions, nullptr)) != -1) {
    uint64_t number = 0;
    switch (c) {
      case 1:
        positional.emplace_back(optarg);
        break;
      case 'o':
        options.output = optarg;
        break;
      case kOnly: {
        std::string list = optarg;
        size_t start = 0;
        while (start <= list.size()) {
          size_t comma = list.find(',', start);
          if (comma == std::string::npos) comma = list.size();
          const std::string_view item = Trim(std::string_view(list).substr(start, comma - start));
          if (!item.empty()) options.only.emplace_back(item);
          start = comma + 1;
        }
        break;
      }
      case kOverwrite:
        options.overwrite = true;
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
        std::fputs(kUsage, stdout);
        return kExitOk;
      case kVersion:
        std::printf("veltrane-recover %s\n", kAppTitle);
        return kExitOk;
      case '?':
      default:
        if (optopt != 0 && optopt < 256)
          return UsageError(std::string("unknown or incomplete option '-") + static_cast<char>(optopt) + "'");
        return UsageError(std::string("unknown or incomplete option '") + argv[optind - 1] + "'");
    }
  }
  if (positional.empty()) return UsageError("no command given");
  options.command = positional[0];
  const bool known = options.command == "scan" || options.command == "show" || options.command == "save";
  if (!known) return UsageError("unknown command '" + options.command + "'");
  const size_t wanted = options.command == "show" ? 3 : 2;
  if (positional.size() < 2) return UsageError(options.command + " needs a FILE");
  if (options.command == "show" && positional.size() < 3) return UsageError("show needs a FILE and a NAME");
  if (positional.size() > wanted) return UsageError("too many arguments");
  options.file = positional[1];
  if (options.command == "show") options.name = positional[2];
  if (options.command != "save" && (!options.output.empty() || !options.only.empty() || options.overwrite))
    return UsageError("-o, --only and --overwrite belong to save");
  return -1;
}

void PrintTree(const ObjectTree& tree, TreeItemId item, int depth) {
  for (TreeItemId child : tree.Children(item)) {
    const std::string text = depth < 2 ? tree.Text(child) : std::string(Trim(tree.Text(child)));
    std::printf("%*s%s  [%d]\n", depth * 2, "", std::string(Trim(text)).c_str(), tree.Data(child));
    PrintTree(tree, child, depth + 1);
  }
}

// Cell text for one field of a tab-separated line.
std::string EscapeField(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    switch (ch) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out.push_back(ch);
    }
  }
  return out;
}

void PrintLine(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) line.push_back('\t');
    line += EscapeField(fields[i]);
  }
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stdout);
}

// Runs the scan; false when nothing can be recovered from the file.
bool Scan(RecoverySession& session) {
  session.OpenFile();
  session.WaitForWorker();
  return session.parser != nullptr;
}

int ScanExitStatus(const RecoverySession& session) {
  switch (session.lastScan) {
    case ScanOutcome::Completed:
      return kExitOk;
    case ScanOutcome::NoParser:
      std::fprintf(stderr, "veltrane-recover: the format of this file is not handled yet\n");
      return kExitFailed;
    default:
      return kExitFailed;
  }
}

int RunShow(RecoverySession& session, const Options& options) {
  const TreeItemId item = FindObject(session, options.name);
  if (item == kTreeRoot) {
    std::fprintf(stderr, "veltrane-recover: no object named '%s' was recovered from %s\n",
                 options.name.c_str(), options.file.c_str());
    return kExitFailed;
  }
  const bool table = session.tree.Parent(item) == session.tablesRoot;
  bool headerDone = false;
  auto printHeader = [&] {
    if (!headerDone) PrintLine(session.records.ColumnHeadings());
    headerDone = true;
  };
  // Rows are printed as they are decoded and not kept.
  session.records.SetKeepRows(false);
  session.records.SetRowTap([&](const RecordRow& row) {
    printHeader();
    std::vector<std::string> fields;
    fields.reserve(row.size());
    for (const RecordCell& cell : row) fields.push_back(cell.text);
    PrintLine(fields);
  });
  session.StartPreview(item);
  session.WaitForWorker();
  session.records.SetRowTap(nullptr);
  session.records.SetKeepRows(true);
  if (table) {
    printHeader();
  } else {
    const std::string text = session.records.Text();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
  }
  return kExitOk;
}

int RunSave(RecoverySession& session, const Options& options) {
  if (options.only.empty()) {
    session.tree.SetChecked(session.fileItem, true);
  } else {
    for (const std::string& name : options.only) {
      const TreeItemId item = FindObject(session, name);
      if (item == kTreeRoot) {
        std::fprintf(stderr, "veltrane-recover: no object named '%s' was recovered from %s\n",
                     name.c_str(), options.file.c_str());
        return kExitFailed;
      }
      session.tree.SetChecked(item, true);
    }
  }
  session.outputPathOverride = options.output;
  session.StartSave();
  session.WaitForWorker();
  const SaveReport& report = session.lastSave;
  if (!report.ran || report.failed) return kExitFailed;
  if (report.declined) {
    std::fprintf(stderr, "veltrane-recover: %s exists; not replaced (use --overwrite)\n",
                 session.OutputPath().c_str());
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int status = ParseArguments(argc, argv, options); status >= 0) return status;

  ConsoleObserver observer;
  observer.path = options.file;
  observer.manual = options.manual;
  observer.overwrite = options.overwrite;
  if (options.command == "show") observer.logStream = stderr;

  RecoverySession session(observer, MakeParser);
  const bool scanned = Scan(session);
  if (options.command == "scan") {
    if (session.fileItem != kTreeRoot) PrintTree(session.tree, kTreeRoot, 0);
    return ScanExitStatus(session);
  }
  if (!scanned) return ScanExitStatus(session) == kExitOk ? kExitFailed : ScanExitStatus(session);
  if (options.command == "show") return RunShow(session, options);
  return RunSave(session, options);
}

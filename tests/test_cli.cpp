// The command line: usage errors, files that cannot be recovered, and scans
// of every fixture that must end without a crash.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support.h"

using veltrane::test::CommandResult;
using veltrane::test::FixturePath;
using veltrane::test::RunCli;
using veltrane::test::TempDir;
using veltrane::test::WriteFile;

namespace {
bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}
}  // namespace

TEST(Cli, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate", "x.db"},
      {"scan"},
      {"show", "x.db"},
      {"dump", "a.db", "b.db"},
      {"save", "a.db", "b.db", "-o", "out.db"},
      {"export", "a.db"},
      {"show", "a.db", "t", "--csv", "--json"},
      {"scan", "a.db", "--jobs", "0"},
      {"dump", "a.db", "--json"},
      {"scan", "x.db", "--page-size", "abc"},
      {"scan", "x.db", "--sqlite-version", "4"},
      {"scan", "x.db", "--encoding", "latin1"},
      {"scan", "x.db", "--bogus"},
      {"scan", "x.db", "-o", "out.db"},
  };
  for (const auto& args : cases) {
    const CommandResult r = RunCli(args);
    EXPECT_EQ(r.status, 2) << (args.empty() ? "(none)" : args[0]);
    EXPECT_TRUE(Contains(r.err, "veltrane-recover --help")) << r.err;
  }
  const CommandResult help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* word : {"scan FILE", "show FILE NAME", "save FILE", "--only", "--overwrite",
                           "--sqlite-version", "--encoding", "--page-size", "--offset", "dump FILE",
                           "export FILE --csv DIR", "--json", "--jobs", "Exit Status"})
    EXPECT_TRUE(Contains(help.out, word)) << word;
}

TEST(Cli, FilesThatAreNotDatabasesSaySoAndExitWithOne) {
  TempDir dir;
  WriteFile(dir.File("notes.txt"), std::string(4000, 'n'));
  WriteFile(dir.File("empty.db"), "");
  struct Case {
    std::string path;
    std::string message;
  };
  const std::vector<Case> cases = {
      {dir.File("notes.txt"), "The Database content is not in its appropriate form"},
      {dir.path(), "Please select valid database file."},
      {dir.File("empty.db"), "File Format not supported, please select file again"},
      {dir.File("missing.db"), "Please select valid database file."},
  };
  for (const Case& c : cases) {
    const CommandResult r = RunCli({"scan", c.path});
    EXPECT_EQ(r.status, 1) << c.path;
    EXPECT_TRUE(Contains(r.err, "Veltrane SQLite Database Recovery v17.0: " + c.message)) << c.path << "\n" << r.err;
  }
}

TEST(Cli, ScanOfEveryFixtureEndsWithoutACrash) {
  for (const char* folder : {"sqlite3", "sqlite2"}) {
    for (const auto& entry : std::filesystem::directory_iterator(FixturePath(folder))) {
      if (entry.path().extension() != ".db") continue;
      const CommandResult r = RunCli({"scan", entry.path().string()});
      EXPECT_TRUE(r.status == 0 || r.status == 1) << entry.path() << " status " << r.status << "\n" << r.err;
      if (r.status == 0) {
        EXPECT_TRUE(Contains(r.out, "TABLES  [-2]")) << entry.path();
      }
    }
  }
}

TEST(Cli, OverridesLetADestroyedHeaderBeParsed) {
  TempDir dir;
  // Nothing in this file says what it is; the flags say it all.
  WriteFile(dir.File("raw.db"), std::string(8192, '\0'));
  const CommandResult plain = RunCli({"scan", dir.File("raw.db")});
  EXPECT_EQ(plain.status, 1);
  EXPECT_TRUE(Contains(plain.err, "Version cannot be detected.Please select the version to continue"));
  const CommandResult forced =
      RunCli({"scan", dir.File("raw.db"), "--sqlite-version", "3", "--page-size", "4096", "--encoding", "utf8"});
  EXPECT_TRUE(Contains(forced.out, " File is Parsing ")) << forced.out << forced.err;
  EXPECT_TRUE(Contains(forced.out, "TRIGGERS  [-5]"));
}

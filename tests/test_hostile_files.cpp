// The source file is never written, a file that changes under the tool ends
// the job with a message, and a save that cannot be written ends with an
// "Error: " line and status 1 and never claims success.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/test_sqlite3_support.h"

namespace veltrane::test {
namespace {

constexpr const char* kFileChanged =
    "The database file was changed by another program while it was being read; what was read after that is missing.";
constexpr const char* kSavedBox = "The repaired database has been saved as ";

// What must stay the same of a file that is only read.
struct Snapshot {
  std::string bytes;
  struct stat st {};
  static Snapshot Of(const std::string& path) {
    Snapshot s;
    s.bytes = ReadFile(path);
    EXPECT_EQ(::stat(path.c_str(), &s.st), 0);
    return s;
  }
  void ExpectSame(const std::string& path, const std::string& after) const {
    const Snapshot now = Of(path);
    EXPECT_TRUE(now.bytes == bytes) << path << " changed after " << after;
    EXPECT_EQ(now.st.st_size, st.st_size) << after;
    EXPECT_EQ(now.st.st_mtim.tv_sec, st.st_mtim.tv_sec) << after;
    EXPECT_EQ(now.st.st_mtim.tv_nsec, st.st_mtim.tv_nsec) << after;
    EXPECT_EQ(now.st.st_ctim.tv_sec, st.st_ctim.tv_sec) << after;
    EXPECT_EQ(now.st.st_ctim.tv_nsec, st.st_ctim.tv_nsec) << after;
    EXPECT_EQ(now.st.st_mode, st.st_mode) << after;
  }
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool HasErrorLine(const std::string& out) {
  return out.rfind("Error: ", 0) == 0 || Contains(out, "\nError: ");
}

// A sound file, a damaged one and a SQLite 2 file, each read by every job
// the tool has: scan, the preview of every object, save, dump and export.
TEST(HostileFiles, TheSourceKeepsItsBytesAndTimesThroughEveryJob) {
  for (const char* fixture : {"sqlite3/ps512_utf8.db", "sqlite3/schema150__garbage_leaf.db", "sqlite2/basic.db"}) {
    SCOPED_TRACE(fixture);
    TempDir dir;
    const std::string source = dir.File("source.db");
    WriteFile(source, ReadFile(FixturePath(fixture)));
    ASSERT_EQ(::chmod(source.c_str(), 0644), 0);
    const Snapshot before = Snapshot::Of(source);

    {
      auto scanned = ScanFile(source);
      RecoverySession& s = *scanned->session;
      for (TreeItemId group : {s.tablesRoot, s.indexesRoot, s.viewsRoot, s.triggersRoot})
        for (TreeItemId item : s.tree.Children(group)) {
          s.StartPreview(item);
          s.WaitForWorker();
        }
      before.ExpectSame(source, "the previews");
      s.tree.SetChecked(s.fileItem, true);
      s.StartSave();  // next to the source, as Repaired_source.db
      s.WaitForWorker();
      EXPECT_FALSE(s.lastSave.failed);
      before.ExpectSame(source, "the save");
    }
    EXPECT_EQ(RunCli({"scan", source}).status, 0);
    before.ExpectSame(source, "scan");
    EXPECT_EQ(RunCli({"save", source, "-o", dir.File("out.db")}).status, 0);
    before.ExpectSame(source, "save");
    EXPECT_EQ(RunCli({"dump", source}).status, 0);
    before.ExpectSame(source, "dump");
    EXPECT_EQ(RunCli({"export", source, "--csv", dir.File("csv")}).status, 0);
    before.ExpectSame(source, "export");
  }
}

// ---- a file that changes under the tool ----

// Truncates the file when the first row of a preview arrives.
class TruncatingObserver : public RecordingObserver {
 public:
  void RecordListChanged(const RecordListChange& change) override {
    if (change.kind == RecordListChange::Kind::RowsAdded && !truncateTo.empty() && !done.exchange(true)) {
      EXPECT_EQ(::truncate(truncateTo.c_str(), newSize), 0);
    }
  }
  std::string truncateTo;
  off_t newSize = 0;
  std::atomic<bool> done{false};
};

// A file of 150,000,000 bytes or more is mapped, not copied: a read past the
// end of a file that another program truncated would end the process with
// SIGBUS. The table's rows lie on pages after the first 8 KB.
TEST(HostileFiles, AFileTruncatedWhileAPreviewRunsEndsTheJobWithAMessage) {
  TempDir dir;
  const std::string path = dir.File("big.db");
  std::vector<std::string> sql = {"CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT)", "BEGIN"};
  for (int i = 1; i <= 2000; ++i) sql.push_back("INSERT INTO t(v) VALUES(printf('%0200d', " + std::to_string(i) + "))");
  sql.push_back("COMMIT");
  BuildDatabase(path, sql, 4096);
  const off_t mapped = (Reader_Buffer::kMaxSize / 4096 + 1) * 4096;  // sparse: no disk is used
  ASSERT_EQ(::truncate(path.c_str(), mapped), 0);

  TruncatingObserver observer;
  observer.choose = [&](FileSelection& selection) {
    DescribeFile(path, selection, observer);
    return true;
  };
  RecoverySession session(observer, MakeParser);
  session.OpenFile();
  session.WaitForWorker();
  ASSERT_EQ(session.lastScan, ScanOutcome::Completed);
  ASSERT_NE(dynamic_cast<Reader_MemoryMapped*>(session.reader.get()), nullptr) << "the file must be mapped";
  const auto tables = session.tree.Children(session.tablesRoot);
  ASSERT_EQ(tables.size(), 1u);

  observer.truncateTo = path;
  observer.newSize = 8192;
  session.StartPreview(tables[0]);
  session.WaitForWorker();
  EXPECT_TRUE(observer.done);
  EXPECT_GT(session.records.RowCount(), 0u);
  EXPECT_LT(session.records.RowCount(), 2000u);
  EXPECT_TRUE(observer.HasMessage(kFileChanged));
  EXPECT_TRUE(observer.HasLog(kFileChanged));

  // A save of what is left says that it could not be made whole.
  session.tree.SetChecked(session.fileItem, true);
  session.outputPathOverride = dir.File("out.db");
  session.StartSave();
  session.WaitForWorker();
  EXPECT_TRUE(session.lastSave.failed);
  for (const ShownMessage& m : observer.Messages()) EXPECT_FALSE(Contains(m.text, kSavedBox)) << m.text;
}

// ---- saves that cannot be written, through the command line ----

// A folder where nothing can be created: a read-only tmpfs, else (not root)
// a folder without write permission; empty when neither can be made.
class ReadOnlyFolder {
 public:
  ReadOnlyFolder() {
    if (::mount("tmpfs", dir_.path().c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0) {
      mounted_ = true;
      path_ = dir_.path();
    } else if (::geteuid() != 0) {
      path_ = dir_.File("locked");
      std::filesystem::create_directory(path_);
      ::chmod(path_.c_str(), 0555);
    }
  }
  ~ReadOnlyFolder() {
    if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
    if (!path_.empty() && !mounted_) ::chmod(path_.c_str(), 0755);
  }
  const std::string& path() const { return path_; }

 private:
  TempDir dir_;
  bool mounted_ = false;
  std::string path_;
};

// A folder on a 128 KB tmpfs (root only); empty when it cannot be mounted.
class TinyDisk {
 public:
  TinyDisk() {
    if (::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, "size=128k") == 0) path_ = dir_.path();
  }
  ~TinyDisk() {
    if (!path_.empty()) ::umount2(dir_.path().c_str(), MNT_DETACH);
  }
  const std::string& path() const { return path_; }

 private:
  TempDir dir_;
  std::string path_;
};

void ExpectFailedSave(const CommandResult& r, const std::string& error) {
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_TRUE(HasErrorLine(r.out)) << r.out;
  EXPECT_TRUE(Contains(r.out, "Error: " + error)) << r.out;
  EXPECT_FALSE(Contains(r.err, kSavedBox)) << r.err;
  EXPECT_TRUE(Contains(r.err, "The repaired database could not be written: ")) << r.err;
}

TEST(HostileFiles, ASaveThatCannotBeWrittenEndsWithAnErrorLineAndStatusOne) {
  TempDir dir;
  const std::string source = dir.File("source.db");
  // Enough rows that their pages cannot fit on the tiny disk.
  std::vector<std::string> sql = {"CREATE TABLE t(v TEXT)", "BEGIN"};
  for (int i = 0; i < 3000; ++i) sql.push_back("INSERT INTO t VALUES(printf('%0100d', " + std::to_string(i) + "))");
  sql.push_back("COMMIT");
  BuildDatabase(source, sql, 4096);
  const Snapshot before = Snapshot::Of(source);

  {
    SCOPED_TRACE("the output is the source");
    ExpectFailedSave(RunCli({"save", source, "-o", source, "--overwrite"}),
                     "the output file " + source + " is the source file itself");
    before.ExpectSame(source, "a save onto itself");
  }
  {
    SCOPED_TRACE("a folder that is not writable");
    ReadOnlyFolder folder;
    if (folder.path().empty()) {
      std::cout << "[ SKIPPED  ] no read-only folder can be made here\n";
    } else {
      ExpectFailedSave(RunCli({"save", source, "-o", folder.path() + "/out.db"}), "");
      EXPECT_FALSE(std::filesystem::exists(folder.path() + "/out.db"));
    }
  }
  {
    SCOPED_TRACE("a full disk");
    TinyDisk disk;
    if (disk.path().empty()) {
      std::cout << "[ SKIPPED  ] no tmpfs can be mounted here\n";
    } else {
      ExpectFailedSave(RunCli({"save", source, "-o", disk.path() + "/out.db"}), "database or disk is full");
    }
  }
  before.ExpectSame(source, "the failed saves");
}

}  // namespace
}  // namespace veltrane::test

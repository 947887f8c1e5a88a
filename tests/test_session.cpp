// The recovery session: the flow of Open, the tree it builds, Stop, the
// refusal of a second job, and what a preview does with a tree item.
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

#include "core/session.h"
#include "tests/support.h"

using namespace veltrane;
using veltrane::test::RecordingObserver;
using veltrane::test::TempDir;
using veltrane::test::WriteFile;

namespace {

constexpr const char* kCompleted = "Scanning process for selected file has been completed successfully.";
constexpr const char* kPleaseWait = "Please wait for the running process.";

// A gate a fake parser waits at until the test opens it.
struct Gate {
  std::mutex mutex;
  std::condition_variable cv;
  bool open = false;
  bool reached = false;
  void Wait() {
    std::unique_lock lock(mutex);
    reached = true;
    cv.notify_all();
    cv.wait(lock, [&] { return open; });
  }
  void WaitUntilReached() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return reached; });
  }
  void Open() {
    std::lock_guard lock(mutex);
    open = true;
    cv.notify_all();
  }
};

// Records what the session asks of a parser.
struct FakeParser : sqlite_base {
  std::atomic<int>* destroyed = nullptr;
  Gate* gate = nullptr;
  bool fail = false;
  int parses = 0;
  std::string seenPath;

  ~FakeParser() override {
    if (destroyed) ++*destroyed;
  }
  void ParseFile(const std::string& path) override {
    ++parses;
    seenPath = path;
    if (gate) gate->Wait();
    tableDescriptors.push_back("t+id< P.K >~name~#2");
    const TreeItemId t = owner->AddTreeItem("t", owner->tablesRoot, TreePosition::First);
    owner->SetTreeItemData(t, 0);
    indexStatements.push_back("CREATE INDEX i ON t(name");
    const TreeItemId i = owner->AddTreeItem(" i ON t", owner->indexesRoot, TreePosition::First);
    owner->SetTreeItemData(i, 0);
    if (fail) {
      owner->ShowMessage("The Database content is not in its appropriate form", "File_Corrupted");
      owner->ReportParseFailure();
    }
  }
  void RecoverRows(std::string, int32_t rootPage, int columnCount, const std::string& name, int keyMark) override {
    lastRoot = rootPage, lastColumns = columnCount, lastName = name, lastKeyMark = keyMark;
    for (int r = 0; r < rowsToAdd; ++r) {
      if (owner->stopRequested) return;
      owner->AddRecordRow({{std::to_string(r + 1)}, {"name", false}});
      if (gate && r == 0) gate->Wait();
    }
  }
  int rowsToAdd = 3;
  int32_t lastRoot = 0;
  int lastColumns = -1;
  std::string lastName;
  int lastKeyMark = -1;
};

struct Fixture {
  TempDir dir;
  RecordingObserver observer;
  std::atomic<int> destroyed{0};
  FakeParser* lastParser = nullptr;
  Gate* gate = nullptr;
  bool fail = false;
  std::unique_ptr<RecoverySession> session;

  explicit Fixture(uint64_t fileSize = 4096, uint64_t pageSize = 1024, uint64_t startOffset = 1) {
    WriteFile(dir.File("a.db"), std::string(fileSize, 'a'));
    observer.choose = [this, pageSize, startOffset](FileSelection& s) {
      s.path = dir.File("a.db");
      s.formatVersion = 2;
      s.pageSize = pageSize;
      s.startOffset = startOffset;
      s.utf8 = true;
      return true;
    };
    session = std::make_unique<RecoverySession>(observer, [this](int32_t version) -> std::unique_ptr<sqlite_base> {
      if (version != 2) return nullptr;
      auto p = std::make_unique<FakeParser>();
      p->destroyed = &destroyed;
      p->gate = gate;
      p->fail = fail;
      lastParser = p.get();
      return p;
    });
  }
  void Open() {
    session->OpenFile();
    session->WaitForWorker();
  }
};

}  // namespace

TEST(Session, ScanBuildsTheFileItemAndExactlyFourGroups) {
  Fixture f;
  f.Open();
  const ObjectTree& tree = f.session->tree;
  const std::vector<TreeItemId> top = tree.Children(kTreeRoot);
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(tree.Text(top[0]), f.dir.File("a.db"));
  EXPECT_EQ(tree.Data(top[0]), -1);
  EXPECT_TRUE(tree.IsExpanded(top[0]));
  const std::vector<TreeItemId> groups = tree.Children(top[0]);
  ASSERT_EQ(groups.size(), 4u);
  const char* names[] = {"TABLES  ", "INDEXES  ", "VIEWS  ", "TRIGGERS  "};
  for (int g = 0; g < 4; ++g) {
    EXPECT_EQ(tree.Text(groups[g]), names[g]);
    EXPECT_EQ(tree.Data(groups[g]), -2 - g);
  }
  EXPECT_EQ(f.session->pageCount, 4u);
  EXPECT_EQ(f.lastParser->seenPath, f.dir.File("a.db"));
  EXPECT_TRUE(f.lastParser->utf8Mode);
  EXPECT_EQ(f.lastParser->owner, f.session.get());
  EXPECT_EQ(f.session->processRunning, 0);
  EXPECT_EQ(f.session->formatVersion, 0);
  EXPECT_EQ(f.session->lastScan, ScanOutcome::Completed);

  const auto log = f.observer.Log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], f.dir.File("a.db") + " File is selected for recovery....");
  EXPECT_EQ(log[1], " File is Parsing ");
  EXPECT_EQ(log.back(), kCompleted);
  EXPECT_TRUE(f.observer.HasMessage(kCompleted));
  EXPECT_FALSE(f.observer.progressVisible);
}

TEST(Session, PageCountCountsWholePagesFromTheHeader) {
  Fixture plain(5000, 1024, 0);
  plain.Open();
  EXPECT_EQ(plain.session->pageCount, 4u);
  // A header at offset 100 (start offset 101): (5000 - 101 + 1) / 1024.
  Fixture shifted(5000, 1024, 101);
  shifted.Open();
  EXPECT_EQ(shifted.session->pageCount, 4u);
  Fixture small(500, 1024, 1);
  small.Open();
  EXPECT_EQ(small.session->pageCount, 0u);
  EXPECT_EQ(small.lastParser->parses, 1);  // the parser still runs
}

TEST(Session, NoPageSizeEndsBeforeTheParser) {
  Fixture f(4096, 0);
  f.Open();
  const auto messages = f.observer.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "There is an error to open Database file");
  EXPECT_EQ(messages[0].caption, "Can't be parsed");
  EXPECT_EQ(messages[0].style, MessageStyle::Plain);
  EXPECT_EQ(f.lastParser, nullptr);
  EXPECT_EQ(f.session->lastScan, ScanOutcome::NotStarted);
  EXPECT_EQ(f.session->processRunning, 0);
}

TEST(Session, ParserFailureIsNotReportedAsSuccess) {
  Fixture f;
  f.fail = true;
  f.Open();
  EXPECT_FALSE(f.observer.HasMessage(kCompleted));
  EXPECT_FALSE(f.observer.HasLog(kCompleted));
  EXPECT_EQ(f.session->lastScan, ScanOutcome::EndedEarly);
  // What was found before the failure stays in the tree.
  EXPECT_EQ(f.session->tree.ChildCount(f.session->tablesRoot), 1u);
}

TEST(Session, OpenWhileRunningAsksToWaitAndStopStillCompletes) {
  Fixture f;
  Gate gate;
  f.gate = &gate;
  f.session->OpenFile();
  gate.WaitUntilReached();
  EXPECT_EQ(f.session->processRunning, 1);

  f.session->OpenFile();
  EXPECT_TRUE(f.observer.HasMessage(kPleaseWait));

  // Stop answered with No changes nothing; Yes clears processRunning at once.
  f.observer.answer = [](const std::string&) { return MessageResult::No; };
  f.session->RequestStop();
  EXPECT_EQ(f.session->processRunning, 1);
  f.observer.answer = [](const std::string&) { return MessageResult::Yes; };
  f.session->RequestStop();
  EXPECT_EQ(f.session->processRunning, 0);
  EXPECT_TRUE(f.session->stopRequested);

  // The old worker is still inside the parser: a new Open must wait for it.
  const size_t waitsBefore = f.observer.Messages().size();
  f.session->OpenFile();
  EXPECT_EQ(f.observer.Messages().size(), waitsBefore + 1);
  EXPECT_EQ(f.observer.Messages().back().text, kPleaseWait);

  gate.Open();
  f.session->WaitForWorker();
  EXPECT_TRUE(f.observer.HasMessage(kCompleted));
  EXPECT_FALSE(f.session->stopRequested);  // the first preview afterwards shows its rows
  EXPECT_TRUE(f.session->tree.IsExpanded(f.session->fileItem));
}

TEST(Session, StopWhileNothingRunsDoesNothing) {
  Fixture f;
  f.session->RequestStop();
  EXPECT_TRUE(f.observer.Messages().empty());
  EXPECT_FALSE(f.session->stopRequested);
}

TEST(Session, SecondOpenDestroysThePreviousParserFirst) {
  Fixture f;
  f.Open();
  FakeParser* first = f.lastParser;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(f.destroyed, 0);
  int destroyedWhenSecondParsed = -1;
  f.observer.choose = [&](FileSelection& s) {
    // By the time the dialog has answered, nothing is destroyed yet.
    EXPECT_EQ(f.destroyed, 0);
    s.path = f.dir.File("a.db");
    s.formatVersion = 2;
    s.pageSize = 1024;
    s.utf8 = true;
    return true;
  };
  f.session->OpenFile();
  destroyedWhenSecondParsed = f.destroyed;  // reset happens before the worker starts
  f.session->WaitForWorker();
  EXPECT_EQ(destroyedWhenSecondParsed, 1);
  // (The new parser may reuse the old one's address: the count above is what
  // shows that the first was destroyed before the second was made.)
  EXPECT_EQ(f.session->parser.get(), f.lastParser);
  EXPECT_EQ(f.session->tree.ChildCount(f.session->tablesRoot), 1u);  // not two
}

TEST(Session, CancelInTheDialogKeepsThePreviousResults) {
  Fixture f;
  f.Open();
  sqlite_base* parser = f.session->parser.get();
  const size_t items = f.session->tree.ItemCount();
  f.observer.choose = [](FileSelection&) { return false; };
  f.session->OpenFile();
  f.session->WaitForWorker();
  EXPECT_EQ(f.session->parser.get(), parser);
  EXPECT_NE(f.session->reader, nullptr);
  EXPECT_EQ(f.session->tree.ItemCount(), items);
  EXPECT_EQ(f.destroyed, 0);
}

TEST(Session, PreviewOfATableFillsTheListWithItsColumnsAndRows) {
  Fixture f;
  f.Open();
  const TreeItemId table = f.session->tree.FirstChild(f.session->tablesRoot);
  f.session->StartPreview(table);
  f.session->WaitForWorker();

  EXPECT_EQ(f.lastParser->lastRoot, 2);
  EXPECT_EQ(f.lastParser->lastColumns, 2);
  EXPECT_EQ(f.lastParser->lastName, "t");
  EXPECT_EQ(f.lastParser->lastKeyMark, 10);
  EXPECT_EQ(f.session->records.ColumnHeadings(), (std::vector<std::string>{"id< P.K >", "name"}));
  EXPECT_EQ(f.session->recordColumnCount, 2);
  EXPECT_EQ(f.session->records.RowCount(), 3u);
  EXPECT_TRUE(f.session->records.ListVisible());
  EXPECT_EQ(f.observer.status, "t[3]");
  EXPECT_TRUE(f.observer.HasLog("Please wait while t folder is scanning."));
  EXPECT_TRUE(f.observer.HasLog("Scanning process completed for folder: t"));
  EXPECT_EQ(f.session->processRunning, 0);

  // A second preview starts again from no columns.
  f.session->StartPreview(table);
  f.session->WaitForWorker();
  EXPECT_EQ(f.session->records.ColumnCount(), 2u);
  EXPECT_EQ(f.session->records.RowCount(), 3u);
}

TEST(Session, PreviewOfAnIndexShowsItsStatementAndAGroupShowsNothing) {
  Fixture f;
  f.Open();
  f.session->StartPreview(f.session->tree.FirstChild(f.session->indexesRoot));
  f.session->WaitForWorker();
  EXPECT_FALSE(f.session->records.ListVisible());
  EXPECT_EQ(f.session->records.Text(), "CREATE INDEX i ON t(name");
  EXPECT_EQ(f.observer.status, " i ON t");

  const size_t logLines = f.observer.Log().size();
  f.session->StartPreview(f.session->tablesRoot);
  f.session->WaitForWorker();
  EXPECT_EQ(f.session->records.Text(), "");
  EXPECT_EQ(f.session->records.RowCount(), 0u);
  EXPECT_EQ(f.session->processRunning, 0);
  // Only the "Please wait while" line; no completion line for a group.
  EXPECT_EQ(f.observer.Log().size(), logLines + 1);
}

TEST(Session, StopDuringAPreviewKeepsTheRowsShown) {
  Fixture f;
  f.Open();
  Gate gate;
  f.lastParser->gate = &gate;
  f.lastParser->rowsToAdd = 100;
  f.session->StartPreview(f.session->tree.FirstChild(f.session->tablesRoot));
  gate.WaitUntilReached();
  f.session->RequestStop();
  gate.Open();
  f.session->WaitForWorker();
  EXPECT_EQ(f.session->records.RowCount(), 1u);
  EXPECT_FALSE(f.session->stopRequested);
  EXPECT_EQ(f.observer.status, "t[1]");
}

TEST(Session, RepeatedBoxesOfOneJobGoToTheLog) {
  Fixture f;
  f.Open();
  struct Noisy : FakeParser {
    void RecoverRows(std::string, int32_t, int, const std::string&, int) override {
      for (int i = 0; i < 3; ++i) owner->ShowMessage("Error in reading");
      owner->ShowMessage("Corruption in file Cell content area");
    }
  };
  // Swap in a parser that reports the same damage three times.
  auto noisy = std::make_unique<Noisy>();
  noisy->owner = f.session.get();
  noisy->tableDescriptors = f.session->parser->tableDescriptors;
  f.session->parser = std::move(noisy);
  const size_t before = f.observer.Messages().size();
  f.session->StartPreview(f.session->tree.FirstChild(f.session->tablesRoot));
  f.session->WaitForWorker();
  const auto messages = f.observer.Messages();
  ASSERT_EQ(messages.size(), before + 2);
  EXPECT_EQ(messages[before].text, "Error in reading");
  EXPECT_EQ(messages[before + 1].text, "Corruption in file Cell content area");
  int logged = 0;
  for (const auto& line : f.observer.Log()) logged += line == "Error in reading";
  EXPECT_EQ(logged, 2);
}

TEST(Session, SaveNeedsAScanAndACheckedObject) {
  Fixture f;
  f.session->StartSave();
  EXPECT_TRUE(f.observer.HasMessage("There is no recovered data to save. Please open a database file first."));
  f.Open();
  f.session->StartSave();
  EXPECT_TRUE(f.observer.HasMessage("No object is checked for saving. Please check the objects to save."));
  EXPECT_FALSE(f.session->WorkerAlive());
  EXPECT_FALSE(f.session->lastSave.ran);
}

TEST(Session, MakeOutputPathPutsRepairedBeforeTheFileName) {
  EXPECT_EQ(MakeOutputPath("/data/shop.db"), "/data/Repaired_shop.db");
  EXPECT_EQ(MakeOutputPath("shop.db"), "Repaired_shop.db");
  EXPECT_EQ(MakeOutputPath("rel/dir/x"), "rel/dir/Repaired_x");
}

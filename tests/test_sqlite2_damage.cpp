// Damaged copies of the SQLite 2 fixtures: truncated, with page 2 or an
// interior page zeroed, with random bytes. The scan, every preview and the
// row walk of every table root must end without a crash.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>

#include "core/detect.h"
#include "tests/test_sqlite2_builder.h"

namespace veltrane::test {
namespace {

using Json = nlohmann::json;

struct Source {
  std::string bytes;
  Json truth;
};

Source Load(const std::string& name) {
  Source s;
  s.bytes = ReadFile(FixturePath("sqlite2/" + name + ".db"));
  std::ifstream in(FixturePath("sqlite2/" + name + ".json"));
  s.truth = Json::parse(in);
  return s;
}

// Scans the file, previews every table the scan listed, then walks the root
// of every table the fixture holds (whether the scan found it or not).
// Returns the number of rows each preview showed, by tree label.
std::map<std::string, size_t> Exercise(const std::string& path, const Json& truth) {
  RecordingObserver observer;
  RecoverySession session(observer, MakeParser);
  observer.choose = [&](FileSelection& selection) {
    DescribeFile(path, selection, observer);
    return selection.formatVersion != 0;
  };
  session.OpenFile();
  session.WaitForWorker();
  std::map<std::string, size_t> rows;
  if (session.tablesRoot == kTreeRoot) return rows;
  for (TreeItemId item : session.tree.Children(session.tablesRoot)) {
    session.StartPreview(item);
    session.WaitForWorker();
    rows[session.tree.Text(item)] = session.records.RowCount();
  }
  if (!session.parser) return rows;
  for (const Json& m : truth["sqlite_master"]) {
    if (m[0] != "table") continue;
    const auto columns = truth["columns"][m[1].get<std::string>()].size();
    session.parser->rowProgress = 0;
    session.parser->RecoverRows(path, std::stoi(m[3].get<std::string>()), static_cast<int>(columns), "t", 10);
  }
  return rows;
}

const char* const kDamaged[] = {"multipage", "schema", "overflow", "bigrow", "manytables", "widerow", "deleted"};

TEST(Sqlite2Damage, TruncatedCopies) {
  TempDir dir;
  for (const char* name : kDamaged) {
    const Source s = Load(name);
    const size_t sizes[] = {100, 1023, 1024, 1500, 2048, 2500, 3072, s.bytes.size() / 2, s.bytes.size() - 1};
    for (size_t size : sizes) {
      SCOPED_TRACE(std::string(name) + " cut to " + std::to_string(size));
      const std::string path = dir.File("cut.db");
      WriteFile(path, s.bytes.substr(0, size));
      Exercise(path, s.truth);
    }
  }
}

TEST(Sqlite2Damage, ZeroedSchemaAndInteriorPages) {
  TempDir dir;
  for (const char* name : kDamaged) {
    const Source s = Load(name);
    std::vector<uint32_t> pages = {2};
    for (const auto& [table, tree] : s.truth["layout"]["btrees"].items())
      for (const Json& p : tree["interior_pages"]) pages.push_back(p.get<uint32_t>());
    for (uint32_t page : pages) {
      SCOPED_TRACE(std::string(name) + " page " + std::to_string(page) + " zeroed");
      std::string bytes = s.bytes;
      bytes.replace((page - 1) * 1024, 1024, std::string(1024, '\0'));
      const std::string path = dir.File("zeroed.db");
      WriteFile(path, bytes);
      Exercise(path, s.truth);
    }
  }
  // With its schema page zeroed, a one-level file has lost its table's name:
  // the rows come back in a lost_and_found table.
  const Source basic = Load("basic");
  std::string bytes = basic.bytes;
  bytes.replace(1024, 1024, std::string(1024, '\0'));
  std::string path = dir.File("basic_zeroed.db");
  WriteFile(path, bytes);
  EXPECT_EQ(Exercise(path, basic.truth), (std::map<std::string, size_t>{{" lost_and_found_3 ", 10}}));

  // A zeroed interior page costs its own subtree only.
  const Source multipage = Load("multipage");
  bytes = multipage.bytes;
  bytes.replace(34 * 1024, 1024, std::string(1024, '\0'));  // page 35, one of three below the root
  path = dir.File("multipage_zeroed.db");
  WriteFile(path, bytes);
  const std::map<std::string, size_t> rows = Exercise(path, multipage.truth);
  ASSERT_EQ(rows.size(), 2u);
  size_t big = 0, small = 0;
  for (const auto& [label, n] : rows) (label.find("small") != std::string::npos ? small : big) = n;
  EXPECT_EQ(small, 5u);
  EXPECT_GT(big, 1000u);
  EXPECT_LT(big, 2000u);
}

TEST(Sqlite2Damage, RandomBytes) {
  TempDir dir;
  for (const char* name : kDamaged) {
    const Source s = Load(name);
    const size_t pages = s.bytes.size() / 1024;
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      std::mt19937 random(seed);
      auto byte = [&] { return static_cast<char>(random() & 0xff); };
      auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };

      std::string scattered = s.bytes;  // bytes changed anywhere after the magic text
      for (int i = 0; i < 300; ++i) scattered[48 + pick(scattered.size() - 48)] = byte();

      std::string headers = s.bytes;  // every page and cell header area garbled
      for (size_t p = 1; p < pages; ++p)
        for (size_t i = 0; i < 64; ++i) headers[p * 1024 + i] = byte();

      std::string noise = s.bytes.substr(0, 1024);  // nothing but noise after page 1
      for (size_t i = 1024; i < s.bytes.size(); ++i) noise.push_back(byte());

      // Small page numbers and offsets everywhere, so that pointers lead back into the file.
      std::string pointers = s.bytes;
      for (size_t p = 1; p < pages; ++p) {
        for (size_t i = 0; i < 1024; i += 4) {
          const uint32_t v = static_cast<uint32_t>(pick(2) ? pick(pages + 2) : (pick(250) * 4));
          for (int b = 0; b < 4; ++b) pointers[p * 1024 + i + b] = static_cast<char>(v >> (8 * b));
        }
      }

      const std::pair<const char*, const std::string*> variants[] = {
          {"scattered", &scattered}, {"headers", &headers}, {"noise", &noise}, {"pointers", &pointers}};
      for (const auto& [kind, bytes] : variants) {
        SCOPED_TRACE(std::string(name) + " " + kind + " seed " + std::to_string(seed));
        const std::string path = dir.File("random.db");
        WriteFile(path, *bytes);
        Exercise(path, s.truth);
      }
    }
  }
}

}  // namespace
}  // namespace veltrane::test

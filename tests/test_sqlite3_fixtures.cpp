// The shared SQLite 3 fixtures: the preview of every table of an intact base
// shows its true rows; every table of a damaged copy previews to its end.
#include <gtest/gtest.h>

#include <cmath>

#include "cli/object_names.h"
#include "core/text.h"
#include "tests/test_sqlite3_support.h"

namespace veltrane::test {
namespace {

std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
  return out;
}

// The list texts a truth value may show as.
std::vector<std::string> ShownAs(const nlohmann::json& v, bool utf16, bool& null) {
  null = v.is_null();
  if (v.is_null()) return {"NULL"};
  if (v.is_number_integer()) return {Format("%lld", v.get<long long>())};
  if (v.is_string()) return {v.get<std::string>()};
  if (v.contains("real")) {
    const double d = v["real"].get<double>();
    std::vector<std::string> shown = {Format("%lf", d)};
    // A REAL column keeps a whole number as an integer on disk.
    if (std::floor(d) == d && std::fabs(d) < 9e18) shown.push_back(Format("%lld", static_cast<long long>(d)));
    return shown;
  }
  if (v.contains("blob")) {
    if (!utf16) return {"< Blob Data >"};
    const std::string bytes = FromHex(v["blob"].get<std::string>());
    std::string text = Utf16ToUtf8(Utf16FromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), false));
    const size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return {text};
  }
  return {};
}

TEST(Sqlite3Fixtures, PreviewOfIntactBasesShowsTheTrueRows) {
  for (const std::string& base : FixtureBases()) {
    if (base == "ps4096_utf16be") continue;  // encoding 3 selects no text mode
    SCOPED_TRACE(base);
    const nlohmann::json truth = ReadJson(FixturePath("sqlite3/" + base + ".json"));
    const bool utf16 = truth["encoding"].get<std::string>() != "UTF-8";
    auto scanned = ScanFile(FixturePath("sqlite3/" + base + ".db"));
    RecoverySession& s = *scanned->session;
    for (const auto& [name, table] : truth["tables"].items()) {
      if (table["without_rowid"].get<bool>()) continue;
      SCOPED_TRACE(name);
      const TreeItemId item = FindObject(s, name);
      ASSERT_NE(item, kTreeRoot);
      s.StartPreview(item);
      s.WaitForWorker();
      const auto& rows = table["rows"];
      ASSERT_EQ(s.records.RowCount(), rows.size());
      const auto& defaults = table["defaults"];
      size_t wrong = 0;
      for (size_t r = 0; r < rows.size(); ++r) {
        const RecordRow got = s.records.Row(r);
        ASSERT_EQ(got.size(), rows[r].size());
        for (size_t c = 0; c < got.size(); ++c) {
          bool null = false;
          const std::vector<std::string> shown = ShownAs(rows[r][c], utf16, null);
          bool ok = std::find(shown.begin(), shown.end(), got[c].text) != shown.end() && got[c].isNull == null;
          // A record written before ALTER TABLE ADD COLUMN lacks the column.
          if (!ok && got[c].text.empty() && !got[c].isNull && rows[r][c] == defaults[c])
            ok = true;
          if (!ok && wrong++ < 5)
            ADD_FAILURE() << "row " << r << " column " << c << ": " << got[c].text << " vs " << rows[r][c];
        }
      }
      EXPECT_EQ(wrong, 0u);
    }
  }
}

TEST(Sqlite3Fixtures, EveryTableOfADamagedCopyPreviewsToItsEnd) {
  for (const std::string& base : FixtureBases()) {
    for (const char* damage : {"__bitflip_low", "__garbage_leaf", "__truncate_page", "__zero_header"}) {
      const std::string file = base + damage + ".db";
      SCOPED_TRACE(file);
      auto scanned = ScanFile(FixturePath("sqlite3/" + file));
      RecoverySession& s = *scanned->session;
      if (s.tablesRoot == kTreeRoot) continue;
      for (TreeItemId item : s.tree.Children(s.tablesRoot)) {
        s.StartPreview(item);
        s.WaitForWorker();
        EXPECT_EQ(s.processRunning, 0);
      }
    }
  }
}

}  // namespace
}  // namespace veltrane::test

// The deep steps of a SQLite 2 scan: master records outside the master tree
// (page 2 or a page below it destroyed), and table pages that no tree
// reaches (a parent page destroyed, or beyond a truncation).
//
// Which pages count as reached:
//
//   master tree     every page under page 2, and the overflow pages of its cells
//   free list       trunk pages (file header offset 52, chained by their first
//                   4 bytes, leaf count at offset 4, leaf numbers from 8; in
//                   the file's byte order) and the leaves they list
//   b-trees         every page under each root page the master records name,
//                   and the overflow pages of their cells
//
// Any other page is read as a table page: its cells must have 4-byte keys and
// sound records (see SoundRecordColumns). SQLite 2 keeps whole entries on
// interior pages too, so every such page holds rows of its own; its children
// are looked at as pages of their own.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "core/lost_and_found.h"
#include "sqlite2/ver2_layout.h"

namespace veltrane {

class sqlite_ver2;
class RecoverySession;

class Ver2DeepScan {
 public:
  Ver2DeepScan(sqlite_ver2& parser, const ver2::PageFile& file);
  Ver2DeepScan(const Ver2DeepScan&) = delete;
  Ver2DeepScan& operator=(const Ver2DeepScan&) = delete;

  // Before the analysis of the master records: holds the reached pages and
  // appends the master records found on the other pages to the parser's
  // record lists (each object once; a table whose root another tree holds is
  // left out).
  void SearchMasterRecords();

  // After the analysis: the lost pages join the table they fit, or go into
  // lost_and_found tables; fills parser.deep.
  void PlaceLostPages();

 private:
  enum class Holder : uint8_t { None, Master, Freelist, Tree, Overflow };

  struct Cell {
    uint32_t offset = 0;  // within the page
    Ver2CellHeader header;
    int32_t rowid = 0;
  };
  struct Survey {
    bool complete = true;
    std::vector<uint32_t> pages;
  };

  bool IsPage(uint64_t p) const { return p >= 2 && p <= pages_; }
  // The cell chain of one page, as far as it goes without overlapping cells.
  std::vector<Cell> Chain(uint32_t page) const;
  // Walks the b-tree under root, holding its pages and their overflow pages;
  // leaf is called for every cell of every page.
  template <typename CellFn>
  Survey Walk(uint32_t root, Holder claim, CellFn&& cell);
  void ReadFreelist();
  // Holds the overflow pages of a cell of page; a chain stops at a page
  // held already, so that no page is followed twice in a scan.
  void HoldOverflow(uint32_t page, const Cell& cell);
  // The fields of a master record: false when it is none.
  static bool MasterFields(std::string_view record, uint32_t size, std::string& type, std::string& name,
                           int64_t& root);
  // The page read as a table page: false when it is none.
  bool ReadLostPage(uint32_t page, LostPage& lost, ver2::PageSet& overflow);
  HostTable SurveyTable(int32_t k);

  sqlite_ver2& parser_;
  RecoverySession& session_;
  const ver2::PageFile& file_;
  uint32_t pages_;
  std::vector<Holder> held_;
  std::vector<uint32_t> stamp_;
  uint32_t epoch_ = 0;
  std::set<std::string> known_;
  std::vector<LostPage> lost_;
  // A master record found on a page outside the master tree.
  struct Pending {
    uint32_t page = 0;
    std::string record;
    std::string type;
    std::string name;
    int64_t root = 0;
  };
  std::vector<Pending> pendingMaster_;
};

}  // namespace veltrane

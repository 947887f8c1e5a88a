// Bounds on the work that one job does on a file, whatever the file holds.
//
// A sound file gives each page to one table and each byte to one value, so a
// job that reads every table once reads each page about once and produces
// about as many bytes as the file holds. A damaged or hostile file can name
// one tree from many tables, one overflow chain from many cells or one cell
// from many cell pointers; these bounds keep such a file from multiplying
// the time, the memory and the output of a job.
#pragma once

#include <cstdint>
#include <vector>

namespace veltrane {

// A count of work units that runs out: the bytes of the values a job hands
// over, or the pages its counting walks enter.
class WorkBudget {
 public:
  // Sets the units left; at least floor, else share times the file's size.
  void Reset(uint64_t fileSize, uint64_t share, uint64_t floor) {
    left_ = fileSize > (UINT64_MAX - floor) / share ? UINT64_MAX : fileSize * share + floor;
  }
  // Takes units; false (and nothing left) when fewer than that were left.
  bool Spend(uint64_t units) {
    if (units > left_) {
      left_ = 0;
      exhausted_ = true;
      return false;
    }
    left_ -= units;
    return true;
  }
  bool exhausted() const { return exhausted_; }
  uint64_t left() const { return left_; }

 private:
  uint64_t left_ = UINT64_MAX;
  bool exhausted_ = false;
};

// What the value bytes of one job may add up to: kValueShare times the file,
// and never less than kValueFloor.
inline constexpr uint64_t kValueShare = 8;
inline constexpr uint64_t kValueFloor = uint64_t{16} << 20;

// How many different tables of one job may take rows from one page.
inline constexpr uint8_t kPageShareLimit = 4;

// The pages that the row walks of one job have given to tables. A sound file
// gives every page to one table; tables whose roots name one tree share its
// pages. A page serves at most kPageShareLimit different tables of a job;
// later tables skip it.
class PageShares {
 public:
  // Starts over for a file of pageCount pages.
  void Reset(uint64_t pageCount) {
    uses_.assign(pageCount + 1, 0);
    last_.assign(pageCount + 1, kNoTable);
  }
  // True when table may read page (and the page is counted for it); pages
  // outside the file are never refused here.
  bool Take(uint64_t page, int32_t table) {
    if (page >= uses_.size() || last_[page] == table) return true;
    if (uses_[page] >= kPageShareLimit) return false;
    ++uses_[page];
    last_[page] = table;
    return true;
  }

 private:
  static constexpr int32_t kNoTable = INT32_MIN;
  std::vector<uint8_t> uses_;
  std::vector<int32_t> last_;
};

}  // namespace veltrane

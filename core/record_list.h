// Record pane model: the record list (table columns, rows of cell texts with a
// stored-NULL flag per cell) and the read-only text box for statements; exactly
// one of the two is visible.
//
// The table columns stand in front of the list's filler column; only they are
// counted. Rows are filled by the worker thread and read by the window, so
// every call locks. Rows are kept packed, one allocation per row, so that a
// preview of a million rows stays affordable.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace veltrane {

struct RecordCell {
  std::string text;
  bool isNull = false;  // the file stored NULL in this cell
};
using RecordRow = std::vector<RecordCell>;

struct RecordListChange {
  enum class Kind { RowsCleared, ColumnInserted, ColumnRemoved, RowsAdded, RowChanged, TextChanged, ViewChanged };
  Kind kind = Kind::RowsCleared;
  size_t index = 0;  // column or first row
  size_t count = 0;  // rows added
};

class RecordListListener {
 public:
  virtual ~RecordListListener() = default;
  virtual void RecordListChanged(const RecordListChange& change) = 0;
};

class RecordList {
 public:
  RecordList() = default;
  RecordList(const RecordList&) = delete;
  RecordList& operator=(const RecordList&) = delete;

  void SetListener(RecordListListener* listener);

  // Columns (the filler column is not counted and cannot be removed).
  void InsertColumn(size_t position, const std::string& heading);
  void RemoveColumn(size_t position);
  size_t ColumnCount() const;
  std::string ColumnHeading(size_t position) const;
  std::vector<std::string> ColumnHeadings() const;

  // Rows. A row may hold fewer cells than there are columns: the cells after
  // its last are empty, and Row and the tap hand it over with all of them.
  void ClearRows();
  size_t AppendRow(const RecordRow& row);
  size_t InsertRow(size_t index, const RecordRow& row);
  void SetCell(size_t row, size_t column, const std::string& text, bool isNull = false);
  size_t RowCount() const;
  RecordCell Cell(size_t row, size_t column) const;
  RecordRow Row(size_t row) const;

  // When keepRows is false, rows are handed to the tap only and not stored
  // (a console preview that prints as it goes needs no memory per row).
  void SetKeepRows(bool keep);
  // Called, from the thread that adds it, with every row appended or inserted.
  void SetRowTap(std::function<void(const RecordRow&)> tap);

  // Text box.
  void SetText(const std::string& text);
  std::string Text() const;
  void ShowList(bool showList);  // false shows the text box
  bool ListVisible() const;

 private:
  // A row packed into one string: the cell count, one end offset per cell
  // (top bit: the NULL flag), then the cell texts one after another.
  static std::string Pack(const RecordRow& row);
  static RecordRow Unpack(const std::string& packed);
  static RecordCell UnpackCell(const std::string& packed, size_t column);

  void Notify(const RecordListChange& change);

  mutable std::mutex mutex_;
  std::vector<std::string> headings_;
  std::vector<std::string> rows_;
  std::string text_;
  bool listVisible_ = false;
  bool keepRows_ = true;
  std::function<void(const RecordRow&)> tap_;
  RecordListListener* listener_ = nullptr;
};

}  // namespace veltrane

// The Qt face of the core record list: the table columns, then one filler
// column, over rows that stay in the core model. The worker appends rows to
// the core list and only notes that something arrived (a few atomic
// operations per row); Sync, run on the window thread by a timer, announces
// everything that arrived since the last look as one batch, so a preview of
// a million rows never floods the window with one event per row.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <atomic>

#include "core/record_list.h"

namespace veltrane {

class RecordTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit RecordTableModel(RecordList& records, QObject* parent = nullptr);

  // Any thread: a change of the core list (from its listener).
  void Note(const RecordListChange& change);
  // Window thread: brings the model up to date with the core list.
  void Sync();

  // Columns of the table in front of the filler column.
  int tableColumnCount() const { return static_cast<int>(headings_.size()); }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 signals:
  // The columns were rebuilt (after a reset): the view sets their widths.
  void columnsRebuilt();

 private:
  RecordList& records_;
  // Counts every clear and every column change; a new value means a reset.
  std::atomic<uint64_t> layoutChanges_{0};
  // Rows went in front of rows already shown, or cells changed.
  std::atomic<bool> rowsMoved_{false};
  uint64_t seenLayout_ = 0;
  QStringList headings_;
  int rows_ = 0;
};

}  // namespace veltrane

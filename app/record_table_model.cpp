#include "app/record_table_model.h"

#include <climits>

namespace veltrane {

RecordTableModel::RecordTableModel(RecordList& records, QObject* parent)
    : QAbstractTableModel(parent), records_(records) {}

void RecordTableModel::Note(const RecordListChange& change) {
  using Kind = RecordListChange::Kind;
  switch (change.kind) {
    case Kind::RowsCleared:
    case Kind::ColumnInserted:
    case Kind::ColumnRemoved:
      layoutChanges_.fetch_add(1, std::memory_order_relaxed);
      break;
    case Kind::RowsAdded:
      // Appending is the usual case and needs nothing: Sync compares counts.
      // A row put in front of others shifts what the view already shows.
      if (change.index + change.count < records_.RowCount()) rowsMoved_.store(true, std::memory_order_relaxed);
      break;
    case Kind::RowChanged:
      rowsMoved_.store(true, std::memory_order_relaxed);
      break;
    case Kind::TextChanged:
    case Kind::ViewChanged:
      break;
  }
}

void RecordTableModel::Sync() {
  const uint64_t layout = layoutChanges_.load(std::memory_order_relaxed);
  if (layout != seenLayout_) {
    beginResetModel();
    seenLayout_ = layout;
    headings_.clear();
    for (const std::string& h : records_.ColumnHeadings()) headings_.push_back(QString::fromStdString(h));
    rows_ = static_cast<int>(std::min<size_t>(records_.RowCount(), INT_MAX));
    rowsMoved_ = false;
    endResetModel();
    emit columnsRebuilt();
    return;
  }
  const int now = static_cast<int>(std::min<size_t>(records_.RowCount(), INT_MAX));
  if (now > rows_) {
    beginInsertRows({}, rows_, now - 1);
    rows_ = now;
    endInsertRows();
  }
  if (rowsMoved_.exchange(false) && rows_ > 0)
    emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1), {Qt::DisplayRole});
}

int RecordTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int RecordTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(headings_.size()) + 1;
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.column() >= headings_.size()) return {};
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  const RecordCell cell = records_.Cell(static_cast<size_t>(index.row()), static_cast<size_t>(index.column()));
  return QString::fromStdString(cell.text);
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section >= 0 && section < headings_.size()) return headings_[section];
  return QString();  // the filler column has an empty heading
}

}  // namespace veltrane

// The two docking panes of the main window and their controls: the object
// tree ("SQLite Database Objects", left) and the log list ("Output", bottom).
#pragma once

#include <QDockWidget>
#include <QListWidget>
#include <QStyledItemDelegate>
#include <QTreeView>

#include "app/object_tree_model.h"

namespace veltrane {

// The object tree control: check boxes, icons and tooltips over the
// ObjectTreeModel. A left click on an item's label reports labelClicked; a
// click on the check box toggles the check (the model hands it to the core);
// a click on the expand arrow, the icon or beside the text starts nothing.
// A right click selects the item and shows no menu.
class CXHtmlTree : public QTreeView {
  Q_OBJECT

 public:
  explicit CXHtmlTree(QWidget* parent = nullptr);

  // Where a point hits an item.
  enum class Hit { Nothing, Label, CheckBox, Icon, Elsewhere };
  Hit HitTest(const QPoint& viewportPos, QModelIndex* index = nullptr) const;
  // The label's rectangle (the text itself), in viewport coordinates.
  QRect LabelRect(const QModelIndex& index) const;
  QRect CheckBoxRect(const QModelIndex& index) const;

 signals:
  void labelClicked(const QModelIndex& index);

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QStyleOptionViewItem OptionFor(const QModelIndex& index) const;
};

// The pane that holds the object tree, with a one-pixel frame around it.
class CFileView : public QDockWidget {
  Q_OBJECT

 public:
  explicit CFileView(QWidget* parent = nullptr);
  CXHtmlTree* tree() const { return tree_; }

 private:
  CXHtmlTree* tree_;
};

// The log list: one row per log line, no header; its context menu does nothing.
class CQorvixListCtrl : public QListWidget {
  Q_OBJECT

 public:
  explicit CQorvixListCtrl(QWidget* parent = nullptr);
  // Inserts a line at row (at the end when row is past it).
  void InsertLine(int row, const QString& text);
  QStringList Lines() const;
};

// The pane that holds the log list.
class COutputWnd : public QDockWidget {
  Q_OBJECT

 public:
  explicit COutputWnd(QWidget* parent = nullptr);
  CQorvixListCtrl* list() const { return list_; }

 private:
  CQorvixListCtrl* list_;
};

}  // namespace veltrane

// The record pane in the centre of the window: the record list of a table's
// rows and the read-only text box for the statement of an index, view or
// trigger. Exactly one of the two is visible; the core record list decides
// which, and holds the rows and the text.
#pragma once

#include <QPlainTextEdit>
#include <QTableView>
#include <QWidget>

#include "app/record_table_model.h"
#include "core/record_list.h"

namespace veltrane {

// The pane's control: owns the two children and keeps both at its full size.
class CQorvixStatic : public QWidget {
  Q_OBJECT

 public:
  CQorvixStatic(RecordList& records, QWidget* parent = nullptr);

  QTableView* recordList() const { return recordList_; }
  QPlainTextEdit* textBox() const { return textBox_; }
  RecordTableModel* model() const { return model_; }

  // Shows the list or the text box, and the text, as the core list has them.
  void ShowFromModel();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void SetColumnWidths();

  RecordList& records_;
  RecordTableModel* model_;
  QTableView* recordList_;
  QPlainTextEdit* textBox_;
  QFont normalFont_, boldFont_;
};

// The view of the window's single document: hosts the pane's control.
class CQorvixDunmereProjView : public QWidget {
  Q_OBJECT

 public:
  CQorvixDunmereProjView(RecordList& records, QWidget* parent = nullptr);
  CQorvixStatic* pane() const { return pane_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  CQorvixStatic* pane_;
};

}  // namespace veltrane

// The "Column Mapping" dialog: the columns of the table selected in the
// object tree with their recovered types; the user picks another type for a
// column and saves the table's rebuilt statement (core/column_mapping.h).
//
// Layout (dialog units; client area 335 x 180):
//
//   | control                    | text                                           | x, y, width x height |
//   |----------------------------|------------------------------------------------|----------------------|
//   | group box                  | "Select column name  to change its mapping:"   | 6, 7, 321 x 146      |
//   | static                     | "Selected Table:"                              | 14, 28, 50 x 8       |
//   | table edit (read-only)     |                                                | 70, 26, 251 x 14     |
//   | column list (grid, rows)   |                                                | 13, 44, 307 x 79     |
//   | static (the column's name) | "Column Name:"                                 | 14, 131, 50 x 8      |
//   | type drop-down list        | the twelve type names                          | 70, 130, 66 x 30     |
//   | button, disabled at first  | "Change Column type"                           | 141, 128, 90 x 18    |
//   | button                     | "Save Changes"                                 | 237, 128, 75 x 18    |
//   | default button             | "OK"                                           | 121, 158, 55 x 18    |
//   | button                     | "Cancel"                                       | 181, 158, 55 x 18    |
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "app/ui_hooks.h"
#include "core/column_mapping.h"

namespace veltrane {

class RecoverySession;

class MappingDlg : public QDialog {
  Q_OBJECT

 public:
  MappingDlg(RecoverySession& session, TreeItemId selected, QWidget* parent = nullptr);

  // A click on the list: row -1 when no row was hit.
  void OnListClick(int row);
  // "Change Column type".
  void ChangeColumnType();
  // "Save Changes".
  void SaveMapping();

  const ColumnMapping& mapping() const { return mapping_; }
  QLineEdit* tableEdit() const { return tableEdit_; }
  QTableWidget* list() const { return list_; }
  QLabel* columnLabel() const { return columnLabel_; }
  QComboBox* typeCombo() const { return typeCombo_; }
  QPushButton* changeButton() const { return change_; }
  QPushButton* saveButton() const { return save_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FillList();

  ColumnMapping mapping_;
  QLineEdit* tableEdit_;
  QTableWidget* list_;
  QLabel* columnLabel_;
  QComboBox* typeCombo_;
  QPushButton *change_, *save_, *ok_, *cancel_;
};

}  // namespace veltrane

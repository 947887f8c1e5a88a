#include "app/mapping_dlg.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QMouseEvent>

#include "app/dialog_units.h"
#include "app/icons.h"
#include "core/session.h"

namespace veltrane {

namespace {

template <typename W>
W* Place(W* widget, const DialogUnits& du, int x, int y, int w, int h) {
  widget->setGeometry(du.Rect(x, y, w, h));
  return widget;
}

QTableWidgetItem* Cell(const std::string& text) {
  auto* item = new QTableWidgetItem(QString::fromStdString(text));
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

}  // namespace

MappingDlg::MappingDlg(RecoverySession& session, TreeItemId selected, QWidget* parent)
    : QDialog(parent), mapping_(session) {
  setObjectName(QStringLiteral("MappingDlg"));
  setWindowTitle(QStringLiteral("Column Mapping"));
  const DialogUnits du(font());
  setFixedSize(du.Size(335, 180));

  auto* group = Place(new QGroupBox(QStringLiteral("Select column name  to change its mapping:"), this), du, 6, 7, 321, 146);
  Place(new QLabel(QStringLiteral("Selected Table:"), this), du, 14, 28, 50, 8)->adjustSize();
  tableEdit_ = Place(new QLineEdit(this), du, 70, 26, 251, 14);
  tableEdit_->setObjectName(QStringLiteral("tableEdit"));
  tableEdit_->setReadOnly(true);
  list_ = Place(new QTableWidget(this), du, 13, 44, 307, 79);
  list_->setObjectName(QStringLiteral("columnList"));
  list_->setShowGrid(true);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->verticalHeader()->hide();
  list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list_->verticalHeader()->setDefaultSectionSize(QFontMetrics(list_->font()).height() + 6);
  list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list_->horizontalHeader()->setStretchLastSection(false);
  list_->viewport()->installEventFilter(this);
  columnLabel_ = Place(new QLabel(QStringLiteral("Column Name:"), this), du, 14, 131, 54, 9);
  columnLabel_->setObjectName(QStringLiteral("columnLabel"));
  typeCombo_ = Place(new QComboBox(this), du, 70, 129, 66, 14);
  typeCombo_->setObjectName(QStringLiteral("typeCombo"));
  typeCombo_->setMaxVisibleItems(8);
  for (const std::string& name : MappingTypeNames()) typeCombo_->addItem(QString::fromStdString(name));
  typeCombo_->setCurrentIndex(-1);
  change_ = Place(new QPushButton(MakeIcon(IconKind::Change), QStringLiteral("Change Column type"), this), du, 141, 128, 90, 18);
  change_->setObjectName(QStringLiteral("changeButton"));
  change_->setEnabled(false);
  change_->setAutoDefault(false);
  save_ = Place(new QPushButton(MakeIcon(IconKind::SaveChanges), QStringLiteral("Save Changes"), this), du, 237, 128, 75, 18);
  save_->setObjectName(QStringLiteral("saveButton"));
  save_->setAutoDefault(false);
  ok_ = Place(new QPushButton(MakeIcon(IconKind::Accept), QStringLiteral("OK"), this), du, 121, 158, 55, 18);
  ok_->setObjectName(QStringLiteral("okButton"));
  ok_->setDefault(true);
  cancel_ = Place(new QPushButton(MakeIcon(IconKind::Cancel), QStringLiteral("Cancel"), this), du, 181, 158, 55, 18);
  cancel_->setObjectName(QStringLiteral("cancelButton"));
  cancel_->setAutoDefault(false);
  group->lower();

  connect(change_, &QPushButton::clicked, this, &MappingDlg::ChangeColumnType);
  connect(save_, &QPushButton::clicked, this, &MappingDlg::SaveMapping);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  mapping_.Open(selected);
  tableEdit_->setText(QString::fromStdString(mapping_.itemText()));
  FillList();
}

void MappingDlg::FillList() {
  const auto& rows = mapping_.rows();
  if (rows.empty() && mapping_.tablePosition() < 0) {
    list_->setColumnCount(0);
    list_->setRowCount(0);
    return;
  }
  list_->setColumnCount(3);
  list_->setHorizontalHeaderLabels(
      {QStringLiteral("Column Name"), QStringLiteral("Column DataType"), QStringLiteral("Column Mapping")});
  // 100 pixels each, or what the heading needs.
  const QFontMetrics headings(list_->horizontalHeader()->font());
  for (int c = 0; c < 3; ++c)
    list_->setColumnWidth(c, std::max(100, headings.horizontalAdvance(list_->horizontalHeaderItem(c)->text()) + 16));
  list_->setRowCount(static_cast<int>(rows.size()));
  for (size_t i = 0; i < rows.size(); ++i) {
    const int r = static_cast<int>(i);
    list_->setItem(r, 0, Cell(rows[i].entry));
    list_->setItem(r, 1, Cell(rows[i].declaredType));
    list_->setItem(r, 2, Cell(rows[i].mappedType));
  }
}

bool MappingDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_->viewport() && event->type() == QEvent::MouseButtonPress) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    OnListClick(list_->indexAt(mouse->position().toPoint()).row());
  }
  return QDialog::eventFilter(watched, event);
}

void MappingDlg::OnListClick(int row) {
  const ColumnMapping::RowSelection pick = mapping_.SelectRow(row);
  if (!pick.applies) return;
  if (pick.showColumn) {
    columnLabel_->setText(QString::fromStdString(pick.columnName));
    // The drop-down list selects the matching type name, if there is one.
    typeCombo_->setCurrentIndex(typeCombo_->findText(QString::fromStdString(pick.typeText), Qt::MatchFixedString));
  }
  change_->setEnabled(pick.changeEnabled);
}

void MappingDlg::ChangeColumnType() {
  if (mapping_.ChangeColumnType(typeCombo_->currentText().toStdString()) != ColumnMapping::ChangeResult::Changed)
    return;
  const auto& rows = mapping_.rows();
  for (size_t i = 0; i < rows.size(); ++i)
    if (QTableWidgetItem* cell = list_->item(static_cast<int>(i), 2))
      cell->setText(QString::fromStdString(rows[i].mappedType));
}

void MappingDlg::SaveMapping() { mapping_.SaveMapping(); }

}  // namespace veltrane

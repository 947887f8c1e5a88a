#include "app/record_pane.h"

#include <QHeaderView>
#include <QResizeEvent>

namespace veltrane {

namespace {
constexpr int kTableColumnWidth = 120;
constexpr int kFillerColumnWidth = 1500;
}  // namespace

CQorvixStatic::CQorvixStatic(RecordList& records, QWidget* parent) : QWidget(parent), records_(records) {
  setObjectName(QStringLiteral("CQorvixStatic"));
  normalFont_ = QFont(QStringLiteral("Arial"));
  normalFont_.setPixelSize(14);
  boldFont_ = normalFont_;
  boldFont_.setWeight(QFont::Bold);

  model_ = new RecordTableModel(records_, this);
  recordList_ = new QTableView(this);
  recordList_->setObjectName(QStringLiteral("recordList"));
  recordList_->setModel(model_);
  recordList_->setShowGrid(true);
  recordList_->setSelectionBehavior(QAbstractItemView::SelectRows);
  recordList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  recordList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  recordList_->setWordWrap(false);
  recordList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  recordList_->setContextMenuPolicy(Qt::PreventContextMenu);
  recordList_->verticalHeader()->hide();
  // Rows of one height: the view never measures a row, whatever the count.
  recordList_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  recordList_->verticalHeader()->setDefaultSectionSize(QFontMetrics(recordList_->font()).height() + 6);
  recordList_->horizontalHeader()->setFont(boldFont_);
  recordList_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  recordList_->horizontalHeader()->setHighlightSections(false);
  recordList_->horizontalHeader()->setStretchLastSection(false);
  recordList_->hide();

  textBox_ = new QPlainTextEdit(this);
  textBox_->setObjectName(QStringLiteral("textBox"));
  textBox_->setReadOnly(true);
  textBox_->setFont(normalFont_);
  textBox_->setLineWrapMode(QPlainTextEdit::NoWrap);
  textBox_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  textBox_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  textBox_->show();

  connect(model_, &RecordTableModel::columnsRebuilt, this, &CQorvixStatic::SetColumnWidths);
  SetColumnWidths();
}

void CQorvixStatic::SetColumnWidths() {
  const int tableColumns = model_->tableColumnCount();
  for (int c = 0; c < tableColumns; ++c) recordList_->setColumnWidth(c, kTableColumnWidth);
  recordList_->setColumnWidth(tableColumns, kFillerColumnWidth);
}

void CQorvixStatic::ShowFromModel() {
  const bool list = records_.ListVisible();
  recordList_->setVisible(list);
  textBox_->setVisible(!list);
  const QString text = QString::fromStdString(records_.Text());
  if (textBox_->toPlainText() != text) textBox_->setPlainText(text);
}

void CQorvixStatic::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  recordList_->setGeometry(0, 0, width(), height());
  textBox_->setGeometry(0, 0, width(), height());
}

CQorvixDunmereProjView::CQorvixDunmereProjView(RecordList& records, QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CQorvixDunmereProjView"));
  pane_ = new CQorvixStatic(records, this);
}

void CQorvixDunmereProjView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  pane_->setGeometry(0, 0, width(), height());
}

}  // namespace veltrane

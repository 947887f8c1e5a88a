#include "app/panes.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace veltrane {

namespace {

// Lets the tree ask how an item is laid out.
class TreeItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void Prepare(QStyleOptionViewItem* option, const QModelIndex& index) const { initStyleOption(option, index); }

  // Some styles draw the check mark of a selected row in the selection's text
  // colour, which hides it in a white box: the box is drawn again as on an
  // unselected row.
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    if (!(option.state & QStyle::State_Selected)) return;
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    if (!(item.features & QStyleOptionViewItem::HasCheckIndicator)) return;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    QStyleOptionViewItem box = item;
    box.rect = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &item, widget);
    box.state = box.state & ~QStyle::State_Selected & ~QStyle::State_HasFocus;
    box.state &= ~(QStyle::State_On | QStyle::State_Off | QStyle::State_NoChange);
    box.state |= item.checkState == Qt::Checked     ? QStyle::State_On
                 : item.checkState == Qt::Unchecked ? QStyle::State_Off
                                                     : QStyle::State_NoChange;
    box.palette = widget ? widget->palette() : QApplication::palette();
    style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &box, painter, widget);
  }
};

// A frame of one pixel in the shadow colour around its only child.
class FramedHolder : public QWidget {
 public:
  explicit FramedHolder(QWidget* child, QWidget* parent = nullptr) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->addWidget(child);
    setFocusProxy(child);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
  }
};

}  // namespace

CXHtmlTree::CXHtmlTree(QWidget* parent) : QTreeView(parent) {
  setObjectName(QStringLiteral("CXHtmlTree"));
  setItemDelegate(new TreeItemDelegate(this));
  setHeaderHidden(true);
  setRootIsDecorated(true);
  setItemsExpandable(true);
  setExpandsOnDoubleClick(true);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setIconSize(QSize(16, 16));
  setFrameShape(QFrame::NoFrame);
  setContextMenuPolicy(Qt::PreventContextMenu);
  setAllColumnsShowFocus(true);
}

QStyleOptionViewItem CXHtmlTree::OptionFor(const QModelIndex& index) const {
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.rect = visualRect(index);
  static_cast<const TreeItemDelegate*>(itemDelegate())->Prepare(&option, index);
  return option;
}

QRect CXHtmlTree::LabelRect(const QModelIndex& index) const {
  if (!index.isValid()) return {};
  const QStyleOptionViewItem option = OptionFor(index);
  QRect text = style()->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
  // The label is the text itself, not the rest of the row.
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
  const int width = option.fontMetrics.horizontalAdvance(option.text) + 2 * margin;
  if (text.width() > width) text.setWidth(width);
  return text;
}

QRect CXHtmlTree::CheckBoxRect(const QModelIndex& index) const {
  if (!index.isValid()) return {};
  const QStyleOptionViewItem option = OptionFor(index);
  return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

CXHtmlTree::Hit CXHtmlTree::HitTest(const QPoint& pos, QModelIndex* hitIndex) const {
  const QModelIndex index = indexAt(pos);
  if (hitIndex) *hitIndex = index;
  if (!index.isValid()) return Hit::Nothing;
  if (LabelRect(index).contains(pos)) return Hit::Label;
  if (CheckBoxRect(index).contains(pos)) return Hit::CheckBox;
  const QStyleOptionViewItem option = OptionFor(index);
  if (style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, this).contains(pos)) return Hit::Icon;
  return Hit::Elsewhere;
}

void CXHtmlTree::mousePressEvent(QMouseEvent* event) {
  QModelIndex index;
  const Hit hit = HitTest(event->position().toPoint(), &index);
  QTreeView::mousePressEvent(event);
  if (event->button() == Qt::RightButton && index.isValid()) {
    setCurrentIndex(index);
    return;
  }
  if (event->button() == Qt::LeftButton && hit == Hit::Label) {
    setCurrentIndex(index);
    emit labelClicked(index);
  }
}

CFileView::CFileView(QWidget* parent) : QDockWidget(QStringLiteral("SQLite Database Objects"), parent) {
  setObjectName(QStringLiteral("CFileView"));
  setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  tree_ = new CXHtmlTree;
  auto* holder = new FramedHolder(tree_);
  setWidget(holder);
  setFocusProxy(tree_);
}

CQorvixListCtrl::CQorvixListCtrl(QWidget* parent) : QListWidget(parent) {
  setObjectName(QStringLiteral("CQorvixListCtrl"));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setContextMenuPolicy(Qt::PreventContextMenu);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void CQorvixListCtrl::InsertLine(int row, const QString& text) {
  if (row < 0 || row > count()) row = count();
  insertItem(row, text);
}

QStringList CQorvixListCtrl::Lines() const {
  QStringList lines;
  for (int i = 0; i < count(); ++i) lines << item(i)->text();
  return lines;
}

COutputWnd::COutputWnd(QWidget* parent) : QDockWidget(QStringLiteral("Output"), parent) {
  setObjectName(QStringLiteral("COutputWnd"));
  setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  list_ = new CQorvixListCtrl;
  setWidget(list_);
  setFocusProxy(list_);
}

}  // namespace veltrane

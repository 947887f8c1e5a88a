#include "app/bars.h"

#include <QActionGroup>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QVBoxLayout>

#include "app/icons.h"
#include "core/observer.h"

namespace veltrane {

// One panel of the command bar: its buttons in a row, its caption below.
class RibbonPanel : public QWidget {
 public:
  RibbonPanel(const QString& caption, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 3, 4, 1);
    column->setSpacing(1);
    row_ = new QHBoxLayout;
    row_->setSpacing(2);
    column->addLayout(row_, 1);
    caption_ = new QLabel(caption, this);
    caption_->setAlignment(Qt::AlignCenter);
    column->addWidget(caption_);
  }
  void Add(QToolButton* button) { row_->addWidget(button); }
  void SetColors(const LookColors& c) {
    colors_ = c;
    QPalette p = caption_->palette();
    p.setColor(QPalette::WindowText, c.panelCaptionText);
    caption_->setPalette(p);
    const QList<QToolButton*> buttons = findChildren<QToolButton*>();
    for (QToolButton* b : buttons) {
      QPalette bp = b->palette();
      bp.setColor(QPalette::ButtonText, c.tabText);
      b->setPalette(bp);
    }
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath frame;
    frame.addRoundedRect(r, 4, 4);
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, colors_.panelTop);
    g.setColorAt(1, colors_.panelBottom);
    p.fillPath(frame, g);
    const int captionTop = caption_->geometry().top() - 1;
    QPainterPath captionArea;
    captionArea.addRect(QRectF(r.left(), captionTop, r.width(), r.bottom() - captionTop));
    p.fillPath(frame.intersected(captionArea), colors_.panelCaption);
    p.setPen(QPen(colors_.panelBorder, 1));
    p.drawPath(frame);
  }

 private:
  QHBoxLayout* row_;
  QLabel* caption_;
  LookColors colors_ = ColorsForLook(kDefaultLook);
};

RibbonBar::RibbonBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("RibbonBar"));
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(4, 2, 4, 4);
  outer->setSpacing(2);

  // The tab row: application button, the category, the style menu.
  auto* tabs = new QHBoxLayout;
  tabs->setSpacing(8);
  appButton_ = new QToolButton(this);
  appButton_->setObjectName(QStringLiteral("applicationButton"));
  appButton_->setFixedSize(42, 42);
  appButton_->setIconSize(QSize(38, 38));
  appButton_->setIcon(MakeIcon(IconKind::Application));
  appButton_->setAutoRaise(true);
  appButton_->setToolTip(QString::fromLatin1(kAppTitle));
  tabs->addWidget(appButton_, 0, Qt::AlignTop);
  category_ = new QLabel(QStringLiteral("SQLite Database Recovery"), this);
  category_->setObjectName(QStringLiteral("category"));
  QFont tabFont = category_->font();
  tabFont.setBold(true);
  category_->setFont(tabFont);
  category_->setContentsMargins(12, 3, 12, 3);
  tabs->addWidget(category_, 0, Qt::AlignBottom);
  tabs->addStretch(1);
  styleButton_ = new QToolButton(this);
  styleButton_->setObjectName(QStringLiteral("styleButton"));
  styleButton_->setText(QStringLiteral("Style"));
  styleButton_->setToolTip(QStringLiteral("Visual style of the window"));
  styleButton_->setPopupMode(QToolButton::InstantPopup);
  styleButton_->setAutoRaise(true);
  styleMenu_ = new QMenu(styleButton_);
  looks_ = new QActionGroup(this);
  looks_->setExclusive(true);
  for (int look = kFirstLook; look <= kLastLook; ++look) {
    QAction* action = styleMenu_->addAction(LookName(look));
    action->setCheckable(true);
    action->setData(look);
    looks_->addAction(action);
    connect(action, &QAction::triggered, this, [this, look] { emit lookChosen(look); });
  }
  styleButton_->setMenu(styleMenu_);
  tabs->addWidget(styleButton_, 0, Qt::AlignBottom);
  outer->addLayout(tabs);

  // The category's panels.
  auto* panelRow = new QHBoxLayout;
  panelRow->setSpacing(4);
  auto* recovery = new RibbonPanel(QStringLiteral("SQLite Database Recovery"), this);
  auto* help = new RibbonPanel(QStringLiteral("Help"), this);
  panels_ = {recovery, help};
  AddButton(recovery, kCommandOpen, QStringLiteral("Open"), QStringLiteral("Open database file"), 0);
  AddButton(recovery, kCommandStop, QStringLiteral("Stop"), QStringLiteral("Stop running process"), 1);
  AddButton(recovery, kCommandMapColumn, QStringLiteral("Map Column"), QStringLiteral("Map Column"), 2);
  AddButton(recovery, kCommandSave, QStringLiteral("Save"), QStringLiteral("Save recovered data"), 3);
  AddButton(help, kCommandHelp, QStringLiteral("Help"), QStringLiteral("Help for Veltrane SQLite Database Recovery"), 4);
  AddButton(help, kCommandAbout, QStringLiteral("About"), QStringLiteral("About Veltrane SQLite Database Recovery"), 5);
  panelRow->addWidget(recovery);
  panelRow->addWidget(help);
  panelRow->addStretch(1);
  outer->addLayout(panelRow);

  SetLook(kDefaultLook);
}

QToolButton* RibbonBar::AddButton(RibbonPanel* panel, int command, const QString& text, const QString& tip,
                                  int image) {
  static const IconKind kImages[] = {IconKind::Open, IconKind::Stop, IconKind::MapColumn,
                                     IconKind::Save, IconKind::Help, IconKind::About};
  auto* button = new QToolButton(panel);
  button->setObjectName(QStringLiteral("command%1").arg(command));
  button->setText(text);
  button->setToolTip(tip);
  button->setIcon(MakeIcon(kImages[image]));
  button->setIconSize(QSize(32, 32));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setAutoRaise(true);
  button->setMinimumWidth(56);
  button->setMinimumHeight(62);
  connect(button, &QToolButton::clicked, this, [this, command] { emit commandTriggered(command); });
  panel->Add(button);
  buttons_[command] = button;
  return button;
}

void RibbonBar::SetLook(int look) {
  colors_ = ColorsForLook(look);
  for (QAction* action : looks_->actions()) action->setChecked(action->data().toInt() == ValidLook(look));
  for (RibbonPanel* panel : panels_) panel->SetColors(colors_);
  QPalette p = category_->palette();
  p.setColor(QPalette::WindowText, colors_.tabText);
  category_->setPalette(p);
  QPalette sp = styleButton_->palette();
  sp.setColor(QPalette::ButtonText, colors_.tabText);
  styleButton_->setPalette(sp);
  update();
}

void RibbonBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QLinearGradient g(0, 0, 0, height());
  g.setColorAt(0, colors_.barTop);
  g.setColorAt(1, colors_.barBottom);
  p.fillRect(rect(), g);
  // The category's tab, joined to the panel area below it.
  p.setRenderHint(QPainter::Antialiasing);
  const QRect tab = category_->geometry().adjusted(0, 0, 0, 3);
  QPainterPath path;
  path.addRoundedRect(QRectF(tab).adjusted(0.5, 0.5, -0.5, 0), 3, 3);
  p.fillPath(path, colors_.panelTop);
  p.setPen(QPen(colors_.panelBorder, 1));
  p.drawPath(path);
  p.setPen(QPen(colors_.panelBorder, 1));
  p.drawLine(0, height() - 1, width(), height() - 1);
}

CMyCaptionBar::CMyCaptionBar(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("CMyCaptionBar"));
  setAutoFillBackground(true);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(6, 3, 6, 3);
  row->setSpacing(8);
  bitmap_ = new QLabel(this);
  bitmap_->setPixmap(MakePixmap(IconKind::Recovery, 20));
  row->addWidget(bitmap_);
  text_ = new QLabel(this);
  text_->setObjectName(QStringLiteral("captionText"));
  text_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  text_->setTextFormat(Qt::PlainText);
  QFont f = text_->font();
  f.setBold(true);
  text_->setFont(f);
  row->addWidget(text_, 1);
  text_->setText(QStringLiteral("Select database file to continue the recovery process."));
  SetLook(kDefaultLook);
}

void CMyCaptionBar::SetText(const QString& text) {
  text_->setText(text);
  update();
}

void CMyCaptionBar::SetLook(int look) {
  const LookColors c = ColorsForLook(look);
  QPalette p = palette();
  p.setColor(QPalette::Window, c.captionBar);
  p.setColor(QPalette::WindowText, c.captionText);
  setPalette(p);
  text_->setPalette(p);
}

CRibbonStatusBarCls::CRibbonStatusBarCls(QWidget* parent) : QStatusBar(parent) {
  setObjectName(QStringLiteral("CRibbonStatusBarCls"));
  link_ = new QLabel(QStringLiteral("<a href=\"help\">Veltrane SQLite Database Recovery</a>"), this);
  link_->setObjectName(QStringLiteral("statusLink"));
  link_->setToolTip(QStringLiteral("The user guide shipped with the program"));
  link_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
  connect(link_, &QLabel::linkActivated, this, [this] { emit linkActivated(); });
  addWidget(link_);
  auto* separator = new QFrame(this);
  separator->setFrameShape(QFrame::VLine);
  separator->setFrameShadow(QFrame::Sunken);
  addWidget(separator);
  title_ = new QLabel(QString::fromLatin1(kAppTitle), this);
  title_->setObjectName(QStringLiteral("titlePane"));
  addPermanentWidget(title_);

  // Not in the bar's layout: placed by hand, as the bar's own control.
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("progress"));
  progress_->setTextVisible(false);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->hide();
  PlaceProgress();
}

void CRibbonStatusBarCls::PlaceProgress() {
  progress_->setGeometry(250, 3, std::max(0, width() - 560), 17);
  progress_->raise();
}

void CRibbonStatusBarCls::resizeEvent(QResizeEvent* event) {
  QStatusBar::resizeEvent(event);
  PlaceProgress();
}

}  // namespace veltrane

#include "app/about_dlg.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include "app/dialog_units.h"
#include "app/icons.h"
#include "core/observer.h"

namespace veltrane {

namespace {

constexpr const char* kProgramLine = "Recovers data from damaged SQLite 3 and SQLite 2.x files";

bool IsClosingKey(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape; }

}  // namespace

CQorvixAboutDlg::CQorvixAboutDlg(const UiHooks& hooks, const QUrl& guide, QWidget* parent)
    : QDialog(parent), hooks_(hooks), guideUrl_(guide) {
  setObjectName(QStringLiteral("CQorvixAboutDlg"));
  setWindowTitle(QString::fromLatin1(kAppTitle));
  const DialogUnits du(font());
  setFixedSize(du.Size(263, 166));

  semibold_ = QFont(QStringLiteral("Arial"));
  semibold_.setPixelSize(13);
  semibold_.setWeight(QFont::DemiBold);

  auto* banner = new QLabel(this);
  banner->setGeometry(du.Rect(0, 0, 263, 52));
  banner->setPixmap(MakeBanner(banner->width(), banner->height()));

  title_ = new QLabel(QString::fromLatin1(kAppTitle), this);
  title_->setObjectName(QStringLiteral("titleStatic"));
  title_->setFont(semibold_);
  title_->setGeometry(du.Rect(29, 65, 221, 12));
  title_->setAlignment(Qt::AlignCenter);

  guide_ = new QLabel(this);
  guide_->setObjectName(QStringLiteral("guideLink"));
  guide_->setText(QStringLiteral("<a href=\"%1\">User guide</a>").arg(guideUrl_.toString().toHtmlEscaped()));
  guide_->setToolTip(QStringLiteral("User guide shipped with the program"));
  guide_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
  guide_->setFocusPolicy(Qt::NoFocus);
  guide_->adjustSize();
  // The middle of the area the links are laid out in.
  const QRect linkArea = du.Rect(81, 91, 98, 11);
  guide_->move(linkArea.center().x() - guide_->width() / 2, linkArea.top());
  connect(guide_, &QLabel::linkActivated, this, [this] { OpenUrl(hooks_, guideUrl_); });

  program_ = new QLabel(QString::fromLatin1(kProgramLine), this);
  program_->setObjectName(QStringLiteral("programStatic"));
  program_->setFont(semibold_);
  program_->setGeometry(du.Rect(25, 121, 233, 15));
  program_->setAlignment(Qt::AlignCenter);

  auto* line = new QLabel(QString(60, QLatin1Char('_')), this);
  line->setGeometry(du.Rect(21, 132, 223, 14));
  line->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  line->setEnabled(false);

  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("okButton"));
  ok_->setGeometry(du.Rect(109, 146, 50, 16));
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

  // Enter and Escape never reach the dialog or its button.
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
}

bool CQorvixAboutDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
    if (IsClosingKey(static_cast<QKeyEvent*>(event)->key())) {
      event->accept();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CQorvixAboutDlg::keyPressEvent(QKeyEvent* event) {
  if (IsClosingKey(event->key())) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CQorvixAboutDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
  }
  QDialog::mousePressEvent(event);
}

void CQorvixAboutDlg::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton)) move(event->globalPosition().toPoint() - dragOffset_);
  QDialog::mouseMoveEvent(event);
}

void CQorvixAboutDlg::mouseReleaseEvent(QMouseEvent* event) {
  dragging_ = false;
  QDialog::mouseReleaseEvent(event);
}

}  // namespace veltrane

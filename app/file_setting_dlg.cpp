#include "app/file_setting_dlg.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>

#include "app/dialog_units.h"

namespace veltrane {

namespace {

constexpr uint64_t kLargestPageSize = 65536;
constexpr const char* kAskPageSize = "Please enter the page size as a number of bytes from 1 to 65536.";

// A control placed at its dialog-unit rectangle.
template <typename W>
W* Place(W* widget, const DialogUnits& du, int x, int y, int w, int h) {
  QRect r = du.Rect(x, y, w, h);
  // Labels and radio buttons keep their whole text when the font runs wide.
  if (qobject_cast<QLabel*>(widget) || qobject_cast<QRadioButton*>(widget))
    r.setWidth(std::max(r.width(), widget->sizeHint().width()));
  widget->setGeometry(r);
  return widget;
}

}  // namespace

CQorvixFileSettingDlg::CQorvixFileSettingDlg(const UiHooks& hooks, SessionObserver& inform, QWidget* parent)
    : QDialog(parent), hooks_(hooks), inform_(inform) {
  setObjectName(QStringLiteral("CQorvixFileSettingDlg"));
  setWindowTitle(QStringLiteral("Select Database file"));
  // No system menu: the caption has no close box; Escape still cancels.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  const DialogUnits du(font());
  setFixedSize(du.Size(354, 198));

  auto* pathGroup = Place(new QGroupBox(QStringLiteral("Select file path:"), this), du, 7, 9, 342, 40);
  auto* infoGroup = Place(new QGroupBox(QStringLiteral("File Information:"), this), du, 7, 55, 342, 118);
  auto* versionGroup = Place(new QGroupBox(QStringLiteral("File Version"), this), du, 13, 69, 328, 36);
  auto* formatGroup = Place(new QGroupBox(QStringLiteral("Data stored format:"), this), du, 15, 111, 325, 32);

  pathEdit_ = Place(new QLineEdit(this), du, 16, 24, 297, 15);
  pathEdit_->setObjectName(QStringLiteral("pathEdit"));
  pathEdit_->setReadOnly(true);
  browse_ = Place(new QPushButton(QStringLiteral("..."), this), du, 317, 23, 25, 16);
  browse_->setObjectName(QStringLiteral("browseButton"));
  browse_->setAutoDefault(false);
  version2_ = Place(new QRadioButton(QStringLiteral("Version 2"), this), du, 25, 87, 45, 10);
  version3_ = Place(new QRadioButton(QStringLiteral("Version 3"), this), du, 172, 87, 45, 10);
  utf8_ = Place(new QRadioButton(QStringLiteral("UTF-8"), this), du, 25, 126, 35, 10);
  utf16_ = Place(new QRadioButton(QStringLiteral("UTF-16"), this), du, 172, 126, 39, 10);
  Place(new QLabel(QStringLiteral("Page Size:"), this), du, 25, 153, 34, 8);
  pageSizeEdit_ = Place(new QLineEdit(this), du, 67, 150, 105, 14);
  pageSizeEdit_->setObjectName(QStringLiteral("pageSizeEdit"));
  pageSizeEdit_->setToolTip(QStringLiteral("Page size in bytes; type another value to override the file's header"));
  // What the pages told when the header could not (empty otherwise).
  inferred_ = Place(new QLabel(this), du, 178, 147, 160, 20);
  inferred_->setObjectName(QStringLiteral("inferredLabel"));
  inferred_->setWordWrap(true);
  ok_ = Place(new QPushButton(QStringLiteral("OK"), this), du, 118, 178, 55, 16);
  ok_->setObjectName(QStringLiteral("okButton"));
  ok_->setDefault(true);
  cancel_ = Place(new QPushButton(QStringLiteral("Cancel"), this), du, 179, 178, 55, 16);
  cancel_->setObjectName(QStringLiteral("cancelButton"));
  cancel_->setAutoDefault(false);
  for (QGroupBox* g : {pathGroup, infoGroup, versionGroup, formatGroup}) g->lower();
  infoGroup->lower();

  // Each radio button stands alone; the handlers make the pairs exclusive.
  for (QRadioButton* r : {version2_, version3_, utf8_, utf16_}) r->setAutoExclusive(false);
  version2_->setObjectName(QStringLiteral("version2"));
  version3_->setObjectName(QStringLiteral("version3"));
  utf8_->setObjectName(QStringLiteral("utf8"));
  utf16_->setObjectName(QStringLiteral("utf16"));
  connect(version2_, &QRadioButton::clicked, this, [this] { ChooseVersion(1); });
  connect(version3_, &QRadioButton::clicked, this, [this] { ChooseVersion(2); });
  connect(utf8_, &QRadioButton::clicked, this, [this] { ChooseEncoding(false); });
  connect(utf16_, &QRadioButton::clicked, this, [this] { ChooseEncoding(true); });
  connect(pageSizeEdit_, &QLineEdit::textEdited, this, [this] { pageSizeEdited_ = true; });
  connect(browse_, &QPushButton::clicked, this, &CQorvixFileSettingDlg::BrowseForFile);
  connect(ok_, &QPushButton::clicked, this, &CQorvixFileSettingDlg::ConfirmSelection);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  version2_->setChecked(true);
  utf8_->setChecked(true);
}

void CQorvixFileSettingDlg::Inform(const char* text) {
  inform_.ShowMessage(text, kAppTitle, MessageStyle::Information);
}

void CQorvixFileSettingDlg::ChooseVersion(int32_t version) {
  version2_->setChecked(version == 1);
  version3_->setChecked(version == 2);
  manual_.formatVersion = version;
}

void CQorvixFileSettingDlg::ChooseEncoding(bool utf16) {
  utf8_->setChecked(!utf16);
  utf16_->setChecked(utf16);
  manual_.utf16 = utf16;
}

void CQorvixFileSettingDlg::ClearFindings() {
  selection_.startOffset = 0;
  selection_.utf8 = false;
  selection_.utf16 = false;
  for (QRadioButton* r : {version2_, version3_, utf8_, utf16_}) r->setChecked(false);
  pageSizeEdit_->clear();
  pathEdit_->clear();
  inferred_->clear();
  inferred_->setToolTip(QString());
  description_ = {};
  manual_ = {};
  pageSizeEdited_ = false;
}

void CQorvixFileSettingDlg::BrowseForFile() {
  ClearFindings();
  const QString path = hooks_.pickFile ? hooks_.pickFile(this) : QFileDialog::getOpenFileName(this);
  if (path.isEmpty()) return;
  Describe(path);
}

void CQorvixFileSettingDlg::BrowsePath(const QString& path) {
  ClearFindings();
  Describe(path);
}

void CQorvixFileSettingDlg::Describe(const QString& path) {
  description_ = DescribeFile(path.toStdString(), selection_, inform_);
  if (!description_.pathAccepted) return;
  pathEdit_->setText(path);
  version2_->setChecked(description_.versionChecked == 1);
  version3_->setChecked(description_.versionChecked == 2);
  utf8_->setChecked(description_.encodingChecked == 1);
  utf16_->setChecked(description_.encodingChecked == 2);
  pageSizeEdit_->setText(QString::fromStdString(description_.pageSizeText));
  if (!description_.inferredText.empty()) {
    const QString text = QStringLiteral("Inferred from the pages: ") + QString::fromStdString(description_.inferredText);
    inferred_->setText(text);
    inferred_->setToolTip(text);
  }
}

bool CQorvixFileSettingDlg::Recognised() const {
  return description_.pathAccepted && !selection_.path.empty() &&
         (selection_.formatVersion == 1 || selection_.formatVersion == 2) && selection_.pageSize != 0;
}

void CQorvixFileSettingDlg::ConfirmSelection() {
  selection_.path = pathEdit_->text().toStdString();
  if (selection_.path.empty() || !description_.pathAccepted) {
    Inform("Please select valid database file.");
    return;
  }
  if (pageSizeEdited_) {
    bool ok = false;
    const qulonglong size = pageSizeEdit_->text().trimmed().toULongLong(&ok);
    if (!ok || size == 0 || size > kLargestPageSize) {
      Inform(kAskPageSize);
      return;
    }
    manual_.pageSize = size;
  }
  FileSelection chosen = selection_;
  if (manual_.Any()) ApplyManualChoice(manual_, chosen, description_.fileSize);
  if (chosen.formatVersion != 1 && chosen.formatVersion != 2) {
    Inform("Version cannot be detected.Please select the version to continue");
    return;
  }
  if (chosen.pageSize == 0) {
    Inform(kAskPageSize);
    return;
  }
  selection_ = chosen;
  accept();
}

}  // namespace veltrane

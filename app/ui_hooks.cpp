#include "app/ui_hooks.h"

#include <QDesktopServices>
#include <QDialog>
#include <QMessageBox>

namespace veltrane {

MessageResult ShowMessageBox(const UiHooks& hooks, QWidget* owner, const std::string& text,
                             const std::string& caption, MessageStyle style) {
  if (hooks.answerMessage) return hooks.answerMessage(text, caption, style);
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  switch (style) {
    case MessageStyle::Plain:
      break;
    case MessageStyle::Information:
      icon = QMessageBox::Information;
      break;
    case MessageStyle::YesNo:
      icon = QMessageBox::Information;
      buttons = QMessageBox::Yes | QMessageBox::No;
      break;
    case MessageStyle::YesNoQuestion:
      icon = QMessageBox::Question;
      buttons = QMessageBox::Yes | QMessageBox::No;
      break;
  }
  QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text), buttons, owner);
  switch (box.exec()) {
    case QMessageBox::Yes:
      return MessageResult::Yes;
    case QMessageBox::No:
      return MessageResult::No;
    case QMessageBox::Ok:
      return MessageResult::Ok;
    default:
      // Escape on a Yes/No box is a No; on an OK box it is the OK.
      return buttons & QMessageBox::No ? MessageResult::No : MessageResult::Ok;
  }
}

int RunModal(const UiHooks& hooks, QDialog& dialog) {
  if (hooks.runModal) return hooks.runModal(dialog);
  return dialog.exec();
}

void OpenUrl(const UiHooks& hooks, const QUrl& url) {
  if (hooks.openUrl)
    hooks.openUrl(url);
  else
    QDesktopServices::openUrl(url);
}

}  // namespace veltrane

// What the window asks of the outside world: message boxes, modal dialogs,
// the file-open dialog, opening a document, ending the program. Each hook
// left empty does the ordinary thing; tests fill them so that no box ever
// waits for a human.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <string>

#include "core/observer.h"

class QDialog;
class QWidget;

namespace veltrane {

struct UiHooks {
  // Answers a message box instead of showing it.
  std::function<MessageResult(const std::string& text, const std::string& caption, MessageStyle style)>
      answerMessage;
  // Runs a modal dialog and returns its result (QDialog::Accepted or Rejected).
  std::function<int(QDialog& dialog)> runModal;
  // The file-open dialog: the chosen path, or an empty text for Cancel.
  std::function<QString(QWidget* parent)> pickFile;
  // Opens a document or web address.
  std::function<void(const QUrl& url)> openUrl;
  // Ends the program after the close request was accepted.
  std::function<void(int status)> endProcess;
};

// The message box of the given style, owned by owner (nullptr: no owner).
MessageResult ShowMessageBox(const UiHooks& hooks, QWidget* owner, const std::string& text,
                             const std::string& caption, MessageStyle style);
// hooks.runModal, or dialog.exec().
int RunModal(const UiHooks& hooks, QDialog& dialog);
// hooks.openUrl, or the desktop's handler for the address.
void OpenUrl(const UiHooks& hooks, const QUrl& url);

}  // namespace veltrane

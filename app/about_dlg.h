// The About dialog: banner, the application title, a link to the user guide
// shipped with the program, and a line about the program. Enter and Escape
// do not close it (OK does), and it can be dragged by any point of its
// surface. One dialog object serves the whole run.
//
// Layout (dialog units; client area 263 x 166):
//
//   | control               | content                        | x, y, width x height |
//   |-----------------------|--------------------------------|----------------------|
//   | picture               | banner                         | 0, 0, 263 x 52       |
//   | static (semibold)     | the application title          | 29, 65, 221 x 12     |
//   | link                  | the user guide                 | 81, 91, 98 x 11      |
//   | static (semibold)     | the line about the program     | 25, 121, 233 x 15    |
//   | static                | a row of underscores           | 21, 132, 223 x 14    |
//   | default button        | "OK"                           | 109, 146, 50 x 16    |
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

#include "app/ui_hooks.h"

namespace veltrane {

class CQorvixAboutDlg : public QDialog {
  Q_OBJECT

 public:
  CQorvixAboutDlg(const UiHooks& hooks, const QUrl& guide, QWidget* parent = nullptr);

  QLabel* titleStatic() const { return title_; }
  QLabel* programStatic() const { return program_; }
  QLabel* guideLink() const { return guide_; }
  QPushButton* okButton() const { return ok_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  const UiHooks& hooks_;
  QUrl guideUrl_;
  QLabel* title_;
  QLabel* program_;
  QLabel* guide_;
  QPushButton* ok_;
  QFont semibold_;
  bool dragging_ = false;
  QPoint dragOffset_;
};

}  // namespace veltrane

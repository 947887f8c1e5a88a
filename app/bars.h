// The bars of the main window: the command bar in the style of a ribbon
// (application button, one category, two panels of large buttons), the
// caption bar that says what the program is doing, and the status bar with
// its link, title pane and progress bar.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QMap>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolButton>
#include <QWidget>

#include "app/visual_style.h"

class QActionGroup;
class QMenu;

namespace veltrane {

// Command IDs of the command bar.
enum CommandId : int {
  kCommandOpen = 313,
  kCommandStop = 314,
  kCommandSave = 315,
  kCommandHelp = 319,
  kCommandAbout = 320,
  kCommandMapColumn = 340
};

class RibbonPanel;

class RibbonBar : public QWidget {
  Q_OBJECT

 public:
  explicit RibbonBar(QWidget* parent = nullptr);

  QToolButton* button(int command) const { return buttons_.value(command); }
  QToolButton* applicationButton() const { return appButton_; }
  QMenu* styleMenu() const { return styleMenu_; }
  // Marks the look in the style menu and repaints in its colours.
  void SetLook(int look);

 signals:
  void commandTriggered(int command);
  void lookChosen(int look);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QToolButton* AddButton(RibbonPanel* panel, int command, const QString& text, const QString& tip, int image);

  QMap<int, QToolButton*> buttons_;
  QList<RibbonPanel*> panels_;
  QToolButton* appButton_;
  QLabel* category_;
  QToolButton* styleButton_;
  QMenu* styleMenu_;
  QActionGroup* looks_;
  LookColors colors_;
};

// The caption bar: a bitmap at the left and one line of text, left aligned.
class CMyCaptionBar : public QFrame {
  Q_OBJECT

 public:
  explicit CMyCaptionBar(QWidget* parent = nullptr);
  void SetText(const QString& text);
  QString text() const { return text_->text(); }
  void SetLook(int look);

 private:
  QLabel* bitmap_;
  QLabel* text_;
};

// The status bar: a link, a separator, the title pane at the right, and the
// progress bar placed 250 pixels from the left and 560 pixels narrower than
// the bar; the progress bar is hidden except while a job runs.
class CRibbonStatusBarCls : public QStatusBar {
  Q_OBJECT

 public:
  explicit CRibbonStatusBarCls(QWidget* parent = nullptr);
  QProgressBar* progress() const { return progress_; }
  QLabel* link() const { return link_; }
  QLabel* titlePane() const { return title_; }

 signals:
  void linkActivated();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void PlaceProgress();
  QLabel* link_;
  QLabel* title_;
  QProgressBar* progress_;
};

}  // namespace veltrane

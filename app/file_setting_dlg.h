// The "Select Database file" dialog: the user picks the damaged file; the
// dialog finds its format, start offset, text encoding and page size from
// the file's own bytes (core/detect.h) and shows them. The version, encoding
// and page size can be chosen by hand; what the user chooses replaces what
// detection found, so a file whose header is destroyed can still be parsed.
//
// Layout (dialog units; client area 354 x 198):
//
//   | control                      | text                 | x, y, width x height |
//   |------------------------------|----------------------|----------------------|
//   | group box                    | "Select file path:"  | 7, 9, 342 x 40       |
//   | path edit (read-only)        |                      | 16, 24, 297 x 15     |
//   | browse button                | "..."                | 317, 23, 25 x 16     |
//   | group box                    | "File Information:"  | 7, 55, 342 x 118     |
//   | group box                    | "File Version"       | 13, 69, 328 x 36     |
//   | radio                        | "Version 2"          | 25, 87, 45 x 10      |
//   | radio                        | "Version 3"          | 172, 87, 45 x 10     |
//   | group box                    | "Data stored format:"| 15, 111, 325 x 32    |
//   | radio                        | "UTF-8"              | 25, 126, 35 x 10     |
//   | radio                        | "UTF-16"             | 172, 126, 39 x 10    |
//   | static                       | "Page Size:"         | 25, 153, 34 x 8      |
//   | page-size edit (editable)    |                      | 67, 150, 105 x 14    |
//   | default button               | "OK"                 | 118, 178, 55 x 16    |
//   | button                       | "Cancel"             | 179, 178, 55 x 16    |
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/ui_hooks.h"
#include "core/detect.h"

namespace veltrane {

class CQorvixFileSettingDlg : public QDialog {
  Q_OBJECT

 public:
  // inform shows the dialog's messages (the main frame).
  CQorvixFileSettingDlg(const UiHooks& hooks, SessionObserver& inform, QWidget* parent = nullptr);

  // The choice so far; the dialog works on a copy and changes nothing
  // outside until it ends with OK.
  void SetSelection(const FileSelection& selection) { selection_ = selection; }
  const FileSelection& selection() const { return selection_; }

  // The browse button: clears the findings, asks for a file, describes it.
  void BrowseForFile();
  // The same for a path chosen elsewhere (the command line).
  void BrowsePath(const QString& path);
  // The OK button: takes the user's choices over and ends the dialog, or says
  // what is missing and stays open.
  void ConfirmSelection();
  // True when the browsed file was recognised well enough to scan it as it is.
  bool Recognised() const;

  QLineEdit* pathEdit() const { return pathEdit_; }
  QLineEdit* pageSizeEdit() const { return pageSizeEdit_; }
  QLabel* inferredLabel() const { return inferred_; }
  QRadioButton* version2() const { return version2_; }
  QRadioButton* version3() const { return version3_; }
  QRadioButton* utf8() const { return utf8_; }
  QRadioButton* utf16() const { return utf16_; }
  QPushButton* browseButton() const { return browse_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

 private:
  void ClearFindings();
  void Describe(const QString& path);
  void Inform(const char* text);
  void ChooseVersion(int32_t version);
  void ChooseEncoding(bool utf16);

  const UiHooks& hooks_;
  SessionObserver& inform_;
  FileSelection selection_;
  FileDescription description_;
  ManualChoice manual_;
  bool pageSizeEdited_ = false;

  QLineEdit* pathEdit_;
  QLineEdit* pageSizeEdit_;
  QLabel* inferred_;
  QRadioButton *version2_, *version3_, *utf8_, *utf16_;
  QPushButton *browse_, *ok_, *cancel_;
};

}  // namespace veltrane

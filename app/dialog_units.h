// Dialog units: the unit the dialogs are laid out in. One unit across is a
// quarter of the dialog font's average character width, one unit down an
// eighth of its height, so a layout keeps its proportions with any font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace veltrane {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const { return {X(width), Y(height)}; }

 private:
  double charWidth_;
  double charHeight_;
};

}  // namespace veltrane

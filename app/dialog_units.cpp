#include "app/dialog_units.h"

#include <QFontMetricsF>
#include <cmath>

namespace veltrane {

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetricsF metrics(font);
  // The average width over the letters, as the dialog templates measure it.
  charWidth_ = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
  charHeight_ = metrics.height();
}

int DialogUnits::X(int units) const { return static_cast<int>(std::lround(units * charWidth_ / 4.0)); }
int DialogUnits::Y(int units) const { return static_cast<int>(std::lround(units * charHeight_ / 8.0)); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  return {X(x), Y(y), X(x + width) - X(x), Y(y + height) - Y(y)};
}

}  // namespace veltrane

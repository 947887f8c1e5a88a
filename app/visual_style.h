// The visual styles the user can choose (command IDs 210 to 218), each mapped
// to a Qt widget style, a palette and the colours of the command bar.
#pragma once

#include <QColor>
#include <QString>

namespace veltrane {

inline constexpr int kFirstLook = 210;
inline constexpr int kLastLook = 218;
inline constexpr int kDefaultLook = 215;  // Office 2007, blue
inline constexpr const char* kLookSetting = "ApplicationLook";

// The name shown in the style menu ("Office 2007 (Blue)"); empty outside 210..218.
QString LookName(int look);
// A stored value outside 210..218 falls back to the default.
int ValidLook(int look);
// Sets the application's widget style and palette for the look.
void ApplyLookToApplication(int look);

// Colours of the command bar and the caption bar for a look.
struct LookColors {
  QColor barTop, barBottom;          // command bar background gradient
  QColor panelTop, panelBottom;      // panel background gradient
  QColor panelBorder;
  QColor panelCaption, panelCaptionText;
  QColor tabText;
  QColor captionBar, captionText;    // the caption bar under the command bar
};
LookColors ColorsForLook(int look);

}  // namespace veltrane

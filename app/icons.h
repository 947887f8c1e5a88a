// The program's own images, drawn in code at any size: the command buttons,
// the tree items, the caption bar bitmap, the application button, the About
// banner and the dialog button images.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace veltrane {

enum class IconKind {
  Open,
  Stop,
  MapColumn,
  Save,
  Help,
  About,
  // tree items
  DatabaseFile,
  Group,
  Table,
  Index,
  View,
  Trigger,
  // dialog buttons
  Accept,
  Cancel,
  Change,
  SaveChanges,
  // the caption bar and the window
  Recovery,
  Application
};

// An icon with 16 x 16 and 32 x 32 pixmaps (and any size asked for later).
QIcon MakeIcon(IconKind kind);
QPixmap MakePixmap(IconKind kind, int size);
// The About dialog's banner, width x height pixels.
QPixmap MakeBanner(int width, int height);

}  // namespace veltrane

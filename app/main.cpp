// veltrane-recover-gui [FILE]: the desktop window.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/app.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::puts("Usage: veltrane-recover-gui [FILE]\n\n"
                "Opens the recovery window; with FILE, the file is opened at once.");
      return 0;
    }
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("veltrane-recover-gui"));
  QApplication::setOrganizationName(QString::fromLatin1(veltrane::kSettingsKey));
  QApplication::setQuitOnLastWindowClosed(false);

  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  if (arguments.size() > 1) {
    std::fprintf(stderr, "veltrane-recover-gui: give at most one FILE\n");
    return 2;
  }
  veltrane::CQorvixDunmereProjApp app;
  if (!app.InitInstance(arguments)) return 0;
  return QApplication::exec();
}

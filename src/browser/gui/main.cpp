#include <QApplication>
#include <QIcon>

#include "browser/gui/MainWindow.h"
#include "support/Log.h"
#include "support/gui/EmbeddedResources.h"

int main(int argc, char** argv) {
  varlow::InitLogPrefix();
  int rc = 0;
  {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varlow"));
    // The icon and the desktop entry's name, so a desktop matches the window to its launcher.
    varlow::InitEmbeddedResources();
    QApplication::setWindowIcon(varlow::LoadBitmapResource(QStringLiteral("VarlowIcon")));
    QGuiApplication::setDesktopFileName(QStringLiteral("varlow"));
    varlow::TForm1 form;
    form.show();
    form.OpenFromArguments(QApplication::arguments());  // varlow FILE opens FILE
    rc = QApplication::exec();
  }
  varlow::ClearLogPrefix();
  return rc;
}

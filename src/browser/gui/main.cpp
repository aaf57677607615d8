#include <QApplication>

#include "browser/gui/MainWindow.h"
#include "support/Log.h"

int main(int argc, char** argv) {
  varlow::InitLogPrefix();
  int rc = 0;
  {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varlow"));
    varlow::TForm1 form;
    form.show();
    form.OpenFromArguments(QApplication::arguments());  // varlow FILE opens FILE
    rc = QApplication::exec();
  }
  varlow::ClearLogPrefix();
  return rc;
}

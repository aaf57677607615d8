#include <QApplication>

#include "support/Log.h"

int main(int argc, char** argv) {
  varlow::InitLogPrefix();
  QApplication app(argc, argv);
  int rc = 0;
  varlow::ClearLogPrefix();
  return rc;
}

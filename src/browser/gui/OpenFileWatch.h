#pragma once
#include <QObject>
#include <QString>

class QDockWidget;

namespace varlow {

class TForm1;

// Tells a docked pane when the file the window shows changes: the window says nothing when a
// file opens, but its caption follows the file name, and a slow timer also catches a file
// opened again under the same name. A hidden dock hears nothing until it is shown.
class TOpenFileWatch final : public QObject {
  Q_OBJECT

 public:
  TOpenFileWatch(TForm1& form, QDockWidget* dock);

 signals:
  // Name empty: no file is open. Stream: the container stream the list shows.
  void FileChanged(const QString& Name, int Stream);

 private:
  void Check();

  TForm1& FForm;
  QDockWidget* FDock;
  QString FFileName;
  const void* FStream = nullptr;
};

}  // namespace varlow

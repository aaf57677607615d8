#pragma once
#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace varlow {

// The About window: the program's name, icon and version line, read from the executable's own
// version block when the window shows.
class TForm3 : public QDialog {
  Q_OBJECT
 public:
  // `executablePath` is the file whose version is shown; empty means the running program.
  explicit TForm3(QWidget* parent = nullptr, const QString& executablePath = {});

  static constexpr const char* kDesignVersionText = "Version 1.1.2 (build 4)";

  QLabel* lbVer = nullptr;
  QPushButton* btnClose = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();

  QString FExecutablePath;
};

// Shows the About window modally over `parent` (centred on it) and destroys it when it closes.
void ShowAbout(QWidget* parent = nullptr);

}  // namespace varlow

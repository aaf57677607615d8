#pragma once
#include <QLineEdit>

namespace varlow {

// The in-place editor of one byte cell: two hexadecimal digits, typed over the byte. Only
// hexadecimal digits get in: any other character key, and a paste of anything but two digits,
// is refused whole (Refused) and leaves the text as it was. Middle-button selection paste and
// drops are not taken, and there is no context menu, so the text has no other way in.
class THexCellEditor final : public QLineEdit {
  Q_OBJECT
 public:
  explicit THexCellEditor(QWidget* parent);

 signals:
  void Refused();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void PasteClipboard();
};

}  // namespace varlow

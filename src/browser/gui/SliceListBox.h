#pragma once
#include <QListWidget>

namespace varlow {

// Item data: true for a slice that holds a code no table knows (the item is shown in red).
inline constexpr int kDamagedSliceRole = Qt::UserRole + 1;

// The slice list. After its own handling of a key it reports whether the key moved the
// selection (arrows, Home, End, type-ahead) and whether it typed a character, so the window
// explains the chosen slice once per key.
class TSliceListBox final : public QListWidget {
  Q_OBJECT
 public:
  explicit TSliceListBox(QWidget* parent = nullptr) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
  }

  // The selected item's row, or -1 (a current item that is not selected counts as none).
  int SelectedRow() const;

 signals:
  void KeyPressed(bool selectionMoved, bool typed);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace varlow

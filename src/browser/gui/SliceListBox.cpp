#include "browser/gui/SliceListBox.h"

#include <QKeyEvent>

namespace varlow {

int TSliceListBox::SelectedRow() const {
  const QList<QListWidgetItem*> items = selectedItems();
  return items.isEmpty() ? -1 : row(items.first());
}

void TSliceListBox::keyPressEvent(QKeyEvent* event) {
  const int before = SelectedRow();
  QListWidget::keyPressEvent(event);
  const bool typed = !event->text().isEmpty() && event->text().at(0).isPrint();
  emit KeyPressed(SelectedRow() != before, typed);
}

}  // namespace varlow

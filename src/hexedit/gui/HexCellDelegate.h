#pragma once
#include <QStyledItemDelegate>

namespace varlow {

class THexEditForm;

// Edits and paints the byte cells of the hex editor's grid. The editor takes hexadecimal digits
// only and hands each change of its text to the window, which records the byte as soon as two
// digits spell it; a changed byte is painted white on red.
class THexCellDelegate final : public QStyledItemDelegate {
  Q_OBJECT
 public:
  explicit THexCellDelegate(THexEditForm* form);

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  // The byte was recorded at each keystroke already.
  void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  THexEditForm* FForm;
};

}  // namespace varlow

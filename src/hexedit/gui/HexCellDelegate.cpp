#include "hexedit/gui/HexCellDelegate.h"

#include <QPainter>

#include "hexedit/gui/HexCellEditor.h"
#include "hexedit/gui/HexEditForm.h"
#include "hexedit/gui/HexGridModel.h"

namespace varlow {

namespace {

constexpr const char* kFilledProperty = "hexCellFilled";

}  // namespace

THexCellDelegate::THexCellDelegate(THexEditForm* form) : QStyledItemDelegate(form), FForm(form) {
  // Esc in a cell's editor takes back what was typed there since the editor opened.
  connect(this, &QAbstractItemDelegate::closeEditor, this, [this](QWidget*, EndEditHint hint) {
    if (hint == RevertModelCache) FForm->RevertEdit();
  });
}

QWidget* THexCellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const {
  const int col = THexGridModel::Col(index);
  const int row = THexGridModel::Row(index);
  auto* editor = new THexCellEditor(parent);
  FForm->EditStarted(col, row);
  connect(editor, &THexCellEditor::Refused, FForm, &THexEditForm::RefuseInput);
  connect(editor, &QLineEdit::textEdited, this,
          [this, editor, col, row] { FForm->StringGrid1SetEditText(col, row, editor->displayText()); });
  return editor;
}

void THexCellDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  // Once open, the editor holds the cell's text: the row's repaint at each keystroke must not
  // put the recorded value back into it under the cursor.
  auto* line = qobject_cast<QLineEdit*>(editor);
  if (!line || line->property(kFilledProperty).toBool()) return;
  line->setText(index.data(Qt::EditRole).toString());
  line->setProperty(kFilledProperty, true);
}

void THexCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyledItemDelegate::paint(painter, option, index);
  if (!index.data(THexGridModel::kChangedRole).toBool()) return;
  painter->save();
  painter->fillRect(option.rect, QColor(255, 0, 0));
  painter->setPen(Qt::white);
  painter->setFont(option.font);
  painter->drawText(option.rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, index.data().toString());
  painter->restore();
}

}  // namespace varlow

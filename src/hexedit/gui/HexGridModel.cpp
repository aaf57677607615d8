#include "hexedit/gui/HexGridModel.h"

#include "browser/PackDetails.h"

namespace varlow {

THexGridModel::THexGridModel(std::unique_ptr<THexEditModel> model, bool editable, QObject* parent)
    : QAbstractTableModel(parent), FModel(std::move(model)), FEditable(editable) {}

int THexGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : FModel->RowCount(); }

int THexGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kHexTextColumn; }

QVariant THexGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const int col = Col(index);
  const int row = Row(index);
  switch (role) {
  case Qt::DisplayRole:
  case Qt::EditRole:
    if (col == kHexTextColumn) return QString::fromStdString(Cp1251ToUtf8(FModel->RowText(row)));
    return QString::fromStdString(FModel->CellText(col, row));
  case kChangedRole:
    return FModel->IsChanged(col, row);
  default:
    return {};
  }
}

QVariant THexGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return QString::fromStdString(FModel->OffsetText(section + 1));
  return QString();
}

Qt::ItemFlags THexGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  // The text column and the cells past the bytes read are shown but never selected.
  if (!FModel->HasByte(Col(index), Row(index))) return Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (FEditable) flags |= Qt::ItemIsEditable;
  return flags;
}

bool THexGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || !FEditable) return false;
  // A number would be read in decimal by its text: only the cell's own kind of text is taken.
  if (value.metaType().id() != QMetaType::QString) return false;
  if (!FModel->SetCellText(Col(index), Row(index), value.toString().toStdString())) return false;
  UpdateRow(Row(index));
  return true;
}

void THexGridModel::UpdateRow(int row) {
  emit dataChanged(Cell(1, row), Cell(kHexTextColumn, row), {Qt::DisplayRole, Qt::EditRole, kChangedRole});
}

}  // namespace varlow

#include "browser/gui/PackListModel.h"

#include <array>

namespace varlow {

TPackListModel::TPackListModel(const TPackIndex& index, QObject* parent) : QAbstractTableModel(parent), FIndex(index) {}

int TPackListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : FRowCount; }

int TPackListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant TPackListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= FRowCount) return {};
  const TPackRow row = FIndex.ListView1Data(index.row());
  return QString::fromStdString(row[static_cast<std::size_t>(index.column())]);
}

QVariant TPackListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  static const std::array<const char*, kColumnCount> kTitles = {"Offset", "Len", "Start Code", "Coding Type",
                                                                "Frame #"};
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount) return {};
  return QString::fromLatin1(kTitles[static_cast<std::size_t>(section)]);
}

void TPackListModel::IndexRefilled() {
  const int count = FIndex.PackCount();
  if (count > FRowCount) {
    beginInsertRows({}, FRowCount, count - 1);
    FRowCount = count;
    endInsertRows();
  } else if (count < FRowCount) {
    beginRemoveRows({}, count, FRowCount - 1);
    FRowCount = count;
    endRemoveRows();
  }
  if (FRowCount > 0) emit dataChanged(index(0, 0), index(FRowCount - 1, kColumnCount - 1), {Qt::DisplayRole});
}

}  // namespace varlow

#pragma once
#include <QAbstractTableModel>

#include "browser/PackIndex.h"

namespace varlow {

// The stream list's rows, straight from the index window: rowCount is PackCount and every cell
// comes from ListView1Data. Nothing is cached but the row count the view was last told, so that
// a refill can be announced as rows added, removed and changed: the view then keeps its
// selected row, as a list whose items are refilled in place does.
class TPackListModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kColumnCount = 5;

  explicit TPackListModel(const TPackIndex& index, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // Call after every refill of the index window.
  void IndexRefilled();

 private:
  const TPackIndex& FIndex;
  int FRowCount = 0;
};

}  // namespace varlow

#pragma once
#include <QAbstractTableModel>
#include <memory>

#include "hexedit/HexEditModel.h"

namespace varlow {

// The hex editor's grid as a table: rows 0.. are the data rows 1..N, columns 0..15 the byte
// cells 1..16 and column 16 the text column. The fixed parts of the grid are the headers: the
// vertical header holds each row's offset, the horizontal header is the fixed first row and
// stays empty. Only byte cells that hold a read byte can be selected, and edited when the
// file can be written.
class THexGridModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kChangedRole = Qt::UserRole + 1;  // bool: the byte differs from the file's

  // Owns the edit model, so that it lives as long as any view that may still ask for it.
  THexGridModel(std::unique_ptr<THexEditModel> model, bool editable, QObject* parent = nullptr);

  THexEditModel& EditModel() { return *FModel; }

  // Grid numbering of an index: Col 1..17, Row 1..N.
  static int Col(const QModelIndex& index) { return index.column() + 1; }
  static int Row(const QModelIndex& index) { return index.row() + 1; }
  QModelIndex Cell(int col, int row) const { return index(row - 1, col - 1); }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Takes a byte cell's text (EditRole, a string of two hexadecimal digits) into the edit model.
  // Anything else (another role or type, text that is not two digits, a cell without a byte, a
  // read-only grid) changes nothing and gives false.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  // Repaints a row's cells and its text column after the edit model changed.
  void UpdateRow(int row);

 private:
  std::unique_ptr<THexEditModel> FModel;
  bool FEditable;
};

}  // namespace varlow

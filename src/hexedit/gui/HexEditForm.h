#pragma once
#include <QDialog>
#include <cstdint>

#include "hexedit/HexEditModel.h"

class QLabel;
class QPushButton;
class QTableView;

namespace varlow {

class TByteSource;
class TFileStream;
class THexGridModel;

// The hex edit window: the bytes of one range of the open file in an editable grid, 16 per
// row, with their characters beside them. Edits are recorded as they are typed and written
// into the file in place by "Save Changes"; the file keeps its length. Over a container the grid
// holds the video bytes of the range, each row named by the file offset of its first byte, and
// each changed byte goes to its own file offset.
class THexEditForm final : public QDialog {
  Q_OBJECT
 public:
  // The stream stays the caller's; the window reads from it and writes into it.
  THexEditForm(TFileStream* stream, std::int64_t offset, std::int64_t length, QWidget* parent = nullptr);
  // The same through a byte source: `length` video bytes from the file offset `offset`.
  THexEditForm(TByteSource* source, std::int64_t offset, std::int64_t length, QWidget* parent = nullptr);
  ~THexEditForm() override;

  // Reads the range and fills the grid; called before the window appears.
  void FormShow();
  // Whether FormShow found any byte to show; otherwise NoDataText() says why.
  bool HasData() const;
  QString NoDataText() const;
  // Whether any byte went into the file: by a save, or by a failed save that wrote some bytes.
  bool FileWritten() const { return FFileWritten; }
  const THexEditModel* Model() const;

  // The in-place editor of a byte cell: its mask, and each change of its text. Two hexadecimal
  // digits record their byte at once; fewer (one digit typed so far, blanks) keep the byte the
  // cell held when the editor opened, so a cell left half-typed is unchanged. Returns the text.
  QString StringGrid1GetEditMask(int col, int row) const;
  QString StringGrid1SetEditText(int col, int row, const QString& editText);
  // An editor opened on a cell, and one closed with Esc (its cell goes back to what it was).
  void EditStarted(int col, int row);
  void RevertEdit();
  // A key or paste that is no hexadecimal digit: refused with a beep (and InputRefused).
  void RefuseInput();

  // Cancel, Esc and the window's close button: with unsaved changes, asks whether to discard
  // them and stays open on No.
  void reject() override;

  void bbtnOKClick();

  QTableView* StringGrid1 = nullptr;
  QPushButton* bbtnOK = nullptr;
  QPushButton* bbtnCancel = nullptr;
  QLabel* lbStatus = nullptr;  // why the window cannot save, or shows fewer bytes than asked

 signals:
  void InputRefused();

 private:
  void CreateControls();
  bool SaveChanges();
  void ShowStatus();

  TFileStream* FFileStream;
  TByteSource* FSource = nullptr;  // when given, the range is read through it
  std::int64_t FOffset;
  std::int64_t FLength;
  THexEditModel* FModel = nullptr;  // owned by the grid's model
  THexGridModel* FGridModel = nullptr;
  std::int64_t FFileSize = -1;  // when the window read the range
  bool FFileWritten = false;
  int FEditCol = -1;  // cell of the open editor and its byte before the editor opened
  int FEditRow = -1;
  std::uint8_t FValueBeforeEdit = 0;
};

// Runs the hex edit window on `length` bytes of `stream` from `offset`. Returns true exactly
// when the window closed with "Save Changes" after saving (or finding nothing to save);
// `fileWritten`, if given, tells whether any byte went into the file, which a failed save may
// also have done. A range with no byte in the file is refused with a message.
bool EditFile(TFileStream* stream, std::int64_t offset, std::int64_t length, QWidget* parent = nullptr,
              bool* fileWritten = nullptr);
// The same for `length` video bytes read through `source` from `offset` (a plain file or a
// container's video stream).
bool EditSource(TByteSource* source, std::int64_t offset, std::int64_t length, QWidget* parent = nullptr,
                bool* fileWritten = nullptr);

}  // namespace varlow

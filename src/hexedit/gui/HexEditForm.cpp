#include "hexedit/gui/HexEditForm.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include "container/ByteSource.h"
#include "hexedit/HexEditWriter.h"
#include "hexedit/gui/HexCellDelegate.h"
#include "hexedit/gui/HexGridModel.h"
#include "support/FileStream.h"
#include "support/Format.h"
#include "support/Log.h"
#include "support/Trap.h"
#include "support/gui/MessageBox.h"

namespace varlow {

namespace {

constexpr int kClientWidth = 680;
constexpr int kClientHeight = 613;
constexpr int kByteColumnWidth = 24;
constexpr int kOffsetColumnWidth = 80;
constexpr int kTextColumnWidth = 120;
constexpr int kButtonWidth = 110;
constexpr int kButtonHeight = 25;

QString OffsetText(std::int64_t position) {
  return QStringLiteral("$") + QString::fromStdString(HexUpper(static_cast<std::uint64_t>(position), 8));
}

QFont GridFont() {
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPointSize(8);
  return font;
}

}  // namespace

THexEditForm::THexEditForm(TFileStream* stream, std::int64_t offset, std::int64_t length, QWidget* parent)
    : QDialog(parent), FFileStream(stream), FOffset(offset), FLength(length) {
  setObjectName(QStringLiteral("HexEditForm"));
  setWindowTitle(QStringLiteral("Hex Edit"));
  CreateControls();
  resize(kClientWidth, kClientHeight);
}

THexEditForm::THexEditForm(TByteSource* source, std::int64_t offset, std::int64_t length, QWidget* parent)
    : THexEditForm(source ? &source->File() : nullptr, offset, length, parent) {
  FSource = source;
}

THexEditForm::~THexEditForm() {
  // Hidden while the window is whole: hiding makes the grid lay out and close its editor, which
  // calls back into this window.
  hide();
}

void THexEditForm::CreateControls() {
  StringGrid1 = new QTableView(this);
  StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
  StringGrid1->setFont(GridFont());
  StringGrid1->setItemDelegate(new THexCellDelegate(this));
  StringGrid1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
  StringGrid1->setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                               QAbstractItemView::EditKeyPressed);
  StringGrid1->setTabKeyNavigation(false);  // Tab leaves the grid for the buttons
  QHeaderView* top = StringGrid1->horizontalHeader();
  top->setSectionResizeMode(QHeaderView::Fixed);
  top->setDefaultSectionSize(kByteColumnWidth);
  top->setMinimumSectionSize(kByteColumnWidth);
  QHeaderView* left = StringGrid1->verticalHeader();
  left->setSectionResizeMode(QHeaderView::Fixed);  // a pack of 2 MiB has 131,072 rows
  left->setDefaultSectionSize(QFontMetrics(GridFont()).height() + 6);
  left->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  left->setMinimumWidth(kOffsetColumnWidth);

  bbtnOK = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("Save Changes"), this);
  bbtnOK->setObjectName(QStringLiteral("bbtnOK"));
  bbtnOK->setDefault(true);
  bbtnCancel = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancel"), this);
  bbtnCancel->setObjectName(QStringLiteral("bbtnCancel"));
  for (QPushButton* button : {bbtnOK, bbtnCancel}) button->setFixedSize(kButtonWidth, kButtonHeight);
  lbStatus = new QLabel(this);
  lbStatus->setObjectName(QStringLiteral("lbStatus"));
  lbStatus->setWordWrap(true);
  lbStatus->hide();

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(lbStatus, 1);
  buttons->addWidget(bbtnOK);
  buttons->addWidget(bbtnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(StringGrid1, 1);
  layout->addLayout(buttons);

  connect(bbtnOK, &QPushButton::clicked, this, &THexEditForm::bbtnOKClick);
  connect(bbtnCancel, &QPushButton::clicked, this, &THexEditForm::reject);
}

void THexEditForm::FormShow() {
  Trap("THexEditForm.FormShow", [this] {
    FFileSize = FFileStream->Size();
    auto model = std::make_unique<THexEditModel>(FSource ? THexEditModel::Load(*FSource, FOffset, FLength)
                                                         : THexEditModel::Load(*FFileStream, FOffset, FLength));
    FGridModel = new THexGridModel(std::move(model), FFileStream->Writable(), this);
    FModel = &FGridModel->EditModel();
    StringGrid1->setModel(FGridModel);
    StringGrid1->setColumnWidth(kHexTextColumn - 1, kTextColumnWidth);
    bbtnOK->setEnabled(FFileStream->Writable());
    ShowStatus();
  });
}

const THexEditModel* THexEditForm::Model() const { return FModel; }

bool THexEditForm::HasData() const { return FModel && FModel->BytesRead() > 0; }

QString THexEditForm::NoDataText() const {
  if (FModel && FFileSize >= 0 && FFileSize <= FOffset)
    return QStringLiteral("Nothing to edit: the pack at %1 lies past the end of the file, which ends at %2.")
        .arg(OffsetText(FOffset), OffsetText(FFileSize));
  return QStringLiteral("The bytes at %1 could not be read from the file.").arg(OffsetText(FOffset));
}

void THexEditForm::ShowStatus() {
  QStringList notes;
  if (FModel->BytesRead() < FLength)
    notes << QStringLiteral("The %1 ends at %2: only %3 of the %4 bytes can be shown.")
                 .arg(FModel->Scattered() ? QStringLiteral("video stream") : QStringLiteral("file"))
                 .arg(OffsetText(FModel->EndPosition()))
                 .arg(FModel->BytesRead())
                 .arg(FLength);
  if (!FFileStream->Writable())
    notes << QStringLiteral("The file is open read-only: changes cannot be saved.");
  lbStatus->setText(notes.join(QLatin1Char(' ')));
  lbStatus->setVisible(!notes.isEmpty());
}

QString THexEditForm::StringGrid1GetEditMask(int, int) const {
  // As THexCellEditor sets it: two hexadecimal digits, upper-cased as typed, both may stay blank.
  return QStringLiteral(">hh");
}

QString THexEditForm::StringGrid1SetEditText(int col, int row, const QString& editText) {
  if (!FModel) return editText;
  const QModelIndex cell = FGridModel->Cell(col, row);
  // The grid's model takes only two hexadecimal digits; anything short of a byte leaves the
  // cell as the editor found it.
  if (!FGridModel->setData(cell, editText, Qt::EditRole) && col == FEditCol && row == FEditRow &&
      FModel->AddChangedCell(col, row, FValueBeforeEdit))
    FGridModel->UpdateRow(row);
  return editText;
}

void THexEditForm::RefuseInput() {
  QApplication::beep();
  emit InputRefused();
}

void THexEditForm::reject() {
  if (FModel && !FModel->ChangedCells().empty() &&
      QMessageBox::question(this, windowTitle(), QStringLiteral("Discard the changes?"),
                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
    return;
  QDialog::reject();
}

void THexEditForm::EditStarted(int col, int row) {
  FEditCol = col;
  FEditRow = row;
  FValueBeforeEdit = FModel ? FModel->CurrentValue(col, row) : 0;
}

void THexEditForm::RevertEdit() {
  if (!FModel || FEditCol < 0) return;
  if (FModel->AddChangedCell(FEditCol, FEditRow, FValueBeforeEdit)) FGridModel->UpdateRow(FEditRow);
  FEditCol = FEditRow = -1;
}

void THexEditForm::bbtnOKClick() {
  bool done = false;
  Trap("THexEditForm.bbtnOKClick", [this, &done] {
    if (!FModel || FModel->ChangedCells().empty()) {
      ShowMessage(this, QStringLiteral("No changes to be saved."));
      done = true;
      return;
    }
    done = SaveChanges();
  });
  // A save that failed keeps the window and its edits open: the message said what was written.
  if (done) accept();
}

bool THexEditForm::SaveChanges() {
  TSaveResult result;
  if (!Trap("THexEditForm.SaveChanges",
            [this, &result] { result = WriteChangedCells(*FFileStream, *FModel); })) {
    ShowMessage(this, QStringLiteral("Saving failed. The file may hold some of the changes."));
    FFileWritten = true;  // unknown: let the caller read the file again
    return false;
  }
  FFileWritten = FFileWritten || result.WroteAnything();
  if (result.Status == TSaveStatus::WriteFailed || result.Status == TSaveStatus::FlushFailed)
    LogMessage("wex: Error in THexEditForm.SaveChanges call...");
  if (!result.Saved()) ShowMessage(this, QString::fromStdString(SaveResultText(result)));
  return result.Saved();
}

namespace {

template <class Stream>
bool RunEditor(Stream* stream, std::int64_t offset, std::int64_t length, QWidget* parent, bool* fileWritten) {
  if (fileWritten) *fileWritten = false;
  if (!stream) {
    LogMessage("wex: Error in EditFile - invalid filestream.");
    return false;
  }
  bool saved = false;
  Trap("EditFile", [&] {
    THexEditForm form(stream, offset, length, parent);
    form.FormShow();
    if (!form.HasData()) {
      ShowMessage(parent, form.NoDataText());
      return;
    }
    saved = form.exec() == QDialog::Accepted;
    if (fileWritten) *fileWritten = form.FileWritten();
  });
  return saved;
}

}  // namespace

bool EditFile(TFileStream* stream, std::int64_t offset, std::int64_t length, QWidget* parent, bool* fileWritten) {
  return RunEditor(stream, offset, length, parent, fileWritten);
}

bool EditSource(TByteSource* source, std::int64_t offset, std::int64_t length, QWidget* parent, bool* fileWritten) {
  return RunEditor(source, offset, length, parent, fileWritten);
}

}  // namespace varlow

#pragma once
#include <QMainWindow>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "browser/PackDetails.h"
#include "browser/PackIndex.h"
#include "browser/PackSearch.h"

class QAction;
class QDockWidget;
class QLabel;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

namespace varlow {

class TFileScrollBar;
class TPicturePane;
class TPackListModel;
class TPackListView;
class TSliceListBox;

// The main window: the stream list over the index window with its own scroll bar, the header
// tree, the hex dump, the slice list and the slice tree of the selected pack, and the window
// layout kept in the user's settings.
class TForm1 final : public QMainWindow {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Opens `path` as File > Open does after its dialog (also for the command line and drops):
  // a container opens on its first MPEG-1/2 video stream.
  void OpenFile(const QString& path);
  // Opens the open file again on the container's stream `index` (File > Video Stream).
  void ChooseStream(std::int32_t index);
  // The container stream that is open (its index in the container's list); -1 for a plain file
  // or no file.
  std::int32_t OpenStreamIndex() const;
  // Opens the first argument after the program name, if there is one; a path that names
  // nothing or a folder is refused with the message a file that is no video stream gets.
  void OpenFromArguments(const QStringList& arguments);
  void SelectPackAt(std::int64_t offset);  // the pack at offset becomes row 0, selected and shown

  // The folder File > Open starts in: that of the file last opened (kept between runs), or
  // the working folder.
  QString OpenDialogFolder() const;
  static QStringList OpenDialogFilters();

  void RefreshCaption();
  void LoadRegistrySettings();
  void SaveRegistrySettings();
  // Moves and sizes the window to fit the screens present: `saved` (the window's rectangle
  // without its frame) kept as far as it fits, or without one centred at the first size.
  void PlaceOnScreen(const QRect& saved);
  // The eleven kept values, each applied on its own (part of LoadRegistrySettings).
  void ApplyKeptValues();

  // The height of the strip of dump, slices and slice tree (Panel1) at first, where the window
  // is tall enough for it.
  static constexpr int kStripHeight = 210;

  // The window's controls, by their names; for the window's own tools and for tests.
  TPackListView* ListView1 = nullptr;
  TFileScrollBar* ScrollBar1 = nullptr;
  QSplitter* Splitter1 = nullptr;
  QSplitter* Splitter2 = nullptr;  // between the bottom panes: hex dump, slice list, slice tree
  QSplitter* Splitter3 = nullptr;  // between the upper panes and the bottom strip (Panel1)
  QWidget* Panel1 = nullptr;
  QWidget* Panel2 = nullptr;
  QWidget* Panel3 = nullptr;
  QTreeWidget* TreeView1 = nullptr;
  QLabel* lbPacket = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QLabel* Label1 = nullptr;
  TSliceListBox* lbSlices = nullptr;
  QLabel* Label2 = nullptr;
  QTreeWidget* tvSliceDetails = nullptr;
  QMenu* View1 = nullptr;              // View: the docked panes, Dump File Bytes, Go To, Find Next
  QMenu* VideoStream1 = nullptr;       // File > Video Stream: the container's streams
  QMenu* RecentFiles1 = nullptr;       // File > Recent Files: the files opened last, newest first
  QLabel* StatusSize = nullptr;        // status bar: the file's size,
  QLabel* StatusPack = nullptr;        // the selected pack's offset
  QLabel* StatusPosition = nullptr;    // and how far into the file it lies
  QAction* DumpFileBytes1 = nullptr;   // View > Dump File Bytes: the dump shows the container's bytes

  // The docked panes (hidden until the View menu shows them).
  QDockWidget* OverviewDock() const { return FOverviewDock; }
  TPicturePane* PicturePane() const { return FPicturePane; }

  // Go To "$1A2B", "0x1A2B", "6699", "#120" (a picture) or "1:30" (a time): the pack that holds
  // the place is selected. Find Next: from the selected pack on. Both say why when they cannot
  // go anywhere, and return whether they moved (MainWindowGoTo.cpp).
  bool GoTo(const QString& text);
  bool FindNext(const TFindTarget& target);
  // The slices of the pack on show that hold a damaged code (marked in lbSlices).
  const std::vector<std::int32_t>& DamagedSliceRows() const { return FDamagedSlices; }

  // The files File > Recent Files offers, newest first (kept between runs).
  QStringList RecentFiles() const;

  // Copy (MainWindowCopy.cpp). The context menu of a view (ListView1, TreeView1,
  // tvSliceDetails, lbSlices or Memo1) with its copy commands, null for another widget; the
  // first command is what Ctrl+C in the view does (CopyFrom).
  std::unique_ptr<QMenu> ContextMenuFor(QWidget* view);
  void CopyFrom(QWidget* view);
  // The pack bytes (the file's bytes with Dump File Bytes) the dump's selection touches.
  std::optional<std::pair<std::int32_t, std::int32_t>> SelectedDumpBytes() const;

  TPackIndex& Index() { return FIndex; }
  const QString& FileName() const { return FFileName; }
  std::int32_t PackLength() const { return FPackLength; }

 public slots:
  void Open1Click();
  void Close1Click();
  void Exit1Click();
  void Transrater1Click();
  void HexEdit1Click();
  void About1Click();
  void GoTo1Click();
  void FindNextIPicture1Click();
  void FindNextStartCode1Click();
  void FindNextDamagedSlice1Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Building the window (MainWindowLayout.cpp).
  void CreateControls();
  void CreateMenus();
  // The docked panes and the View menu (MainWindowPanes.cpp).
  void CreatePanes();
  // Tabs the two docked panes together when, side by side below the window's panes, they would
  // need more width than the screen has (`shown`: the one just shown, kept in front).
  void FitDocksToScreen(QDockWidget* shown);
  // Docked panes shown for the first time without a kept layout take a part of the window's
  // height and leave the rest to the list, the trees and the dump.
  void SizeDocks();
  // Opening a file with the stream FStreamIndex names (MainWindow.cpp).
  void OpenSource(const QString& path);
  // File > Video Stream, filled from the open container's stream list (MainWindowStreams.cpp).
  void FillStreamMenu();
  // The list panel's width that shows every column and the scroll bar, no more.
  int DefaultListPanelWidth() const;

  // File > Recent Files and the status bar (MainWindowRecent.cpp).
  void CreateRecentMenu(QMenu* file);
  void AddRecentFile(const QString& path);
  // A file that is gone since leaves the list.
  void ForgetMissingRecentFile(const QString& path);
  void FillRecentMenu();
  void CreateStatusBar();
  void UpdateStatusBar();

  // Copy commands (MainWindowCopy.cpp): the selected rows of the list, tab-separated (the
  // column names first when asked); the dumped bytes the dump's selection touches, as hex
  // pairs or as text.
  void CreateCopyCommands();
  std::vector<int> SelectedPackRows() const;
  QString PackRowsText(bool withNames) const;
  std::span<const std::uint8_t> DumpedBytes() const;
  QString DumpBytesText(bool hex) const;

  // View > Go To and Find Next (MainWindowGoTo.cpp).
  void CreateGoToMenu(QMenu* view);
  // Selects `pack` and in it what was sought at `offset`: slice `slice` (-1: the slice that
  // starts there, if one does) or the byte in the dump.
  void ShowFoundAt(std::int64_t pack, std::int64_t offset, std::int32_t slice);
  void MarkDamagedSlices(std::int64_t pictureOffset);

  // Events and navigation (MainWindowNavigation.cpp).
  void FormShow();
  void FormResize();
  void FormClose();
  void ListView1KeyDown(QKeyEvent* event);
  void ListView1KeyUp(QKeyEvent* event);
  void ListView1MouseDown();
  void MyScrollMouseDown();
  // The wheel over the list or its scroll bar: `rows` single steps, down when positive.
  void ListView1Wheel(int rows);
  // The start and the end of every scroll-bar move: the panes are cleared before it; after it
  // the first row is selected and shown, so that the next key acts at once.
  void BeginScrollMove();
  void EndScrollMove();
  // The move a change of `d` single steps of the bar from the remembered position stands for.
  void ScrollBarMove(int d);
  // The note in the list area when a file is open but the window holds no pack.
  void UpdateListNote();
  void RefreshPosition(std::int64_t position);
  // Runs a move of the index window, then shows its result in the list and the scroll bar.
  template <class Move>
  void MoveWindow(Move&& move);
  void ShowWindowMoved();
  void SnapScrollBarBack();
  // The last page: where the page begins whose last pack is the file's last, for the rows the
  // list shows now (kept until the rows or the file change).
  std::int64_t LastPageStart();
  void ForgetLastPage();
  bool AtLastPage();
  // The bar's range: from 0 to the last page's start (in units of 100 bytes).
  void UpdateScrollRange();
  // On the last page the bar stands at its bottom.
  void ShowLastPageAtBottom();
  // Page Down that always shows a full page, the last one ending at the file's last pack.
  void PageDownFull();
  // A window near the end that is not full becomes the last page; the pack at `keepSelected`
  // stays selected. False when the window was left as it was.
  bool FillLastPage(std::int64_t keepSelected);
  void SetScrollBarPosition(int position);

  // The detail panes (MainWindowDetails.cpp).
  void UpdatePack(std::int64_t offset);
  void UpdateSelectedPack();
  void lbSlicesClick();
  void lbSlicesKeyPress();
  void UpdataSliceDetails();
  void SelectElementBytes(const QTreeWidget* tree);
  // Selects pack bytes first..last in the dump (cursor at the first), moving the dump's window
  // to them when they lie outside it.
  void SelectPackBytes(std::int64_t first, std::int64_t last);
  void ShowDumpWindow(std::int32_t windowStart);
  // Whether the dump shows the file's bytes of the pack (a container, with Dump File Bytes on).
  bool DumpShowsFileBytes() const;
  void DumpFileBytesToggled();
  void ShowNoPackNote(std::int64_t offset);
  void ClearDetailPanes();

  TPackIndex FIndex;
  TPackListModel* FListModel = nullptr;
  QString FFileName;
  std::int32_t FStreamIndex = -1;            // the container's video stream to open; -1: the first
  std::int32_t FPackLength = 0;
  std::int64_t FDumpOffset = 0;              // file offset of the pack in Memo1
  std::vector<std::uint8_t> FPackBytes;      // that pack's bytes (empty: no pack shown)
  TSourcePlaces FPackPlaces;                 // the file offset of each byte of FPackBytes
  std::vector<std::uint8_t> FFileBytes;      // the file's bytes from the pack to its last byte, when dumped
  std::vector<TSliceSpan> FSliceSpans;       // where each item of lbSlices lies in the pack
  std::vector<std::int32_t> FDamagedSlices;  // items of lbSlices whose slice is damaged
  std::int64_t FLastFound = -1;              // where Go To or Find Next went last: the next one goes on from it
  QString FLastGoTo;                         // what Go To and Find Next Start Code were given last
  QString FLastStartCode;
  std::int32_t FDumpWindowStart = 0;         // first byte of the dumped window, in the bytes dumped
  int FWheelRemainder = 0;
  std::int64_t FLastPageStart = -1;          // LastPageStart's answer, for FLastPageRows rows
  int FLastPageRows = 0;                   // wheel angle not yet worth a notch
  QDockWidget* FOverviewDock = nullptr;
  TPicturePane* FPicturePane = nullptr;
  bool FShownOnce = false;
};

}  // namespace varlow

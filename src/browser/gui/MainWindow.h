#pragma once
#include <QMainWindow>
#include <cstdint>
#include <string>

#include "browser/PackIndex.h"

class QAction;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

namespace varlow {

class TFileScrollBar;
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

  // Opens `path` as File > Open does after its dialog (also for the command line and drops).
  void OpenFile(const QString& path);
  // Opens the first argument after the program name, if there is one.
  void OpenFromArguments(const QStringList& arguments);
  void SelectPackAt(std::int64_t offset);  // the pack at offset becomes row 0, selected and shown

  void RefreshCaption();
  void LoadRegistrySettings();
  void SaveRegistrySettings();

  // The window's controls, by their names; for the window's own tools and for tests.
  TPackListView* ListView1 = nullptr;
  TFileScrollBar* ScrollBar1 = nullptr;
  QSplitter* Splitter1 = nullptr;
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

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Building the window (MainWindowLayout.cpp).
  void CreateControls();
  void CreateMenus();

  // Events and navigation (MainWindowNavigation.cpp).
  void FormShow();
  void FormResize();
  void FormClose();
  void ListView1KeyDown(QKeyEvent* event);
  void ListView1KeyUp(QKeyEvent* event);
  void ListView1MouseDown();
  void MyScrollMouseDown();
  void RefreshPosition(std::int64_t position);
  // Runs a move of the index window, then shows its result in the list and the scroll bar.
  template <class Move>
  void MoveWindow(Move&& move);
  void ShowWindowMoved();
  void SnapScrollBarBack();
  void SetScrollBarPosition(int position);

  // The detail panes (MainWindowDetails.cpp).
  void UpdatePack(std::int64_t offset);
  void UpdateSelectedPack();
  void lbSlicesClick();
  void lbSlicesKeyPress();
  void UpdataSliceDetails();
  void SelectElementBytes(const QTreeWidget* tree);
  void ClearDetailPanes();

  TPackIndex FIndex;
  TPackListModel* FListModel = nullptr;
  QString FFileName;
  std::int32_t FPackLength = 0;
  std::int64_t FDumpOffset = 0;  // file offset of the pack in Memo1
  std::int32_t FDumpLength = 0;  // bytes of it dumped there
  bool FShownOnce = false;
};

}  // namespace varlow

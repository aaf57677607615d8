// The main window: construction, opening and closing files, the caption and window events.
#include "browser/gui/MainWindow.h"

#include "container/ContainerLayout.h"
#include "container/OpenSource.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QSettings>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <stdexcept>

#include "browser/gui/FileScrollBar.h"
#include "browser/gui/OpenRefusal.h"
#include "browser/gui/PackListModel.h"
#include "browser/gui/PackListView.h"
#include "browser/gui/SliceListBox.h"
#include "support/Trap.h"
#include "support/gui/MessageBox.h"
#include "support/gui/WaitCursor.h"

namespace varlow {

namespace {

// Where the folder of the file last opened is kept, apart from the window layout's values.
QSettings RecentSettings() { return QSettings(QStringLiteral("Tarnwick"), QStringLiteral("Varlow Recent")); }
const QString kLastFolderKey = QStringLiteral("LastFolder");

// The local file named by a drop, if it names exactly one.
QString DroppedFile(const QMimeData* mime) {
  if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return {};
  const QUrl url = mime->urls().first();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("Form1"));
  Trap("TForm1.FormCreate", [this] {
    CreateControls();
    CreateMenus();
    CreatePanes();
    CreateStatusBar();
    CreateCopyCommands();
    setAcceptDrops(true);
    // Centred on the screen and sized to it until the settings say otherwise.
    PlaceOnScreen(QRect());
    setWindowTitle(QStringLiteral("Varlow "));

    connect(ListView1, &TPackListView::KeyDown, this, &TForm1::ListView1KeyDown);
    connect(ListView1, &TPackListView::KeyUp, this, &TForm1::ListView1KeyUp);
    connect(ListView1, &TPackListView::MouseDown, this, &TForm1::ListView1MouseDown);
    connect(ListView1, &TPackListView::Resized, this, &TForm1::FormResize);
    connect(ListView1, &TPackListView::WheelRows, this, &TForm1::ListView1Wheel);
    connect(ScrollBar1, &TFileScrollBar::WheelRows, this, &TForm1::ListView1Wheel);
    connect(lbSlices, &QListWidget::itemClicked, this, &TForm1::lbSlicesClick);
    connect(lbSlices, &TSliceListBox::KeyPressed, this, [this](bool selectionMoved, bool typed) {
      if (selectionMoved)
        lbSlicesClick();
      else if (typed)
        lbSlicesKeyPress();
    });
    for (QTreeWidget* tree : {TreeView1, tvSliceDetails})
      connect(tree, &QTreeWidget::itemSelectionChanged, this, [this, tree] { SelectElementBytes(tree); });
  });
}

TForm1::~TForm1() = default;

void TForm1::RefreshCaption() {
  Trap("TForm1.RefreshCaption", [this] {
    QString caption = QStringLiteral("Varlow ");
    if (!FFileName.isEmpty()) caption += QStringLiteral("(") + FFileName + QStringLiteral(")");
    // A container names its kind and the stream on show: the list holds that stream's units.
    if (!FFileName.isEmpty() && FIndex.Stream() != nullptr && FIndex.Stream()->IsContainer()) {
      const TContainerLayout& layout = *FIndex.Stream()->Layout();
      caption += QStringLiteral(" - %1, stream %2").arg(QString::fromStdString(layout.KindName())).arg(layout.Chosen);
    }
    // Hex Edit cannot save into a file opened for reading only: say so before the user tries.
    if (!FFileName.isEmpty() && FIndex.Stream() != nullptr && !FIndex.Stream()->Writable())
      caption += QStringLiteral(" [read-only]");
    setWindowTitle(caption);
  });
}

QStringList TForm1::OpenDialogFilters() {
  return {QStringLiteral("MPEG video (*.m2v *.m1v *.mpv *.mpg *.m2p)"), QStringLiteral("All files (*)")};
}

QString TForm1::OpenDialogFolder() const {
  const QString folder = RecentSettings().value(kLastFolderKey).toString();
  return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::currentPath();
}

void TForm1::Open1Click() {
  QFileDialog dialog(this);
  dialog.setObjectName(QStringLiteral("OpenDialog1"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(OpenDialogFilters());
  dialog.setDirectory(OpenDialogFolder());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  OpenFile(dialog.selectedFiles().first());
}

void TForm1::OpenFile(const QString& path) {
  FStreamIndex = kFirstVideoStream;  // a new file starts on its first video stream
  OpenSource(path);
}

void TForm1::ChooseStream(std::int32_t index) {
  if (FFileName.isEmpty() || index == OpenStreamIndex()) return;
  FStreamIndex = index;
  OpenSource(FFileName);
}

std::int32_t TForm1::OpenStreamIndex() const {
  const TByteSource* stream = FIndex.Stream();
  return stream != nullptr && stream->IsContainer() ? stream->Layout()->Chosen : -1;
}

void TForm1::OpenSource(const QString& path) {
  // A path that cannot be a stream is refused before anything is touched: the file on show
  // stays open.
  const QString problem = PathProblem(path);
  if (!problem.isEmpty()) {
    FStreamIndex = OpenStreamIndex();
    ForgetMissingRecentFile(path);
    ShowMessage(this, problem);
    return;
  }
  QString message;
  Trap("TForm1.Open1Click", [&] {
    TWaitCursor wait;
    // Read-write so that Hex Edit can write back; a read-only file or medium still opens for
    // browsing.
    TOpenedSource opened =
        OpenVideoSource(QFile::encodeName(path).toStdString(), TFileStream::Mode::ReadWriteOrReadOnly, FStreamIndex);
    if (opened.CannotOpen) {
      message = CannotReadMessage(path);
      throw std::runtime_error("the file cannot be opened");
    }
    if (!opened.Source) {
      message = RefusalMessage(path, QString::fromStdString(opened.Refusal));
      return;
    }
    RecentSettings().setValue(kLastFolderKey, QFileInfo(path).absolutePath());
    AddRecentFile(path);
    Memo1->clear();
    TreeView1->clear();
    FFileName = path;
    FIndex.SetStream(std::move(opened.Source));
    ForgetLastPage();
    SetScrollBarPosition(0);
    FillStreamMenu();
    RefreshCaption();
    RefreshPosition(0);
    FIndex.SetScrollPos(0);
    UpdateScrollRange();
    ScrollBar1->setPageStep(10);
    if (FListModel->rowCount() > 0) {
      ListView1->setFocus();
      ListView1->SelectRow(0);
      UpdatePack(FIndex.Pack(0).Offset);
    }
    ListView1->viewport()->update();
    UpdateStatusBar();
  });
  if (!message.isEmpty()) {
    FStreamIndex = OpenStreamIndex();  // the stream still on show
    ShowMessage(this, message);
  }
}

void TForm1::OpenFromArguments(const QStringList& arguments) {
  if (arguments.size() < 2) return;
  // A path that names nothing or a folder is refused aloud, with what is wrong with it.
  OpenFile(QFileInfo(arguments.at(1)).absoluteFilePath());
}

void TForm1::Close1Click() {
  Trap("TForm1.Close1Click", [this] {
    FFileName.clear();
    FIndex.SetStream(nullptr);
    FillStreamMenu();
    RefreshCaption();
    RefreshPosition(0);
    ListView1->viewport()->update();
    ClearDetailPanes();
    TreeView1->clear();
    UpdateStatusBar();
  });
}

void TForm1::Exit1Click() { close(); }

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!FShownOnce && !event->spontaneous()) {
    FShownOnce = true;
    FormShow();
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  const QString path = DroppedFile(event->mimeData());
  if (path.isEmpty()) return;
  event->acceptProposedAction();
  OpenFile(path);
}

void TForm1::FormShow() {
  Trap("TForm1.FormShow", [this] {
    RefreshCaption();
    LoadRegistrySettings();
    connect(ScrollBar1, &TFileScrollBar::UserActionEnded, this, &TForm1::MyScrollMouseDown, Qt::UniqueConnection);
  });
}

void TForm1::FormClose() {
  Trap("TForm1.FormClose", [this] {
    FIndex.SetStream(nullptr);
    SaveRegistrySettings();
  });
}

}  // namespace varlow

// Builds the main window's controls and menus.
#include <QBoxLayout>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTreeWidget>
#include <algorithm>

#include "browser/gui/FileScrollBar.h"
#include "browser/gui/PackListModel.h"
#include "browser/gui/PackListView.h"
#include "browser/gui/SliceListBox.h"
#include "browser/gui/MainWindow.h"

namespace varlow {

namespace {

constexpr int kClientWidth = 958;
constexpr int kDesignTopHeight = 672 - TForm1::kStripHeight;
constexpr int kPanel1MinHeight = 120;
constexpr int kTopMinHeight = 120;
constexpr int kMemoWidth = 568;
constexpr int kScrollBarWidth = 16;
constexpr int kDumpLineChars = 76;  // a full dump line with a 9-digit offset
constexpr int kPaneChrome = 36;     // frame, margins and a vertical scroll bar around a pane's text
constexpr int kColumnWidths[TPackListModel::kColumnCount] = {120, 70, 170, 80, 60};
// Below these widths a pane stops shrinking (its text scrolls inside it), and so does the
// window once every pane is at its minimum: the panes never cover each other, and docked panes
// take their room elsewhere. The list keeps its offsets and start codes in view, the header
// tree a field line with its value and width.
constexpr int kListMinWidth = 236;
constexpr int kHeaderTreeMinWidth = 240;
constexpr int kMemoMinWidth = 160;
constexpr int kSliceListMinWidth = 90;
constexpr int kSliceTreeMinWidth = 120;
// The slice list's width shows an item of a slice some way into a large picture in full.
constexpr const char* kWideSliceItem = "$000001AF @99999, 9999 B";

template <class Widget>
Widget* Named(Widget* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QTreeWidget* NewTree(QWidget* parent, const char* name) {
  auto* tree = Named(new QTreeWidget(parent), name);
  tree->setHeaderHidden(true);
  tree->setColumnCount(1);
  tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tree->setUniformRowHeights(true);  // keeps large slice trees fast
  tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  tree->header()->setStretchLastSection(false);
  return tree;
}

// A caption above a control, as the bottom panel's labelled panes are laid out. The control
// takes the height the caption leaves (192 pixels with the design's font).
QWidget* Captioned(QLabel* label, QWidget* control) {
  auto* pane = new QWidget;
  auto* column = new QVBoxLayout(pane);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  column->addWidget(label);
  column->addWidget(control, 1);
  return pane;
}

// Courier New, 12 pixels, or the closest fixed-pitch face the system has.
QFont DumpFont() {
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  font.setPixelSize(12);
  if (!QFontInfo(font).fixedPitch()) {
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(12);
  }
  return font;
}

}  // namespace

int TForm1::DefaultListPanelWidth() const {
  return ListView1->horizontalHeader()->length() + 2 * ListView1->frameWidth() + kScrollBarWidth;
}

void TForm1::CreateControls() {
  auto* central = new QWidget(this);
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  // The upper panes over the strip of dump, slices and slice tree, with a splitter between.
  Splitter3 = Named(new QSplitter(Qt::Vertical, central), "Splitter3");
  Splitter3->setHandleWidth(4);
  Splitter3->setChildrenCollapsible(false);

  // Upper area: the stream list with its scroll bar, the splitter and the header tree.
  Splitter1 = Named(new QSplitter(Qt::Horizontal, Splitter3), "Splitter1");
  Splitter1->setMinimumHeight(kTopMinHeight);
  Splitter1->setHandleWidth(3);
  Splitter1->setChildrenCollapsible(false);

  Panel2 = Named(new QWidget(Splitter1), "Panel2");
  auto* panel2Layout = new QHBoxLayout(Panel2);
  panel2Layout->setContentsMargins(0, 0, 0, 0);
  panel2Layout->setSpacing(0);
  ListView1 = Named(new TPackListView(Panel2), "ListView1");
  FListModel = new TPackListModel(FIndex, ListView1);
  ListView1->setModel(FListModel);
  for (int column = 0; column < TPackListModel::kColumnCount; ++column)
    ListView1->setColumnWidth(column, kColumnWidths[column]);
  ScrollBar1 = Named(new TFileScrollBar(Panel2), "ScrollBar1");
  ScrollBar1->setFixedWidth(kScrollBarWidth);
  ScrollBar1->setRange(0, 0);
  ScrollBar1->setSingleStep(1);
  ScrollBar1->setPageStep(10);
  panel2Layout->addWidget(ListView1);
  panel2Layout->addWidget(ScrollBar1);

  Panel3 = Named(new QWidget(Splitter1), "Panel3");
  auto* panel3Layout = new QHBoxLayout(Panel3);
  panel3Layout->setContentsMargins(0, 0, 0, 0);
  TreeView1 = NewTree(Panel3, "TreeView1");
  panel3Layout->addWidget(TreeView1);

  Splitter1->addWidget(Panel2);
  Splitter1->addWidget(Panel3);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  ListView1->setMinimumWidth(kListMinWidth);
  TreeView1->setMinimumWidth(kHeaderTreeMinWidth);
  // The list panel as wide as its columns and scroll bar; the header tree gets the rest.
  const int listWidth = DefaultListPanelWidth();
  Splitter1->setSizes({listWidth, std::max(kHeaderTreeMinWidth, kClientWidth - listWidth - Splitter1->handleWidth())});

  // Bottom panel: hex dump, slice list and slice tree, each under its caption, side by side in
  // a splitter so that a user can give any of them more room.
  Panel1 = Named(new QWidget(Splitter3), "Panel1");
  Panel1->setMinimumHeight(kPanel1MinHeight);
  auto* panel1Layout = new QHBoxLayout(Panel1);
  panel1Layout->setContentsMargins(4, 2, 4, 2);
  Splitter2 = Named(new QSplitter(Qt::Horizontal, Panel1), "Splitter2");
  Splitter2->setHandleWidth(6);
  Splitter2->setChildrenCollapsible(false);
  panel1Layout->addWidget(Splitter2);

  lbPacket = Named(new QLabel(QStringLiteral("Pack Hex View")), "lbPacket");
  Memo1 = Named(new QPlainTextEdit, "Memo1");
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setFont(DumpFont());
  Memo1->setMinimumWidth(kMemoMinWidth);
  // Keep the selection of a tree node's bytes visible while the tree has the focus.
  QPalette memoPalette = Memo1->palette();
  memoPalette.setColor(QPalette::Inactive, QPalette::Highlight,
                       memoPalette.color(QPalette::Active, QPalette::Highlight));
  memoPalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                       memoPalette.color(QPalette::Active, QPalette::HighlightedText));
  Memo1->setPalette(memoPalette);

  Label1 = Named(new QLabel(QStringLiteral("Slices")), "Label1");
  lbSlices = Named(new TSliceListBox, "lbSlices");
  lbSlices->setMinimumWidth(kSliceListMinWidth);

  Label2 = Named(new QLabel(QStringLiteral("Slice Details")), "Label2");
  tvSliceDetails = NewTree(nullptr, "tvSliceDetails");
  tvSliceDetails->setMinimumWidth(kSliceTreeMinWidth);

  Splitter2->addWidget(Captioned(lbPacket, Memo1));
  Splitter2->addWidget(Captioned(Label1, lbSlices));
  Splitter2->addWidget(Captioned(Label2, tvSliceDetails));
  Splitter2->setStretchFactor(0, 0);
  Splitter2->setStretchFactor(1, 0);
  Splitter2->setStretchFactor(2, 1);
  // The design width, or more when this system's fixed-pitch face is wider than Courier New:
  // a full line with a 9-digit offset (76 characters) fits without a horizontal scroll bar.
  const int dumpLineWidth = QFontMetrics(Memo1->font()).horizontalAdvance(QString(kDumpLineChars, QLatin1Char('0')));
  const int memoWidth = std::max(kMemoWidth, dumpLineWidth + kPaneChrome);
  const int sliceListWidth = lbSlices->fontMetrics().horizontalAdvance(QString::fromLatin1(kWideSliceItem)) + kPaneChrome;
  Splitter2->setSizes({memoWidth, sliceListWidth, kSliceTreeMinWidth});

  Splitter3->addWidget(Splitter1);
  Splitter3->addWidget(Panel1);
  // Both give and take when the window or the docked panes change its height, the upper panes
  // more.
  Splitter3->setStretchFactor(0, 3);
  Splitter3->setStretchFactor(1, 2);
  Splitter3->setSizes({kDesignTopHeight, kStripHeight});
  outer->addWidget(Splitter3);
  setCentralWidget(central);
}

void TForm1::CreateMenus() {
  auto addItem = [this](QMenu* menu, const char* name, const QString& caption, void (TForm1::*handler)(),
                        const QKeySequence& shortcut = {}) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, handler);
    return action;
  };

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("File1"));
  addItem(file, "Open1", QStringLiteral("&Open"), &TForm1::Open1Click, QKeySequence(Qt::CTRL | Qt::Key_O));
  addItem(file, "Close1", QStringLiteral("&Close"), &TForm1::Close1Click);
  VideoStream1 = file->addMenu(QStringLiteral("Video &Stream"));
  VideoStream1->setObjectName(QStringLiteral("VideoStream1"));
  FillStreamMenu();
  CreateRecentMenu(file);
  file->addSeparator();
  addItem(file, "Exit1", QStringLiteral("E&xit"), &TForm1::Exit1Click, QKeySequence(Qt::CTRL | Qt::Key_Q));

  // The View menu comes next; CreatePanes fills it.
  View1 = menuBar()->addMenu(QStringLiteral("&View"));
  View1->setObjectName(QStringLiteral("View1"));

  QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
  tools->setObjectName(QStringLiteral("Tools1"));
  addItem(tools, "Transrater1", QStringLiteral("&Transrate"), &TForm1::Transrater1Click,
          QKeySequence(Qt::CTRL | Qt::Key_T));
  addItem(tools, "HexEdit1", QStringLiteral("&Hex Edit"), &TForm1::HexEdit1Click, QKeySequence(Qt::CTRL | Qt::Key_E));

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("Help1"));
  addItem(help, "About1", QStringLiteral("&About"), &TForm1::About1Click);
}

}  // namespace varlow

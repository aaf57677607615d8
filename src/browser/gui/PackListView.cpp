#include "browser/gui/PackListView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QWheelEvent>
#include <algorithm>

namespace varlow {

namespace {

constexpr int kAnglePerNotch = 120;  // one notch of a common wheel, in eighths of a degree
constexpr int kRowsPerNotch = 3;

}  // namespace

int WheelRowsFromAngle(int& angle) {
  const int notches = angle / kAnglePerNotch;  // towards zero: the rest waits for more
  angle -= notches * kAnglePerNotch;
  return -notches * kRowsPerNotch;  // turning away from the user (positive) moves up
}

TPackListView::TPackListView(QWidget* parent) : QTableView(parent) {
  setSelectionBehavior(QAbstractItemView::SelectRows);
  // Rows can be selected together for Copy; the pack shown is the current row's.
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  setWordWrap(false);
  setTabKeyNavigation(false);
  // The list never scrolls by itself: it never holds more rows than it shows.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setAutoScroll(false);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  horizontalHeader()->setStretchLastSection(false);
  // The selection stays visible when the list loses the focus.
  QPalette pal = palette();
  pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
  pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
  setPalette(pal);

  FNote = new QLabel(viewport());
  FNote->setObjectName(QStringLiteral("ListView1Note"));
  FNote->setAlignment(Qt::AlignCenter);
  FNote->setWordWrap(true);
  FNote->setAttribute(Qt::WA_TransparentForMouseEvents);
  FNote->hide();
}

void TPackListView::SetNote(const QString& text) {
  FNote->setText(text);
  FNote->setVisible(!text.isEmpty());
  PlaceNote();
}

QString TPackListView::Note() const { return FNote->isHidden() ? QString() : FNote->text(); }

void TPackListView::PlaceNote() {
  const int margin = 12;
  FNote->setGeometry(viewport()->rect().adjusted(margin, margin, -margin, -margin));
}

void TPackListView::wheelEvent(QWheelEvent* event) {
  if (event->angleDelta().y() == 0) {  // a sideways wheel still scrolls the columns
    QTableView::wheelEvent(event);
    return;
  }
  event->accept();
  FWheelAngle += event->angleDelta().y();
  const int rows = WheelRowsFromAngle(FWheelAngle);
  if (rows != 0) emit WheelRows(rows);
}

int TPackListView::VisibleRowCount() const {
  const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
  return std::max(1, viewport()->height() / rowHeight);
}

int TPackListView::SelectedRow() const {
  if (!selectionModel()) return -1;
  if (selectionModel()->isRowSelected(currentIndex().row(), {})) return currentIndex().row();
  const QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void TPackListView::SelectRow(int row) {
  if (!model() || row < 0 || row >= model()->rowCount()) return;
  setCurrentIndex(model()->index(row, 0));
  selectRow(row);
}

void TPackListView::keyPressEvent(QKeyEvent* event) {
  emit KeyDown(event);
  QTableView::keyPressEvent(event);
}

void TPackListView::keyReleaseEvent(QKeyEvent* event) {
  QTableView::keyReleaseEvent(event);
  emit KeyUp(event);
}

void TPackListView::mousePressEvent(QMouseEvent* event) {
  QTableView::mousePressEvent(event);
  emit MouseDown(event);
}

void TPackListView::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  PlaceNote();
  emit Resized();
}

QModelIndex TPackListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
  // Home and End go to the first and last row, not to the first and last column of the row.
  if (model() && model()->rowCount() > 0 && (cursorAction == MoveHome || cursorAction == MoveEnd)) {
    const int row = cursorAction == MoveHome ? 0 : model()->rowCount() - 1;
    return model()->index(row, std::max(0, currentIndex().column()));
  }
  return QTableView::moveCursor(cursorAction, modifiers);
}

}  // namespace varlow

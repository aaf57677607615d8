#pragma once
// Helpers of the hex edit window tests: the grid's cells, typing as a user would, and answering
// the windows that come up modal (the editor run by EditFile, the questions it asks).
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <functional>

#include "hexedit/gui/HexEditForm.h"
#include "hexedit/gui/HexGridModel.h"

namespace varlow::test {

inline QModelIndex CellIndex(const THexEditForm& form, int col, int row) {
  return form.StringGrid1->model()->index(row - 1, col - 1);
}
inline QString CellText(const THexEditForm& form, int col, int row) { return CellIndex(form, col, row).data().toString(); }
inline bool Marked(const THexEditForm& form, int col, int row) {
  return CellIndex(form, col, row).data(THexGridModel::kChangedRole).toBool();
}

// The editor open on the grid's current cell, if any.
inline QLineEdit* Editor(const THexEditForm& form) {
  return qobject_cast<QLineEdit*>(form.StringGrid1->indexWidget(form.StringGrid1->currentIndex()));
}
// Where a key goes: the open editor, otherwise the grid (whose first key opens the editor).
inline QWidget* KeyTarget(const THexEditForm& form) {
  QLineEdit* editor = Editor(form);
  return editor ? static_cast<QWidget*>(editor) : form.StringGrid1;
}
inline void Key(const THexEditForm& form, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::keyClick(KeyTarget(form), key, modifiers);
}

// Puts the grid's cursor on a cell and types there as a user would.
inline void Type(THexEditForm& form, int col, int row, const QString& keys) {
  if (form.StringGrid1->currentIndex() != CellIndex(form, col, row))
    form.StringGrid1->setCurrentIndex(CellIndex(form, col, row));
  for (QChar key : keys) QTest::keyClick(KeyTarget(form), key.toLatin1());
}
inline QString EditorText(const THexEditForm& form) {
  QLineEdit* editor = Editor(form);
  return editor ? editor->displayText() : QString();
}
// Leaves the cell being edited by the arrow key down, as a user moving on would.
inline void LeaveCell(THexEditForm& form) {
  Key(form, Qt::Key_Down);
  QCoreApplication::processEvents();
}

// Runs `action` on the hex edit window once it is up as a modal window (EditFile's own run).
class WhenHexEditOpens {
 public:
  explicit WhenHexEditOpens(std::function<void(THexEditForm&)> action) : FAction(std::move(action)) {
    FTimer.setInterval(10);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      auto* form = qobject_cast<THexEditForm*>(QApplication::activeModalWidget());
      if (!form) return;
      FTimer.stop();
      FRan = true;
      if (QTest::qWaitForWindowExposed(form)) FAction(*form);
      // Never leave a test waiting on the window, nor on its question about unsaved changes.
      if (form->isVisible()) form->done(QDialog::Rejected);
    });
    FTimer.start();
  }
  bool Ran() const { return FRan; }

 private:
  std::function<void(THexEditForm&)> FAction;
  QTimer FTimer;
  bool FRan = false;
};

// Answers every question box that comes up while it lives with `answer`, keeping their texts.
class AnswerQuestions {
 public:
  explicit AnswerQuestions(QMessageBox::StandardButton answer) {
    FTimer.setInterval(10);
    QObject::connect(&FTimer, &QTimer::timeout, [this, answer] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible()) return;
      Texts << box->text();
      if (QAbstractButton* button = box->button(answer))
        button->click();
      else
        box->reject();
    });
    FTimer.start();
  }

  QStringList Texts;

 private:
  QTimer FTimer;
};

}  // namespace varlow::test

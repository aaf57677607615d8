// The 64-bit spin edit: reading and writing the value through its text, limits and wrap-around
// at the 64-bit edges, keys, wheel, auto-repeating arrows and the drag bar.
#include <QClipboard>
#include <QDialog>
#include <QFrame>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>
#include <limits>
#include <memory>

#include "support/gui/SpinButton64.h"
#include "support/gui/SpinEdit64.h"
#include "support/gui/TimerSpeedButton64.h"

using namespace varlow;

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

// Counts beeps instead of sounding them.
class TCountingSpinEdit : public TSpinEdit64 {
 public:
  using TSpinEdit64::TSpinEdit64;
  int Beeps = 0;

 protected:
  void Beep() override { ++Beeps; }
};

// A shown window holding one spin edit and a second focusable control, well away from the
// screen edges so that drags do not reach them by accident.
struct TSpinWindow {
  QWidget Window;
  TCountingSpinEdit* Edit;
  QLineEdit* Other;

  TSpinWindow() {
    auto* layout = new QVBoxLayout(&Window);
    Edit = new TCountingSpinEdit(&Window);
    Other = new QLineEdit(&Window);
    layout->addWidget(Edit);
    layout->addWidget(Other);
    Window.resize(200, 80);
    Window.move(300, 300);
    Window.show();
  }
};

void SendWheel(QWidget* target, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  const QPointF at(target->width() / 2.0, target->height() / 2.0);
  QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers, Qt::NoScrollPhase,
                    false);
  QApplication::sendEvent(target, &event);
}

}  // namespace

class SpinEdit64Test : public QObject {
  Q_OBJECT

 private slots:
  void startsAtZeroWithDefaults() {
    TSpinEdit64 edit;
    QCOMPARE(edit.text(), QStringLiteral("0"));
    QCOMPARE(edit.Value(), 0);
    QCOMPARE(edit.Increment(), 1);
    QCOMPARE(edit.LargeIncrement(), 1);
    QVERIFY(edit.EditorEnabled());
    QVERIFY(!edit.Loop());
  }

  void readsTheNumberInTheText_data() {
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<qint64>("min");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("value");
    const QString none;
    QTest::newRow("decorated") << "max "
                               << " bit/s" << qint64(0) << "max 250 bit/s" << qint64(250);
    QTest::newRow("bare with decoration set") << "max "
                                              << " bit/s" << qint64(0) << "250" << qint64(250);
    QTest::newRow("junk after digits") << none << none << qint64(0) << "12abc" << qint64(12);
    QTest::newRow("no digits") << none << none << qint64(0) << "abc" << qint64(0);
    QTest::newRow("no digits below min") << none << none << qint64(7) << "abc" << qint64(7);
    QTest::newRow("dollar hex") << none << none << qint64(0) << "$FF" << qint64(255);
    QTest::newRow("0x hex") << none << none << qint64(0) << "0x1f" << qint64(31);
    QTest::newRow("x hex") << none << none << qint64(0) << "X10" << qint64(16);
    QTest::newRow("signed hex") << none << none << qint64(-1000) << "-$10" << qint64(-16);
    QTest::newRow("blanks and plus") << none << none << qint64(0) << "  +42" << qint64(42);
    QTest::newRow("zero then x junk") << none << none << qint64(0) << "0xg" << qint64(0);
    QTest::newRow("lower bound on read") << none << none << qint64(1500000) << "1000" << qint64(1500000);
    QTest::newRow("int64 max") << none << none << kMin << "9223372036854775807" << kMax;
    QTest::newRow("int64 min") << none << none << kMin << "-9223372036854775808" << kMin;
    QTest::newRow("past max saturates") << none << none << kMin << "99999999999999999999999" << kMax;
    QTest::newRow("past min saturates") << none << none << kMin << "-9223372036854775809" << kMin;
    QTest::newRow("hex past max saturates") << none << none << kMin << "$FFFFFFFFFFFFFFFF" << kMax;
    QTest::newRow("hex min") << none << none << kMin << "-$8000000000000000" << kMin;
  }

  void readsTheNumberInTheText() {
    QFETCH(QString, prefix);
    QFETCH(QString, suffix);
    QFETCH(qint64, min);
    QFETCH(QString, text);
    QFETCH(qint64, value);
    TSpinEdit64 edit;
    edit.SetPrefix(prefix);
    edit.SetSuffix(suffix);
    edit.SetMinValue(min);
    edit.setText(text);
    QCOMPARE(edit.Value(), value);
  }

  void writingAppliesLimitsAndDecoration() {
    TSpinEdit64 edit;
    edit.SetValue(123456789012);  // no range: any value
    QCOMPARE(edit.text(), QStringLiteral("123456789012"));
    edit.SetValue(-5);
    QCOMPARE(edit.text(), QStringLiteral("-5"));
    QCOMPARE(edit.Value(), 0);  // the lower bound applies on read even without a range

    edit.SetMinValue(1500000);
    edit.SetMaxValue(50000000);
    edit.setText(QStringLiteral("60000000"));
    QCOMPARE(edit.Value(), 60000000);  // the upper bound waits for the next write
    edit.SetValue(edit.Value());
    QCOMPARE(edit.text(), QStringLiteral("50000000"));

    edit.SetPrefix(QStringLiteral("max "));
    QCOMPARE(edit.text(), QStringLiteral("max 50000000"));
    edit.SetSuffix(QStringLiteral(" bit/s"));
    QCOMPARE(edit.text(), QStringLiteral("max 50000000 bit/s"));
    edit.SetValue(2000000);
    QCOMPARE(edit.text(), QStringLiteral("max 2000000 bit/s"));
  }

  void loopWrapsWithThePeriodOfTheRange() {
    TSpinEdit64 edit;
    edit.SetMinValue(0);
    edit.SetMaxValue(10);
    edit.SetLoop(true);
    edit.SetValue(10);
    edit.StepUp();
    QCOMPARE(edit.Value(), 1);
    edit.SetValue(0);
    edit.StepDown();
    QCOMPARE(edit.Value(), 9);
    QCOMPARE(edit.LimitValue(20), 10);
    QCOMPARE(edit.LimitValue(-10), 0);
    QCOMPARE(edit.LimitValue(kMax), 7);  // far off values wrap in one step
    QCOMPARE(edit.LimitValue(kMin), 2);

    edit.SetLoop(false);
    QCOMPARE(edit.LimitValue(11), 10);
    QCOMPARE(edit.LimitValue(-1), 0);
  }

  void stepsStopOrWrapAtThe64BitLimits() {
    TSpinEdit64 edit;  // no range: steps saturate instead of overflowing
    edit.SetMinValue(kMin);
    edit.SetMaxValue(kMin);
    edit.SetValue(kMax);
    edit.StepUp();
    QCOMPARE(edit.Value(), kMax);
    edit.SetValue(kMin);
    edit.StepDown();
    QCOMPARE(edit.Value(), kMin);

    edit.SetIncrement(kMin);  // a negative step of the largest size
    edit.SetValue(0);
    edit.StepDown();  // 0 - kMin does not fit
    QCOMPARE(edit.Value(), kMax);
    edit.StepUp();  // kMax + kMin = -1
    QCOMPARE(edit.Value(), -1);

    edit.SetIncrement(1);
    edit.SetMaxValue(kMax);  // the full range, wrapping: kMax and kMin are one point
    edit.SetLoop(true);
    edit.SetValue(kMax);
    edit.StepUp();
    QCOMPARE(edit.Value(), kMin + 1);
    edit.SetValue(kMin);
    edit.StepDown();
    QCOMPARE(edit.Value(), kMax - 1);

    edit.SetLoop(false);
    edit.SetValue(kMax - 1);
    edit.SetIncrement(kMax);
    edit.StepUp();
    QCOMPARE(edit.Value(), kMax);

    // Crossed limits with Loop cannot wrap; they clamp instead of hanging.
    edit.SetMinValue(10);
    edit.SetMaxValue(0);
    edit.SetLoop(true);
    edit.SetValue(5);
    QCOMPARE(edit.text(), QStringLiteral("0"));
  }

  void keysStepAndFilterCharacters() {
    TSpinWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.Window));
    TCountingSpinEdit* edit = w.Edit;
    edit->setFocus();
    edit->SetMinValue(-1000);
    edit->SetMaxValue(1000);
    edit->SetIncrement(5);
    QTest::keyClick(edit, Qt::Key_Up);
    QTest::keyClick(edit, Qt::Key_Up);
    QCOMPARE(edit->Value(), 10);
    QTest::keyClick(edit, Qt::Key_Down);
    QCOMPARE(edit->Value(), 5);

    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("-12a3"));
    QCOMPARE(edit->text(), QStringLiteral("-123"));
    QCOMPARE(edit->Beeps, 1);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QStringLiteral("-12"));

    edit->SetEditorEnabled(false);
    QTest::keyClicks(edit, QStringLiteral("7"));
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), QStringLiteral("-12"));
    QCOMPARE(edit->Beeps, 3);
    QTest::keyClick(edit, Qt::Key_Up);  // steps still work
    QCOMPARE(edit->text(), QStringLiteral("-7"));

    // No paste while typing is off.
    QApplication::clipboard()->setText(QStringLiteral("999"));
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit->text(), QStringLiteral("-7"));
    edit->SetEditorEnabled(true);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit->text(), QStringLiteral("999"));

    edit->setReadOnly(true);
    const int beeps = edit->Beeps;
    QTest::keyClick(edit, Qt::Key_Up);
    QCOMPARE(edit->Value(), 999);
    QCOMPARE(edit->Beeps, beeps + 1);
  }

  void enterAndEscapeStillReachTheDialog() {
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* edit = new TSpinEdit64(&dialog);
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    layout->addWidget(edit);
    layout->addWidget(ok);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Escape);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
  }

  void leavingTheBoxNormalisesTheText() {
    TSpinWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.Window));
    w.Edit->SetMinValue(1500000);
    w.Edit->SetMaxValue(50000000);
    w.Edit->SetSuffix(QStringLiteral(" bit/s"));
    w.Edit->setFocus();
    w.Edit->setText(QStringLiteral("60000000"));
    w.Other->setFocus();
    QCOMPARE(w.Edit->text(), QStringLiteral("50000000 bit/s"));
    w.Edit->setFocus();
    w.Edit->setText(QStringLiteral("1000xyz"));
    w.Other->setFocus();
    QCOMPARE(w.Edit->text(), QStringLiteral("1500000 bit/s"));
  }

  void wheelStepsByIncrementAndCtrlByLargeIncrement() {
    TSpinWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.Window));
    TCountingSpinEdit* edit = w.Edit;
    edit->SetMinValue(-100000);
    edit->SetMaxValue(100000);
    edit->SetIncrement(3);
    edit->SetLargeIncrement(1000);
    SendWheel(edit, 120);
    QCOMPARE(edit->Value(), 3);
    SendWheel(edit, -120, Qt::ControlModifier);
    QCOMPARE(edit->text(), QStringLiteral("-997"));
    SendWheel(edit, 0);
    QCOMPARE(edit->text(), QStringLiteral("-997"));
    // Smooth-scrolling devices send fractions of a notch: one step per whole notch.
    SendWheel(edit, 60);
    QCOMPARE(edit->text(), QStringLiteral("-997"));
    SendWheel(edit, 60);
    QCOMPARE(edit->text(), QStringLiteral("-994"));

    edit->SetEditorEnabled(false);  // typing off: the wheel still works
    SendWheel(edit, 240);
    QCOMPARE(edit->text(), QStringLiteral("-988"));

    edit->SetMinValue(kMin);
    edit->SetMaxValue(kMax);
    edit->SetLargeIncrement(kMax);
    edit->SetValue(kMax - 5);
    SendWheel(edit, 120, Qt::ControlModifier);
    QCOMPARE(edit->Value(), kMax);
    edit->SetValue(kMin);
    SendWheel(edit, -360, Qt::ControlModifier);  // three notches of -kMax at once
    QCOMPARE(edit->Value(), kMin);

    edit->setReadOnly(true);  // a read-only box is left alone
    SendWheel(edit, 120);
    QCOMPARE(edit->Value(), kMin);
  }

  void arrowsClickAndRepeatWhileHeld() {
    TSpinWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.Window));
    TCountingSpinEdit* edit = w.Edit;
    TTimerSpeedButton64* up = edit->SpinButton()->FUpButton;
    TTimerSpeedButton64* down = edit->SpinButton()->FDownButton;
    const QPoint upCentre = up->rect().center();

    QTest::mouseClick(up, Qt::LeftButton, {}, upCentre);
    QCOMPARE(edit->Value(), 1);
    QTest::mouseClick(down, Qt::LeftButton, {}, down->rect().center());
    QTest::mouseClick(down, Qt::LeftButton, {}, down->rect().center());
    QCOMPARE(edit->text(), QStringLiteral("-1"));
    QVERIFY(edit->hasFocus());  // pressing an arrow focuses the edit

    edit->SetValue(0);
    QTest::mousePress(up, Qt::LeftButton, {}, upCentre);
    QVERIFY(up->RepeatTimer() && up->RepeatTimer()->isActive());
    QCOMPARE(up->RepeatTimer()->interval(), TTimerSpeedButton64::kFirstRepeatDelayMs);
    QTest::qWait(150);
    QCOMPARE(edit->Value(), 0);  // nothing before the first delay
    QTRY_VERIFY_WITH_TIMEOUT(edit->Value() >= 1, 3000);
    QCOMPARE(up->RepeatTimer()->interval(), TTimerSpeedButton64::kRepeatIntervalMs);
    QTRY_VERIFY_WITH_TIMEOUT(edit->Value() >= 3, 3000);
    const qint64 held = edit->Value();
    QTest::mouseRelease(up, Qt::LeftButton, {}, upCentre);
    QCOMPARE(edit->Value(), held + 1);  // release adds the last step
    QVERIFY(!up->RepeatTimer()->isActive());
    QTest::qWait(250);
    QCOMPARE(edit->Value(), held + 1);

    // Disabled with the edit.
    edit->setEnabled(false);
    QVERIFY(!up->isEnabled());
    QTest::mouseClick(up, Qt::LeftButton, {}, upCentre);
    QCOMPARE(edit->Value(), held + 1);
  }

  void dragBarChangesOneUnitPerPixel() {
    TSpinWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.Window));
    TCountingSpinEdit* edit = w.Edit;
    edit->SetIncrement(100);  // plays no part in dragging
    QFrame* bar = edit->SpinButton()->FMiddleBar;
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->cursor().shape(), Qt::SplitVCursor);

    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(3, 2));
    QCOMPARE(bar->frameShadow(), QFrame::Sunken);
    QTest::mouseMove(bar, QPoint(3, -8));
    QTest::mouseMove(bar, QPoint(3, -18));
    QCOMPARE(edit->Value(), 20);
    QTest::mouseMove(bar, QPoint(3, -13));
    QCOMPARE(edit->Value(), 15);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(3, -13));
    QCOMPARE(bar->frameShadow(), QFrame::Raised);
    QTest::mouseMove(bar, QPoint(3, -40));  // no button held: nothing
    QCOMPARE(edit->Value(), 15);

    edit->setReadOnly(true);
    edit->MiddleMouseDown(Qt::LeftButton, {}, 0, 0);
    edit->MiddleMouseMove(Qt::LeftButton, {}, 0, -10);
    QCOMPARE(edit->Value(), 15);
    QCOMPARE(edit->Beeps, 1);
  }

  void dragWrapsTheCursorAtTheScreenEdgeWithoutAJump() {
    TSpinWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.Window));
    TCountingSpinEdit* edit = w.Edit;
    QScreen* screen = w.Window.screen();
    const QRect area = screen->geometry();

    edit->MiddleMouseDown(Qt::LeftButton, {}, 0, 100);
    QCursor::setPos(screen, 50, area.top());  // the drag has reached the top of the screen
    edit->MiddleMouseMove(Qt::LeftButton, {}, 0, 90);
    QCOMPARE(edit->Value(), 10);
    QCOMPARE(QCursor::pos(screen).y(), area.top() + area.height() - 2);
    // The move caused by the jump is skipped; the drag goes on from there.
    edit->MiddleMouseMove(Qt::LeftButton, {}, 0, 900);
    QCOMPARE(edit->Value(), 10);
    QCursor::setPos(screen, 50, area.center().y());
    edit->MiddleMouseMove(Qt::LeftButton, {}, 0, 895);
    QCOMPARE(edit->Value(), 15);

    QCursor::setPos(screen, 50, area.top() + area.height() - 1);  // and at the bottom
    edit->MiddleMouseMove(Qt::LeftButton, {}, 0, 905);
    QCOMPARE(edit->Value(), 5);
    QCOMPARE(QCursor::pos(screen).y(), area.top() + 1);
    edit->MiddleMouseMove(Qt::LeftButton, {}, 0, 0);
    QCOMPARE(edit->Value(), 5);

    // Dragging past the 64-bit limit stops there.
    edit->SetValue(kMax - 3);
    QCursor::setPos(screen, 50, area.center().y());
    edit->MiddleMouseMove(Qt::LeftButton, {}, 0, -1000);
    QCOMPARE(edit->Value(), kMax);
  }

  void changeSignalCarriesTheValue() {
    TSpinEdit64 edit;
    edit.SetMinValue(-10);
    edit.SetMaxValue(100);
    QSignalSpy spy(&edit, &TSpinEdit64::OnChange);
    edit.SetValue(42);
    edit.StepUp();
    edit.setText(QStringLiteral("-50"));
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(0).at(0).toLongLong(), 42);
    QCOMPARE(spy.at(1).at(0).toLongLong(), 43);
    QCOMPARE(spy.at(2).at(0).toLongLong(), -10);  // as read back: at least MinValue
  }

  void arrowGlyphsAndLayout() {
    TSpinButton64 button;
    const QImage up = button.UpGlyph().toImage();
    QCOMPARE(up.size(), QSize(6, 4));
    QCOMPARE(up.pixelColor(2, 0).alpha(), 255);
    QCOMPARE(up.pixelColor(2, 0).rgb() & 0xFFFFFF, 0u);  // black tip on top
    QCOMPARE(up.pixelColor(0, 2).rgb() & 0xFFFFFF, 0u);  // widest row, from column 0
    QCOMPARE(up.pixelColor(0, 0).alpha(), 0);            // magenta is transparent
    QCOMPARE(up.pixelColor(5, 2).alpha(), 0);
    const QImage down = button.DownGlyph().toImage();
    QCOMPARE(down.pixelColor(0, 0).rgb() & 0xFFFFFF, 0u);
    QCOMPARE(down.pixelColor(2, 2).rgb() & 0xFFFFFF, 0u);
    QCOMPARE(down.pixelColor(0, 3).alpha(), 0);

    QPixmap custom(8, 8);
    custom.fill(Qt::red);
    button.SetUpGlyph(custom);
    QCOMPARE(button.UpGlyph().size(), QSize(8, 8));
    button.SetUpNumGlyphs(2);
    button.SetUpGlyph(QPixmap());  // back to the built-in arrow with one image
    QCOMPARE(button.UpGlyph().size(), QSize(6, 4));
    QCOMPARE(button.UpNumGlyphs(), 1);

    button.resize(20, 24);
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));
    QCOMPARE(button.FUpButton->geometry(), QRect(0, 0, 20, 11));
    QCOMPARE(button.FMiddleBar->geometry(), QRect(0, 10, 20, 4));
    QCOMPARE(button.FDownButton->geometry(), QRect(0, 13, 20, 11));

    TSpinWindow w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.Window));
    const QRect arrows = w.Edit->SpinButton()->geometry();
    QCOMPARE(arrows.width(), 15);
    QVERIFY(arrows.right() < w.Edit->width());
    QVERIFY(arrows.left() > w.Edit->width() / 2);
    QVERIFY(w.Edit->textMargins().right() >= arrows.width());
    QVERIFY(w.Edit->height() >= w.Edit->MinimumHeight());
  }

  void spinButtonKeysWhenItTakesTheFocus() {
    QWidget window;
    auto* spin = new TSpinButton64(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy ups(spin, &TSpinButton64::OnUpClick);
    QSignalSpy downs(spin, &TSpinButton64::OnDownClick);
    spin->setFocusPolicy(Qt::StrongFocus);
    spin->setFocus();
    QVERIFY(spin->FUpButton->ButtonMarks() & TTimerSpeedButton64::FocusMark);
    QTest::keyClick(spin, Qt::Key_Space);
    QTest::keyClick(spin, Qt::Key_Down);
    QVERIFY(spin->FDownButton->ButtonMarks() & TTimerSpeedButton64::FocusMark);
    QVERIFY(!(spin->FUpButton->ButtonMarks() & TTimerSpeedButton64::FocusMark));
    QTest::keyClick(spin, Qt::Key_Space);
    QCOMPARE(ups.count(), 1);
    QCOMPARE(downs.count(), 2);
  }
};

QTEST_MAIN(SpinEdit64Test)
#include "spin_edit64_test.moc"

// The window layout in the user's settings: design layout when none is stored, all eleven
// values written on close, each stored value applied on its own when the window shows.
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>

#include "MainWindowTestSupport.h"
#include "browser/gui/WindowGeometry.h"

using namespace varlow;
using namespace varlow::test;

namespace {

const QStringList kValueNames = {"FormTop",          "FormLeft",    "FormHeight",        "FormWidth",
                                 "OffsetColWidth",   "LenColWidth", "StartCodeColWidth", "CodingTypeColWidth",
                                 "FrameNumColWidth", "Panel2Width", "WindowState"};

QSettings Settings() { return QSettings(QStringLiteral("Tarnwick"), QStringLiteral("Varlow")); }

QList<int> ColumnWidths(const TForm1& form) {
  QList<int> widths;
  for (int column = 0; column < 5; ++column) widths << form.ListView1->columnWidth(column);
  return widths;
}

// The width that shows the design columns (500 pixels), the list's frame and the scroll bar.
int DefaultListPanelWidth(const TForm1& form) { return 500 + 2 * form.ListView1->frameWidth() + 16; }

}  // namespace

class MainWindowSettingsTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;

 private slots:
  void initTestCase() { UsePrivateSettings(FSettingsDir); }

  void init() { QFile::remove(Settings().fileName()); }

  void firstLayoutWithoutStoredSettings() {
    auto form = ShowForm();
    QVERIFY(form);
    // Centred on the screen at its first size (the frame known only once shown).
    const QRect expected = FitWindowGeometry(QGuiApplication::primaryScreen()->availableGeometry(), QRect());
    const QSize frame = form->frameGeometry().size() - form->size();
    QVERIFY((form->frameGeometry().center() - expected.center()).manhattanLength() <= frame.width() + frame.height());
    QVERIFY(std::abs(form->frameGeometry().width() - expected.width()) <= frame.width());
    // The list panel is as wide as its columns and scroll bar where the header tree keeps its
    // minimum beside it; the header tree has the rest.
    const int client = form->centralWidget()->width();
    const int handle = form->Splitter1->handleWidth();
    QCOMPARE(form->Panel2->width(),
             std::min(DefaultListPanelWidth(*form), client - handle - form->TreeView1->minimumWidth()));
    QCOMPARE(form->Panel3->width(), client - form->Panel2->width() - handle);
    QCOMPARE(form->Panel1->height(), 210);
    QCOMPARE(ColumnWidths(*form), QList<int>({120, 70, 170, 80, 60}));
    QCOMPARE(form->windowTitle(), QStringLiteral("Varlow "));
    QVERIFY(!QFileInfo::exists(Settings().fileName()));  // showing never creates the settings
  }

  void closeWritesAllElevenValuesAndTheyComeBack() {
    {
      auto form = ShowForm();
      QVERIFY(form);
      // A place and size that fit the screen come back as they were.
      form->move(40, 30);
      form->resize(700, 500);
      form->ListView1->setColumnWidth(2, 150);
      form->Splitter1->setSizes({400, 700 - 400 - form->Splitter1->handleWidth()});
      QTRY_COMPARE(form->Panel2->width(), 400);
      QVERIFY(form->close());
    }
    QSettings settings = Settings();
    QCOMPARE(settings.allKeys().size(), kValueNames.size());
    for (const QString& name : kValueNames) {
      bool ok = false;
      settings.value(name).toString().toInt(&ok);
      QVERIFY2(ok, qPrintable(name));
    }
    QCOMPARE(settings.value("Panel2Width").toInt(), 400);
    QCOMPARE(settings.value("StartCodeColWidth").toInt(), 150);
    QCOMPARE(settings.value("WindowState").toInt(), 0);

    auto again = ShowForm();
    QVERIFY(again);
    QCOMPARE(again->pos(), QPoint(40, 30));
    QCOMPARE(again->size(), QSize(700, 500));
    QCOMPARE(ColumnWidths(*again), QList<int>({120, 70, 150, 80, 60}));
    QCOMPARE(again->Panel2->width(), 400);
  }

  void missingOrNonIntegerValuesAreSkippedOneByOne() {
    {
      QSettings settings = Settings();
      settings.setValue("FormLeft", 77);
      settings.setValue("FormTop", "high");  // not an integer: skipped
      settings.setValue("OffsetColWidth", 99);
      settings.setValue("LenColWidth", "12.5");  // not an integer: skipped
      settings.setValue("FrameNumColWidth", " 44 ");
      // FormHeight, FormWidth, StartCodeColWidth, CodingTypeColWidth, Panel2Width and
      // WindowState missing
    }
    auto form = ShowForm();
    QVERIFY(form);
    // The missing top stays where the first place put it.
    const QRect first = FitWindowGeometry(QGuiApplication::primaryScreen()->availableGeometry(), QRect());
    QCOMPARE(form->x(), 77);
    QVERIFY(std::abs(form->y() - first.y()) <= form->frameGeometry().height() - form->height());
    QVERIFY(std::abs(form->frameGeometry().width() - first.width()) <= form->frameGeometry().width() - form->width());
    QCOMPARE(ColumnWidths(*form), QList<int>({99, 70, 170, 80, 44}));
    QCOMPARE(form->Panel2->width(), std::min(DefaultListPanelWidth(*form), form->centralWidget()->width() -
                                                                             form->Splitter1->handleWidth() -
                                                                             form->TreeView1->minimumWidth()));
    QVERIFY(!form->isMaximized());
  }

  void maximizedStateIsKept() {
    {
      QSettings settings = Settings();
      settings.setValue("WindowState", 2);
    }
    auto form = ShowForm();
    QVERIFY(form);
    QTRY_VERIFY(form->isMaximized());
    form->close();
    QCOMPARE(Settings().value("WindowState").toInt(), 2);
  }
};

QTEST_MAIN(MainWindowSettingsTest)
#include "main_window_settings_test.moc"

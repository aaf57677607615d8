// The window layout in the user's settings: design layout when none is stored, all eleven
// values written on close, each stored value applied on its own when the window shows.
#include <QFileInfo>
#include <QSplitter>

#include "MainWindowTestSupport.h"

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

  void designLayoutWithoutStoredSettings() {
    auto form = ShowForm();
    QVERIFY(form);
    QCOMPARE(form->pos(), QPoint(364, 199));
    QCOMPARE(form->width(), 958);
    QCOMPARE(form->centralWidget()->height(), 672);
    // The list panel is as wide as its columns and scroll bar; the header tree has the rest.
    QCOMPARE(form->Panel2->width(), DefaultListPanelWidth(*form));
    QCOMPARE(form->Panel3->width(), 958 - form->Panel2->width() - form->Splitter1->handleWidth());
    QCOMPARE(form->Panel1->height(), 210);
    QCOMPARE(ColumnWidths(*form), QList<int>({120, 70, 170, 80, 60}));
    QCOMPARE(form->windowTitle(), QStringLiteral("Varlow "));
    QVERIFY(!QFileInfo::exists(Settings().fileName()));  // showing never creates the settings
  }

  void closeWritesAllElevenValuesAndTheyComeBack() {
    {
      auto form = ShowForm();
      QVERIFY(form);
      form->move(40, 30);
      form->resize(1000, 700);
      form->ListView1->setColumnWidth(2, 150);
      form->Splitter1->setSizes({640, 1000 - 640 - form->Splitter1->handleWidth()});
      QTRY_COMPARE(form->Panel2->width(), 640);
      QVERIFY(form->close());
    }
    QSettings settings = Settings();
    QCOMPARE(settings.allKeys().size(), kValueNames.size());
    for (const QString& name : kValueNames) {
      bool ok = false;
      settings.value(name).toString().toInt(&ok);
      QVERIFY2(ok, qPrintable(name));
    }
    QCOMPARE(settings.value("Panel2Width").toInt(), 640);
    QCOMPARE(settings.value("StartCodeColWidth").toInt(), 150);
    QCOMPARE(settings.value("WindowState").toInt(), 0);

    auto again = ShowForm();
    QVERIFY(again);
    QCOMPARE(again->pos(), QPoint(40, 30));
    QCOMPARE(again->size(), QSize(1000, 700));
    QCOMPARE(ColumnWidths(*again), QList<int>({120, 70, 150, 80, 60}));
    QCOMPARE(again->Panel2->width(), 640);
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
    QCOMPARE(form->pos(), QPoint(77, 199));
    QCOMPARE(form->width(), 958);
    QCOMPARE(ColumnWidths(*form), QList<int>({99, 70, 170, 80, 44}));
    QCOMPARE(form->Panel2->width(), DefaultListPanelWidth(*form));
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

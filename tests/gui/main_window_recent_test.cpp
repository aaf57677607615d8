// File > Recent Files lists the files opened, newest first and kept between runs, and reopens
// them; the status bar shows the file's size and where the selected pack lies.
#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenu>

#include "MainWindowTestSupport.h"

using namespace varlow;
using namespace varlow::test;

class MainWindowRecentTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;
  QTemporaryDir FFiles;

  // A copy of the sample under another name, so that two different files are opened.
  QString Copy(const QString& name) {
    const QString path = FFiles.filePath(name);
    QFile::remove(path);
    return QFile::copy(FileOf(SampleStream()), path) ? path : QString();
  }
  static QList<QAction*> FileItems(const TForm1& form) {
    QList<QAction*> items;
    for (QAction* action : form.RecentFiles1->actions())
      if (action->data().isValid()) items << action;
    return items;
  }

 private slots:
  void initTestCase() { UsePrivateSettings(FSettingsDir); }

  void recentFilesListsOpenedFilesAndReopensThem() {
    const QString first = Copy(QStringLiteral("first.m2v"));
    const QString second = Copy(QStringLiteral("second.m2v"));
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    {
      auto form = ShowForm();
      QVERIFY(form);
      QVERIFY(!form->RecentFiles1->isEnabled());  // nothing opened yet
      form->OpenFile(first);
      form->OpenFile(second);
      form->OpenFile(first);  // once only, moved to the top
      QCOMPARE(form->RecentFiles(), (QStringList{first, second}));
      const QList<QAction*> items = FileItems(*form);
      QCOMPARE(items.size(), 2);
      QCOMPARE(items.at(0)->text(), QStringLiteral("&1 first.m2v"));
      QCOMPARE(items.at(1)->text(), QStringLiteral("&2 second.m2v"));
    }
    // In the next run the list is still there, and an item opens its file.
    auto form = ShowForm();
    QVERIFY(form);
    QVERIFY(form->FileName().isEmpty());
    QList<QAction*> items = FileItems(*form);
    QCOMPARE(items.size(), 2);
    items.at(1)->trigger();
    QCOMPARE(form->FileName(), second);
    QVERIFY(RowCount(*form) > 0);
    QCOMPARE(form->RecentFiles().first(), second);

    // A file gone since is refused aloud; Clear List empties the menu.
    QVERIFY(QFile::remove(first));
    {
      TMessageCapture messages;
      FileItems(*form).at(1)->trigger();  // first.m2v, now second in the list
      QCOMPARE(messages.Messages.size(), 1);
      QCOMPARE(form->FileName(), second);  // the open file stays open
    }
    QCOMPARE(form->RecentFiles(), QStringList{second});  // and the file gone leaves the list
    QCOMPARE(FileItems(*form).size(), 1);
    form->findChild<QAction*>(QStringLiteral("ClearRecentFiles1"))->trigger();
    QVERIFY(form->RecentFiles().isEmpty());
    QVERIFY(FileItems(*form).isEmpty());
  }

  void statusBarShowsSizeAndSelectedPack() {
    auto form = ShowForm();
    QVERIFY(form);
    QVERIFY(form->StatusSize->text().isEmpty());
    form->OpenFile(FileOf(SampleStream()));
    const qint64 size = QFileInfo(FileOf(SampleStream())).size();
    QCOMPARE(form->StatusSize->text(), QStringLiteral("%1 bytes").arg(QLocale::c().toString(size)));
    QCOMPARE(form->StatusPack->text(), QStringLiteral("Pack at $00000000"));
    QCOMPARE(form->StatusPosition->text(), QStringLiteral("0.0% into the file"));
    const std::vector<std::int64_t> packs = AllPackOffsets(SampleStream());
    form->SelectPackAt(packs.at(packs.size() / 2));
    const QString hex = QStringLiteral("%1").arg(packs.at(packs.size() / 2), 8, 16, QLatin1Char('0')).toUpper();
    QCOMPARE(form->StatusPack->text(), QStringLiteral("Pack at $") + hex);
    QVERIFY(form->StatusPosition->text().endsWith(QStringLiteral("% into the file")));
    form->Close1Click();
    QVERIFY(form->StatusPack->text().isEmpty());
  }
};

QTEST_MAIN(MainWindowRecentTest)
#include "main_window_recent_test.moc"

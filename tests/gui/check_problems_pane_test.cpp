// The Problems pane: the rules a stream breaks, found in the background, one row each; a row
// chosen selects its pack in the window, whose header tree marks the elements that break them.
#include <QDockWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <fstream>

#include "MainWindowTestSupport.h"
#include "browser/gui/MainWindow.h"
#include "browser/gui/PackListView.h"
#include "browser/gui/QtTreeSink.h"
#include "check/gui/ProblemMarks.h"
#include "check/gui/ProblemsDock.h"
#include "check/gui/ProblemsPane.h"

using namespace varlow;
using namespace varlow::test;

namespace {

// Bits to bytes, most significant first.
class TBits {
 public:
  TBits& Put(std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      if (FBit == 0) FBytes.push_back(0);
      if ((value >> i) & 1u) FBytes.back() |= static_cast<std::uint8_t>(0x80 >> FBit);
      FBit = (FBit + 1) % 8;
    }
    return *this;
  }
  TBits& StartCode(std::uint8_t code) {
    FBit = 0;
    FBytes.insert(FBytes.end(), {0, 0, 1, code});
    return *this;
  }
  const std::vector<std::uint8_t>& Bytes() const { return FBytes; }

 private:
  std::vector<std::uint8_t> FBytes;
  int FBit = 0;
};

// Two sequences of one intra picture each: the first declares frame_rate_code 0, the second
// aspect_ratio_information 0.
std::vector<std::uint8_t> TwoBrokenSequences() {
  TBits b;
  for (int k = 0; k < 2; ++k) {
    b.StartCode(0xB3).Put(352, 12).Put(288, 12).Put(k == 0 ? 2 : 0, 4).Put(k == 0 ? 0 : 3, 4);
    b.Put(12500, 18).Put(1, 1).Put(112, 10).Put(0, 3);
    b.StartCode(0xB5).Put(1, 4).Put(0x48, 8).Put(1, 1).Put(1, 2).Put(0, 4).Put(0, 12).Put(1, 1).Put(0, 16);
    b.StartCode(0xB8).Put(0, 25).Put(1, 1).Put(0, 6);
    b.StartCode(0x00).Put(0, 10).Put(1, 3).Put(0xFFFF, 16).Put(0, 3);
    b.StartCode(0xB5).Put(8, 4).Put(0xFFFF, 16).Put(0, 2).Put(3, 2).Put(0, 1).Put(1, 1).Put(0, 6).Put(1, 1).Put(0, 1);
    b.StartCode(0x01);
    for (int i = 0; i < 64; ++i) b.Put(0x5A, 8);
  }
  b.StartCode(0xB7);
  return b.Bytes();
}

// The bit positions of the tree's marked nodes.
QList<qint64> MarkedAt(QTreeWidget* tree) {
  QList<qint64> at;
  for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it)
    if ((*it)->data(0, kProblemRole).isValid()) at << (*it)->data(0, kBitPosRole).toLongLong();
  return at;
}

}  // namespace

class ProblemsPaneTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;
  QTemporaryDir FFiles;

  QString Write(const QString& name, const std::vector<std::uint8_t>& bytes) {
    const QString path = FFiles.filePath(name);
    std::ofstream(path.toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

 private slots:
  void initTestCase() { UsePrivateSettings(FSettingsDir); }

  // Each problem a row with its offset, bit, element, value and rule; choosing one tells its
  // offset; a clean stream says so; Clear empties the pane.
  void rowsPerProblemAndTheChoice() {
    TProblemsPane pane;
    QSignalSpy finished(&pane, &TProblemsPane::CheckFinished);
    QSignalSpy chosen(&pane, &TProblemsPane::ProblemChosen);
    const auto bytes = TwoBrokenSequences();
    pane.StartCheck(Write(QStringLiteral("broken.m2v"), bytes), -1);
    QVERIFY(finished.wait(10000));
    QTreeWidget* list = pane.List();
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("$00000000"));
    QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("60"));
    QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("frame_rate_code"));
    QCOMPARE(list->topLevelItem(0)->text(4), QStringLiteral("frame_rate_code 0 is forbidden"));
    QCOMPARE(list->topLevelItem(1)->text(2), QStringLiteral("aspect_ratio_information"));
    QCOMPARE(pane.Status(), QStringLiteral("2 problems"));
    const qint64 second = list->topLevelItem(1)->data(0, Qt::UserRole).toLongLong();
    QVERIFY(second > 0);
    QCOMPARE(static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(second) + 3]), std::uint8_t{0xB3});
    emit list->itemActivated(list->topLevelItem(1), 0);
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.at(0).at(0).toLongLong(), second);

    pane.StartCheck(FileOf(OwnStream("hd1080.m2v")), -1);
    QVERIFY(finished.wait(10000));
    QCOMPARE(pane.List()->topLevelItemCount(), 0);
    QCOMPARE(pane.Status(), QStringLiteral("No problems found"));
    pane.Clear();
    QCOMPARE(pane.Status(), QStringLiteral("No file"));
  }

  // A check started again or cleared while one runs leaves only the last one's rows, and a pane
  // destroyed mid-check stops its worker.
  void restartedAndDestroyedMidCheck() {
    const QString broken = Write(QStringLiteral("broken2.m2v"), TwoBrokenSequences());
    {
      TProblemsPane pane;
      pane.StartCheck(FileOf(OwnStream("i420_interlaced.m2v")), -1);
      pane.Clear();
      QSignalSpy finished(&pane, &TProblemsPane::CheckFinished);
      pane.StartCheck(broken, -1);
      QVERIFY(finished.wait(10000));
      QTest::qWait(50);
      QCOMPARE(finished.count(), 1);
      QCOMPARE(pane.List()->topLevelItemCount(), 2);
    }
    TProblemsPane doomed;
    doomed.StartCheck(FileOf(OwnStream("i422_interlaced.m2v")), -1);
  }

  // In the window: View > Problems shows the dock, which checks the open file; a row chosen
  // selects that pack in the list.
  void theWindowsPaneSelectsThePack() {
    auto form = ShowForm();
    QVERIFY(form);
    const auto bytes = TwoBrokenSequences();
    form->OpenFile(Write(QStringLiteral("broken3.m2v"), bytes));
    auto* dock = form->findChild<QDockWidget*>(QStringLiteral("ProblemsDock"));
    QVERIFY(dock);
    QVERIFY(dock->isHidden());
    auto* action = form->findChild<QAction*>(QStringLiteral("ViewProblems1"));
    QVERIFY(action);
    TProblemsPane* pane = ProblemsPaneOf(dock);
    QSignalSpy finished(pane, &TProblemsPane::CheckFinished);
    action->trigger();
    QVERIFY(finished.wait(10000));
    QCOMPARE(pane->List()->topLevelItemCount(), 2);
    // The pack on show when the check ended (the first sequence header) has its element marked.
    QCOMPARE(MarkedAt(form->TreeView1), QList<qint64>({60}));
    emit pane->List()->itemClicked(pane->List()->topLevelItem(1), 0);
    const qint64 second = pane->List()->topLevelItem(1)->data(0, Qt::UserRole).toLongLong();
    const int row = form->ListView1->SelectedRow();
    QVERIFY(row >= 0);
    QCOMPARE(form->Index().Pack(row).Offset, second);
    // The pack chosen is shown with its own problem marked: aspect_ratio_information.
    QCOMPARE(MarkedAt(form->TreeView1), QList<qint64>({56}));
    QTreeWidgetItemIterator it(form->TreeView1);
    while (*it != nullptr && !(*it)->data(0, kProblemRole).isValid()) ++it;
    QVERIFY(*it != nullptr);
    QVERIFY((*it)->text(0).startsWith(QStringLiteral("aspect_ratio_information = 0")));
    QVERIFY((*it)->toolTip(0).startsWith(QStringLiteral("Problem: aspect_ratio_information 0 is forbidden")));
  }
};

QTEST_MAIN(ProblemsPaneTest)
#include "check_problems_pane_test.moc"

// Go To and Find Next end to end: an offset selects the pack that holds it, a picture number
// waits for the overview's scan, F3 moves to the next I picture, and a damaged slice is marked in
// the Slices list and found.
#include <QAction>
#include <QDockWidget>
#include <QFile>

#include "MainWindowTestSupport.h"
#include "overview/gui/OverviewDock.h"
#include "overview/gui/OverviewPane.h"
#include "support/Log.h"

using namespace varlow;
using namespace varlow::test;

namespace {

std::int64_t SelectedOffset(const TForm1& form) { return RowOffset(form, form.ListView1->SelectedRow()); }

// The picture packs of the sample, in file order, with their coding types.
struct TPicturePack {
  std::int64_t Offset;
  int Type;
};
std::vector<TPicturePack> PicturePacks(const std::string& path) {
  TPackIndex index;
  index.SetStream(TByteSource::OpenPlain(path, TFileStream::Mode::ReadOnly));
  index.SetRowsPerPage(kMaxPacks);
  index.RefreshPosition(0);
  std::vector<TPicturePack> pictures;
  for (int i = 0; i < index.PackCount(); ++i)
    if (index.Pack(i).StartCode[3] == 0)
      pictures.push_back({index.Pack(i).Offset, index.Pack(i).PictureHeader.picture_coding_type});
  return pictures;
}

}  // namespace

class MainWindowGoToTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;
  std::unique_ptr<TForm1> FForm;
  std::vector<std::int64_t> FPacks;

  QAction* Action(const char* name) const { return FForm->findChild<QAction*>(QString::fromLatin1(name)); }

 private slots:
  void initTestCase() {
    UsePrivateSettings(FSettingsDir);
    FPacks = AllPackOffsets(SampleStream());
    QVERIFY(FPacks.size() > 40);
  }

  void init() {
    FForm = ShowForm();
    QVERIFY(FForm);
    FForm->OpenFile(FileOf(SampleStream()));
  }

  void cleanup() { FForm.reset(); }

  void menuItemsAndShortcuts() {
    QVERIFY(Action("GoTo1"));
    QCOMPARE(Action("GoTo1")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_G));
    QCOMPARE(Action("FindNextIPicture1")->shortcut(), QKeySequence(Qt::Key_F3));
    QVERIFY(Action("FindNextStartCode1"));
    QVERIFY(Action("FindNextDamagedSlice1"));
    QVERIFY(Action("ViewOverview1")->shortcut() != Action("GoTo1")->shortcut());
  }

  void goToAnOffsetSelectsThePackThere() {
    // An offset inside a pack far beyond the first page, in hexadecimal and in decimal.
    const std::int64_t pack = FPacks.at(FPacks.size() / 2);
    QVERIFY(FForm->GoTo(QStringLiteral("$%1").arg(pack + 5, 0, 16)));
    QCOMPARE(SelectedOffset(*FForm), pack);
    QVERIFY(FForm->Memo1->textCursor().hasSelection());  // the byte gone to
    QVERIFY(FForm->GoTo(QString::number(FPacks.at(3))));
    QCOMPARE(SelectedOffset(*FForm), FPacks.at(3));
    QVERIFY(FForm->GoTo(QStringLiteral("0x%1").arg(FPacks.back(), 0, 16)));
    QCOMPARE(SelectedOffset(*FForm), FPacks.back());

    TMessageCapture messages;
    QVERIFY(!FForm->GoTo(QStringLiteral("0x%1").arg(QFileInfo(FileOf(SampleStream())).size(), 0, 16)));
    QVERIFY(!FForm->GoTo(QStringLiteral("nowhere")));
    QCOMPARE(messages.Messages.size(), 2);
    QVERIFY(messages.Messages.at(0).contains(QStringLiteral("past the end")));
    QCOMPARE(SelectedOffset(*FForm), FPacks.back());  // nothing moved
  }

  void findNextIPictureMovesToTheNextIPicture() {
    std::vector<std::int64_t> intra;
    for (const TPicturePack& p : PicturePacks(SampleStream()))
      if (p.Type == 1) intra.push_back(p.Offset);
    QVERIFY(intra.size() >= 3);
    QVERIFY(SelectedOffset(*FForm) < intra[0]);
    for (std::size_t i = 0; i < 3; ++i) {
      Action("FindNextIPicture1")->trigger();
      QCOMPARE(SelectedOffset(*FForm), intra[i]);
      QCOMPARE(FForm->Index().Pack(FForm->ListView1->SelectedRow()).PictureHeader.picture_coding_type, 1);
    }
    // After the last I picture there is none: the selection stays and the window says so.
    QVERIFY(FForm->GoTo(QString::number(intra.back())));
    TMessageCapture messages;
    QVERIFY(!FForm->FindNext({TFindTarget::Kind::IPicture, 0}));
    QCOMPARE(SelectedOffset(*FForm), intra.back());
    QCOMPARE(messages.Messages.size(), 1);
  }

  void findNextStartCodeSelectsThePackHoldingIt() {
    // The next group header after the first row: an indexed code, its own pack.
    std::int64_t group = -1;
    for (const std::int64_t offset : FPacks) {
      QFile file(FileOf(SampleStream()));
      QVERIFY(file.open(QIODevice::ReadOnly));
      file.seek(offset + 3);
      if (offset > FPacks[0] && file.read(1).at(0) == char(0xB8)) {
        group = offset;
        break;
      }
    }
    QVERIFY(group > 0);
    QVERIFY(FForm->FindNext({TFindTarget::Kind::StartCode, 0xB8}));
    QCOMPARE(SelectedOffset(*FForm), group);
    // A slice start code lies inside a picture pack: that pack is selected with the slice chosen.
    QVERIFY(FForm->FindNext({TFindTarget::Kind::StartCode, 0x01}));
    QCOMPARE(FForm->Index().Pack(FForm->ListView1->SelectedRow()).StartCode[3], std::uint8_t{0});
    QCOMPARE(FForm->lbSlices->SelectedRow(), 0);
    // Again: it goes on after the slice found, to the next picture's first slice.
    const std::int64_t first = SelectedOffset(*FForm);
    QVERIFY(FForm->FindNext({TFindTarget::Kind::StartCode, 0x01}));
    QVERIFY(SelectedOffset(*FForm) > first);
    QCOMPARE(FForm->lbSlices->SelectedRow(), 0);
  }

  void goToPictureUsesTheFinishedOverview() {
    const std::vector<TPicturePack> pictures = PicturePacks(SampleStream());
    QVERIFY(pictures.size() > 5);
    {
      TMessageCapture messages;
      QVERIFY(!FForm->GoTo(QStringLiteral("#5")));  // no scan yet: the overview is started
      QCOMPARE(messages.Messages.size(), 1);
      QVERIFY(messages.Messages.at(0).contains(QStringLiteral("overview")));
    }
    QVERIFY(FForm->OverviewDock()->isVisible());
    TOverviewPane* pane = OverviewPaneOf(FForm->OverviewDock());
    QTRY_VERIFY_WITH_TIMEOUT(pane->FileName() == FForm->FileName() && !pane->Busy(), 30000);
    QVERIFY(FForm->GoTo(QStringLiteral("#5")));
    QCOMPARE(SelectedOffset(*FForm), pictures[5].Offset);
    QVERIFY(FForm->GoTo(QStringLiteral("0s")));
    QCOMPARE(SelectedOffset(*FForm), pictures[0].Offset);
    TMessageCapture messages;
    QVERIFY(!FForm->GoTo(QStringLiteral("#999999")));
    QCOMPARE(messages.Messages.size(), 1);
  }

  void damagedSliceIsMarkedAndFound() {
    // The sample with ones over the middle of the third slice of a picture half way in.
    QByteArray bytes;
    {
      QFile file(FileOf(SampleStream()));
      QVERIFY(file.open(QIODevice::ReadOnly));
      bytes = file.readAll();
    }
    const std::vector<TPicturePack> pictures = PicturePacks(SampleStream());
    const std::int64_t picture = pictures.at(pictures.size() / 2).Offset;
    int slices = 0;
    qsizetype slice = -1;
    for (qsizetype i = picture + 4; i + 3 < bytes.size() && slice < 0; ++i)
      if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && quint8(bytes[i + 3]) >= 1 &&
          quint8(bytes[i + 3]) <= 0xAF && ++slices == 3)
        slice = i;
    QVERIFY(slice > 0);
    for (qsizetype i = slice + 6; i < slice + 30; ++i) bytes[i] = char(0xFF);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("damaged.m2v"));
    {
      QFile out(path);
      QVERIFY(out.open(QIODevice::WriteOnly));
      out.write(bytes);
    }
    ScopedLogCapture quiet;
    FForm->OpenFile(path);
    QVERIFY(FForm->FindNext({TFindTarget::Kind::DamagedSlice, 0}));
    QCOMPARE(SelectedOffset(*FForm), picture);
    QCOMPARE(FForm->lbSlices->SelectedRow(), 2);
    QListWidgetItem* item = FForm->lbSlices->item(2);
    QVERIFY(item->data(kDamagedSliceRole).toBool());
    QCOMPARE(item->foreground().color(), QColor(Qt::red));
    QVERIFY(!FForm->lbSlices->item(0)->data(kDamagedSliceRole).toBool());
    QVERIFY(FForm->tvSliceDetails->topLevelItemCount() > 0);
    // No other slice is damaged: the next search finds nothing and leaves the selection.
    TMessageCapture messages;
    QVERIFY(!FForm->FindNext({TFindTarget::Kind::DamagedSlice, 0}));
    QCOMPARE(SelectedOffset(*FForm), picture);
  }
};

QTEST_MAIN(MainWindowGoToTest)
#include "main_window_goto_test.moc"

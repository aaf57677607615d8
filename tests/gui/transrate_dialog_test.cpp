// Tools > Transrate driven end to end: the bit-rate dialog, the save dialog (answered through
// its hook), the progress window with its Cancel, and what the user is told at the end.
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <random>

#include "MainWindowTestSupport.h"
#include "support/gui/MessageBox.h"
#include "support/gui/SpinEdit64.h"
#include "transrate/gui/OutputFileDialog.h"
#include "transrate/gui/TransrateForm.h"
#include "transrate/gui/TransrateProgressForm.h"

using namespace varlow;
using namespace varlow::test;

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);  // truncates in place: the same file (inode) with new content
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// ffmpeg decodes the file without a single error.
bool FfmpegDecodesCleanly(const QString& path) {
  const QString command = QStringLiteral("out=$(ffmpeg -nostdin -v error -xerror -err_detect +explode -i '%1' -f null - "
                                         "2>&1) && test -z \"$out\"")
                              .arg(path);
  return std::system(command.toLocal8Bit().constData()) == 0;
}

// Calls `act` with the show event of every window of type T (before the window's own handler).
template <class T>
class TShowWatcher final : public QObject {
 public:
  explicit TShowWatcher(std::function<void(T*)> act) : FAct(std::move(act)) { qApp->installEventFilter(this); }
  ~TShowWatcher() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show)
      if (auto* window = qobject_cast<T*>(watched)) FAct(window);
    return false;
  }

 private:
  std::function<void(T*)> FAct;
};

}  // namespace

class TransrateDialogTest : public QObject {
  Q_OBJECT

  QTemporaryDir FSettingsDir;
  std::unique_ptr<QTemporaryDir> FFolder;  // fresh for each test
  std::unique_ptr<TForm1> FForm;
  std::unique_ptr<TMessageCapture> FMessages;
  QList<QPointer<QTimer>> FTimers;
  int FSaveDialogs = 0;
  QString FAnswer;  // what the save dialog answers ("" = Cancel)

  // Acts on the first modal window of type T that comes up in the next ten seconds.
  template <class T>
  void OnModal(std::function<void(T*)> act) {
    auto* timer = new QTimer(this);
    auto deadline = std::make_shared<QDeadlineTimer>(10'000);
    connect(timer, &QTimer::timeout, this, [timer, act, deadline] {
      if (auto* window = qobject_cast<T*>(QApplication::activeModalWidget())) {
        timer->stop();
        act(window);
      } else if (deadline->hasExpired()) {
        timer->stop();
      }
    });
    timer->start(5);
    FTimers << timer;
  }
  // The bit-rate dialog closes with OK at `bitrate` and `method`.
  void AnswerBitrate(qint64 bitrate, TTransrateMethod method = TTransrateMethod::Requant) {
    OnModal<TTransrateFrm>([bitrate, method](TTransrateFrm* form) {
      form->SpinEdit641->SetValue(bitrate);
      form->SetMethod(method);
      QTest::mouseClick(form->BitBtn1, Qt::LeftButton);
    });
  }
  QString Copy(const QString& from, const QString& name) {
    const QString path = FFolder->filePath(name);
    QFile::remove(path);
    return QFile::copy(from, path) ? path : QString();
  }
  // Entries of the test folder besides the given ones: a left temporary file shows here.
  QStringList Others(const QStringList& known) {
    QStringList found = QDir(FFolder->path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : known) found.removeAll(name);
    return found;
  }
  QString LastMessage() const { return FMessages->Messages.isEmpty() ? QString() : FMessages->Messages.last(); }

 private slots:
  void initTestCase() {
    UsePrivateSettings(FSettingsDir);
    SetOutputFileDialogHook([this](const QString& suggested) {
      ++FSaveDialogs;
      // The suggestion lies beside the input, under a name of its own.
      if (!suggested.endsWith(QStringLiteral("_transrated.m2v"))) qWarning("suggested %s", qPrintable(suggested));
      return FAnswer;
    });
  }
  void cleanupTestCase() { SetOutputFileDialogHook({}); }
  void init() {
    FFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(FFolder->isValid());
    FForm = ShowForm();
    QVERIFY(FForm);
    FMessages = std::make_unique<TMessageCapture>();
    FSaveDialogs = 0;
    FAnswer.clear();
  }
  void cleanup() {
    for (const auto& timer : FTimers) delete timer.data();
    FTimers.clear();
    FMessages.reset();
    FForm.reset();
    FFolder.reset();
  }

  void dialogStartsAtItsDefaultsAndKeepsItsLimits() {
    TTransrateFrm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Transrate"));
    QCOMPARE(form.Label1->text(), QStringLiteral("Output Max Bitrate"));
    QCOMPARE(form.Label2->text(), QStringLiteral("bits/sec"));
    QCOMPARE(form.SpinEdit641->Value(), qint64{5'000'000});
    QCOMPARE(form.SpinEdit641->MinValue(), qint64{100'000});
    QCOMPARE(form.SpinEdit641->MaxValue(), qint64{50'000'000});
    QCOMPARE(form.Method(), TTransrateMethod::Requant);
    form.SpinEdit641->SetValue(60'000'000);
    QVERIFY(form.SpinEdit641->Value() <= 50'000'000);

    // OK hands over the rate and method; Cancel leaves both as they were.
    std::int32_t bitrate = 0;
    TTransrateMethod method = TTransrateMethod::Requant;
    AnswerBitrate(1'500'000, TTransrateMethod::Cut);
    QVERIFY(GetOutputMaxBitrate(bitrate, method));
    QCOMPARE(bitrate, 1'500'000);
    QCOMPARE(method, TTransrateMethod::Cut);
    // What is typed is what is passed on, held to the dialog's limits.
    for (const auto& [typed, expected] : {std::pair{"2000000", 2'000'000}, std::pair{"99999999", 50'000'000}}) {
      OnModal<TTransrateFrm>([typed](TTransrateFrm* f) {
        f->SpinEdit641->selectAll();
        QTest::keyClicks(f->SpinEdit641, QString::fromLatin1(typed));
        QTest::mouseClick(f->BitBtn1, Qt::LeftButton);
      });
      QVERIFY(GetOutputMaxBitrate(bitrate, method));
      QCOMPARE(bitrate, expected);
    }
    OnModal<TTransrateFrm>([](TTransrateFrm* f) { QTest::mouseClick(f->BitBtn2, Qt::LeftButton); });
    bitrate = 1234;
    QVERIFY(!GetOutputMaxBitrate(bitrate, method));
    QCOMPARE(bitrate, 1234);
    // A new dialog starts at 5,000,000 again.
    qint64 shown = 0;
    OnModal<TTransrateFrm>([&shown](TTransrateFrm* f) {
      shown = f->SpinEdit641->Value();
      f->reject();
    });
    QVERIFY(!GetOutputMaxBitrate(bitrate, method));
    QCOMPARE(shown, qint64{5'000'000});
  }

  void withoutAnOpenFileNothingIsAsked() {
    FForm->Transrater1Click();
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QCOMPARE(FSaveDialogs, 0);
    QVERIFY(FMessages->Messages.isEmpty());
  }

  void eitherCancelWritesNothing() {
    FForm->OpenFile(Copy(FileOf(SampleStream()), QStringLiteral("in.m2v")));
    const QString out = FFolder->filePath(QStringLiteral("out.m2v"));
    FAnswer = out;
    OnModal<TTransrateFrm>([](TTransrateFrm* f) { QTest::mouseClick(f->BitBtn2, Qt::LeftButton); });
    FForm->Transrater1Click();
    QCOMPARE(FSaveDialogs, 0);  // the save dialog never came up

    FAnswer.clear();  // the save dialog is cancelled
    AnswerBitrate(1'500'000);
    FForm->Transrater1Click();
    QCOMPARE(FSaveDialogs, 1);
    QVERIFY(!QFile::exists(out));
    QVERIFY(FMessages->Messages.isEmpty());
    QCOMPARE(Others({QStringLiteral("in.m2v")}), QStringList());
  }

  void aRunToTheEndWritesADecodableFileAndTellsTheFigures() {
    const QString source = QFile::exists(FileOf(OwnStream("i420_interlaced.m2v"))) ? FileOf(OwnStream("i420_interlaced.m2v"))
                                                                                   : FileOf(SampleStream());
    const QString in = Copy(source, QStringLiteral("in.m2v"));
    FForm->OpenFile(in);
    const QString out = FFolder->filePath(QStringLiteral("out.m2v"));
    QVERIFY(WriteAll(out, "old"));  // replaced: the save dialog has already asked the user
    FAnswer = out;
    AnswerBitrate(1'500'000);
    int reports = 0;
    TShowWatcher<TTransrateProgressFrm> watcher([&reports](TTransrateProgressFrm* progress) {
      connect(progress, &TTransrateProgressFrm::ProgressShown, progress, [&reports] { ++reports; });
    });
    FForm->Transrater1Click();
    QVERIFY(reports >= 2);
    QVERIFY2(LastMessage().startsWith(QStringLiteral("Transrate finished")), qPrintable(LastMessage()));
    const QByteArray written = ReadAll(out);
    QVERIFY(written.size() > 0);
    QVERIFY(written.size() < ReadAll(in).size());
    const QLocale locale;
    QVERIFY2(LastMessage().contains(locale.toString(static_cast<qlonglong>(written.size())) + QStringLiteral(" bytes")),
             qPrintable(LastMessage()));
    QVERIFY(LastMessage().contains(QStringLiteral("Groups of pictures over their budget: ")));
    QVERIFY(FfmpegDecodesCleanly(out));
    QCOMPARE(Others({QStringLiteral("in.m2v"), QStringLiteral("out.m2v")}), QStringList());
  }

  // The dialog's other two aims: a size typed with a suffix and a share of the input; a size
  // the run cannot meet ends under a warning that says why; a rate typed below the range is
  // raised to it, and the user is told.
  void aSizeOrAShareIsAimedAtAndAMissIsAWarning() {
    const QString in = Copy(FileOf(OwnStream("i420_interlaced.m2v")), QStringLiteral("in.m2v"));
    const qint64 inSize = ReadAll(in).size();
    FForm->OpenFile(in);
    QList<TMessageLevel> levels;
    SetLevelledMessageHook([this, &levels](const QString& text, TMessageLevel level) {
      FMessages->Messages << text;
      levels << level;
    });
    struct TUnhook {
      ~TUnhook() { SetLevelledMessageHook({}); }
    } unhook;
    const auto aim = [this](TTransrateFrm::TTarget target, const QString& size, double percent) {
      OnModal<TTransrateFrm>([=](TTransrateFrm* form) {
        if (target == TTransrateFrm::TTarget::Size) {
          form->edSize->setFocus();
          QTest::keyClicks(form->edSize, size);
        } else {
          form->seRatio->setValue(percent);
        }
        QCOMPARE(form->Target(), target);
        QTest::mouseClick(form->BitBtn1, Qt::LeftButton);
      });
    };
    const QString out = FFolder->filePath(QStringLiteral("out.m2v"));
    FAnswer = out;
    aim(TTransrateFrm::TTarget::Size, QStringLiteral("200k"), 0);
    FForm->Transrater1Click();
    QVERIFY(ReadAll(out).size() <= 200'000);
    QVERIFY(ReadAll(out).size() >= 196'000);
    QVERIFY2(LastMessage().contains(QStringLiteral("size asked 200,000 bytes")), qPrintable(LastMessage()));
    QCOMPARE(levels.last(), TMessageLevel::Information);

    aim(TTransrateFrm::TTarget::Ratio, QString(), 40);
    FForm->Transrater1Click();
    QVERIFY(ReadAll(out).size() <= inSize * 2 / 5 + 1);
    QCOMPARE(levels.last(), TMessageLevel::Information);

    aim(TTransrateFrm::TTarget::Size, QStringLiteral("3k"), 0);
    FForm->Transrater1Click();
    QVERIFY2(LastMessage().contains(QStringLiteral("over the size asked")), qPrintable(LastMessage()));
    QCOMPARE(levels.last(), TMessageLevel::Warning);
    QVERIFY(FfmpegDecodesCleanly(out));

    // A size that reads as none keeps the dialog open with the reason; Cancel then leaves it.
    OnModal<TTransrateFrm>([this](TTransrateFrm* form) {
      form->edSize->setFocus();
      QTest::keyClicks(form->edSize, QStringLiteral("lots"));
      QTest::mouseClick(form->BitBtn1, Qt::LeftButton);
      QVERIFY(form->isVisible());
      QVERIFY2(LastMessage().contains(QStringLiteral("is not a size")), qPrintable(LastMessage()));
      QTest::mouseClick(form->BitBtn2, Qt::LeftButton);
    });
    TTransrateOptions options;
    QVERIFY(!GetTransrateTarget(options));

    OnModal<TTransrateFrm>([](TTransrateFrm* form) {
      form->SpinEdit641->selectAll();
      QTest::keyClicks(form->SpinEdit641, QStringLiteral("5000"));
      QTest::mouseClick(form->BitBtn1, Qt::LeftButton);
    });
    QVERIFY(GetTransrateTarget(options));
    QCOMPARE(options.Bitrate, 100'000);
    QCOMPARE(options.SizeBytes, std::int64_t{0});
    QVERIFY2(LastMessage().contains(QStringLiteral("raised to 100,000 bit/s")), qPrintable(LastMessage()));
  }

  void cancelInTheMiddleLeavesNoFileAndTheOldOneAsItWas() {
    // Over five blocks of input, so the run is cancelled with most of it unread.
    QByteArray big;
    const QByteArray sample = ReadAll(FileOf(SampleStream()));
    while (big.size() < 10 * 1024 * 1024) big += sample;
    const QString in = FFolder->filePath(QStringLiteral("big.m2v"));
    QVERIFY(WriteAll(in, big));
    FForm->OpenFile(in);
    for (const QString& name : {QStringLiteral("fresh.m2v"), QStringLiteral("kept.m2v")}) {
      const QString out = FFolder->filePath(name);
      if (name == QStringLiteral("kept.m2v")) QVERIFY(WriteAll(out, "keep me"));
      FAnswer = out;
      AnswerBitrate(1'500'000, TTransrateMethod::Cut);
      double shareAtCancel = -1;
      TShowWatcher<TTransrateProgressFrm> watcher([&shareAtCancel](TTransrateProgressFrm* progress) {
        connect(progress, &TTransrateProgressFrm::ProgressShown, progress,
                [progress, &shareAtCancel](const TTransrateProgress& p) {
                  if (shareAtCancel >= 0 || p.InputRead == 0) return;
                  shareAtCancel = p.Share();
                  QTest::mouseClick(progress->bbtnCancel, Qt::LeftButton);
                  QVERIFY(!progress->bbtnCancel->isEnabled());
                });
      });
      FForm->Transrater1Click();
      QVERIFY(shareAtCancel > 0 && shareAtCancel < 0.5);
      QVERIFY2(LastMessage().startsWith(QStringLiteral("Transrate cancelled")), qPrintable(LastMessage()));
      if (name == QStringLiteral("kept.m2v")) {
        QCOMPARE(ReadAll(out), QByteArray("keep me"));
        QVERIFY(LastMessage().contains(QStringLiteral("was left as it was")));
      } else {
        QVERIFY(!QFile::exists(out));
      }
    }
    QCOMPARE(Others({QStringLiteral("big.m2v"), QStringLiteral("kept.m2v")}), QStringList());
  }

  void theOpenFileIsNeverItsOwnOutput() {
    const QString in = Copy(FileOf(SampleStream()), QStringLiteral("in.m2v"));
    const QByteArray original = ReadAll(in);
    FForm->OpenFile(in);
    QVERIFY(QFile::link(in, FFolder->filePath(QStringLiteral("link.m2v"))));
    for (const QString& answer : {in, FFolder->filePath(QStringLiteral("link.m2v"))}) {
      FMessages->Messages.clear();
      FAnswer = answer;
      AnswerBitrate(1'500'000);
      FForm->Transrater1Click();
      QCOMPARE(FMessages->Messages.size(), 1);
      QVERIFY2(LastMessage().contains(QStringLiteral("cannot be its own output")), qPrintable(LastMessage()));
    }
    QCOMPARE(ReadAll(in), original);
    QCOMPARE(Others({QStringLiteral("in.m2v"), QStringLiteral("link.m2v")}), QStringList());
  }

  // The open file turns into something else on disk (random bytes, nothing): a clear message,
  // and no file written or destroyed; a program stream there transrates as one.
  void inputsWithoutAStreamFailWithAMessage() {
    std::mt19937 random(11);
    QByteArray noise(3 * 1024 * 1024, Qt::Uninitialized);
    for (char& c : noise) c = static_cast<char>(random());
    QList<QByteArray> contents = {noise, QByteArray()};
    const QByteArray program = ReadAll(FileOf(SharedStream("negative/gen2brain_test.mpg")));
    const QString in = Copy(FileOf(SampleStream()), QStringLiteral("in.m2v"));
    const QString out = FFolder->filePath(QStringLiteral("out.m2v"));
    FForm->OpenFile(in);
    QVERIFY(FForm->Index().Stream() != nullptr);
    for (const QByteArray& content : contents) {
      QVERIFY(WriteAll(in, content));
      QVERIFY(WriteAll(out, "keep me"));
      FAnswer = out;
      AnswerBitrate(1'500'000);
      FForm->Transrater1Click();
      QVERIFY2(LastMessage().startsWith(QStringLiteral("Transrate failed: ")), qPrintable(LastMessage()));
      QVERIFY(LastMessage().contains(QStringLiteral("was left as it was")));
      QCOMPARE(ReadAll(out), QByteArray("keep me"));
      QVERIFY(QFile::remove(out));
      AnswerBitrate(1'500'000);
      FForm->Transrater1Click();
      QVERIFY2(LastMessage().startsWith(QStringLiteral("Transrate failed: ")), qPrintable(LastMessage()));
      QVERIFY(!QFile::exists(out));
      QCOMPARE(Others({QStringLiteral("in.m2v")}), QStringList());
    }
    // A program stream put in its place is no failure any more: it comes out as a program stream.
    if (!program.isEmpty()) {
      QVERIFY(WriteAll(in, program));
      FAnswer = out;
      AnswerBitrate(1'500'000);
      FForm->Transrater1Click();
      QVERIFY2(LastMessage().startsWith(QStringLiteral("Transrate finished: ")), qPrintable(LastMessage()));
      QVERIFY(LastMessage().contains(QStringLiteral("Other streams: ")));
      QCOMPARE(ReadAll(out), program);  // its video already meets the rate: byte for byte
    }
  }
};

QTEST_MAIN(TransrateDialogTest)
#include "transrate_dialog_test.moc"

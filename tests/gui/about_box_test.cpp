// The About box: the version line read from an executable's version block, the design text and
// one log line when there is none, and Help > About opening it over the main window.
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "MainWindowTestSupport.h"
#include "VersionTestFiles.h"
#include "support/Log.h"
#include "support/VersionInfo.h"
#include "support/gui/About.h"

using namespace varlow;
using namespace varlow::test;

namespace {

// Runs `check` on the modal window as soon as it is up, then closes it with its button.
void OnModal(std::function<void(TForm3*)> check, bool* seen) {
  QTimer::singleShot(0, [check, seen] {
    QTRY_VERIFY(qobject_cast<TForm3*>(QApplication::activeModalWidget()) != nullptr);
    auto* form = qobject_cast<TForm3*>(QApplication::activeModalWidget());
    check(form);
    *seen = true;
    QTest::mouseClick(form->btnClose, Qt::LeftButton);
  });
}

}  // namespace

class AboutBoxTest : public QObject {
  Q_OBJECT

  QTemporaryDir FDir;

 private slots:
  void initTestCase() {
    QVERIFY(FDir.isValid());
    UsePrivateSettings(FDir);
  }

  void showsTheVersionLineOfTheFile() {
    const QString path = FDir.filePath(QStringLiteral("versioned"));
    WriteFile(path.toStdString(), ElfWithSection(".varlow.version", VersionBlockBytes(3, 4, 5, 6)));
    ScopedLogCapture log;
    TForm3 form(nullptr, path);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.lbVer->text(), QStringLiteral("Version 3.4.5 (build 6)"));
    QVERIFY(form.lbVer->width() >= form.lbVer->sizeHint().width());  // never clipped
    QVERIFY(log.Lines().empty());

    WriteFile(path.toStdString(), ElfWithSection(".varlow.version", VersionBlockBytes(2, 0, 0, 7)));
    form.hide();
    form.show();
    QCOMPARE(form.lbVer->text(), QStringLiteral("Version 2.0 (build 7)"));
  }

  void withoutAVersionBlockKeepsTheDesignTextAndLogsOnce() {
    ScopedLogCapture log;
    TForm3 form;  // the running test program carries no version block
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.lbVer->text(), QStringLiteral("Version 1.1.2 (build 4)"));
    QCOMPARE(log.Lines().size(), std::size_t{1});
    QCOMPARE(log.Count("wex: Error in TForm3.FormShow call..."), 1);

    const QString broken = FDir.filePath(QStringLiteral("no-translation"));
    WriteFile(broken.toStdString(), ElfWithSection(".varlow.version", VersionBlockBytes(1, 2, 3, 4, true, false)));
    log.Clear();
    TForm3 other(nullptr, broken);
    other.show();
    QCOMPARE(other.lbVer->text(), QStringLiteral("Version 1.1.2 (build 4)"));
    QCOMPARE(log.Count("wex: Error in TForm3.FormShow call..."), 1);
  }

  void theBuiltProgramShowsItsProjectVersion() {
    const QString program = QStringLiteral(QT_TESTCASE_BUILDDIR "/../src/varlow");
    if (!QFileInfo::exists(program)) QSKIP("the varlow program is not built in this tree");
    TForm3 form(nullptr, program);
    form.show();
    QCOMPARE(form.lbVer->text(), QString::fromStdString(VersionLine(VARLOW_VERSION_MAJOR, VARLOW_VERSION_MINOR,
                                                                    VARLOW_VERSION_PATCH, VARLOW_VERSION_TWEAK)));
  }

  void layoutAndCloseButton() {
    TForm3 form;
    QCOMPARE(form.windowTitle(), QStringLiteral("About"));
    QCOMPARE(form.size(), QSize(297, 179));
    QCOMPARE(form.minimumSize(), form.maximumSize());  // fixed border
    QCOMPARE(form.btnClose->text(), QStringLiteral("Close"));
    QCOMPARE(form.btnClose->geometry(), QRect(112, 144, 75, 25));
    QCOMPARE(form.lbVer->pos(), QPoint(74, 88));
    QVERIFY(form.lbVer->font().bold());
    bool closed = false;
    QTimer::singleShot(0, [&] {
      QTRY_VERIFY(form.isVisible());
      QTest::keyClick(&form, Qt::Key_Return);  // Close is the default button
      closed = true;
    });
    QCOMPARE(form.exec(), int(QDialog::Accepted));
    QVERIFY(closed);
  }

  void helpAboutOpensTheBoxCentredOnTheMainWindowAndFreesIt() {
    auto main = ShowForm();
    QVERIFY(main);
    main->setGeometry(60, 60, 600, 420);  // inside the screen, so nothing pushes the box aside
    ScopedLogCapture log;
    bool seen = false;
    OnModal(
        [&](TForm3* form) {
          QCOMPARE(form->parentWidget(), main.get());
          const QPoint offset = form->frameGeometry().center() - main->frameGeometry().center();
          QVERIFY2(offset.manhattanLength() < 40, "the box is centred on the main window");
          QCOMPARE(form->lbVer->text(), QStringLiteral("Version 1.1.2 (build 4)"));
        },
        &seen);
    main->findChild<QAction*>(QStringLiteral("About1"))->trigger();
    QVERIFY(seen);
    QVERIFY(main->findChildren<TForm3*>().isEmpty());  // destroyed after use
    QCOMPARE(log.Count("wex: Error in TForm3.FormShow call..."), 1);
    QCOMPARE(log.Count("wex: Error in ShowAbout call..."), 0);
  }
};

QTEST_MAIN(AboutBoxTest)
#include "about_box_test.moc"

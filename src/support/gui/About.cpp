#include "support/gui/About.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>

#include "support/Trap.h"
#include "support/VersionInfo.h"
#include "support/gui/EmbeddedResources.h"

namespace varlow {

TForm3::TForm3(QWidget* parent, const QString& executablePath) : QDialog(parent), FExecutablePath(executablePath) {
  setObjectName(QStringLiteral("Form3"));
  setWindowTitle(QStringLiteral("About"));
  setFixedSize(297, 179);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  btnClose = new QPushButton(QStringLiteral("Close"), this);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  btnClose->setGeometry(112, 144, 75, 25);
  btnClose->setDefault(true);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("imgIcon"));
  icon->setPixmap(
      LoadBitmapResource(QStringLiteral("VarlowIcon")).scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  icon->setGeometry(74, 24, 48, 48);

  auto* product = new QLabel(QStringLiteral("Varlow"), this);
  product->setObjectName(QStringLiteral("lbProduct"));
  QFont productFont = product->font();
  productFont.setBold(true);
  productFont.setPointSize(14);
  product->setFont(productFont);
  product->move(132, 34);
  product->adjustSize();

  lbVer = new QLabel(QString::fromLatin1(kDesignVersionText), this);
  lbVer->setObjectName(QStringLiteral("lbVer"));
  QFont versionFont = lbVer->font();
  versionFont.setBold(true);
  versionFont.setPointSize(10);
  lbVer->setFont(versionFont);
  lbVer->setGeometry(74, 88, 150, 17);
  lbVer->adjustSize();  // the label grows with its text

  btnClose->setFocus();
}

void TForm3::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

// The version line of the executable; when the file has no readable version block the label
// keeps its design text and the failure goes to the log.
void TForm3::FormShow() {
  Trap("TForm3.FormShow", [&] {
    const std::string path =
        FExecutablePath.isEmpty() ? ExecutablePath() : QFile::encodeName(FExecutablePath).toStdString();
    TVersionInfo info(path);
    lbVer->setText(QString::fromStdString(info.VersionText()));
    lbVer->adjustSize();
  });
}

void ShowAbout(QWidget* parent) {
  Trap("ShowAbout", [&] {
    TForm3 form(parent);
    form.exec();
  });
}

}  // namespace varlow

#include "ui/CAboutDlg.h"

#include "ui/AppIcon.h"
#include "ui/DialogUnits.h"
#include "windowmodel/ControlIds.h"
#include "windowmodel/WindowTexts.h"

#include "ProductVersion.h"

#include <QLabel>
#include <QPushButton>

namespace fwup {

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent) {
    QFont dlgFont = font();
    dlgFont.setPointSize(9);
    setFont(dlgFont);
    setWindowTitle(QString::fromUtf8(kTextProductName));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    const DialogBaseUnits units = BaseUnitsOf(dlgFont);
    setFixedSize(DluToPixels(QRect(0, 0, 170, 62), units).size());

    auto* pIcon = new QLabel(this);
    const QRect rcIcon = DluToPixels(QRect(14, 14, 20, 20), units);
    pIcon->setGeometry(rcIcon);
    pIcon->setPixmap(MakeAppIcon().pixmap(rcIcon.size()));

    auto* pVersion = new QLabel(QString::fromUtf8(kTextAboutName), this);
    pVersion->setTextFormat(Qt::PlainText);
    pVersion->setGeometry(DluToPixels(QRect(42, 14, 114, 8), units));

    // The first line is the dialog's fixed text; the build's version goes on the second.
    auto* pSecond = new QLabel(QString::fromUtf8(AboutVersionLine(kProductVersion)), this);
    pSecond->setTextFormat(Qt::PlainText);
    pSecond->setGeometry(DluToPixels(QRect(42, 26, 114, 8), units));

    auto* pOk = new QPushButton(QString::fromUtf8(kTextOk), this);
    pOk->setObjectName(QString::number(IDOK));
    pOk->setGeometry(DluToPixels(QRect(113, 41, 50, 14), units));
    pOk->setDefault(true);
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace fwup

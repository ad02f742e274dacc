#include "CModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>

namespace fwtest {

CModalAnswerer::CModalAnswerer() {
    connect(&m_timer, &QTimer::timeout, this, &CModalAnswerer::Poll);
    m_timer.start(20);
}

int CModalAnswerer::Count(const QString& strText) const {
    int n = 0;
    for (const SeenDialog& seen : m_seen) {
        n += seen.strText == strText ? 1 : 0;
    }
    return n;
}

int CModalAnswerer::Messages() const {
    int n = 0;
    for (const SeenDialog& seen : m_seen) {
        n += seen.strKind == QStringLiteral("message") ? 1 : 0;
    }
    return n;
}

void CModalAnswerer::Poll() {
    QWidget* pModal = QApplication::activeModalWidget();
    if (pModal == nullptr || m_bBusy || !pModal->isVisible()) {
        return;
    }
    m_bBusy = true; // a hook may spin the event loop
    SeenDialog seen;
    seen.strTitle = pModal->windowTitle();
    if (auto* pBox = qobject_cast<QMessageBox*>(pModal)) {
        seen.strKind = QStringLiteral("message");
        seen.strText = pBox->text();
        seen.eIcon = pBox->icon();
        seen.buttons = pBox->standardButtons();
        m_seen.push_back(seen);
        if (pfnBeforeClose) {
            pfnBeforeClose(seen);
        }
        if (QAbstractButton* pOk = pBox->button(QMessageBox::Ok)) {
            pOk->click();
        } else {
            pBox->reject();
        }
    } else if (auto* pFile = qobject_cast<QFileDialog*>(pModal)) {
        seen.strKind = QStringLiteral("file");
        seen.strText = pFile->nameFilters().join(QStringLiteral(";;"));
        m_seen.push_back(seen);
        if (strFileToChoose.isEmpty()) {
            pFile->reject();
        } else {
            // Typed like an operator would: selectFile() leaves a focused name
            // field alone, so the dialog would see an empty name.
            auto* pName = pFile->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (pName != nullptr) {
                pName->setText(strFileToChoose);
            } else {
                pFile->selectFile(strFileToChoose);
            }
            static_cast<QDialog*>(pFile)->accept(); // public through the base
        }
    } else if (auto* pDialog = qobject_cast<QDialog*>(pModal)) {
        seen.strKind = QStringLiteral("dialog");
        m_seen.push_back(seen);
        pDialog->accept();
    }
    m_bBusy = false;
}

} // namespace fwtest

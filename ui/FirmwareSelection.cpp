// Firmware selection: the open-file dialog, drops on the file boxes, the checks.

#include "device/FirmwareFile.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "ui/CLogBox.h"

#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace fwup {

// The path last chosen in the open-file dialog (kept across choices).
QString g_szFileName;

bool CFwUpgraderVelmoraDlg::ChooseFirmwareFile() {
    g_szFileName.clear();
    QFileDialog dialog(this);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters({QStringLiteral("Binary (*.bin)"), QStringLiteral("All (*.*)")});
    dialog.selectNameFilter(QStringLiteral("Binary (*.bin)"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    g_szFileName = dialog.selectedFiles().constFirst();
    return !g_szFileName.isEmpty();
}

std::optional<QString> CFwUpgraderVelmoraDlg::ChooseAndLoadFile() {
    std::optional<QString> result;
    if (ChooseFirmwareFile()) {
        SetFirmwareFile(g_szFileName);
        result = g_szFileName;
    }
    if (m_pSegments && IsConnected()) {
        m_pUpload->setEnabled(true);
        m_pProgress->setValue(0);
    }
    return result;
}

void CFwUpgraderVelmoraDlg::OnLoadBinaryFile() {
    if (IsWorkBusy()) {
        return; // the request belongs to the running job
    }
    if (const std::optional<QString> path = ChooseAndLoadFile()) {
        // Also when the window refused the file: the job checks it again.
        m_pRequest->strFirmwarePath = QFile::encodeName(*path).toStdString();
    }
}

bool CFwUpgraderVelmoraDlg::OnDropFiles(const QPoint& ptClient, const QStringList& paths) {
    if (paths.isEmpty()) {
        return false;
    }
    QWidget* pTarget = ControlAt(ptClient);
    if (pTarget == nullptr || (pTarget != m_pFileInfo && pTarget != m_pFilePath)) {
        return false;
    }
    if (IsWorkBusy()) {
        return false; // a running job reads the request's path
    }
    // A drop loads like the button: the file shown is the file UPLOAD sends.
    SetFirmwareFile(paths.constFirst());
    m_pRequest->strFirmwarePath = QFile::encodeName(paths.constFirst()).toStdString();
    if (m_pSegments && IsConnected()) {
        m_pUpload->setEnabled(true);
        m_pProgress->setValue(0);
    }
    return true;
}

void CFwUpgraderVelmoraDlg::SetFirmwareFile(const QString& strPath) {
    m_pFilePath->setText(strPath);
    m_pFilePath->setCursorPosition(0);
    const int32_t nSize = ShowFileInfo(strPath);
    m_strFirmwarePath = strPath;
    m_nFileSize = nSize;
    SelectArea();
    if (m_nFileSize == 0) {
        // An empty image would "succeed" without writing a byte: refuse it as missing.
        m_pSegments.reset();
        MessageBox(QStringLiteral("Firmware File Not Found"), QMessageBox::Information);
        return;
    }
    if (m_dwAreaStart == 0x8000) {
        m_dwAreaSize = static_cast<uint32_t>(m_nFileSize);
        if (m_nFileSize > kMaxFirmwareSize) {
            MessageBox(QStringLiteral("Incompatible File"), QMessageBox::Information);
            return;
        }
    } else if (m_dwAreaStart == 0) {
        m_dwAreaSize = static_cast<uint32_t>(m_nFileSize);
    }
    const ImageSegment* pSegment = ReadImageSegment(
        m_pSegments, QFile::encodeName(m_strFirmwarePath).toStdString(),
        kFlashAreaBase + m_dwAreaStart, static_cast<int32_t>(m_dwAreaSize),
        [this](const std::string& strText) {
            MessageBox(QString::fromLocal8Bit(strText.c_str()), QMessageBox::NoIcon);
        });
    if (pSegment == nullptr) {
        MessageBox(QStringLiteral("Firmware File Not Found"), QMessageBox::Information);
    }
}

} // namespace fwup

// The status callback through which every update job reports to the window.

#include "ui/CFwUpgraderVelmoraDlg.h"
#include "ui/ControlIds.h"

#include <algorithm>

namespace fwup {

void CFwUpgraderVelmoraDlg::OnStatusThunk(int nStage, UpdateStatus* pStatus, void* pContext) {
    if (pContext != nullptr && pStatus != nullptr) {
        static_cast<CFwUpgraderVelmoraDlg*>(pContext)->OnStatus(nStage, pStatus);
    }
}

void CFwUpgraderVelmoraDlg::OnStatus(int nStage, UpdateStatus* pStatus) {
    const auto Utf8 = [](const std::string& str) {
        return QString::fromLocal8Bit(str.c_str()).toUtf8();
    };
    switch (nStage) {
    case StageStart:
        m_nJobState = 2;
        break;
    case StageSuccess:
        AddLog("%s\n", Utf8(pStatus->strMessage).constData());
        m_nJobState = 0;
        break;
    case StageMessage:
        AddLog("%s\n", Utf8(pStatus->strMessage).constData());
        break;
    case StageConnecting:
        m_nJobState = 3;
        break;
    case StageUpdating: {
        m_nJobState = 4;
        const QByteArray serial = Utf8(pStatus->optSerial.value_or("unknown"));
        AddLog("updating device[%s] ...\n", serial.constData());
        SetControlText(IDC_FILE_INFO, QString());
        AppendText(IDC_FILE_INFO, QStringLiteral("file name : %1\n")
                                      .arg(QString::fromLocal8Bit(pStatus->strFileName.c_str())));
        AppendText(IDC_FILE_INFO, QStringLiteral("file size : %1\n").arg(pStatus->nFileSize));
        AppendText(IDC_FILE_INFO, QStringLiteral("file date : %1")
                                      .arg(QString::fromLocal8Bit(pStatus->strFileDate.c_str())));
        break;
    }
    case StageProgress:
        m_nJobState = 5;
        SetProgress(IDC_PROGRESS, std::clamp(pStatus->nProgress, 0, 100));
        break;
    case StageFailure:
        AddLog("%s\n", Utf8(pStatus->strMessage).constData());
        if (!pStatus->strCause.empty()) {
            AddLog("cause: %s\n", Utf8(pStatus->strCause).constData());
        }
        m_nJobState = -1;
        break;
    default:
        break; // unknown stages change nothing
    }
}

} // namespace fwup

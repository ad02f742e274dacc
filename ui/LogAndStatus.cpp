// The window's log, status line and file description.

#include "device/FirmwareFile.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "ui/ControlIds.h"
#include "ui/LogText.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include <cstdarg>

namespace fwup {

void CFwUpgraderVelmoraDlg::AppendText(int nBoxId, const QString& strText) {
    RunOnUi([&] { AppendTextUi(nBoxId, strText); });
}

void CFwUpgraderVelmoraDlg::AppendTextUi(int nBoxId, const QString& strText) {
    auto* pEdit = qobject_cast<QPlainTextEdit*>(Control(nBoxId));
    if (pEdit == nullptr || strText.isEmpty()) {
        return;
    }
    QString strNew = KeepNewest(NormalizeLineBreaks(strText), kTextBoxCapacity);
    QString& strBox = m_mapBoxText[nBoxId];
    const qsizetype nDrop = CharsToDrop(strBox, strNew.size(), kTextBoxCapacity);
    if (nDrop >= strBox.size()) {
        strBox.clear();
        pEdit->clear();
    } else if (nDrop > 0) {
        // nDrop ends right after a CR LF: exactly that many whole blocks go.
        const int nLines = static_cast<int>(QStringView(strBox).left(nDrop).count(u"\r\n"));
        strBox.remove(0, nDrop);
        QTextCursor cursor(pEdit->document());
        cursor.movePosition(QTextCursor::Start);
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, nLines);
        cursor.removeSelectedText();
    }
    strBox += strNew;
    QTextCursor cursor(pEdit->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(DisplayText(strNew));
    // Scroll the newest text into view: the last line that holds text, not the
    // empty line after a closing line break, so a box as small as the file
    // description keeps its first line in view as long as the text fits.
    if (cursor.block().length() <= 1 && cursor.block().previous().isValid()) {
        cursor.movePosition(QTextCursor::PreviousBlock);
    }
    pEdit->setTextCursor(cursor);
    pEdit->ensureCursorVisible();
}

QString CFwUpgraderVelmoraDlg::BoxText(int nBoxId) const {
    const auto it = m_mapBoxText.find(nBoxId);
    return it == m_mapBoxText.end() ? QString() : it->second;
}

void CFwUpgraderVelmoraDlg::AddLog(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const QString strText = QString::vasprintf(pszFormat, args);
    va_end(args);
    AppendText(IDC_LOG, strText);
}

void CFwUpgraderVelmoraDlg::SetStatusText(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const QString strText = QString::vasprintf(pszFormat, args);
    va_end(args);
    SetControlText(IDC_STATUS, strText);
}

int32_t CFwUpgraderVelmoraDlg::ShowFileInfo(const QString& strPath, int nBoxId) {
    FileFacts facts;
    if (!ReadFileFacts(QFile::encodeName(strPath).toStdString(), facts)) {
        return -1;
    }
    SetControlText(nBoxId, QString());
    const QString strName = QFile::decodeName(QByteArray::fromStdString(facts.strName));
    const QString strExt = QFile::decodeName(QByteArray::fromStdString(facts.strExtension));
    AppendText(nBoxId, QStringLiteral("file name : %1%2\n").arg(strName, strExt));
    AppendText(nBoxId, QStringLiteral("file size : %1\n").arg(facts.nSize));
    AppendText(nBoxId,
               QStringLiteral("file date : %1\n").arg(QString::fromStdString(facts.strDate)));
    return facts.nSize;
}

} // namespace fwup

#include "ui/CLogBox.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace fwup {

namespace {

// The text as a QPlainTextEdit shows it: CR LF becomes LF, lone CRs are left out
// (an edit control does not break a line on them either).
QString DisplayText(const QString& strText) {
    QString strOut;
    strOut.reserve(strText.size());
    for (qsizetype i = 0; i < strText.size(); ++i) {
        const QChar ch = strText.at(i);
        if (ch == u'\r') {
            if (i + 1 < strText.size() && strText.at(i + 1) == u'\n') {
                strOut += u'\n';
                ++i;
            }
            continue;
        }
        strOut += ch;
    }
    return strOut;
}

} // namespace

CLogBox::CLogBox(bool bWrap, QWidget* pParent) : QPlainTextEdit(pParent) {
    setReadOnly(true);
    setLineWrapMode(bWrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(bWrap ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
    setAcceptDrops(false);
    // A narrow margin lets the 32-unit description box show its three lines.
    document()->setDocumentMargin(2);
}

void CLogBox::Edit(qsizetype nDropFront, const QString& strAppend) {
    if (nDropFront >= m_strText.size()) {
        m_strText.clear();
        clear();
    } else if (nDropFront > 0) {
        // The front ends right after a CR LF: exactly that many whole blocks go.
        const int nLines = static_cast<int>(QStringView(m_strText).left(nDropFront).count(u"\r\n"));
        m_strText.remove(0, nDropFront);
        QTextCursor cursor(document());
        cursor.movePosition(QTextCursor::Start);
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, nLines);
        cursor.removeSelectedText();
    }
    if (strAppend.isEmpty()) {
        return;
    }
    m_strText += strAppend;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(DisplayText(strAppend));
    // The last line that holds text, not the empty line after a closing line
    // break: a box as small as the file description then keeps its first line
    // in view as long as the text fits.
    if (cursor.block().length() <= 1 && cursor.block().previous().isValid()) {
        cursor.movePosition(QTextCursor::PreviousBlock);
    }
    setTextCursor(cursor);
    ensureCursorVisible();
}

} // namespace fwup

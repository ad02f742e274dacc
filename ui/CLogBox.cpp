#include "ui/CLogBox.h"

#include "ui/LogText.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace fwup {

CLogBox::CLogBox(bool bWrap, QWidget* pParent) : QPlainTextEdit(pParent) {
    setReadOnly(true);
    setLineWrapMode(bWrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(bWrap ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
    setAcceptDrops(false);
    // A narrow margin lets the 32-unit description box show its three lines.
    document()->setDocumentMargin(2);
}

void CLogBox::SetText(const QString& strText) {
    clear();
    m_strText.clear();
    AppendText(strText);
}

void CLogBox::AppendText(const QString& strText) {
    if (strText.isEmpty()) {
        return;
    }
    const QString strNew = KeepNewest(NormalizeLineBreaks(strText), kTextBoxCapacity);
    const qsizetype nDrop = CharsToDrop(m_strText, strNew.size(), kTextBoxCapacity);
    if (nDrop >= m_strText.size()) {
        m_strText.clear();
        clear();
    } else if (nDrop > 0) {
        // nDrop ends right after a CR LF: exactly that many whole blocks go.
        const int nLines = static_cast<int>(QStringView(m_strText).left(nDrop).count(u"\r\n"));
        m_strText.remove(0, nDrop);
        QTextCursor cursor(document());
        cursor.movePosition(QTextCursor::Start);
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, nLines);
        cursor.removeSelectedText();
    }
    m_strText += strNew;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(DisplayText(strNew));
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

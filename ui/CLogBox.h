#pragma once
// CLogBox: a multi-line box the program writes and the operator only reads (the
// log 1007 and the file description 1004). It keeps its text with CR LF line
// breaks, holds at most kTextBoxCapacity characters, drops whole lines from the
// top to make room, and always shows its newest text. GUI thread only.

#include <QPlainTextEdit>
#include <QString>

namespace fwup {

class CLogBox : public QPlainTextEdit {
    Q_OBJECT
public:
    // bWrap: long lines wrap at the box's width (the log) or scroll (the description).
    CLogBox(bool bWrap, QWidget* pParent);

    // Appends strText: every line break becomes CR LF, the oldest whole lines go
    // when the capacity would be exceeded, and the caret ends on the last line
    // that holds text, which is scrolled into view.
    void AppendText(const QString& strText);
    // Replaces the whole text (empty: the box is emptied).
    void SetText(const QString& strText);
    // The box's text with CR LF line breaks.
    const QString& Text() const { return m_strText; }

private:
    QString m_strText;
};

} // namespace fwup

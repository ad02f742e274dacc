#pragma once
// CLogBox: a multi-line box the program writes and the operator only reads (the
// log 1007 and the file description 1004). The model decides what it holds
// (CR LF line breaks, whole lines dropped from the top); the box shows it, with
// its newest text in view. GUI thread only.

#include <QPlainTextEdit>
#include <QString>

namespace fwup {

class CLogBox : public QPlainTextEdit {
    Q_OBJECT
public:
    // bWrap: long lines wrap at the box's width (the log) or scroll (the description).
    CLogBox(bool bWrap, QWidget* pParent);

    // Removes nDropFront characters from the front (whole CR LF lines, or all),
    // appends strAppend and puts the caret on the last line that holds text.
    void Edit(qsizetype nDropFront, const QString& strAppend);
    // The box's text with CR LF line breaks.
    const QString& Text() const { return m_strText; }

private:
    QString m_strText;
};

} // namespace fwup

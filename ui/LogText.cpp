#include "ui/LogText.h"

namespace fwup {

QString NormalizeLineBreaks(const QString& strText) {
    QString strOut;
    strOut.reserve(strText.size() + 16);
    for (qsizetype i = 0; i < strText.size(); ++i) {
        const QChar ch = strText.at(i);
        if (ch == u'\n' && (i == 0 || strText.at(i - 1) != u'\r')) {
            strOut += u'\r';
        }
        strOut += ch;
    }
    return strOut;
}

qsizetype CharsToDrop(const QString& strBox, qsizetype nAdd, qsizetype nCapacity) {
    const qsizetype nCur = strBox.size();
    if (nCur + nAdd <= nCapacity) {
        return 0;
    }
    // Index of the last character that has to go.
    const qsizetype k = nCur + nAdd - nCapacity - 1;
    if (k >= nCur) {
        return nCur;
    }
    qsizetype nFrom = 0;
    for (;;) {
        const qsizetype p = strBox.indexOf(QStringLiteral("\r\n"), nFrom);
        if (p < 0) {
            return nCur; // k lies in the last line, which has no line break yet
        }
        if (p + 1 >= k) {
            return p + 2; // the line [nFrom, p+1] holds k
        }
        nFrom = p + 2;
    }
}

QString KeepNewest(const QString& strText, qsizetype nCapacity) {
    if (strText.size() <= nCapacity) {
        return strText;
    }
    QString strTail = strText.right(nCapacity);
    const qsizetype nCut = strText.size() - nCapacity;
    if (nCapacity > 0 && strText.at(nCut - 1) != u'\n') {
        // Cut inside a line: start at the next whole line when one is left.
        const qsizetype p = strTail.indexOf(QStringLiteral("\r\n"));
        if (p >= 0 && p + 2 < strTail.size()) {
            strTail.remove(0, p + 2);
        }
    }
    return strTail;
}

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

} // namespace fwup

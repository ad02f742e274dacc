#include "windowmodel/BoxText.h"

namespace fwup {

std::u16string NormalizeLineBreaks(const std::u16string& strText) {
    std::u16string strOut;
    strOut.reserve(strText.size() + 16);
    for (size_t i = 0; i < strText.size(); ++i) {
        const char16_t ch = strText[i];
        if (ch == u'\n' && (i == 0 || strText[i - 1] != u'\r')) {
            strOut += u'\r';
        }
        strOut += ch;
    }
    return strOut;
}

size_t CharsToDrop(const std::u16string& strBox, size_t nAdd, size_t nCapacity) {
    const size_t nCur = strBox.size();
    if (nCur + nAdd <= nCapacity) {
        return 0;
    }
    // Index of the last character that has to go.
    const size_t k = nCur + nAdd - nCapacity - 1;
    if (k >= nCur) {
        return nCur;
    }
    size_t nFrom = 0;
    for (;;) {
        const size_t p = strBox.find(u"\r\n", nFrom);
        if (p == std::u16string::npos) {
            return nCur; // k lies in the last line, which has no line break yet
        }
        if (p + 1 >= k) {
            return p + 2; // the line [nFrom, p+1] holds k
        }
        nFrom = p + 2;
    }
}

std::u16string KeepNewest(const std::u16string& strText, size_t nCapacity) {
    if (strText.size() <= nCapacity) {
        return strText;
    }
    const size_t nCut = strText.size() - nCapacity;
    std::u16string strTail = strText.substr(nCut);
    if (nCapacity > 0 && strText[nCut - 1] != u'\n') {
        // Cut inside a line: start at the next whole line when one is left.
        const size_t p = strTail.find(u"\r\n");
        if (p != std::u16string::npos && p + 2 < strTail.size()) {
            strTail.erase(0, p + 2);
        }
    }
    return strTail;
}

size_t CaretAfterAppend(const std::u16string& strBox) {
    const size_t n = strBox.size();
    if (n >= 2 && strBox.compare(n - 2, 2, u"\r\n") == 0) {
        return n - 2;
    }
    return n;
}

} // namespace fwup

#pragma once
// Pure text rules of the window's multi-line boxes (the log 1007 and the file
// description 1004). The boxes keep their text with CR LF line breaks; a box
// holds at most kTextBoxCapacity characters (line breaks count two) and drops
// whole lines from the top to make room for new text.

#include <QString>

namespace fwup {

// Characters a multi-line box holds before its oldest lines go.
inline constexpr qsizetype kTextBoxCapacity = 30000;

// Every LF not preceded by CR gets a CR in front; CR LF pairs and lone CRs stay.
QString NormalizeLineBreaks(const QString& strText);

// How many characters to remove from the front of strBox so that nAdd more fit
// into nCapacity: whole lines (with their CR LF), through the line that holds
// the last character that has to go. 0 when the text fits; strBox.size() when
// the box has to be emptied.
qsizetype CharsToDrop(const QString& strBox, qsizetype nAdd, qsizetype nCapacity);

// A single text longer than the whole capacity: its newest part, at most
// nCapacity characters, starting at a line start when the kept part holds one.
QString KeepNewest(const QString& strText, qsizetype nCapacity);

// The text as a QPlainTextEdit shows it: CR LF becomes LF, lone CRs are left out
// (an edit control does not break a line on them either).
QString DisplayText(const QString& strText);

} // namespace fwup

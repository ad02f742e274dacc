#pragma once
// Pure text rules of the window's multi-line boxes (the log and the file
// description): CR LF line breaks, at most kTextBoxCapacity characters (line
// breaks count two, UTF-16 units as an edit control counts them), whole lines
// dropped from the top to make room for new text. The UTF-8 codec behind the
// boxes' texts is serial/Utf8Text's.

#include <cstddef>
#include <string>

namespace fwup {

// Characters a multi-line box holds before its oldest lines go: an edit
// control's default text limit.
inline constexpr size_t kTextBoxCapacity = 30000;

// Every LF not preceded by CR gets a CR in front; CR LF pairs and lone CRs stay.
std::u16string NormalizeLineBreaks(const std::u16string& strText);

// How many characters to remove from the front of strBox so that nAdd more fit
// into nCapacity: whole lines (with their CR LF), through the line that holds
// the last character that has to go. 0 when the text fits; strBox.size() when
// the box has to be emptied.
size_t CharsToDrop(const std::u16string& strBox, size_t nAdd, size_t nCapacity);

// A single text longer than the whole capacity: its newest part, at most
// nCapacity characters, starting at a line start when the kept part holds one.
std::u16string KeepNewest(const std::u16string& strText, size_t nCapacity);

// Where the caret goes after text was appended to a box of strBox: the end of
// the last line that holds text, not the empty line after a closing CR LF, so
// a box as small as the file description keeps its first line in view.
size_t CaretAfterAppend(const std::u16string& strBox);

} // namespace fwup

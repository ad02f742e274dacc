#pragma once
// The product's one UTF-8 codec, and text from outside (the reader's serial
// number, version and ready text, USB product texts, process names, paths) made
// safe for output: JSON strings, terminals, log lines and the windows' boxes.
// Pure functions; every layer and both windows use these.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace fwup {
// Whether byte c starts a character: it is no continuation byte (10xxxxxx).
// Counting these counts a valid text's characters.
constexpr bool IsUtf8LeadByte(unsigned char c) {
    return (c & 0xC0) != 0x80;
}
// Appends the UTF-8 form of the code point dwCode (at most U+10FFFF).
void AppendUtf8(std::string& strOut, uint32_t dwCode);

// UTF-8 to UTF-16; each byte that does not start a valid sequence becomes U+FFFD.
std::u16string Utf16FromUtf8(const std::string& strText);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(const std::u16string& strText);

// Escapes a text for a JSON string literal (quotes not included). The result is
// always valid UTF-8 (in fact ASCII wherever the input was not valid UTF-8):
// quote, backslash and C0 controls as JSON escapes, DEL and C1 controls as
// \u007f / \u0080..\u009f, and each byte that is not part of valid UTF-8 as the
// lone surrogate \udc80..\udcff (byte 0x80..0xff), the "surrogateescape"
// convention: Python's json.loads(...).encode("utf-8", "surrogateescape") gives
// the exact bytes back.
std::string JsonEscape(const std::string& strText);
// Text for a SQL text column, which must be valid UTF-8 (PostgreSQL refuses
// anything else): each byte that is not part of valid UTF-8, each NUL, and each
// byte of a character U+EF80..U+EFFF as the character U+EF00 + the byte (NUL:
// U+EF00; 0x80..0xFF: U+EF80..U+EFFF, from the Private Use Area, as MirBSD's
// OPTU-8 does). Valid UTF-8 outside that range, as nearly all text is, is
// unchanged. BytesFromSqlText gives the exact bytes back.
std::string SqlText(const std::string& strBytes);
std::string BytesFromSqlText(const std::string& strText);
// A quoted JSON string, or null.
std::string JsonStringOrNull(const std::optional<std::string>& optText);

// For a terminal or a log line: C0 controls (LF and ESC included), DEL, C1
// controls and bytes that are not valid UTF-8 shown as \xHH, each byte of them;
// everything else unchanged. One input is always one line that moves no cursor.
std::string DisplayText(const std::string& strText);

} // namespace fwup

#pragma once
// CCommandParser: cuts the application firmware's ASCII commands out of the byte
// stream. A command starts at '~' and ends at CR LF; a '~' restarts the command,
// and bytes outside a command, control or 8-bit bytes inside one, and over-long
// commands are dropped, so binary junk (a boot loader status query, say) is
// discarded and the parser resynchronises on the next '~'.

#include <cstdint>
#include <optional>
#include <string>

namespace fwsim {

class CCommandParser {
public:
    static constexpr size_t kMaxCommand = 64; // bytes, '~' included, CR LF excluded

    // Feeds one byte; returns the command ("~rv") when it completes one.
    std::optional<std::string> Feed(uint8_t byValue);
    void Reset();

private:
    std::string m_strCommand;
    bool m_bInCommand = false;
    bool m_bSawCr = false;
};

} // namespace fwsim

#pragma once
// doctor's judgement: what the gathered facts about this user, the ports, the udev
// rule and ModemManager mean for a reader. Pure: the facts in, the findings out,
// in the order they are printed; a finding of level Block makes doctor exit 1.

#include "serial/PortAccess.h"
#include "serial/PortDiscovery.h"

#include <string>
#include <vector>

namespace fwup::cli {

inline constexpr const char* kReaderProduct = "AT91 USB to Serial Converter";
inline constexpr const char* kRuleName = "70-fwupgrader.rules";

enum class Level { Ok, Warn, Block };

// "ok", "warn" or "block".
const char* LevelName(Level e);

struct Finding {
    Level eLevel;
    std::string strText;
};

struct PortFacts {
    PortRecord entry;
    bool bReader = false;
    NodeAccess access;
    std::vector<PortHolder> holders; // others than this process and the pty's own end
    enum class MmFlag { Unknown, Ignored, Probed } eMm = MmFlag::Unknown; // udev database
};

struct Facts {
    std::string strUser;
    unsigned nUid = 0;
    std::vector<std::string> groups;     // of this process
    std::vector<std::string> lateGroups; // in the user database, not yet in this session
    std::vector<PortFacts> ports;
    std::string strRule;   // path of the installed rule, "" when none
    std::string strMasked; // path of what switches it off, "" when nothing
    bool bModemManager = false;
};

// A file mode as four octal digits ("0660").
std::string ModeText(unsigned nMode);

std::vector<Finding> Judge(const Facts& facts);

} // namespace fwup::cli

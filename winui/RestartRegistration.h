#pragma once
// The program's registration with the platform's restart manager: after a
// crash, a hang, or a reboot for an update Windows starts it again with the
// arguments it was started with. Restart only: no recovery callback, nothing
// saved (a job cut short leaves its reader in the boot loader, and the next
// update finishes it).

#include <string_view>

namespace fwup {

// The arguments of a Windows command line, without the program's name as the
// platform splits it (a leading quote runs to the next quote, otherwise the name
// ends at the first blank or tab) and without the blanks and tabs after it.
std::wstring_view ArgumentsAfterProgramName(std::wstring_view strCommandLine);

// Registers this process for restart with the arguments of its own command line
// (RegisterApplicationRestart, no restrictions). False when the platform refuses,
// for example a command line of 1024 characters or more; the program runs on
// unregistered.
bool RegisterForRestart();

} // namespace fwup

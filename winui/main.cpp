// fwupgraderVelmora.exe: the firmware updater's native window.

#include "winui/WindowProgram.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int) {
    return fwup::RunWindowProgram(hInstance, fwup::CommandLineArguments(), {});
}

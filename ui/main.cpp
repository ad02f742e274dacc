// fwupgraderVelmora: the firmware updater's window.

#include "ui/CFwUpgraderApp.h"

int main(int argc, char** argv) {
    fwup::CFwUpgraderApp app(argc, argv);
    app.InitInstance();
    return 0;
}

#include "ui/CFwUpgraderApp.h"

#include "ui/CFwUpgraderVelmoraDlg.h"

namespace fwup {

CFwUpgraderApp::CFwUpgraderApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromUtf8(kAppName));
    setApplicationVersion(QString::fromUtf8(kAppVersion));
}

bool CFwUpgraderApp::InitInstance() {
    CFwUpgraderVelmoraDlg dlg;
    dlg.exec();
    return false;
}

} // namespace fwup

#include "ui/CFwUpgraderApp.h"

#include "ui/CFwUpgraderVelmoraDlg.h"

#include "ProductVersion.h"

namespace fwup {

CFwUpgraderApp::CFwUpgraderApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromUtf8(kAppName));
    setApplicationVersion(QString::fromUtf8(kProductVersion));
}

bool CFwUpgraderApp::InitInstance(IRecordSink* pRecords) {
    CFwUpgraderVelmoraDlg dlg;
    dlg.SetRecordSink(pRecords);
    dlg.exec();
    return false;
}

} // namespace fwup

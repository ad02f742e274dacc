#include "ui/CFwUpgraderApp.h"

#include "records/CUnitRecordLog.h"
#include "ui/CFwUpgraderVelmoraDlg.h"

#include "ProductVersion.h"

namespace fwup {

CFwUpgraderApp::CFwUpgraderApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromUtf8(kAppName));
    setApplicationVersion(QString::fromUtf8(kProductVersion));
}

bool CFwUpgraderApp::InitInstance(CUnitRecordLog* pRecords) {
    CFwUpgraderVelmoraDlg dlg;
    dlg.SetRecordLog(pRecords);
    dlg.exec();
    if (pRecords != nullptr) {
        pRecords->Close(); // every record written (or spooled) while the window still logs
    }
    return false;
}

} // namespace fwup

#include "ui/CFwUpgraderApp.h"

#include "ui/CBenchWindow.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "windowmodel/WindowTexts.h"

#include "ProductVersion.h"

#include <cstdio>

namespace fwup {

CFwUpgraderApp::CFwUpgraderApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromUtf8(kTextProgramName));
    setApplicationVersion(QString::fromUtf8(kProductVersion));
}

bool CFwUpgraderApp::InitInstance(IRecordSink* pRecords, const BenchOptions& options) {
    CFwUpgraderVelmoraDlg dlg;
    dlg.SetRecordSink(pRecords);
    dlg.SetStartOptions(options);
    dlg.exec();
    return false;
}

int CFwUpgraderApp::RunBench(const BenchOptions& options, IRecordSink* pRecords) {
    CBenchWindow bench;
    bench.SetRecordSink(pRecords);
    std::string strError;
    if (!bench.Init(options, strError)) {
        std::fprintf(stderr, "fwupgraderVelmora: %s\n", strError.c_str());
        return 2;
    }
    bench.exec();
    return 0;
}

} // namespace fwup

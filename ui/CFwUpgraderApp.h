#pragma once
// The application object: runs the main window (or the bench window) modally
// and ends with it.

#include <QApplication>

#include <string>

namespace fwup {

class IRecordSink;
struct BenchOptions;

class CFwUpgraderApp : public QApplication {
    Q_OBJECT
public:
    // Sets the application name "fwupgraderVelmora", the message boxes' caption.
    CFwUpgraderApp(int& argc, char** argv);

    // Shows the main window until it ends. Always false: the application then ends.
    // pRecords (borrowed, may be null) gets a unit record for every job.
    // options: after the station profile; its store is passed on to a bench window
    // opened from the main window's menu.
    bool InitInstance(IRecordSink* pRecords, const BenchOptions& options);
    // Shows the bench window until it ends; the process's exit code (2 when the
    // options are refused, the reason on stderr).
    int RunBench(const BenchOptions& options, IRecordSink* pRecords);
};

} // namespace fwup

#pragma once
// The application object: runs the main window modally and ends with it.

#include <QApplication>

namespace fwup {

class IRecordSink;

class CFwUpgraderApp : public QApplication {
    Q_OBJECT
public:
    // Sets the application name "fwupgraderVelmora", the message boxes' caption.
    CFwUpgraderApp(int& argc, char** argv);

    // Shows the main window until it ends. Always false: the application then ends.
    // pRecords (borrowed, may be null) gets a unit record for every job.
    bool InitInstance(IRecordSink* pRecords = nullptr);
};

} // namespace fwup

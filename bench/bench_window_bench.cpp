// The bench window with 64 simulated readers paced at 115200 baud, plugged at
// once, a full 176128-byte image each, offscreen, with the product's own timings.
// The readers run in a child process, so this process is the window alone (its
// GUI thread, the loop and one thread per reader). Prints the GUI thread's largest
// delay, the window's CPU share of one core, its peak RSS, the table's repaints,
// and the whole run's wall time against one reader's (from the unit records).
// Figures only: the exit code says whether every reader passed.

#include "bench/BenchRoot.h"
#include "bench/CTickWatch.h"
#include "bench/EventLoopWait.h"
#include "bench/SimReaders.h"
#include "records/CUnitRecordLog.h"
#include "serial/PortDiscovery.h"
#include "sim/CSimDevice.h"
#include "tests/support/CSimRig.h"
#include "ui/CBenchWindow.h"
#include "ui/CFwUpgraderApp.h"
#include "ui/CSlotBoard.h"

#include <QAbstractItemView>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kImageSize = 176128;

int Readers() {
    const char* psz = std::getenv("FWUP_BENCH_READERS"); // a smaller run while trying things out
    const int n = psz != nullptr ? std::atoi(psz) : 64;
    return n > 0 && n <= 64 ? n : 64;
}

// The simulated readers, in a child forked before any thread exists; it ends when
// the pipe from the parent closes.
pid_t StartReaders(const std::string& strRoot, int nReaders, int& fdKeep) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid != 0) {
        ::close(fds[0]);
        fdKeep = fds[1];
        return pid;
    }
    ::close(fds[1]);
    std::vector<std::unique_ptr<fwsim::CSimDevice>> devices;
    if (!fwbench::StartPacedReaders(strRoot, nReaders, "SN", 7000, devices)) {
        ::_exit(1);
    }
    char c = 0;
    while (::read(fds[0], &c, 1) > 0) {
    }
    devices.clear();
    ::_exit(0);
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The largest gap between two ticks of a 10 ms timer and how much of it the GUI
// thread spent running (its own CPU time): a gap it ran through is our work; one
// it did not run in is a wait for a core on a loaded machine.
class CGapWatch {
public:
    CGapWatch() {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const double dNow = m_clock.nsecsElapsed() / 1e6;
            const double dCpu = ThreadCpuSeconds() * 1000.0;
            if (m_dLastMs > 0 && dNow - m_dLastMs > m_dGapMs) {
                m_dGapMs = dNow - m_dLastMs;
                m_dGapCpuMs = dCpu - m_dLastCpuMs;
            }
            m_dLastMs = dNow;
            m_dLastCpuMs = dCpu;
        });
        m_clock.start();
        m_timer.start(fwbench::kTickMs);
    }
    double GapMs() const { return m_dGapMs; }
    double GapCpuMs() const { return m_dGapCpuMs; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_dLastMs = 0;
    double m_dLastCpuMs = 0;
    double m_dGapMs = 0;
    double m_dGapCpuMs = 0;
};

// Counts the paint events of a widget.
class CPaintCounter : public QObject {
public:
    long nPaints = 0;
    bool eventFilter(QObject* pObject, QEvent* pEvent) override {
        if (pEvent->type() == QEvent::Paint) {
            ++nPaints;
        }
        return QObject::eventFilter(pObject, pEvent);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    const int nReaders = Readers();
    const fwtest::CSimRig rig; // the private root (FWUP_SYSROOT), removed on the way out
    const std::string& strRoot = rig.Root();
    const std::string strFile = fwbench::WriteBenchImage(strRoot, fwbench::BenchImage(kImageSize));
    const std::string strRecords = strRoot + "/records.jsonl";
    int fdReaders = -1;
    const pid_t pidReaders = StartReaders(strRoot, nReaders, fdReaders);
    if (pidReaders < 0) {
        std::perror("fork");
        return 1;
    }
    int nResult = 2;
    {
        fwup::CFwUpgraderApp app(argc, argv);
        fwup::CUnitRecordLog records;
        std::string strError;
        if (!records.Open(strRecords, strError)) {
            std::fprintf(stderr, "%s\n", strError.c_str());
            return 1;
        }
        fwup::BenchOptions options;
        options.bBench = true;
        options.strFirmwarePath = strFile;
        auto pWindow = std::make_unique<fwup::CBenchWindow>();
        pWindow->SetRecordSink(&records);
        if (!pWindow->Init(options, strError)) {
            std::fprintf(stderr, "%s\n", strError.c_str());
            return 1;
        }
        pWindow->show();
        const bool bListed = fwbench::RunUntil(
            [&] { return static_cast<int>(fwup::ScanPorts().size()) >= nReaders; }, 30000, 100);
        if (!bListed) {
            std::fprintf(stderr, "the simulated readers were not all listed\n");
            return 1;
        }
        auto* pTable = pWindow->findChild<QTableWidget*>(QStringLiteral("slots"));
        CPaintCounter paints;
        pTable->viewport()->installEventFilter(&paints);
        CPaintCounter boardPaints; // the board is the view shown; the table paints when shown
        pWindow->findChild<fwup::CSlotBoard*>(QStringLiteral("board"))
            ->installEventFilter(&boardPaints);
        const fwup::CBenchWindowModel& model = pWindow->Model();

        fwbench::CTickWatch watch;
        watch.Reset();
        CGapWatch gaps;
        QElapsedTimer clock;
        clock.start();
        const double dGuiCpu0 = ThreadCpuSeconds();
        const double dCpu0 = ProcessCpuSeconds();
        QTimer::singleShot(0, pWindow.get(), [&] {
            pWindow->findChild<QPushButton*>(QStringLiteral("start"))->click();
        });
        const bool bDone = fwbench::RunUntil(
            [&] { return model.Passed() + model.Failed() >= nReaders; }, 600000, 50);
        const double dWall = clock.elapsed() / 1000.0;
        const double dGuiCpu = ThreadCpuSeconds() - dGuiCpu0;
        const double dCpu = ProcessCpuSeconds() - dCpu0;
        const double dMaxLateMs = watch.MaxLateMs();
        const long nTicks = watch.Ticks();
        const long nPaints = paints.nPaints;
        const long nBoardPaints = boardPaints.nPaints;

        pWindow->findChild<QPushButton*>(QStringLiteral("stop"))->click();
        fwbench::RunUntil([&] { return !model.IsRunning(); }, 60000, 50);
        pWindow.reset();
        records.Close();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);

        std::vector<double> seconds = fwbench::RecordSeconds(strRecords);
        std::sort(seconds.begin(), seconds.end());
        const double dOne = seconds.empty() ? 0 : seconds[seconds.size() / 2];
        std::printf("readers                      : %d paced at 115200 baud, %d records, "
                    "%d passed, %d failed\n",
                    nReaders, static_cast<int>(seconds.size()), model.Passed(), model.Failed());
        if (!seconds.empty()) {
            std::printf("one reader's job             : %8.3f s median (%.3f .. %.3f)\n", dOne,
                        seconds.front(), seconds.back());
        }
        std::printf("whole run, Start to last unit: %8.3f s = %5.3f x one reader "
                    "(target <= 1.05)\n",
                    dWall, dOne > 0 ? dWall / dOne : 0.0);
        std::printf("GUI thread's largest delay   : %8.1f ms of a %d ms timer, %ld ticks "
                    "(target <= 50 ms)\n",
                    dMaxLateMs, fwbench::kTickMs, nTicks);
        std::printf("largest tick gap             : %8.1f ms, the GUI thread ran %.1f ms of it\n",
                    gaps.GapMs(), gaps.GapCpuMs());
        // The window's share is its GUI thread's; the reader sessions' own I/O is
        // the parallel loop's, the same as in the CLI.
        std::printf(
            "window (GUI thread) CPU/wall : %8.3f s = %5.2f %% of one core (target <= 5 %%)\n",
            dGuiCpu, 100.0 * dGuiCpu / dWall);
        std::printf("whole process CPU / wall     : %8.3f s = %5.2f %% of one core (GUI, loop, "
                    "%d reader sessions)\n",
                    dCpu, 100.0 * dCpu / dWall, nReaders);
        std::printf("window process peak RSS      : %8ld KiB (target <= 80 MB)\n", usage.ru_maxrss);
        std::printf("board repaints               : %8ld = %.1f per second\n", nBoardPaints,
                    nBoardPaints / dWall);
        std::printf("table repaints (hidden)      : %8ld = %.1f per second\n", nPaints,
                    nPaints / dWall);
        double loads[3] = {};
        if (::getloadavg(loads, 3) == 3) {
            std::printf("load average (1, 5, 15 min)  : %.2f %.2f %.2f on %ld cores\n", loads[0],
                        loads[1], loads[2], ::sysconf(_SC_NPROCESSORS_ONLN));
        }
        nResult = bDone && model.Passed() == nReaders ? 0 : 2;
    }
    ::close(fdReaders);
    int nStatus = 0;
    ::waitpid(pidReaders, &nStatus, 0);
    return nResult;
}

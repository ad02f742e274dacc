// Every fault of the simulated device on the window's path, driven as an operator
// would: choose the port, Connect, load the file with "Load Binary File", press
// UPLOAD and wait. Each row checks the log's outcome line, the time from the
// click against the deadlines of its path (its transfer measured, not bounded), the window's state
// afterwards and that the port was let go. The window runs with the product's own protocol timings,
// so every row waits real seconds.
//
// The rows are split into groups (one test function each) so that ctest can run
// the groups side by side; "testGroupN:<row>" runs a single row.

#include "CWindowRig.h"

#include "serial/CComPort.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "windowmodel/ControlIds.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QTest>

#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <vector>

using namespace fwup;
using fwsim::Personality;

namespace {

const char* const kSuccess = "FW Update Successful!\nPlease disconnect the USB cable and turn your "
                             "Tarnic's power off & on before use.";
const char* const kNotDetected = "device not detected";
const char* const kInvalidFile = "invalid firmware file";
const char* const kBootFailed = "boot loader failed. check connection";
const char* const kCommError = "Communication Error";
// What the window tells when Connect finds no answering device.
const char* const kPortWrong = "The comport is wrong or the device is off. \n";

// How the operator reaches UPLOAD in a row.
enum class Scenario {
    Upload,              // connect, load, UPLOAD
    UnplugBeforeUpload,  // connect, load, pull the cable, UPLOAD
    ConnectRefused,      // load, connect: the window refuses a device that does not answer
    RefusedAfterGoodFile // connect, load a good file, then one the window refuses, UPLOAD
};

// The waits a row's path may spend by the protocol's deadlines (the timings the
// window runs with), so the limits follow the timings and never the machine's
// speed: the transfer itself is measured (first to last move of the progress
// bar) and left out of the check.
enum class Path {
    Connect,    // the connect step: reopen (200 ms pause, 5 s) and three queries
    Detect,     // the job's detection, then refused (nothing there, a bad file)
    BootEntry,  // an application refusing "~dboot"
    BootReturn, // ... whose boot loader never answers or never comes back
    FromApp,    // a whole job from the application
    FromBoot,   // a whole job from the boot loader
    Handshake,  // a boot loader failing its handshake
    BlockFails, // a download ending at a block: one packet's wait after the last progress
};

struct Budget {
    uint32_t nBeforeMs; // click to the first progress (or to the end without progress)
    uint32_t nAfterMs;  // the last progress to the end
};

Budget BudgetOf(Path ePath, const ProtocolTimings& t) {
    const uint32_t nDetect = t.nDetectOpenMs + 4 * t.nCommandMs; // status twice, ~rv, ~rS
    const uint32_t nEntry = nDetect + t.nReadyMs + t.nCommandMs; // the ready line, ~dboot
    const uint32_t nReturn = nEntry + t.nBootPauseMs + t.nBootReturnMs + 2 * t.nCommandMs;
    const uint32_t nFinish = t.nPacketMs + t.nGoneAfterMs;
    switch (ePath) {
    case Path::Connect:
        return {200 + 5000 + 3 * t.nCommandMs, 0};
    case Path::Detect:
        return {nDetect, 0};
    case Path::BootEntry:
        return {nEntry, 0};
    case Path::BootReturn:
        return {nReturn, 0};
    case Path::FromApp:
        return {nReturn + t.nHandshakeMs, nFinish};
    case Path::FromBoot:
        return {nDetect + t.nHandshakeMs, nFinish};
    case Path::Handshake:
        return {nDetect + t.nHandshakeMs, 0};
    case Path::BlockFails:
        return {nDetect + t.nHandshakeMs, t.nPacketMs};
    }
    return {0, 0};
}

struct FaultRow {
    int nGroup; // ctest entry ui_fault_matrix_<n>
    const char* pszName;
    Personality eStart;
    std::function<void(fwsim::SimDeviceConfig&)> setUp;
    int nImage; // bytes of the file UPLOAD sends (for RefusedAfterGoodFile, the second file)
    Scenario eScenario;
    const char* pszText; // the log's outcome line (for ConnectRefused: the message box)
    Path ePath;          // the protocol's waits the row may spend, before and after its transfer
    bool bReconnect;     // afterwards the window connects to the device again
    // Part of the "cause:" line after the outcome (the command-line matrix's text
    // for the same fault); nullptr: there must be none.
    const char* pszCause = nullptr;
};

// 176128 bytes at 236 data bytes a block are 747 blocks.
constexpr int kFull = 176128;
int BlockAtPercent(int nPercent) {
    return 747 * nPercent / 100;
}

// The command-line matrix's faults and texts. "No device at all" cannot be chosen
// in the window (Connect needs a listed, answering device); its place is taken by
// a cable pulled between Connect and UPLOAD, which the job reports as undetected.
// A device that never answers "~rv" is refused by Connect itself.
std::vector<FaultRow> Rows() {
    using C = fwsim::SimDeviceConfig;
    const auto none = [](C&) {};
    const char* const kUnplugged = "the reader was unplugged or lost power";
    return {
        {1, "healthy application", Personality::Application, none, kFull, Scenario::Upload,
         kSuccess, Path::FromApp, false},
        {1, "no reply to ~rv", Personality::Application,
         [](C& c) { c.faults.bNoVersionReply = true; }, kFull, Scenario::ConnectRefused, kPortWrong,
         Path::Connect, false},
        {1, "wrong reply to ~dboot", Personality::Application,
         [](C& c) { c.faults.bWrongBootReply = true; }, kFull, Scenario::Upload, kBootFailed,
         Path::BootEntry, false, "the application refused \"~dboot\""},
        {1, "no reply to ~dboot", Personality::Application,
         [](C& c) { c.faults.bNoBootReply = true; }, kFull, Scenario::Upload, kSuccess,
         Path::FromApp, false},
        {1, "garbage before replies", Personality::Application,
         [](C& c) { c.faults.nGarbageBytes = 24; }, kFull, Scenario::Upload, kSuccess,
         Path::FromApp, false},
        {2, "boot loader never answers", Personality::Application,
         [](C& c) { c.faults.bBootLoaderSilent = true; }, kFull, Scenario::Upload, kBootFailed,
         Path::BootReturn, false, "the boot loader did not answer its status query"},
        {2, "port never comes back", Personality::Application,
         [](C& c) { c.faults.bNeverReturns = true; }, kFull, Scenario::Upload, kBootFailed,
         Path::BootReturn, false, "the reader's port did not come back within"},
        {2, "unplugged after Connect", Personality::BootLoader, none, kFull,
         Scenario::UnplugBeforeUpload, kNotDetected, Path::Detect, true, "nothing answered on"},
        {2, "port stays 3 s after finish", Personality::BootLoader,
         [](C& c) { c.faults.dwStayAfterFinishMs = 3000; }, kFull, Scenario::Upload, kSuccess,
         Path::FromBoot, false},
        {2, "file of 176129 bytes", Personality::BootLoader, none, kFull + 1,
         Scenario::RefusedAfterGoodFile, kInvalidFile, Path::Detect, false, "holds 176129 bytes"},
        {3, "healthy boot loader", Personality::BootLoader, none, kFull, Scenario::Upload, kSuccess,
         Path::FromBoot, false},
        {3, "block 3 status 2", Personality::BootLoader,
         [](C& c) { c.faults.nFailBlock = 3, c.faults.dwFailStatus = 2; }, kFull, Scenario::Upload,
         kCommError, Path::BlockFails, false, "refused block 3 with status 2"},
        {3, "block 3 status 5", Personality::BootLoader,
         [](C& c) { c.faults.nFailBlock = 3, c.faults.dwFailStatus = 5; }, kFull, Scenario::Upload,
         kCommError, Path::BlockFails, false, "refused block 3 with status 5"},
        {3, "block 400 status 7", Personality::BootLoader,
         [](C& c) { c.faults.nFailBlock = 400, c.faults.dwFailStatus = 7; }, kFull,
         Scenario::Upload, kCommError, Path::BlockFails, false, "refused block 400 with status 7"},
        {3, "info packet of 20 bytes", Personality::BootLoader,
         [](C& c) { c.faults.bLongInfoPacket = true; }, kFull, Scenario::Upload, kCommError,
         Path::Handshake, false, "malformed packet during the handshake"},
        {3, "bad final reply", Personality::BootLoader,
         [](C& c) { c.faults.bBadFinalReply = true; }, kFull, Scenario::Upload, kCommError,
         Path::BlockFails, false, "did not confirm the finish (status 9)"},
        {4, "silent from block 100", Personality::BootLoader,
         [](C& c) { c.faults.nSilentAtBlock = 100; }, kFull, Scenario::Upload, kCommError,
         Path::BlockFails, false, "no reply at block 100 within"},
        {4, "unplugged at 10%", Personality::BootLoader,
         [](C& c) { c.faults.nUnplugAtBlock = BlockAtPercent(10); }, kFull, Scenario::Upload,
         kCommError, Path::BlockFails, false, kUnplugged},
        {4, "unplugged at 50%", Personality::BootLoader,
         [](C& c) { c.faults.nUnplugAtBlock = BlockAtPercent(50); }, kFull, Scenario::Upload,
         kCommError, Path::BlockFails, true, kUnplugged},
        {4, "unplugged at 99%", Personality::BootLoader,
         [](C& c) { c.faults.nUnplugAtBlock = BlockAtPercent(99); }, kFull, Scenario::Upload,
         kCommError, Path::BlockFails, false, kUnplugged},
        {4, "slow replies (80 ms)", Personality::BootLoader,
         [](C& c) { c.faults.dwReplyDelayMs = 80; }, 8000, Scenario::Upload, kSuccess,
         Path::FromBoot, false},
        // Refused like a missing file: it would flash nothing and report success.
        {4, "empty file", Personality::BootLoader, none, 0, Scenario::RefusedAfterGoodFile,
         kInvalidFile, Path::Detect, false, "is empty (0 bytes)"},
    };
}

constexpr int kGroups = 4;

struct MatrixLine {
    QString strName;
    QString strOutcome;
    double dSeconds;
    double dLimit;
};

QByteArray RandomBytes(int nSize, unsigned nSeed) {
    std::mt19937 random(nSeed);
    QByteArray data(nSize, '\0');
    for (char& c : data) {
        c = static_cast<char>(random() & 0xFF);
    }
    return data;
}

// The outcome lines of a log (CR LF lines): the first line of each job text.
QStringList OutcomeLines(const QString& strLog) {
    const QStringList texts = {QString::fromUtf8(kSuccess).section('\n', 0, 0),
                               QStringLiteral("check connection"),
                               QString::fromUtf8(kNotDetected),
                               QString::fromUtf8(kInvalidFile),
                               QString::fromUtf8(kBootFailed),
                               QString::fromUtf8(kCommError)};
    QStringList found;
    for (const QString& strLine : strLog.split(QStringLiteral("\r\n"))) {
        if (texts.contains(strLine)) {
            found << strLine;
        }
    }
    return found;
}

} // namespace

class UiFaultMatrix : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<fwtest::CWindowRig> m_pRig;
    CFwUpgraderVelmoraDlg* m_pDlg = nullptr;
    fwsim::CSimDevice* m_pDevice = nullptr;
    std::vector<MatrixLine> m_lines;

    QString Text(int nId) { return m_pRig->Text(nId); }
    bool Enabled(int nId) { return m_pRig->Enabled(nId); }
    void Click(int nId) { m_pRig->Click(nId); }
    fwtest::CModalAnswerer& Answerer() { return m_pRig->Answerer(); }

    // A group's rows for its ctest entry (ui_fault_matrix_<n>, one per group in
    // CMakeLists.txt). An entry with no rows would pass without running a fault,
    // and a row of another group would never run: both fail the entry.
    static void AddRows(int nGroup) {
        QTest::addColumn<int>("index");
        const std::vector<FaultRow> rows = Rows();
        int nAdded = 0;
        for (size_t i = 0; i < rows.size(); ++i) {
            QVERIFY2(rows[i].nGroup >= 1 && rows[i].nGroup <= kGroups, rows[i].pszName);
            if (rows[i].nGroup == nGroup) {
                QTest::newRow(rows[i].pszName) << static_cast<int>(i);
                ++nAdded;
            }
        }
        QVERIFY2(nAdded > 0, "a ctest entry without rows");
    }

    void RunRow();
    void VerifyReleased(const FaultRow& row);

private slots:
    void init() {
        m_pRig = std::make_unique<fwtest::CWindowRig>(ProtocolTimings{});
        m_pDlg = &m_pRig->Dlg();
    }

    void cleanup() {
        m_pRig.reset();
        m_pDlg = nullptr;
        m_pDevice = nullptr;
    }

    void cleanupTestCase() {
        std::printf("\n%-30s %-62s %8s %6s\n", "fault (window)", "outcome", "seconds", "limit");
        for (const MatrixLine& line : m_lines) {
            std::printf("%-30s %-62s %8.1f %6.0f\n", qPrintable(line.strName),
                        qPrintable(line.strOutcome), line.dSeconds, line.dLimit);
        }
        std::fflush(stdout);
    }

    void testGroup1_data() { AddRows(1); }
    void testGroup1() { RunRow(); }
    void testGroup2_data() { AddRows(2); }
    void testGroup2() { RunRow(); }
    void testGroup3_data() { AddRows(3); }
    void testGroup3() { RunRow(); }
    void testGroup4_data() { AddRows(4); }
    void testGroup4() { RunRow(); }
};

void UiFaultMatrix::RunRow() {
    QFETCH(int, index);
    const FaultRow row = Rows()[static_cast<size_t>(index)];

    fwsim::SimDeviceConfig config = m_pRig->DeviceConfig(row.eStart);
    row.setUp(config);
    m_pDevice = &m_pRig->AddDevice(config);

    const bool bSecondFile = row.eScenario == Scenario::RefusedAfterGoodFile;
    const QByteArray image =
        RandomBytes(bSecondFile ? kFull : row.nImage, static_cast<unsigned>(index) + 1);
    const QString strFile = m_pRig->WriteFile(QStringLiteral("fw.bin"), image);
    const QString strName = m_pRig->PortNameOf(*m_pDevice);
    QVERIFY(!strName.isEmpty());

    double dSeconds = 0;
    double dLimit = 0;
    // The timings the window runs with decide the limits (a margin of one command's wait).
    const ProtocolTimings timings;
    const Budget budget = BudgetOf(row.ePath, timings);
    const uint32_t nMarginMs = timings.nCommandMs;
    QString strOutcome;
    QElapsedTimer clock;
    if (row.eScenario == Scenario::ConnectRefused) {
        // Loaded before connecting, so only the refused connection keeps UPLOAD off.
        m_pRig->LoadByDialog(strFile);
        QVERIFY(m_pDlg->Model().HasImage());
        QVERIFY(m_pRig->ChoosePort(strName));
        clock.start();
        m_pRig->ClickConnectAndWait(60000);
        dSeconds = clock.elapsed() / 1000.0;
        strOutcome = Answerer().Count(QString::fromUtf8(row.pszText)) == 1
                         ? QStringLiteral("Connect refused: ") + QString::fromUtf8(row.pszText)
                         : QStringLiteral("(other)");
        dLimit = (budget.nBeforeMs + nMarginMs) / 1000.0;
        m_lines.push_back({QString::fromUtf8(row.pszName), strOutcome.trimmed(), dSeconds, dLimit});
        QCOMPARE(Answerer().Messages(), 1);
        QCOMPARE(Answerer().Count(QString::fromUtf8(row.pszText)), 1);
        QCOMPARE(Text(IDC_LOG), QString()); // a window action logs nothing
    } else {
        QVERIFY(m_pRig->ChoosePort(strName));
        m_pRig->ClickConnectAndWait(60000);
        QCOMPARE(Answerer().Messages(), 0);
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("disconnect"));
        m_pRig->LoadByDialog(strFile);
        if (bSecondFile) {
            // The window refuses the file but keeps UPLOAD for what it had; the
            // request names the new file, which the job checks again.
            const QString strRefusal = row.nImage > kFull
                                           ? QStringLiteral("Incompatible File")
                                           : QStringLiteral("Firmware File Not Found");
            m_pRig->LoadByDialog(
                m_pRig->WriteFile(QStringLiteral("second.bin"), RandomBytes(row.nImage, 99)));
            QCOMPARE(Answerer().Count(strRefusal), 1);
        }
        QCOMPARE(Answerer().Messages(), bSecondFile ? 1 : 0);
        QVERIFY(Enabled(IDC_UPLOAD));
        if (row.eScenario == Scenario::UnplugBeforeUpload) {
            m_pDevice->Unplug();
        }

        clock.start();
        Click(IDC_UPLOAD);
        // The first and the last move of the progress bar bound the transfer.
        qint64 nFirstMove = -1;
        qint64 nLastMove = -1;
        int nLastValue = 0;
        // Every deadline of the path and one packet's for each block: a job that
        // keeps to its deadlines has ended by then.
        const int nWaitMs = static_cast<int>(budget.nBeforeMs + budget.nAfterMs + nMarginMs +
                                             747 * timings.nPacketMs);
        const bool bEnded = fwtest::WaitUntil(
            [&] {
                const int nValue = m_pDlg->Model().Progress(Control::Progress);
                if (nValue != nLastValue) {
                    nLastMove = clock.elapsed();
                    nFirstMove = nFirstMove < 0 ? nLastMove : nFirstMove;
                    nLastValue = nValue;
                }
                return !m_pDlg->Model().IsManualRunActive();
            },
            nWaitMs);
        const qint64 nEnd = clock.elapsed();
        dSeconds = nEnd / 1000.0;
        const double dTransfer = nFirstMove < 0 ? 0 : (nLastMove - nFirstMove) / 1000.0;
        dLimit = (budget.nBeforeMs + budget.nAfterMs + nMarginMs) / 1000.0 + dTransfer;
        if (nFirstMove >= 0) {
            QVERIFY2(nFirstMove <= budget.nBeforeMs + nMarginMs,
                     qPrintable(QStringLiteral("%1 ms before the transfer, limit %2 ms")
                                    .arg(nFirstMove)
                                    .arg(budget.nBeforeMs + nMarginMs)));
            QVERIFY2(nEnd - nLastMove <= budget.nAfterMs + nMarginMs,
                     qPrintable(QStringLiteral("%1 ms after the transfer, limit %2 ms")
                                    .arg(nEnd - nLastMove)
                                    .arg(budget.nAfterMs + nMarginMs)));
        }
        const QString strLog = Text(IDC_LOG);
        const QStringList outcomes = OutcomeLines(strLog);
        strOutcome = outcomes.isEmpty() ? QStringLiteral("(none)") : outcomes.join(" + ");
        m_lines.push_back({QString::fromUtf8(row.pszName), strOutcome, dSeconds, dLimit});
        QVERIFY2(bEnded, "the run did not end");

        // One outcome, and it is the last thing logged but for its cause line.
        QCOMPARE(outcomes.size(), 1);
        const QString strExpected =
            QString::fromUtf8(row.pszText).replace(QStringLiteral("\n"), QStringLiteral("\r\n")) +
            QStringLiteral("\r\n");
        const qsizetype nAt = strLog.lastIndexOf(strExpected);
        QVERIFY2(nAt >= 0, qPrintable(strLog));
        const QString strAfter = strLog.mid(nAt + strExpected.size());
        if (row.pszCause == nullptr) {
            QVERIFY2(strAfter.isEmpty(), qPrintable(strLog));
        } else {
            QVERIFY2(strAfter.startsWith(QStringLiteral("cause: ")) &&
                         strAfter.contains(QString::fromUtf8(row.pszCause)) &&
                         strAfter.count(QStringLiteral("\r\n")) == 1 &&
                         strAfter.endsWith(QStringLiteral("\r\n")),
                     qPrintable(strLog));
        }
        const bool bSuccess = row.pszText == kSuccess;
        QCOMPARE(m_pDlg->Model().JobState(), bSuccess ? 0 : -1);
        // The device agrees: a confirmed download only on success, holding the image.
        QCOMPARE(m_pDevice->DownloadsFinished(), bSuccess ? 1 : 0);
        if (bSuccess) {
            QCOMPARE(m_pRig->Ctl<QProgressBar>(IDC_PROGRESS)->value(), 100);
            const std::vector<uint8_t> flash =
                m_pDevice->FlashAt(fwsim::kCodeAddress, static_cast<size_t>(image.size()));
            QVERIFY(std::equal(flash.begin(), flash.end(),
                               reinterpret_cast<const uint8_t*>(image.constData())));
        }
    }
    // The transfer measured, the rest within the path's deadlines.
    QVERIFY2(dSeconds <= dLimit,
             qPrintable(QStringLiteral("%1 s, limit %2 s").arg(dSeconds).arg(dLimit)));

    // Disconnected as after any run; UPLOAD, Load and Connect wait for a new choice.
    QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("no device"));
    QCOMPARE(Text(IDC_CONNECT), QStringLiteral("Connect"));
    QVERIFY(!m_pDlg->Model().IsConnected());
    QVERIFY(Enabled(IDC_PORT));
    QVERIFY(!Enabled(IDC_UPLOAD));
    if (row.eScenario != Scenario::ConnectRefused) {
        // A refused connection changes neither Load nor Connect.
        QVERIFY(!Enabled(IDC_LOAD));
        QVERIFY(!Enabled(IDC_CONNECT));
    }
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(m_pDlg->Model().IsWaitCursor(), false);
    VerifyReleased(row);
}

// The window holds no handle on the port any more: another open succeeds once the
// device is listed (plugged in again where the fault pulled it).
void UiFaultMatrix::VerifyReleased(const FaultRow& row) {
    if (!m_pDevice->IsPlugged()) {
        QVERIFY(m_pDevice->Replug());
    }
    QString strName;
    QVERIFY2(fwtest::WaitUntil(
                 [&] {
                     strName = m_pRig->PortNameOf(*m_pDevice);
                     return !strName.isEmpty();
                 },
                 10000),
             "the device's port is not listed again");
    QVERIFY2(fwtest::WaitUntil(
                 [&] {
                     CComPort probe(strName.toStdString(), 1024, 20480);
                     return probe.IsOpen();
                 },
                 5000),
             qPrintable(QStringLiteral("%1 cannot be opened again").arg(strName)));

    // The operator can choose the port again, which enables Connect.
    QVERIFY(m_pRig->ChoosePort(strName));
    QVERIFY(Enabled(IDC_CONNECT));
    if (!row.bReconnect) {
        return;
    }
    m_pRig->ClickConnectAndWait(60000);
    QCOMPARE(Text(IDC_CONNECT), QStringLiteral("disconnect"));
    QVERIFY(Text(IDC_DEVICE_STATE) != QStringLiteral("no device"));
    QVERIFY(Enabled(IDC_UPLOAD)); // the window's image is still loaded
    Click(IDC_CONNECT);
    QCOMPARE(Text(IDC_CONNECT), QStringLiteral("Connect"));
    QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("no device"));
}

QTEST_MAIN(UiFaultMatrix)
#include "UiFaultMatrixTests.moc"

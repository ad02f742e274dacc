// The updater window against the simulated device, offscreen (or under Xvfb),
// with the tests' shortened protocol timings: layout, log, files, connection
// panel, the manual run and auto mode, driven as an operator would.

#include "CWindowRig.h"

#include "records/CUnitRecordLog.h"
#include "ui/CAboutDlg.h"
#include "ui/CFwUpgraderVelmoraDlg.h"
#include "ui/CLogBox.h"
#include "ui/ControlIds.h"
#include "ui/DialogUnits.h"
#include "ui/LogText.h"

#include "ProductVersion.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>
#include <utime.h>

using namespace fwup;
using fwsim::Personality;

namespace {

constexpr int kRunTimeoutMs = 30000; // one update job at the tests' timings, with margin

QByteArray Pattern(int nSize, int nSeed) {
    QByteArray data(nSize, '\0');
    for (int i = 0; i < nSize; ++i) {
        data[i] = static_cast<char>((i * 131 + nSeed * 7 + (i >> 8)) & 0xFF);
    }
    return data;
}

bool FlashHolds(const fwsim::CSimDevice& device, const QByteArray& image) {
    const std::vector<uint8_t> flash =
        device.FlashAt(fwsim::kCodeAddress, static_cast<size_t>(image.size()));
    return std::equal(flash.begin(), flash.end(),
                      reinterpret_cast<const uint8_t*>(image.constData()));
}

} // namespace

class UiTests : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<fwtest::CWindowRig> m_pRig;
    CFwUpgraderVelmoraDlg* m_pDlg = nullptr;

    template <class T> T* Ctl(int nId) { return m_pRig->Ctl<T>(nId); }
    QString Text(int nId) { return m_pRig->Text(nId); }
    bool Enabled(int nId) { return m_pRig->Enabled(nId); }
    fwtest::CModalAnswerer& Answerer() { return m_pRig->Answerer(); }

    void SaveShot(const QString& strName) {
        const QString strPath = QStringLiteral(FWUP_UI_SHOT_DIR "/%1-%2.png")
                                    .arg(strName, QGuiApplication::platformName());
        QVERIFY(m_pDlg->grab().save(strPath));
    }

    void VerifyDisconnectedAfterRun() {
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("no device"));
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("Connect"));
        QVERIFY(!Enabled(IDC_UPLOAD));
        QVERIFY(!Enabled(IDC_LOAD));
        QVERIFY(!Enabled(IDC_CONNECT));
        QVERIFY(Enabled(IDC_PORT));
        QVERIFY(!m_pDlg->IsConnected());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QCOMPARE(g_nBusyCount, 0);
    }

private slots:
    void init() {
        m_pRig = std::make_unique<fwtest::CWindowRig>(fwtest::TestTimings());
        m_pDlg = &m_pRig->Dlg();
    }

    void cleanup() {
        m_pRig.reset();
        m_pDlg = nullptr;
    }

    // --- Pure rules ----------------------------------------------------------

    void testNormalizeLineBreaks_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("bare LF between words") << "a\nb"
                                               << "a\r\nb";
        QTest::newRow("CR LF unchanged") << "a\r\nb"
                                         << "a\r\nb";
        QTest::newRow("single LF") << "\n"
                                   << "\r\n";
        QTest::newRow("leading LF") << "\nx"
                                    << "\r\nx";
        QTest::newRow("lone CR stays") << "a\rb"
                                       << "a\rb";
        QTest::newRow("CR CR LF") << "\r\r\n"
                                  << "\r\r\n";
        QTest::newRow("LF LF") << "a\n\n"
                               << "a\r\n\r\n";
    }
    void testNormalizeLineBreaks() {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(NormalizeLineBreaks(in), out);
    }

    void testCharsToDrop_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("add");
        QTest::addColumn<int>("cap");
        QTest::addColumn<int>("drop");
        // Lines "aaa\r\n" are 5 characters each.
        const QString three = QStringLiteral("aaa\r\nbbb\r\nccc\r\n");
        QTest::newRow("fits exactly") << three << 5 << 20 << 0;
        QTest::newRow("one over: first line") << three << 6 << 20 << 5;
        QTest::newRow("k on first line's LF") << three << 10 << 20 << 5;
        QTest::newRow("k on second line's first char") << three << 11 << 20 << 10;
        QTest::newRow("last line without break") << QStringLiteral("aaa\r\nbbb") << 5 << 10 << 5;
        QTest::newRow("k in unfinished last line") << QStringLiteral("aaa\r\nbbb") << 9 << 10 << 8;
        QTest::newRow("text alone too long") << three << 25 << 20 << 15;
        QTest::newRow("empty box") << QString() << 30 << 20 << 0;
    }
    void testCharsToDrop() {
        QFETCH(QString, box);
        QFETCH(int, add);
        QFETCH(int, cap);
        QFETCH(int, drop);
        QCOMPARE(CharsToDrop(box, add, cap), qsizetype(drop));
    }

    void testKeepNewest() {
        QCOMPARE(KeepNewest(QStringLiteral("abc"), 5), QStringLiteral("abc"));
        // Cut inside "line1": the kept part starts at the next whole line.
        QCOMPARE(KeepNewest(QStringLiteral("line1\r\nline2\r\nend"), 12),
                 QStringLiteral("line2\r\nend"));
        // Cut right after a line break: nothing more is lost.
        QCOMPARE(KeepNewest(QStringLiteral("ab\r\ncd"), 2), QStringLiteral("cd"));
        // One line longer than everything: its newest characters.
        QCOMPARE(KeepNewest(QStringLiteral("0123456789"), 4), QStringLiteral("6789"));
    }

    void testDialogUnits() {
        QCOMPARE(MulDivRound(7, 6, 4), 11);    // 10.5 rounds up
        QCOMPARE(MulDivRound(302, 7, 4), 529); // 528.5
        QCOMPARE(MulDivRound(5, 15, 8), 9);    // 9.375
        QCOMPARE(DluToPixels(QRect(4, 8, 8, 16), DialogBaseUnits{6, 13}), QRect(6, 13, 12, 26));
    }

    // --- Window --------------------------------------------------------------

    void testLayout() {
        QCOMPARE(m_pDlg->windowTitle(), QStringLiteral("VelgoFWUp v1.1"));
        QVERIFY(!m_pDlg->windowIcon().isNull());
        const DialogBaseUnits units = BaseUnitsOf(m_pDlg->font());
        QCOMPARE(m_pDlg->size(), DluToPixels(QRect(0, 0, 316, 188), units).size());

        struct Row {
            int nId;
            const char* pszClass;
            const char* pszText;
            QRect rcDlu;
            bool bVisible;
            bool bEnabled;
        };
        // Template 102 after start-up, then the auto mode's controls.
        const Row rows[] = {
            {1000, "QPushButton", "UPLOAD", {231, 18, 78, 23}, true, false},
            {1001, "QComboBox", "CODE", {232, 59, 77, 54}, false, false},
            {1002, "fwup::CPortComboBox", "", {7, 7, 174, 30}, true, true},
            {1003, "QPushButton", "Load Binary File", {7, 34, 77, 14}, true, true},
            {1004, "fwup::CLogBox", "", {7, 52, 208, 32}, true, false},
            {1005, "QLineEdit", "", {7, 85, 302, 14}, true, false},
            {1006, "QLineEdit", "0x008000(176128)", {232, 71, 77, 13}, false, false},
            {1007, "fwup::CLogBox", "", {7, 114, 302, 67}, true, false},
            {1008, "QProgressBar", "", {232, 44, 77, 7}, true, false},
            {1011, "QLabel", "no device", {231, 7, 78, 9}, true, true},
            {1014, "QPushButton", "Connect", {185, 7, 43, 12}, true, false},
            {1034, "QLabel", "", {25, 21, 60, 10}, true, true},
            {1016, "QLineEdit", "", {7, 100, 302, 14}, true, false},
            {1017, "QPushButton", "auto mode", {232, 55, 77, 14}, true, true},
            {1039, "QProgressBar", "", {232, 72, 77, 7}, true, true},
        };
        for (const Row& row : rows) {
            QWidget* p = Ctl<QWidget>(row.nId);
            QVERIFY2(p != nullptr, qPrintable(QString::number(row.nId)));
            QCOMPARE(QString::fromUtf8(p->metaObject()->className()),
                     QString::fromUtf8(row.pszClass));
            if (row.nId != IDC_AREA) {
                QCOMPARE(Text(row.nId), QString::fromUtf8(row.pszText));
            }
            const QRect rcPx = DluToPixels(row.rcDlu, units);
            if (qobject_cast<QComboBox*>(p) != nullptr) {
                // Closed combo boxes are one line high; x, y and width as the template.
                QCOMPARE(p->geometry().topLeft(), rcPx.topLeft());
                QCOMPARE(p->width(), rcPx.width());
            } else {
                QCOMPARE(p->geometry(), rcPx);
            }
            QCOMPARE(!p->isHidden(), row.bVisible);
            QCOMPARE(p->isEnabled(), row.bEnabled);
        }
        auto* pSn = m_pDlg->findChild<QLabel*>(QStringLiteral("sn_label"));
        QVERIFY(pSn != nullptr);
        QCOMPARE(pSn->text(), QStringLiteral("SN"));
        QCOMPARE(pSn->geometry(), DluToPixels(QRect(7, 22, 10, 8), units));
        QCOMPARE(Ctl<QComboBox>(IDC_AREA)->currentText(), QStringLiteral("CODE"));
        QCOMPARE(m_pDlg->AreaStart(), 0x8000u);
        QCOMPARE(m_pDlg->AreaSize(), 176128u);
        QCOMPARE(Ctl<QComboBox>(IDC_PORT)->placeholderText(), QStringLiteral("select comport"));
        QCOMPARE(Ctl<QComboBox>(IDC_PORT)->count(), 0); // no ports below the empty root
        QCOMPARE(Ctl<QProgressBar>(IDC_PROGRESS)->value(), 0);
        QVERIFY(m_pDlg->IsAutoStopped());
        QVERIFY(!m_pDlg->IsAutoMode());
        SaveShot(QStringLiteral("window-start"));

        // The About entry sits after a separator in the window's menu (right click).
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                m_pDlg->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(m_pDlg, &event);
        QMenu* pMenu = m_pDlg->SystemMenu();
        QTRY_VERIFY(pMenu->isVisible());
        const QList<QAction*> actions = pMenu->actions();
        QCOMPARE(actions.size(), 2);
        QVERIFY(actions[0]->isSeparator());
        QCOMPARE(actions[1]->text(), QStringLiteral("About VelgoFWUp(&A)..."));
        pMenu->hide();
        actions[1]->trigger(); // shows the About box modally; the answerer closes it
        QCOMPARE(Answerer().Seen().size(), 1);
        QCOMPARE(Answerer().Seen()[0].strKind, QStringLiteral("dialog"));
        QCOMPARE(Answerer().Seen()[0].strTitle, QStringLiteral("VelgoFWUp"));
        QVERIFY(m_pDlg->isVisible());
        QCOMPARE(m_pDlg->windowTitle(), QStringLiteral("VelgoFWUp v1.1"));
    }

    void testAboutBoxShowsTheBuildsVersion() {
        fwup::CAboutDlg about;
        QStringList texts;
        for (const QLabel* pLabel : about.findChildren<QLabel*>()) {
            texts << pLabel->text();
        }
        QVERIFY2(texts.contains(QStringLiteral("VelgoFWUp, version 1.0")),
                 qPrintable(texts.join('|')));
        QVERIFY2(texts.contains(QStringLiteral("Version %1, (C) 2026")
                                    .arg(QString::fromUtf8(fwup::kProductVersion))),
                 qPrintable(texts.join('|')));
    }

    void testEnterEndsWindowOutsideButtons() {
        QSignalSpy finished(m_pDlg, &QDialog::finished);
        Ctl<QPushButton>(IDC_AUTO_MODE)->setFocus();
        QTest::keyClick(m_pDlg, Qt::Key_Return); // clicks the focused button
        QCOMPARE(Text(IDC_AUTO_MODE), QStringLiteral("cancel auto mode"));
        QCOMPARE(finished.count(), 0);
        QTRY_VERIFY(Enabled(IDC_AUTO_MODE));
        m_pRig->Click(IDC_AUTO_MODE);
        QTRY_VERIFY(m_pDlg->IsAutoStopped());
        Ctl<QWidget>(IDC_LOG)->setFocus();
        m_pDlg->setFocus();
        QTest::keyClick(m_pDlg, Qt::Key_Return);
        QCOMPARE(finished.count(), 1);
    }

    void testEscClosesWhenIdle() {
        QSignalSpy finished(m_pDlg, &QDialog::finished);
        QTest::keyClick(m_pDlg, Qt::Key_Escape);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!m_pDlg->isVisible());
    }

    void testLogLinesAndTrimming() {
        auto* pLog = Ctl<CLogBox>(IDC_LOG);
        m_pDlg->AddLog("connected.\n");
        QCOMPARE(pLog->Text(), QStringLiteral("connected.\r\n"));
        m_pDlg->AddLog("piece one ");
        m_pDlg->AddLog("and %s %i\n", "piece", 2);
        pLog->AppendText(QStringLiteral("x\ny"));
        QCOMPARE(pLog->Text(), QStringLiteral("connected.\r\npiece one and piece 2\r\nx\r\ny"));
        QCOMPARE(pLog->toPlainText(), QStringLiteral("connected.\npiece one and piece 2\nx\ny"));

        // Fill past the capacity: whole lines go from the top, the newest stays.
        pLog->AppendText(QStringLiteral("\n"));
        for (int i = 0; i < 2500; ++i) {
            m_pDlg->AddLog("log line number %05d\n", i); // 22 characters with CR LF
        }
        const QString strBox = pLog->Text();
        QVERIFY(strBox.size() <= kTextBoxCapacity);
        QVERIFY(strBox.size() > kTextBoxCapacity - 22);
        QVERIFY(strBox.startsWith(QStringLiteral("log line number ")));
        QVERIFY(strBox.endsWith(QStringLiteral("log line number 02499\r\n")));
        QCOMPARE(pLog->toPlainText(), DisplayText(strBox));
        // The newest line is in view (at the bottom, above the caret's empty line).
        const QTextBlock last = pLog->document()->lastBlock().previous();
        QCOMPARE(last.text(), QStringLiteral("log line number 02499"));
        QVERIFY(pLog->viewport()->rect().contains(pLog->cursorRect(QTextCursor(last))));
        QVERIFY(pLog->verticalScrollBar()->value() > 0);

        m_pDlg->SetStatusText("first");
        m_pDlg->SetStatusText("second %s", "text");
        QCOMPARE(Text(IDC_STATUS), QStringLiteral("second text"));
    }

    void testLoadFiles() {
        const QString strFull = m_pRig->WriteFile(QStringLiteral("fw.bin"), Pattern(176128, 1));
        const QString strBig = m_pRig->WriteFile(QStringLiteral("big.bin"), Pattern(176129, 2));
        // 2 May 2014 09:07:03 UTC.
        struct utimbuf times {
            1399021623, 1399021623
        };
        QCOMPARE(::utime(QFile::encodeName(strFull).constData(), &times), 0);

        m_pRig->LoadByDialog(strFull);
        QCOMPARE(Answerer().Seen().size(), 1);
        QCOMPARE(Answerer().Seen()[0].strKind, QStringLiteral("file"));
        QCOMPARE(Answerer().Seen()[0].strText, QStringLiteral("Binary (*.bin);;All (*.*)"));
        QVERIFY(m_pDlg->HasImage());
        QCOMPARE(Text(IDC_FILE_PATH), strFull);
        QCOMPARE(Text(IDC_FILE_INFO), QStringLiteral("file name : fw.bin\r\nfile size : 176128\r\n"
                                                     "file date : 2014.05.02 09:07:03\r\n"));
        QCOMPARE(QString::fromStdString(m_pDlg->Request().strFirmwarePath), strFull);
        QVERIFY(!Enabled(IDC_UPLOAD)); // not connected

        Answerer().Clear();
        m_pRig->LoadByDialog(strBig);
        QCOMPARE(Answerer().Messages(), 1);
        QCOMPARE(Answerer().Count(QStringLiteral("Incompatible File")), 1);
        QCOMPARE(Answerer().Seen()[1].eIcon, QMessageBox::Information);
        QCOMPARE(Answerer().Seen()[1].strTitle, QStringLiteral("fwupgraderVelmora"));
        QVERIFY(Text(IDC_FILE_INFO).contains(QStringLiteral("file size : 176129")));
        QVERIFY(m_pDlg->HasImage()); // the earlier segment stays
        QCOMPARE(QString::fromStdString(m_pDlg->Request().strFirmwarePath), strBig);

        // A drop on the log or a button does nothing; on 1005 it loads the first file.
        Answerer().Clear();
        m_pRig->Drop(IDC_LOG, {strFull});
        m_pRig->Drop(IDC_UPLOAD, {strFull});
        QCOMPARE(Text(IDC_FILE_PATH), strBig);
        m_pRig->Drop(IDC_FILE_PATH, {strFull, strBig});
        QCOMPARE(Text(IDC_FILE_PATH), strFull);
        QCOMPARE(QString::fromStdString(m_pDlg->Request().strFirmwarePath), strFull);
        QCOMPARE(Answerer().Messages(), 0);

        // A path that is gone: the path shows, the description stays, one message.
        const QString strGone = m_pRig->FilePath(QStringLiteral("gone.bin"));
        const QString strInfoBefore = Text(IDC_FILE_INFO);
        m_pRig->Drop(IDC_FILE_INFO, {strGone});
        QCOMPARE(Text(IDC_FILE_PATH), strGone);
        QCOMPARE(Text(IDC_FILE_INFO), strInfoBefore);
        QCOMPARE(Answerer().Count(QStringLiteral("Firmware File Not Found")), 1);
        QCOMPARE(Answerer().Messages(), 1);

        // A file another program holds locked: "Wrong Block Size" (no icon), then not found.
        Answerer().Clear();
        const QString strHeld = m_pRig->WriteFile(QStringLiteral("held.bin"), Pattern(1000, 3));
        const int fd = ::open(QFile::encodeName(strHeld).constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX), 0);
        m_pRig->Drop(IDC_FILE_INFO, {strHeld});
        ::close(fd);
        QCOMPARE(Answerer().Messages(), 2);
        QCOMPARE(Answerer().Seen()[0].strText, QStringLiteral("Wrong Block Size"));
        QCOMPARE(Answerer().Seen()[0].eIcon, QMessageBox::NoIcon);
        QCOMPARE(Answerer().Seen()[1].strText, QStringLiteral("Firmware File Not Found"));

        // Cancelling the dialog changes nothing.
        Answerer().Clear();
        m_pRig->LoadByDialog(QString());
        QCOMPARE(Text(IDC_FILE_PATH), strHeld);
        QCOMPARE(Answerer().Messages(), 0);
    }

    // --- Connection panel ------------------------------------------------------

    void testConnectApplication() {
        fwsim::CSimDevice& device = m_pRig->AddDevice(Personality::Application);
        const QString strName = m_pRig->PortNameOf(device);
        QVERIFY(!strName.isEmpty());
        QVERIFY(!Enabled(IDC_CONNECT));
        QVERIFY(m_pRig->ChoosePort(strName));
        QVERIFY(Enabled(IDC_CONNECT));
        QVERIFY(Ctl<QComboBox>(IDC_PORT)->toolTip().contains(
            QString::fromStdString(device.DevicePath()).section('/', -1)));

        m_pRig->ClickConnectAndWait();
        QCOMPARE(Answerer().Messages(), 0);
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("2.0.0.1"));
        QCOMPARE(Text(IDC_SERIAL), QStringLiteral("SN-1-1"));
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("disconnect"));
        QCOMPARE(Text(IDC_LOG), QStringLiteral("connected.\r\n"));
        QVERIFY(!Enabled(IDC_PORT));
        QVERIFY(Enabled(IDC_CONNECT));
        QVERIFY(Enabled(IDC_AUTO_MODE));
        QVERIFY(Enabled(IDC_LOAD));
        QVERIFY(!Enabled(IDC_UPLOAD)); // no file yet
        QCOMPARE(m_pDlg->BootInfo(), -1);
        QCOMPARE(QApplication::overrideCursor(), nullptr);

        m_pRig->Click(IDC_CONNECT);
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("no device"));
        QCOMPARE(Text(IDC_SERIAL), QStringLiteral("SN-1-1")); // the last serial stays
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("Connect"));
        QVERIFY(Enabled(IDC_PORT));
        QVERIFY(!Enabled(IDC_LOAD));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    // The window goes on processing events while Connect asks the device (two
    // unanswered status queries, then "~rv" and "~rS"), and the update that follows
    // completes.
    void testConnectKeepsTheWindowResponsiveThenUploadCompletes() {
        fwsim::CSimDevice& device = m_pRig->AddDevice(Personality::Application);
        const QByteArray image = Pattern(30000, 11);
        const QString strFile = m_pRig->WriteFile(QStringLiteral("fw.bin"), image);
        QVERIFY(m_pRig->ChoosePort(m_pRig->PortNameOf(device)));

        // A 10 ms timer on the GUI thread: how often it fired while Connect ran, and
        // its largest gap (printed; a figure, not a check).
        int nTicksWhileConnecting = 0;
        qint64 nLargestGapMs = 0;
        QElapsedTimer sinceTick;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, [&] {
            if (m_pDlg->IsConnecting()) {
                ++nTicksWhileConnecting;
                nLargestGapMs = std::max(nLargestGapMs, sinceTick.elapsed());
            }
            sinceTick.restart();
        });
        sinceTick.start();
        timer.start(10);

        m_pRig->Click(IDC_CONNECT);
        // The click has returned while the device is still being asked.
        QVERIFY(m_pDlg->IsConnecting());
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        for (const int nId : {IDC_PORT, IDC_CONNECT, IDC_AUTO_MODE}) {
            QVERIFY2(!Enabled(nId), qPrintable(QString::number(nId)));
        }
        QVERIFY(fwtest::WaitUntil([&] { return !m_pDlg->IsConnecting(); }, kRunTimeoutMs));
        timer.stop();
        qInfo("timer ticks while connecting: %d, largest gap %lld ms", nTicksWhileConnecting,
              static_cast<long long>(nLargestGapMs));
        // Two status queries time out alone take 2 x nCommandMs (600 ms here): a
        // window that blocked would have seen no tick at all.
        QVERIFY2(nTicksWhileConnecting >= 10, qPrintable(QString::number(nTicksWhileConnecting)));
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("disconnect"));
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("2.0.0.1"));
        QCOMPARE(QApplication::overrideCursor(), nullptr);

        m_pRig->LoadByDialog(strFile);
        QVERIFY(Enabled(IDC_UPLOAD));
        m_pRig->Click(IDC_UPLOAD);
        QVERIFY(fwtest::WaitUntil([&] { return !m_pDlg->IsManualRunActive(); }, kRunTimeoutMs));
        QVERIFY2(Text(IDC_LOG).contains(QStringLiteral("FW Update Successful!")),
                 qPrintable(Text(IDC_LOG)));
        QVERIFY(FlashHolds(device, image));
    }

    void testScreenshotConnected() {
        // Boot loader device; a file loaded before connecting enables UPLOAD.
        fwsim::CSimDevice& device = m_pRig->AddDevice(Personality::BootLoader);
        const QString strFile =
            m_pRig->WriteFile(QStringLiteral("reader.rel.bin"), Pattern(4096, 4));
        m_pRig->LoadByDialog(strFile);
        QVERIFY(m_pRig->ChoosePort(m_pRig->PortNameOf(device)));
        m_pRig->ClickConnectAndWait();
        QCOMPARE(Answerer().Messages(), 0);
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("boot v10.11.12.13"));
        QCOMPARE(m_pDlg->BootInfo(), 0x1A2B3C4D);
        QCOMPARE(Text(IDC_SERIAL), QString()); // untouched by a boot loader
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("disconnect"));
        QVERIFY(Enabled(IDC_UPLOAD));
        QVERIFY(!Enabled(IDC_LOAD));
        QVERIFY(Text(IDC_FILE_INFO).startsWith("file name : reader.rel.bin\r\n"));
        // The first of the three lines stays in view.
        auto* pInfo = Ctl<QPlainTextEdit>(IDC_FILE_INFO);
        QCOMPARE(pInfo->cursorForPosition(QPoint(2, 2)).block().text(),
                 QStringLiteral("file name : reader.rel.bin"));
        SaveShot(QStringLiteral("window-connected"));

        // A file too large for CODE dropped while connected: refused, the loaded
        // image stays and UPLOAD stays on, but the request now names the new file,
        // so a run would report it as invalid rather than send the old one.
        const QString strBig = m_pRig->WriteFile(QStringLiteral("big.bin"), Pattern(176129, 8));
        m_pRig->Drop(IDC_FILE_PATH, {strBig});
        QCOMPARE(Answerer().Count(QStringLiteral("Incompatible File")), 1);
        QVERIFY(m_pDlg->HasImage());
        QVERIFY(Enabled(IDC_UPLOAD));
        QCOMPARE(QString::fromStdString(m_pDlg->Request().strFirmwarePath), strBig);
    }

    void testConnectSilentDevice() {
        fwsim::SimDeviceConfig config = m_pRig->DeviceConfig(Personality::Application);
        config.faults.bNoVersionReply = true;
        fwsim::CSimDevice& device = m_pRig->AddDevice(config);
        QVERIFY(m_pRig->ChoosePort(m_pRig->PortNameOf(device)));
        m_pRig->ClickConnectAndWait();
        QCOMPARE(Answerer().Messages(), 1);
        QCOMPARE(Answerer().Seen()[0].strText,
                 QStringLiteral("The comport is wrong or the device is off. \n"));
        QCOMPARE(Answerer().Seen()[0].eIcon, QMessageBox::Information);
        QCOMPARE(Answerer().Seen()[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("no device"));
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("Connect"));
        QVERIFY(Enabled(IDC_PORT));
        QVERIFY(Enabled(IDC_CONNECT));
        QCOMPARE(Text(IDC_LOG), QString());
        QVERIFY(!m_pDlg->IsConnected());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void testCloseWhileConnectingClosesAtOnce() {
        fwsim::SimDeviceConfig config = m_pRig->DeviceConfig(Personality::Application);
        config.faults.bNoVersionReply = true; // three unanswered queries
        fwsim::CSimDevice& device = m_pRig->AddDevice(config);
        QVERIFY(m_pRig->ChoosePort(m_pRig->PortNameOf(device)));
        QSignalSpy finished(m_pDlg, &QDialog::finished);
        m_pRig->Click(IDC_CONNECT);
        QVERIFY(m_pDlg->IsConnecting());
        QTest::keyClick(m_pDlg, Qt::Key_Escape);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!m_pDlg->isVisible());
        // The step's answer still arrives (the window joins it when it goes).
        QVERIFY(fwtest::WaitUntil([&] { return !m_pDlg->IsConnecting(); }, kRunTimeoutMs));
    }

    void testVanishedPort() {
        fwsim::CSimDevice& device = m_pRig->AddDevice(Personality::Application);
        const QString strOther =
            m_pRig->PortNameOf(m_pRig->AddDevice(Personality::Application, "1-2"));
        QVERIFY(m_pRig->ChoosePort(m_pRig->PortNameOf(device)));
        device.Unplug();
        m_pRig->Click(IDC_CONNECT);
        auto* pCombo = Ctl<QComboBox>(IDC_PORT);
        QVERIFY(!m_pDlg->IsConnecting()); // no connection attempt
        QCOMPARE(Answerer().Messages(), 0);
        QCOMPARE(pCombo->count(), 1); // refreshed: the chosen port is gone
        QCOMPARE(pCombo->itemText(0), strOther);
        QCOMPARE(pCombo->currentIndex(), -1);
        QTRY_VERIFY(pCombo->view()->isVisible()); // and opened for a new choice
        pCombo->hidePopup();
        QCOMPARE(Text(IDC_CONNECT), QStringLiteral("Connect"));
        QCOMPARE(Text(IDC_DEVICE_STATE), QStringLiteral("no device"));
        QVERIFY(!m_pDlg->IsConnected());
    }

    // --- Manual run ------------------------------------------------------------

    void testManualRunSuccess() {
        fwsim::CSimDevice& device = m_pRig->AddDevice(Personality::BootLoader);
        const QByteArray image = Pattern(176128, 5);
        const QString strFile = m_pRig->WriteFile(QStringLiteral("fw.bin"), image);
        QVERIFY(m_pRig->ChoosePort(m_pRig->PortNameOf(device)));
        m_pRig->ClickConnectAndWait();
        m_pRig->LoadByDialog(strFile);
        QVERIFY(Enabled(IDC_UPLOAD));
        fwup::CUnitRecordLog records; // as --record FILE gives it
        std::string strError;
        const QString strRecords = m_pRig->WriteFile(QStringLiteral("records.jsonl"), {});
        QVERIFY(records.Open(strRecords.toStdString(), strError));
        m_pDlg->SetRecordLog(&records);

        m_pRig->Click(IDC_UPLOAD);
        // Out of use at once, with the wait cursor, while the job runs on its thread.
        QVERIFY(m_pDlg->IsManualRunActive());
        for (const int nId : {IDC_UPLOAD, IDC_LOAD, IDC_CONNECT, IDC_AUTO_MODE}) {
            QVERIFY2(!Enabled(nId), qPrintable(QString::number(nId)));
        }
        QVERIFY(QApplication::overrideCursor() != nullptr);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QVERIFY(fwtest::WaitUntil([&] { return !m_pDlg->IsManualRunActive(); }, kRunTimeoutMs));

        const QString strLog = Text(IDC_LOG);
        QVERIFY2(strLog.contains(QStringLiteral("Records go to ") + strRecords + "\r\n"),
                 qPrintable(strLog));
        QVERIFY2(strLog.contains(QStringLiteral("updating device[unknown] ...\r\n")),
                 qPrintable(strLog));
        QVERIFY2(strLog.endsWith(QStringLiteral(
                     "FW Update Successful!\r\nPlease disconnect the USB cable and turn your "
                     "Tarnic's power off & on before use.\r\n")),
                 qPrintable(strLog));
        QCOMPARE(Ctl<QProgressBar>(IDC_PROGRESS)->value(), 100);
        QCOMPARE(m_pDlg->JobState(), 0);
        const QString strInfo = Text(IDC_FILE_INFO);
        QVERIFY2(strInfo.startsWith(QStringLiteral("file name : fw.bin\r\nfile size : 176128\r\n"
                                                   "file date : ")),
                 qPrintable(strInfo));
        QCOMPARE(strInfo.count(QStringLiteral("\r\n")), 2); // the date line has no line end
        VerifyDisconnectedAfterRun();
        QVERIFY(Enabled(IDC_AUTO_MODE));
        QCOMPARE(device.DownloadsFinished(), 1);
        QVERIFY(FlashHolds(device, image));
        m_pDlg->SetRecordLog(nullptr);
        records.Close(); // the record is written by its own thread: wait for it
        QFile recordFile(strRecords);
        QVERIFY(recordFile.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = recordFile.readAll().split('\n');
        QCOMPARE(lines.size(), 2); // one record and the end of its line
        QVERIFY2(lines[0].contains("\"file\":\"fw.bin\",\"size\":176128,\"sha256\":\""),
                 lines[0].constData());
        QVERIFY2(lines[0].contains("\"exit_code\":0,"), lines[0].constData());
    }

    void testManualRunFailureAndCloseAfterRun() {
        fwsim::SimDeviceConfig config = m_pRig->DeviceConfig(Personality::BootLoader);
        config.faults.nFailBlock = 2;
        fwsim::CSimDevice& device = m_pRig->AddDevice(config);
        const QString strFile = m_pRig->WriteFile(QStringLiteral("fw.bin"), Pattern(20000, 6));
        QVERIFY(m_pRig->ChoosePort(m_pRig->PortNameOf(device)));
        m_pRig->ClickConnectAndWait();
        m_pRig->LoadByDialog(strFile);
        QSignalSpy finished(m_pDlg, &QDialog::finished);

        m_pRig->Click(IDC_UPLOAD);
        QVERIFY(m_pDlg->IsManualRunActive());
        // Closing during a run is refused; the window closes when the run is over.
        m_pDlg->close();
        QTest::keyClick(m_pDlg, Qt::Key_Escape);
        QVERIFY(m_pDlg->isVisible());
        QCOMPARE(finished.count(), 0);
        QCOMPARE(Text(IDC_STATUS), QStringLiteral("closing when the update is over ..."));
        // Auto mode cannot start, and a drop cannot change the file, while the job
        // reads the request.
        m_pRig->Click(IDC_AUTO_MODE);
        QVERIFY(m_pDlg->IsAutoStopped());
        m_pRig->Drop(IDC_FILE_INFO,
                     {m_pRig->WriteFile(QStringLiteral("other.bin"), Pattern(10, 9))});
        QCOMPARE(Text(IDC_FILE_PATH), strFile);
        QVERIFY(fwtest::WaitUntil([&] { return !m_pDlg->IsManualRunActive(); }, kRunTimeoutMs));
        QCOMPARE(QString::fromStdString(m_pDlg->Request().strFirmwarePath), strFile);
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(!m_pDlg->isVisible());

        QVERIFY2(Text(IDC_LOG).contains(QStringLiteral("Communication Error\r\ncause: ")),
                 qPrintable(Text(IDC_LOG)));
        QCOMPARE(m_pDlg->JobState(), -1);
        VerifyDisconnectedAfterRun();
        QCOMPARE(device.DownloadsFinished(), 0);
    }

    // --- Auto mode -------------------------------------------------------------

    void testAutoModeTwoDevices() {
        const QByteArray image = Pattern(30000, 7);
        const QString strFile = m_pRig->WriteFile(QStringLiteral("fw.bin"), image);
        m_pRig->Drop(IDC_FILE_INFO, {strFile});
        QVERIFY(m_pDlg->HasImage());
        fwsim::CSimDevice& first = m_pRig->AddDevice(Personality::Application);

        // At each "Remove the device" the operator unplugs the device just updated;
        // after the first, the second device is plugged in.
        int nBoxes = 0;
        Answerer().pfnBeforeClose = [&](const fwtest::SeenDialog& seen) {
            if (seen.strText != QStringLiteral("Remove the device")) {
                return;
            }
            ++nBoxes;
            // Updating: the button is out of use and the search bar is a marquee.
            QVERIFY(!Enabled(IDC_AUTO_MODE));
            QCOMPARE(Ctl<QProgressBar>(IDC_AUTO_PROGRESS)->maximum(), 0);
            QCOMPARE(Text(IDC_STATUS), QStringLiteral("updating device ..."));
            if (nBoxes == 1) {
                QCOMPARE(first.DownloadsFinished(), 1);
                first.Unplug();
                m_pRig->AddDevice(Personality::Application, "1-2");
            } else {
                m_pRig->Devices().back()->Unplug();
            }
        };

        auto* pButton = Ctl<QPushButton>(IDC_AUTO_MODE);
        m_pRig->Click(IDC_AUTO_MODE);
        QCOMPARE(pButton->text(), QStringLiteral("cancel auto mode"));
        QVERIFY(!m_pDlg->IsAutoStopped());
        for (const int nId : {IDC_UPLOAD, IDC_LOAD, IDC_CONNECT, IDC_PORT}) {
            QVERIFY2(!Enabled(nId), qPrintable(QString::number(nId)));
        }
        QVERIFY(fwtest::WaitUntil([&] { return nBoxes == 2; }, 2 * kRunTimeoutMs));
        QTRY_COMPARE(Text(IDC_STATUS), QStringLiteral("detecting device ..."));
        QTRY_VERIFY(pButton->isEnabled());

        m_pRig->Click(IDC_AUTO_MODE);
        QCOMPARE(pButton->text(), QStringLiteral("auto mode"));
        QTRY_VERIFY_WITH_TIMEOUT(m_pDlg->IsAutoStopped(), 5000);
        QTRY_VERIFY(pButton->isEnabled());
        QVERIFY(Enabled(IDC_PORT));
        QVERIFY(Enabled(IDC_LOAD)); // as before auto mode

        QCOMPARE(Answerer().Count(QStringLiteral("Remove the device")), 2);
        for (const fwtest::SeenDialog& seen : Answerer().Seen()) {
            QCOMPARE(seen.eIcon, QMessageBox::NoIcon);
            QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
        QCOMPARE(m_pRig->Devices().size(), size_t(2));
        for (const auto& pDevice : m_pRig->Devices()) {
            QCOMPARE(pDevice->DownloadsFinished(), 1);
            QVERIFY(FlashHolds(*pDevice, image));
        }
        const QString strLog = Text(IDC_LOG);
        QCOMPARE(strLog.count(QStringLiteral("FW Update Successful!")), 2);
        QVERIFY(strLog.contains(QStringLiteral("updating device[SN-1-1] ...")));
        QVERIFY(strLog.contains(QStringLiteral("updating device[SN-1-2] ...")));
        QCOMPARE(m_pDlg->JobState(), 0);
    }

    void testCloseDuringAutoMode() {
        QSignalSpy finished(m_pDlg, &QDialog::finished);
        auto* pButton = Ctl<QPushButton>(IDC_AUTO_MODE);
        m_pRig->Click(IDC_AUTO_MODE);
        QTRY_COMPARE(Text(IDC_STATUS), QStringLiteral("detecting device ..."));
        // Searching: the bar steps 0, 10, ... one step a cycle.
        auto* pBar = Ctl<QProgressBar>(IDC_AUTO_PROGRESS);
        QTRY_VERIFY(pBar->value() >= 20);
        QCOMPARE(pBar->maximum(), 100);

        QTest::keyClick(m_pDlg, Qt::Key_Escape);
        QVERIFY(!pButton->isEnabled());
        QCOMPARE(pButton->text(), QStringLiteral("cancel auto mode"));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
        QVERIFY(m_pDlg->IsAutoStopped());
        QVERIFY(!m_pDlg->isVisible());
    }
};

QTEST_MAIN(UiTests)
#include "UiTests.moc"

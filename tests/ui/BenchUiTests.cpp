// The bench window in Qt, offscreen: four simulated readers at once, started by
// the operator's Alt+S, records in a SQLite store read back with SQLite itself.

#include "records/CUnitRecordLog.h"
#include "sim/CSimDevice.h"
#include "tests/support/CSimRig.h"
#include "ui/CBenchWindow.h"
#include "ui/CProgressDelegate.h"
#include "ui/CSlotBoard.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <sqlite3.h>

#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

QString FieldText(const QWidget& window, const char* pszName) {
    const auto* pLabel = window.findChild<QLabel*>(QStringLiteral("field.") + pszName);
    return pLabel != nullptr ? pLabel->text() : QStringLiteral("(missing)");
}

// Rows of a query, every column as text ("" for NULL).
std::vector<std::vector<std::string>> Query(const std::string& strDb, const char* pszSql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3* pDb = nullptr;
    if (sqlite3_open_v2(strDb.c_str(), &pDb, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* pStmt = nullptr;
        if (sqlite3_prepare_v2(pDb, pszSql, -1, &pStmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(pStmt) == SQLITE_ROW) {
                std::vector<std::string> row;
                for (int i = 0; i < sqlite3_column_count(pStmt); ++i) {
                    const unsigned char* psz = sqlite3_column_text(pStmt, i);
                    row.emplace_back(psz != nullptr ? reinterpret_cast<const char*>(psz) : "");
                }
                rows.push_back(std::move(row));
            }
        }
        sqlite3_finalize(pStmt);
    }
    sqlite3_close(pDb);
    return rows;
}

} // namespace

class BenchUiTests : public QObject {
    Q_OBJECT
private slots:
    void testFourReadersAtOnceIntoSqlite() {
        fwtest::CSimRig rig;
        std::vector<std::unique_ptr<fwsim::CSimDevice>> devices;
        for (int n = 1; n <= 4; ++n) {
            fwsim::SimDeviceConfig config =
                rig.DeviceConfig(fwsim::Personality::Application, "1-" + std::to_string(n));
            config.strAppTty = config.strBootTty = "ttyACM" + std::to_string(n);
            config.strSerial = "SN-" + std::to_string(n);
            devices.push_back(std::make_unique<fwsim::CSimDevice>(config));
            QVERIFY(devices.back()->Start());
        }
        const std::string strDb = rig.Root() + "/records.db";
        fwup::CUnitRecordLog records;
        std::string strError;
        QVERIFY2(records.Open(strDb, strError), strError.c_str());
        records.SetStation("Bench Q");

        fwup::BenchOptions options;
        options.bBench = true;
        options.strFirmwarePath = rig.WriteFirmware("reader.bin", 20000, 9);
        options.strStation = "Bench Q";
        auto pWindow = std::make_unique<fwup::CBenchWindow>();
        fwup::CBenchWindow& window = *pWindow;
        window.Model().SetProtocolTimings(fwtest::TestTimings());
        window.SetRecordSink(&records);
        QVERIFY2(window.Init(options, strError), strError.c_str());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("VelgoFWUp bench \u2014 reader.bin"));
        QCOMPARE(FieldText(window, "ImageSize"), QStringLiteral("20000 bytes"));
        QCOMPARE(FieldText(window, "Station"), QStringLiteral("Bench Q"));
        QVERIFY(FieldText(window, "Store").endsWith(QStringLiteral("records.db")));
        auto* pStart = window.findChild<QPushButton*>(QStringLiteral("start"));
        auto* pStop = window.findChild<QPushButton*>(QStringLiteral("stop"));
        QVERIFY(pStart != nullptr && pStop != nullptr);
        QVERIFY(pStart->isEnabled());
        QVERIFY(!pStop->isEnabled());

        // The board first, every seated reader WAITING before Start.
        const auto* pBoard = window.findChild<fwup::CSlotBoard*>(QStringLiteral("board"));
        QVERIFY(pBoard != nullptr && pBoard->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(pBoard->Tiles().size(), size_t(4), 5000);
        for (const fwup::BenchTile& tile : pBoard->Tiles()) {
            QCOMPARE(tile.eState, fwup::SlotState::Waiting);
        }
        QTest::keyClick(&window, Qt::Key_S, Qt::AltModifier); // "&Start"
        QTRY_VERIFY_WITH_TIMEOUT(pStop->isEnabled(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(FieldText(window, "Passed"), QStringLiteral("4"), 30000);
        QCOMPARE(FieldText(window, "Failed"), QStringLiteral("0"));
        QCOMPARE(FieldText(window, "Yield"), QStringLiteral("100.0 %"));

        const auto* pTable = window.findChild<QTableWidget*>(QStringLiteral("slots"));
        QVERIFY(pTable != nullptr);
        QCOMPARE(pTable->rowCount(), 4);
        QCOMPARE(pTable->horizontalHeaderItem(5)->text(), QStringLiteral("Progress"));
        std::set<std::tuple<std::string, std::string>> seen; // slot, serial
        for (int nRow = 0; nRow < 4; ++nRow) {
            const auto text = [&](int nCol) { return pTable->item(nRow, nCol)->text(); };
            seen.emplace(text(0).toStdString(), text(2).toStdString());
            QCOMPARE(text(3), QStringLiteral("2.0.0.1"));
            QCOMPARE(text(5), QStringLiteral("100 %"));
            QCOMPARE(pTable->item(nRow, 5)->data(fwup::CProgressDelegate::kProgressRole).toInt(),
                     100);
            QCOMPARE(text(6), QStringLiteral("passed"));
            QVERIFY(pTable->item(nRow, 6)->background().style() != Qt::NoBrush);
            QCOMPARE(text(8), QStringLiteral("1"));
        }
        // Slots by first sight: four distinct labels "Slot 1".."Slot 4", four serials.
        std::set<std::string> slotLabels, serials;
        for (const auto& [strSlot, strSerial] : seen) {
            slotLabels.insert(strSlot);
            serials.insert(strSerial);
        }
        QVERIFY(slotLabels == (std::set<std::string>{"Slot 1", "Slot 2", "Slot 3", "Slot 4"}));
        QVERIFY(serials == (std::set<std::string>{"SN-1", "SN-2", "SN-3", "SN-4"}));

        for (const fwup::BenchTile& tile : pBoard->Tiles()) {
            QCOMPARE(tile.eState, fwup::SlotState::Pass);
            QVERIFY(pBoard->TileRect(&tile - pBoard->Tiles().data()).height() >= 60);
        }
        // F2: the table; Ctrl++: larger, kept for the user's next bench.
        QTest::keyClick(&window, Qt::Key_F2);
        QVERIFY(pTable->isVisible() && !pBoard->isVisible());
        QTest::keyClick(&window, Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(window.Model().ScalePercent(), 100);
        const double pointSize = pTable->font().pointSizeF();
        QTest::keyClick(&window, Qt::Key_Equal, Qt::ControlModifier);
        QCOMPARE(window.Model().ScalePercent(), 110);
        QVERIFY(pTable->font().pointSizeF() > pointSize);

        QTest::mouseClick(pStop, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(pStart->isEnabled(), 10000);
        QCOMPARE(FieldText(window, "Status"), QStringLiteral("stopped"));
        // The close box with counted units asks first, No the default; Yes ends it.
        QString strAsked;
        QMessageBox::StandardButton eDefault = QMessageBox::NoButton;
        QTimer::singleShot(50, [&] {
            auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (pBox != nullptr) {
                strAsked = pBox->text();
                eDefault = pBox->standardButton(pBox->defaultButton());
                pBox->button(QMessageBox::Yes)->click();
            }
        });
        window.close();
        QVERIFY(strAsked.startsWith(QStringLiteral("Close the bench?")));
        QCOMPARE(eDefault, QMessageBox::No);
        QVERIFY(!window.isVisible());
        pWindow.reset();
        fwup::CBenchWindow next; // the user's scale is kept
        QVERIFY2(next.Init(fwup::BenchOptions(), strError), strError.c_str());
        QCOMPARE(next.Model().ScalePercent(), 110);
        records.Close();

        const auto rows =
            Query(strDb, "SELECT serial, slot, result, attempt, station, file, size FROM units "
                         "ORDER BY serial");
        QCOMPARE(rows.size(), size_t(4));
        std::set<std::string> recordSlots;
        for (size_t i = 0; i < rows.size(); ++i) {
            QCOMPARE(rows[i][0], "SN-" + std::to_string(i + 1));
            recordSlots.insert(rows[i][1]);
            QCOMPARE(rows[i][2], std::string(fwup::OutcomeText(fwup::OutcomeKind::Success)));
            QCOMPARE(rows[i][3], std::string("1"));
            QCOMPARE(rows[i][4], std::string("Bench Q"));
            QCOMPARE(rows[i][5], std::string("reader.bin"));
            QCOMPARE(rows[i][6], std::string("20000"));
        }
        QVERIFY(recordSlots == slotLabels);
    }
};

QTEST_MAIN(BenchUiTests)
#include "BenchUiTests.moc"

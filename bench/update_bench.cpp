// Full update of a 176128-byte image against the simulated device paced at
// 115200 baud. Prints the wall time, the floor that the protocol's fixed waits
// and the line speed impose, their ratio, and the CPU share; plus CRC-32
// throughput. Figures only: nothing here passes or fails.

#include "bench/BenchRoot.h"
#include "device/CDeviceSession.h"
#include "device/Crc32.h"
#include "device/FirmwareFile.h"
#include "device/Packets.h"
#include "device/UpdateJob.h"
#include "serial/PortDiscovery.h"
#include "sim/CSimDevice.h"
#include "tests/support/CSimRig.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kLineBytesPerSecond = 11520.0;
constexpr uint32_t kImageSize = 176128;

double CpuSeconds(int nWho) {
    rusage usage{};
    getrusage(nWho, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct JobLog : fwup::IStageObserver {
    int nLastStage = -1;
    int nBlocks = 0;

    void OnStage(fwup::UpdateStage eStage, const fwup::UpdateStatus&) override {
        nLastStage = eStage;
        if (eStage == fwup::StageProgress) {
            ++nBlocks;
        }
    }
};

// Bytes both ways of one application-mode update, from the wire formats.
double WireBytes(const fwsim::SimDeviceConfig& config) {
    double nHost = 0;
    double nDevice = 0;
    nHost += 2 * 8;                                // two status queries
    nHost += 5;                                    // ~rv
    nDevice += 7 + config.strVersion.size() + 2;   // ~Rv0000...
    nHost += 5;                                    // ~rS
    nDevice += 7 + config.strSerial.size() + 2;    // ~RS0000...
    nDevice += 9 + config.strReadyText.size() + 2; // ready line
    nHost += 8;                                    // ~dboot
    nDevice += 8;                                  // ~Dboot
    nHost += 8;                                    // status query
    nDevice += 8;                                  // its answer
    nHost += 3 * 8;                                // three commands
    nDevice += 16 + 8 + 16;                        // info, go, reply
    const uint32_t nBlockData = fwup::BlockDataSize(config.dwMaxPacketWords);
    for (const auto& block : fwup::PlanBlocks(fwup::kCodeAreaAddress, kImageSize, nBlockData)) {
        nHost += 20 + block.nCount + ((0u - block.nCount) & 3u);
        nDevice += 16;
    }
    nHost += 8;    // finish
    nDevice += 16; // its reply
    return nHost + nDevice;
}

void CrcThroughput() {
    std::vector<uint8_t> data(16 << 20);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    }
    const auto tpStart = Clock::now();
    uint32_t dwCrc = 0;
    constexpr int kRounds = 8;
    for (int i = 0; i < kRounds; ++i) {
        dwCrc = fwup::Crc32Update(dwCrc, data.data(), data.size());
    }
    const double dSeconds = std::chrono::duration<double>(Clock::now() - tpStart).count();
    std::printf("crc32 throughput          : %8.1f MB/s  (%d x 16 MiB, crc %08x)\n",
                kRounds * 16.0 * 1048576.0 / 1e6 / dSeconds, kRounds, dwCrc);
}

// Two paced readers updated at once in this process, each in its own session
// and thread: the wall of each against one reader alone.
bool TwoDevicesAtOnce(const std::string& strRoot, const std::string& strFile, double dAlone) {
    std::vector<std::unique_ptr<fwsim::CSimDevice>> devices;
    for (int i = 0; i < 2; ++i) {
        fwsim::SimDeviceConfig config;
        config.strRoot = strRoot;
        config.bPaced = true;
        config.strUsbPath = "2-" + std::to_string(i + 1);
        config.strAppTty = config.strBootTty = "ttyACM" + std::to_string(10 + i);
        config.strSerial = "SN0000000" + std::to_string(i + 1);
        devices.push_back(std::make_unique<fwsim::CSimDevice>(config));
        if (!devices.back()->Start()) {
            return false;
        }
    }
    std::vector<fwup::PortRecord> ports;
    for (int i = 0; i < 100 && ports.size() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ports = fwup::ScanPorts();
    }
    if (ports.size() < 2) {
        return false;
    }
    double walls[2] = {};
    bool ok[2] = {};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&, i] {
            fwup::CDeviceSession session(std::make_unique<fwup::CComPort>(ports[i]));
            fwup::UpdateRequest request;
            request.strFirmwarePath = strFile;
            JobLog log;
            const auto tpStart = Clock::now();
            ok[i] = fwup::RunUpdate(session, request, log).Succeeded();
            walls[i] = std::chrono::duration<double>(Clock::now() - tpStart).count();
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (int i = 0; i < 2; ++i) {
        std::printf("two at once, reader %d    : %8.3f s = %5.3f x alone (%s)\n", i + 1, walls[i],
                    walls[i] / dAlone, ok[i] ? "success" : "FAILED");
    }
    return ok[0] && ok[1];
}

} // namespace

int main() {
    const fwtest::CSimRig rig; // the private root (FWUP_SYSROOT), removed on the way out
    const std::string& strRoot = rig.Root();
    const std::vector<char> image = fwbench::BenchImage(kImageSize);
    const std::string strFile = fwbench::WriteBenchImage(strRoot, image);

    fwsim::SimDeviceConfig config;
    config.strRoot = strRoot;
    config.bPaced = true;
    int nResult = 0;
    double dAloneWall = 0;
    {
        fwsim::CSimDevice device(config);
        if (!device.Start()) {
            std::fprintf(stderr, "simulated device did not start\n");
            return 1;
        }
        const std::string strName = rig.WaitPortName(2000);
        fwup::CDeviceSession session(strName); // the product's own timings
        fwup::UpdateRequest request;
        request.strFirmwarePath = strFile;
        JobLog log;

        const double dProcessCpu0 = CpuSeconds(RUSAGE_SELF);
        const double dThreadCpu0 = CpuSeconds(RUSAGE_THREAD);
        const auto tpStart = Clock::now();
        fwup::RunUpdate(session, request, log);
        const double dWall = std::chrono::duration<double>(Clock::now() - tpStart).count();
        const double dThreadCpu = CpuSeconds(RUSAGE_THREAD) - dThreadCpu0;
        const double dProcessCpu = CpuSeconds(RUSAGE_SELF) - dProcessCpu0;

        const bool bFlashed = device.FlashAt(fwsim::kCodeAddress, kImageSize) ==
                              std::vector<uint8_t>(image.begin(), image.end());
        // Fixed waits of an application-mode device: two status-query time-outs,
        // the pause after "~dboot" (the device's restart hides in it unless longer),
        // the first 100 ms poll of the port's return, and the simulator's ready delay.
        const double dFixed = 2 * 3.0 + std::max(2.0, config.dwAppRestartMs / 1000.0) + 0.1 +
                              config.dwReadyDelayMs / 1000.0;
        const double dWireBytes = WireBytes(config);
        const double dWire = dWireBytes / kLineBytesPerSecond;
        const double dFloor = dFixed + dWire;

        std::printf("image                     : %u bytes, %d blocks of L=%u words, %s\n",
                    kImageSize, log.nBlocks, config.dwMaxPacketWords,
                    log.nLastStage == fwup::StageSuccess ? "success" : "FAILED");
        std::printf("flash matches file        : %s\n", bFlashed ? "yes" : "NO");
        std::printf("wall time                 : %8.3f s\n", dWall);
        std::printf("floor: fixed waits        : %8.3f s  (2 x 3 s status time-outs, 2 s pause, "
                    "0.1 s port poll, %.3f s ready delay)\n",
                    dFixed, config.dwReadyDelayMs / 1000.0);
        std::printf("floor: wire time          : %8.3f s  (%.0f bytes both ways at 11520 B/s)\n",
                    dWire, dWireBytes);
        std::printf("floor: total              : %8.3f s\n", dFloor);
        std::printf("wall / floor              : %8.3f    (target <= 1.05)\n", dWall / dFloor);
        std::printf("cpu of the job's thread   : %8.3f s = %5.2f %% of wall (target <= 5 %%)\n",
                    dThreadCpu, 100.0 * dThreadCpu / dWall);
        std::printf("cpu of the whole process  : %8.3f s = %5.2f %% of wall (simulator included)\n",
                    dProcessCpu, 100.0 * dProcessCpu / dWall);
        nResult = log.nLastStage == fwup::StageSuccess && bFlashed ? 0 : 2;
        dAloneWall = dWall;
    }
    if (nResult == 0 && !TwoDevicesAtOnce(strRoot, strFile, dAloneWall)) {
        nResult = 2;
    }
    CrcThroughput();
    return nResult;
}

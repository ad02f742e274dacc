// One simulated reader with the device's own delays, flashed by the parallel
// auto loop with the product's timings, with and without the read-back, with a
// reader that comes back after its download and with one that stays away. The
// operator takes the reader off as soon as the loop says the unit is done.
// Prints the job's time and the slot's cycle (the loop's start until it counts
// the reader removed and would take the next). Figures only.

#include "sim/CSimDevice.h"
#include "tests/support/CSimRig.h"
#include "workflows/CParallelAutoLoop.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// The two moments of a unit, as the loop tells them.
class CMoments final : public fwup::IAutoObserver {
public:
    void OnDeviceDone(const fwup::DeviceUnit&, const fwup::AutoTally&) override { Mark(m_tpDone); }
    void OnDeviceRemoved(const fwup::DeviceUnit&) override { Mark(m_tpRemoved); }
    void OnStage(const fwup::DeviceUnit&, fwup::UpdateStage, const fwup::UpdateStatus&) override {}
    void OnJobEnded(const fwup::DeviceUnit&, const fwup::UpdateOutcome&,
                    const fwup::UpdateRequest&) override {}

    // False when the moment did not come within nSeconds.
    bool Wait(bool bRemoved, int nSeconds) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(nSeconds), [&] {
            return (bRemoved ? m_tpRemoved : m_tpDone) != Clock::time_point{};
        });
    }
    Clock::time_point Done() const { return m_tpDone; }
    Clock::time_point Removed() const { return m_tpRemoved; }

private:
    void Mark(Clock::time_point& tp) {
        std::lock_guard lock(m_mutex);
        tp = Clock::now();
        m_cv.notify_all();
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    Clock::time_point m_tpDone{}, m_tpRemoved{};
};

double Seconds(Clock::time_point tpFrom, Clock::time_point tpTo) {
    return std::chrono::duration<double>(tpTo - tpFrom).count();
}

} // namespace

int main() {
    std::printf("%-10s %-11s %9s %11s\n", "read-back", "reader", "job (s)", "cycle (s)");
    for (const bool bVerify : {false, true}) {
        for (const bool bReturns : {true, false}) {
            const fwtest::CSimRig rig;
            fwsim::SimDeviceConfig config; // the device's own delays
            config.strRoot = rig.Root();
            config.bReturnAsApp = bReturns;
            config.strFlashedVersion = "2.1.0.0";
            fwsim::CSimDevice device(config);
            if (!device.Start()) {
                std::fprintf(stderr, "the simulated reader did not start\n");
                return 1;
            }
            CMoments moments;
            fwup::CParallelAutoLoop loop(rig.WriteFirmware("fw.bin", 176128), moments,
                                         fwup::ProtocolTimings{});
            loop.SetReadBack(bVerify, std::nullopt);
            const Clock::time_point tpStart = Clock::now();
            std::thread runner([&] { loop.Run(); });
            const bool bDone = moments.Wait(false, 120);
            device.Unplug(); // the operator, told the unit is done
            const bool bRemoved = bDone && moments.Wait(true, 120);
            loop.RequestStop();
            runner.join();
            if (!bRemoved) {
                std::fprintf(stderr, "the loop did not finish the unit\n");
                return 2;
            }
            std::printf("%-10s %-11s %9.2f %11.2f\n", bVerify ? "on" : "off",
                        bReturns ? "comes back" : "stays away", Seconds(tpStart, moments.Done()),
                        Seconds(tpStart, moments.Removed()));
        }
    }
    return 0;
}

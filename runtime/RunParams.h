#pragma once
// The run parameters: process-wide switches and log levels that the
// operator changes in runParams.Cfg while the station runs (re-read every
// 15 seconds). Written by the window thread, read anywhere without a lock.
#include <atomic>
#include <cstdint>

namespace velk {

struct RunParams {
    std::atomic<int16_t> testPerformance{0};
    std::atomic<int16_t> DebugNewRoundSw{0};
    std::atomic<int16_t> DebugRecNoSw{0};
    std::atomic<int16_t> saveFirstRoundQuota{0};
    std::atomic<int16_t> saveClosedRoundQuota{0};
    std::atomic<int16_t> savePerRound{0};
    std::atomic<int16_t> fileLogLevel{0};
    std::atomic<int16_t> viewLogLevel{0};
    std::atomic<int16_t> checkTraffic{0};

    // The one record of the process.
    static RunParams& instance();
    // All values back to 0, as before the first read (tests).
    void clear();
};

}  // namespace velk

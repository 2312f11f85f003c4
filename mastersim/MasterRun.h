#pragma once
// One run of the stand-in master station: the schedule, pacing, the channels
// with their faults, and what is written at the end.
#include <atomic>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "mastersim/Options.h"

namespace mastersim {

struct RunResult {
    bool complete = false;  // the last rounds went out (not cut short)
    double seconds = 0;     // real time of the run
    SimStats sim;
    ChannelStats channels[kChannels];
    std::vector<std::pair<int64_t, int64_t>> roundTimes;  // NQHQ round, CLOCK_MONOTONIC ns
    size_t maxQueued = 0;
    std::string error;
};

// Runs until the duration is up or the day is over, or until stop is set
// (then the rounds under way are completed; a second request, stopNow,
// ends at once). Progress lines go to progress when it is not null.
RunResult RunMaster(const MasterOptions& options, DatagramSink& sink, const std::atomic<bool>& stop,
                    const std::atomic<bool>& stopNow, FILE* progress);

// The expected counters and the run's summary, as written to expect.txt.
std::vector<std::pair<std::string, std::string>> ExpectationLines(
    const MasterOptions& options, const RunResult& result, const std::vector<TruthTable>& truth);
// Writes the truth tables, expect.txt and (when asked) the round log.
bool WriteRunOutputs(const MasterOptions& options, const RunResult& result,
                     const std::vector<TruthTable>& truth, std::string* error);
// The summary printed at the end of a run.
std::string SummaryText(const RunResult& result);

// --compare: 0 when every table equals its truth; the report goes to out.
int CompareTables(const std::string& truthDir, const std::string& tableDir, bool converged,
                  FILE* out);

}  // namespace mastersim

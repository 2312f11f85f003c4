// tavrel-master: the stand-in master station on loopback multicast.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "mastersim/MasterRun.h"

namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_stopNow{false};

void OnSignal(int) {
    // The first request completes the rounds under way; a second one ends
    // the run at once.
    if (g_stop.exchange(true)) g_stopNow.store(true);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace mastersim;
    std::vector<std::string> args(argv + 1, argv + argc);
    MasterOptions options;
    std::string error;
    switch (ParseOptions(args, options, error)) {
        case Command::Help:
            std::fputs(HelpText().c_str(), stdout);
            return 0;
        case Command::Error:
            std::fprintf(stderr, "tavrel-master: %s\n", error.c_str());
            return 2;
        case Command::Compare:
            return CompareTables(options.compareTruth, options.compareTables, options.converged,
                                 stdout);
        case Command::Run:
            break;
    }

    MulticastSink sink;
    if (!sink.open(options.groups, options.ports, options.interfaceAddr, options.ttl, &error)) {
        std::fprintf(stderr, "tavrel-master: %s\n", error.c_str());
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    std::printf(
        "tavrel-master: %d securities, channel 2000011 on %s:%u, channel 2100011 on %s:%u, "
        "interface %s\n",
        options.sim.securities, options.groups[0].c_str(), unsigned(options.ports[0]),
        options.groups[1].c_str(), unsigned(options.ports[1]), options.interfaceAddr.c_str());
    std::fflush(stdout);
    const RunResult result = RunMaster(options, sink, g_stop, g_stopNow, stdout);
    std::fputs(SummaryText(result).c_str(), stdout);
    if (!options.truthDir.empty() && result.error.empty())
        std::printf("  truth written to %s\n", options.truthDir.c_str());
    return result.error.empty() ? 0 : 1;
}

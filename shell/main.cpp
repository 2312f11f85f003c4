// tavrel: the receiving station. See README.md, "Running the station".
#include <csignal>

#include "shell/TavrelApp.h"

namespace {

std::atomic<int> g_signal{0};

void OnSignal(int sig) {
    g_signal.store(sig);
}

}  // namespace

int main(int argc, char** argv) {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A peer that goes away must not end the station through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);

    CTavrelApp app;
    return app.Run(argc, argv, &g_signal);
}

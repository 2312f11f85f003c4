#pragma once
// The window thread of the terminal front-end: runs the main window's
// timers, hands it the controller's window messages one at a time, and
// closes it when asked (by the window itself, or by SIGINT/SIGTERM). Every
// handler of CTavrelDlg runs on the thread that calls run().
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/WindowMessages.h"
#include "shell/MainView.h"

class HeadlessLoop : public platform::WindowMessageTarget, public WindowLoop {
  public:
    // The loop looks at the stop signal at least this often.
    static constexpr uint32_t kMaxWaitMs = 50;

    HeadlessLoop() = default;
    ~HeadlessLoop() override;

    // WindowMessageTarget (any thread): waits until the window handled the
    // message; -1 at once when the gate is closed.
    long sendMessage(int message, const std::string& text) override;

    // WindowLoop (window thread).
    bool startTimer(int id, uint32_t periodMs) override;
    void stopTimers() override;
    void postClose() override;
    void closeMessageGate() override;

    // Runs until the window is closed. A non-zero *signal (set by a signal
    // handler) closes it without asking; *signal then names the signal.
    void run(WindowHandlers& window, const std::atomic<int>* signal);

    // One turn of the loop, waiting at most maxWaitMs for something to do
    // (tests drive the loop with it). False once the window is closed.
    bool runOnce(WindowHandlers& window, const std::atomic<int>* signal, uint32_t maxWaitMs);

  private:
    struct Pending {
        int message = 0;
        std::string text;
        long result = -1;
        bool taken = false;  // the window is handling it: the sender waits for the end
        bool done = false;
    };
    struct TimerEntry {
        int id = 0;
        uint32_t period = 0;
        uint32_t due = 0;
    };

    // The first timer due at now, or -1; its next time is set.
    int takeDueTimer(uint32_t now);
    uint32_t millisToNextTimer(uint32_t now) const;

    std::mutex m_;
    std::condition_variable cv_;
    std::deque<Pending*> pending_;
    bool gateClosed_ = false;
    bool closeRequested_ = false;
    std::vector<TimerEntry> timers_;
};

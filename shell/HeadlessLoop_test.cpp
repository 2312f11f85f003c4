#include "shell/HeadlessLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "tests/support/TestSupport.h"

namespace {

// Records what the loop calls, and on which thread.
class FakeWindow : public WindowHandlers {
  public:
    void OnTimer(int id) override { timers.push_back(id); }
    long OnWindowMessage(int message, const std::string& text) override {
        messageThread = std::this_thread::get_id();
        messages.push_back(message);
        texts.push_back(text);
        return message + 1;
    }
    bool OnClose(bool ask) override {
        closeAsked.push_back(ask);
        if (onClose) onClose();
        closed_ = true;
        return true;
    }
    bool closed() const override { return closed_; }

    std::vector<int> timers;
    std::vector<int> messages;
    std::vector<std::string> texts;
    std::vector<bool> closeAsked;
    std::thread::id messageThread;
    std::function<void()> onClose;

  private:
    bool closed_ = false;
};

TEST(HeadlessLoop, MessagesFromOtherThreadsRunOnTheLoopThreadAndAnswerTheSender) {
    HeadlessLoop loop;
    FakeWindow window;
    std::atomic<long> result{0};
    std::thread sender([&] { result = loop.sendMessage(1126, "/data/a.txt"); });
    for (int i = 0; i < 200 && window.messages.empty(); ++i) loop.runOnce(window, nullptr, 10);
    sender.join();
    ASSERT_EQ(std::vector<int>{1126}, window.messages);
    EXPECT_EQ("/data/a.txt", window.texts[0]);
    EXPECT_EQ(std::this_thread::get_id(), window.messageThread);
    EXPECT_EQ(1127, result.load());
}

TEST(HeadlessLoop, TimersFollowTheTickAndALateTimerFiresOnce) {
    platform::ScopedFakeClock clock;
    HeadlessLoop loop;
    FakeWindow window;
    ASSERT_TRUE(loop.startTimer(1, 250));
    ASSERT_TRUE(loop.startTimer(2, 15000));
    EXPECT_FALSE(loop.startTimer(3, 0));
    loop.runOnce(window, nullptr, 0);
    EXPECT_TRUE(window.timers.empty());
    clock.advance(250);
    loop.runOnce(window, nullptr, 0);
    EXPECT_EQ(std::vector<int>{1}, window.timers);
    clock.advance(15000);  // sixty periods of timer 1 late
    for (int i = 0; i < 5; ++i) loop.runOnce(window, nullptr, 0);
    EXPECT_EQ((std::vector<int>{1, 1, 2}), window.timers);
    loop.stopTimers();
    clock.advance(30000);
    loop.runOnce(window, nullptr, 0);
    EXPECT_EQ(3u, window.timers.size());
}

TEST(HeadlessLoop, PostedCloseAndSignalsCloseWithoutAsking) {
    testsupport::CaptureAppender log;
    {
        HeadlessLoop loop;
        FakeWindow window;
        loop.postClose();
        EXPECT_FALSE(loop.runOnce(window, nullptr, 0));
        EXPECT_EQ(std::vector<bool>{false}, window.closeAsked);
    }
    {
        HeadlessLoop loop;
        FakeWindow window;
        std::atomic<int> signal{SIGTERM};
        loop.run(window, &signal);
        EXPECT_EQ(std::vector<bool>{false}, window.closeAsked);
        EXPECT_EQ(1, log.count("收到信号 SIGTERM，程序退出。", "Tavrel", 300));
    }
}

TEST(HeadlessLoop, AClosingWindowReleasesAWorkerStuckInASend) {
    // The window's close stops a worker that is itself waiting for the
    // window: the gate must answer it, or the join never ends.
    HeadlessLoop loop;
    FakeWindow window;
    std::atomic<bool> sending{false};
    std::atomic<long> result{0};
    std::thread worker([&] {
        sending = true;
        result = loop.sendMessage(1130, "");
    });
    while (!sending) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    window.onClose = [&] {
        loop.closeMessageGate();
        worker.join();
    };
    loop.postClose();
    std::atomic<int> noSignal{0};
    loop.run(window, &noSignal);
    // The close came first; the message was never handled.
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(-1, result.load());
    EXPECT_EQ(-1, loop.sendMessage(1126, "late"));
}

}  // namespace

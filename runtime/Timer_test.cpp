#include "runtime/Timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Clock.h"

namespace velk::util {
namespace {

// Records the order in which callbacks fire and the tick at which they ran.
struct Recorder {
    std::mutex lock;
    std::vector<std::pair<int, uint32_t>> fired;
    void add(int tag) {
        std::lock_guard<std::mutex> g(lock);
        fired.push_back({tag, platform::TickCount()});
    }
    size_t size() {
        std::lock_guard<std::mutex> g(lock);
        return fired.size();
    }
    std::vector<std::pair<int, uint32_t>> copy() {
        std::lock_guard<std::mutex> g(lock);
        return fired;
    }
};

class Tagged : public Timer::Callback {
  public:
    Tagged(Recorder* r, int tag) : r_(r), tag_(tag) {}
    void invoke(int) override { r_->add(tag_); }

  private:
    Recorder* r_;
    int tag_;
};

// Real time passes while the timer thread reacts; fake time does not.
bool WaitFor(const std::function<bool()>& done, int ms = 3000) {
    for (int i = 0; i < ms / 2; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

void Settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

TEST(TimerOrder, WrapSafeDueAndLater) {
    EXPECT_TRUE(Timer::isDue(100, 100));
    EXPECT_TRUE(Timer::isDue(100, 101));
    EXPECT_FALSE(Timer::isDue(100, 99));
    EXPECT_TRUE(Timer::isDue(0xFFFFFFF0u, 0x10u));  // across the wrap
    EXPECT_FALSE(Timer::isDue(0x10u, 0xFFFFFFF0u));
    EXPECT_TRUE(Timer::isLater(0x10u, 0xFFFFFFF0u));
    EXPECT_FALSE(Timer::isLater(0xFFFFFFF0u, 0x10u));
    EXPECT_FALSE(Timer::isLater(5, 5));
}

class TimerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Timer::instance();  // the service exists before time is faked
        clock.setTick(1000);
    }
    // Every test leaves the service empty: nothing may fire into a later one.
    void TearDown() override {
        EXPECT_TRUE(WaitFor([] { return Timer::instance().pendingCount() == 0; }));
    }
    platform::ScopedFakeClock clock;
    Recorder rec;
};

TEST_F(TimerTest, NullCallbackIsRefused) {
    EXPECT_EQ(Timer::instance().schedule(nullptr, 10, false), -1);
}

TEST_F(TimerTest, ShorterOneShotFiresFirst) {
    Timer& t = Timer::instance();
    int a = t.schedule(new Tagged(&rec, 100), 100, false);
    int b = t.schedule(new Tagged(&rec, 50), 50, false);
    EXPECT_GT(a, 0);
    EXPECT_NE(a, b);
    Settle();
    EXPECT_EQ(rec.size(), 0u);
    clock.advance(50);
    ASSERT_TRUE(WaitFor([&] { return rec.size() == 1; }));
    clock.advance(50);
    ASSERT_TRUE(WaitFor([&] { return rec.size() == 2; }));
    auto f = rec.copy();
    EXPECT_EQ(f[0].first, 50);
    EXPECT_EQ(f[1].first, 100);
}

TEST_F(TimerTest, CancelledBeforeDueNeverFiresAndUnknownIdsLeaveNoResidue) {
    Timer& t = Timer::instance();
    int id = t.schedule(new Tagged(&rec, 1), 100, false);
    t.cancel(id);
    t.cancel(987654);  // unknown
    t.cancel(Timer::invalidId);
    Settle();
    clock.advance(200);
    Settle();
    EXPECT_EQ(rec.size(), 0u);
    EXPECT_TRUE(WaitFor([&] { return t.pendingCancellations() == 0 && t.pendingCount() == 0; }));
}

// The pattern of the controller and the file handler: a one-shot that
// schedules the next one from inside its callback.
class Rescheduling : public Timer::Callback {
  public:
    Rescheduling(Recorder* r, platform::FakeClock* c) : r_(r), clock_(c) {}
    void invoke(int) override {
        r_->add(0);
        clock_->advance(7);  // the callback itself takes time
        if (r_->size() < 2) Timer::instance().schedule(new Rescheduling(r_, clock_), 30, false);
    }

  private:
    Recorder* r_;
    platform::FakeClock* clock_;
};

TEST_F(TimerTest, OneShotRescheduledFromItsCallbackFiresOneIntervalAfterTheCallbackEnds) {
    Timer::instance().schedule(new Rescheduling(&rec, &clock), 30, false);
    clock.advance(30);  // first at 1030, ends at 1037
    ASSERT_TRUE(WaitFor([&] { return rec.size() == 1; }));
    clock.advance(29);  // 1066: not yet
    Settle();
    EXPECT_EQ(rec.size(), 1u);
    clock.advance(1);  // 1067
    ASSERT_TRUE(WaitFor([&] { return rec.size() == 2; }));
    EXPECT_EQ(rec.copy()[1].second, 1067u);
}

class SlowPeriodic : public Timer::Callback {
  public:
    SlowPeriodic(Recorder* r, platform::FakeClock* c) : r_(r), clock_(c) {}
    void invoke(int) override {
        r_->add(0);
        clock_->advance(10);
    }

  private:
    Recorder* r_;
    platform::FakeClock* clock_;
};

TEST_F(TimerTest, PeriodicIntervalIsMeasuredFromTheEndOfTheCallback) {
    int id = Timer::instance().schedule(new SlowPeriodic(&rec, &clock), 50, true);
    clock.advance(50);  // fires at 1050, ends at 1060
    ASSERT_TRUE(WaitFor([&] { return rec.size() == 1; }));
    clock.advance(49);  // 1109
    Settle();
    EXPECT_EQ(rec.size(), 1u);
    clock.advance(1);  // 1110
    ASSERT_TRUE(WaitFor([&] { return rec.size() == 2; }));
    Timer::instance().cancel(id);
    clock.advance(200);
    Settle();
    EXPECT_EQ(rec.size(), 2u);
}

TEST_F(TimerTest, ElementDueJustBeforeTheWrapFiresOnTime) {
    clock.setTick(0xFFFFFFFFu - 20);
    Timer::instance().schedule(new Tagged(&rec, 1), 15, false);  // due at 0xFFFFFFFA
    Timer::instance().schedule(new Tagged(&rec, 2), 40, false);  // due after the wrap
    Settle();
    clock.advance(15);
    ASSERT_TRUE(WaitFor([&] { return rec.size() == 1; }));
    clock.advance(25);
    ASSERT_TRUE(WaitFor([&] { return rec.size() == 2; }));
    auto f = rec.copy();
    EXPECT_EQ(f[0].first, 1);
    EXPECT_EQ(f[1].first, 2);
    EXPECT_LT(f[1].second, 100u);  // fired just after the wrap, not 49 days later
}

}  // namespace
}  // namespace velk::util

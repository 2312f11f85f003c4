#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <atomic>

namespace platform {
namespace {

TEST(Clock, SystemClockMovesForwardAndBreaksDownLocalTime) {
    uint32_t a = TickCount();
    SleepMs(2);
    EXPECT_GE(uint32_t(TickCount() - a), 1u);
    WallTime w = Now();
    EXPECT_GE(w.year, 2020);
    EXPECT_GE(w.millis, 0);
    EXPECT_LE(w.millis, 999);
}

TEST(Clock, LocalConversionRoundTrips) {
    int64_t s = FromLocal(2017, 3, 9, 23, 59, 58);
    WallTime w = ToLocal(s, 125);
    EXPECT_EQ(w.year, 2017);
    EXPECT_EQ(w.month, 3);
    EXPECT_EQ(w.day, 9);
    EXPECT_EQ(w.hour, 23);
    EXPECT_EQ(w.minute, 59);
    EXPECT_EQ(w.second, 58);
    EXPECT_EQ(w.millis, 125);
}

TEST(FakeClock, ReplacesTheClockAndMovesOnlyWhenTold) {
    ScopedFakeClock clock;
    clock.setWall(2017, 2, 13, 9, 30, 0, 125);
    clock.setTick(5000);
    EXPECT_EQ(TickCount(), 5000u);
    WallTime w = Now();
    EXPECT_EQ(w.hour, 9);
    EXPECT_EQ(w.millis, 125);

    clock.advance(1500);
    EXPECT_EQ(TickCount(), 6500u);
    EXPECT_EQ(Now().second, 1);
    EXPECT_EQ(Now().millis, 625);

    // Sleeping on the fake clock is instant and moves time on.
    SleepMs(15);
    EXPECT_EQ(TickCount(), 6515u);
    EXPECT_EQ(clock.totalSlept(), 15u);
}

TEST(FakeClock, TickWrapsAroundModulo2To32) {
    ScopedFakeClock clock;
    clock.setTick(0xFFFFFFF0u);
    clock.advance(0x20);
    EXPECT_EQ(TickCount(), 0x10u);
    EXPECT_EQ(uint32_t(TickCount() - 0xFFFFFFF0u), 0x20u);
}

TEST(FakeClock, WakesListenersWhenTimeMoves) {
    std::atomic<int> woken{0};
    int id = AddClockListener([&] { ++woken; });
    {
        ScopedFakeClock clock;  // installing wakes them too
        int before = woken.load();
        clock.advance(10);
        EXPECT_GT(woken.load(), before);
    }
    RemoveClockListener(id);
    int after = woken.load();
    ScopedFakeClock other;
    other.advance(1);
    EXPECT_EQ(woken.load(), after);
}

TEST(FakeClock, UninstallRestoresTheSystemClock) {
    {
        ScopedFakeClock clock;
        clock.setWall(2001, 1, 1, 0, 0, 0);
    }
    EXPECT_GE(Now().year, 2020);
}

}  // namespace
}  // namespace platform

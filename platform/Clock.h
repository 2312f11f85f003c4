#pragma once
// Time as the station sees it: a millisecond tick that wraps after about
// 49.7 days, and the local wall clock. Both come from one replaceable clock
// source so that every time-dependent rule can be tested without waiting.
#include <cstdint>
#include <functional>

namespace platform {

// Broken-down local time of one instant.
struct WallTime {
    int64_t seconds = 0;  // seconds since 1970-01-01 00:00:00 UTC
    int millis = 0;       // 0..999
    int year = 1970;      // e.g. 2017
    int month = 1;        // 1..12
    int day = 1;          // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 4;  // 0 = Sunday
};

class ClockSource {
  public:
    virtual ~ClockSource() = default;
    virtual uint32_t tick() = 0;          // milliseconds, wraps modulo 2^32
    virtual int64_t wallMillis() = 0;     // milliseconds since 1970 UTC
    virtual void sleep(uint32_t ms) = 0;  // let ms milliseconds pass
};

// The clock in use (the system clock unless a test installed another one).
uint32_t TickCount();
WallTime Now();
int64_t NowMillis();
void SleepMs(uint32_t ms);

// Breaks seconds since 1970 down in local time.
WallTime ToLocal(int64_t seconds, int millis = 0);
// Seconds since 1970 of a local date and time (the inverse of ToLocal).
int64_t FromLocal(int year, int month, int day, int hour, int minute, int second);

// Replaces the clock source; nullptr restores the system clock. The caller
// keeps ownership and must uninstall before destroying it.
void InstallClock(ClockSource* source);

// Components that wait for time to pass (the timer service) register here so
// that a fake clock can wake them when a test moves time on. Returns an id
// for RemoveClockListener.
int AddClockListener(std::function<void()> onAdvance);
void RemoveClockListener(int id);

// A clock that only moves when told to. sleep() advances it instead of
// blocking, so retry loops with pauses run instantly under test.
class FakeClock : public ClockSource {
  public:
    // Starts at tick 1000 and 2017-02-13 09:30:00.000 local time.
    FakeClock();
    ~FakeClock() override;
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    uint32_t tick() override;
    int64_t wallMillis() override;
    void sleep(uint32_t ms) override;

    void setTick(uint32_t t);
    void setWall(int year, int month, int day, int hour, int minute, int second, int millis = 0);
    void setWallMillis(int64_t ms);
    // Moves tick and wall clock on together, then wakes the listeners.
    void advance(uint32_t ms);
    uint64_t totalSlept() const;

  private:
    struct State;
    State* state_;
};

// Installs a FakeClock for the lifetime of the object (tests).
class ScopedFakeClock : public FakeClock {
  public:
    ScopedFakeClock() { InstallClock(this); }
    ~ScopedFakeClock() override { InstallClock(nullptr); }
};

}  // namespace platform

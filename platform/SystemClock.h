#pragma once
// Setting the machine's clock, which the station does once after start-up to
// follow the market's time. Only a process with the privilege may set it
// (CAP_SYS_TIME); without it the system refuses and the caller reports that.
//
// The setter is replaceable like the clock source: tests install a recorder,
// so no test ever moves the real clock.
#include <cstdint>

namespace platform {

enum class SetClockResult {
    Ok,
    BadTime,  // the instant has no local calendar time
    Refused,  // the system refused (no privilege, or a time it does not take)
};

class ClockSetter {
  public:
    virtual ~ClockSetter() = default;
    // Sets the clock to `seconds` since 1970-01-01 00:00 UTC; on Refused the
    // system's error code goes to *osError.
    virtual SetClockResult set(int64_t seconds, int* osError) = 0;
};

// Sets the clock through the installed setter (the system's unless a test
// installed another). osError may be null.
SetClockResult SetSystemClock(int64_t seconds, int* osError = nullptr);

// The system's own setter: the instant is first taken apart as local
// calendar time (it must have one), then the real-time clock is set to it.
SetClockResult SetSystemClockDirect(int64_t seconds, int* osError = nullptr);

// Replaces the setter; nullptr restores the system's. Not owned.
void InstallClockSetter(ClockSetter* setter);

// A setter that only records what it was asked (tests). Installs itself for
// its lifetime.
class ScopedClockRecorder : public ClockSetter {
  public:
    ScopedClockRecorder();
    ~ScopedClockRecorder() override;
    ScopedClockRecorder(const ScopedClockRecorder&) = delete;
    ScopedClockRecorder& operator=(const ScopedClockRecorder&) = delete;

    SetClockResult set(int64_t seconds, int* osError) override;

    // What the next calls answer (Ok unless told otherwise).
    void answer(SetClockResult result, int osError = 0);
    int calls() const;
    int64_t lastSeconds() const;

  private:
    struct State;
    State* state_;
};

}  // namespace platform

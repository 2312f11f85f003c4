#include "platform/SystemClock.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>

namespace platform {
namespace {

std::atomic<ClockSetter*> g_setter{nullptr};

}  // namespace

SetClockResult SetSystemClockDirect(int64_t seconds, int* osError) {
    if (osError != nullptr) *osError = 0;
    time_t t = time_t(seconds);
    tm local{};
    if (int64_t(t) != seconds || localtime_r(&t, &local) == nullptr) return SetClockResult::BadTime;
    // The kernel keeps universal time; the local calendar time of the
    // instant follows from the time zone, so setting the instant sets it.
    timespec ts{};
    ts.tv_sec = t;
    ts.tv_nsec = 0;
    if (clock_settime(CLOCK_REALTIME, &ts) != 0) {
        if (osError != nullptr) *osError = errno;
        return SetClockResult::Refused;
    }
    return SetClockResult::Ok;
}

SetClockResult SetSystemClock(int64_t seconds, int* osError) {
    ClockSetter* setter = g_setter.load(std::memory_order_acquire);
    if (setter != nullptr) {
        int ignored = 0;
        return setter->set(seconds, osError != nullptr ? osError : &ignored);
    }
    return SetSystemClockDirect(seconds, osError);
}

void InstallClockSetter(ClockSetter* setter) {
    g_setter.store(setter, std::memory_order_release);
}

struct ScopedClockRecorder::State {
    mutable std::mutex lock;
    SetClockResult result = SetClockResult::Ok;
    int osError = 0;
    int calls = 0;
    int64_t last = 0;
};

ScopedClockRecorder::ScopedClockRecorder() : state_(new State) {
    InstallClockSetter(this);
}

ScopedClockRecorder::~ScopedClockRecorder() {
    if (g_setter.load() == this) InstallClockSetter(nullptr);
    delete state_;
}

SetClockResult ScopedClockRecorder::set(int64_t seconds, int* osError) {
    std::lock_guard<std::mutex> g(state_->lock);
    ++state_->calls;
    state_->last = seconds;
    if (osError != nullptr) *osError = state_->osError;
    return state_->result;
}

void ScopedClockRecorder::answer(SetClockResult result, int osError) {
    std::lock_guard<std::mutex> g(state_->lock);
    state_->result = result;
    state_->osError = osError;
}

int ScopedClockRecorder::calls() const {
    std::lock_guard<std::mutex> g(state_->lock);
    return state_->calls;
}

int64_t ScopedClockRecorder::lastSeconds() const {
    std::lock_guard<std::mutex> g(state_->lock);
    return state_->last;
}

}  // namespace platform

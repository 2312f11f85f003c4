#include "platform/Clock.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

namespace platform {
namespace {

class SystemClock : public ClockSource {
  public:
    uint32_t tick() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
        return uint32_t(ms);
    }
    int64_t wallMillis() override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    }
    void sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

SystemClock g_system;
std::atomic<ClockSource*> g_clock{&g_system};

std::mutex g_listenerLock;
std::map<int, std::function<void()>>& Listeners() {
    static std::map<int, std::function<void()>> listeners;
    return listeners;
}
int g_nextListener = 0;

void NotifyListeners() {
    std::map<int, std::function<void()>> copy;
    {
        std::lock_guard<std::mutex> g(g_listenerLock);
        copy = Listeners();
    }
    for (auto& [id, fn] : copy) fn();
}

}  // namespace

uint32_t TickCount() {
    return g_clock.load(std::memory_order_acquire)->tick();
}
int64_t NowMillis() {
    return g_clock.load(std::memory_order_acquire)->wallMillis();
}
void SleepMs(uint32_t ms) {
    g_clock.load(std::memory_order_acquire)->sleep(ms);
}

WallTime Now() {
    int64_t ms = NowMillis();
    int64_t secs = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    return ToLocal(secs, int(ms - secs * 1000));
}

WallTime ToLocal(int64_t seconds, int millis) {
    WallTime w;
    w.seconds = seconds;
    w.millis = millis;
    time_t t = time_t(seconds);
    tm lt{};
    if (localtime_r(&t, &lt) != nullptr) {
        w.year = lt.tm_year + 1900;
        w.month = lt.tm_mon + 1;
        w.day = lt.tm_mday;
        w.hour = lt.tm_hour;
        w.minute = lt.tm_min;
        w.second = lt.tm_sec;
        w.weekday = lt.tm_wday;
    }
    return w;
}

int64_t FromLocal(int year, int month, int day, int hour, int minute, int second) {
    tm lt{};
    lt.tm_year = year - 1900;
    lt.tm_mon = month - 1;
    lt.tm_mday = day;
    lt.tm_hour = hour;
    lt.tm_min = minute;
    lt.tm_sec = second;
    lt.tm_isdst = -1;
    return int64_t(mktime(&lt));
}

void InstallClock(ClockSource* source) {
    g_clock.store(source != nullptr ? source : &g_system, std::memory_order_release);
    NotifyListeners();
}

int AddClockListener(std::function<void()> onAdvance) {
    std::lock_guard<std::mutex> g(g_listenerLock);
    int id = ++g_nextListener;
    Listeners()[id] = std::move(onAdvance);
    return id;
}

void RemoveClockListener(int id) {
    std::lock_guard<std::mutex> g(g_listenerLock);
    Listeners().erase(id);
}

struct FakeClock::State {
    std::mutex lock;
    uint32_t tick = 1000;
    int64_t wall = 0;
    uint64_t slept = 0;
};

FakeClock::FakeClock() : state_(new State) {
    state_->wall = FromLocal(2017, 2, 13, 9, 30, 0) * 1000;
}

FakeClock::~FakeClock() {
    if (g_clock.load() == this) InstallClock(nullptr);
    delete state_;
}

uint32_t FakeClock::tick() {
    std::lock_guard<std::mutex> g(state_->lock);
    return state_->tick;
}

int64_t FakeClock::wallMillis() {
    std::lock_guard<std::mutex> g(state_->lock);
    return state_->wall;
}

void FakeClock::sleep(uint32_t ms) {
    {
        std::lock_guard<std::mutex> g(state_->lock);
        state_->slept += ms;
    }
    advance(ms);
    std::this_thread::yield();
}

void FakeClock::setTick(uint32_t t) {
    {
        std::lock_guard<std::mutex> g(state_->lock);
        state_->tick = t;
    }
    NotifyListeners();
}

void FakeClock::setWall(int year, int month, int day, int hour, int minute, int second,
                        int millis) {
    setWallMillis(FromLocal(year, month, day, hour, minute, second) * 1000 + millis);
}

void FakeClock::setWallMillis(int64_t ms) {
    {
        std::lock_guard<std::mutex> g(state_->lock);
        state_->wall = ms;
    }
    NotifyListeners();
}

void FakeClock::advance(uint32_t ms) {
    {
        std::lock_guard<std::mutex> g(state_->lock);
        state_->tick += ms;
        state_->wall += ms;
    }
    NotifyListeners();
}

uint64_t FakeClock::totalSlept() const {
    std::lock_guard<std::mutex> g(state_->lock);
    return state_->slept;
}

}  // namespace platform

#include "shell/HeadlessLoop.h"

#include <algorithm>
#include <chrono>
#include <csignal>

#include "platform/Clock.h"
#include "runtime/SimpleLogger.h"

HeadlessLoop::~HeadlessLoop() {
    closeMessageGate();
}

long HeadlessLoop::sendMessage(int message, const std::string& text) {
    std::unique_lock<std::mutex> g(m_);
    if (gateClosed_) return -1;
    Pending p;
    p.message = message;
    p.text = text;
    pending_.push_back(&p);
    cv_.notify_all();
    cv_.wait(g, [&] { return p.done || (gateClosed_ && !p.taken); });
    if (!p.done) {
        pending_.erase(std::remove(pending_.begin(), pending_.end(), &p), pending_.end());
        return -1;
    }
    return p.result;
}

bool HeadlessLoop::startTimer(int id, uint32_t periodMs) {
    if (periodMs == 0) return false;
    std::lock_guard<std::mutex> g(m_);
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                                 [id](const TimerEntry& t) { return t.id == id; }),
                  timers_.end());
    timers_.push_back(TimerEntry{id, periodMs, platform::TickCount() + periodMs});
    return true;
}

void HeadlessLoop::stopTimers() {
    std::lock_guard<std::mutex> g(m_);
    timers_.clear();
}

void HeadlessLoop::postClose() {
    std::lock_guard<std::mutex> g(m_);
    closeRequested_ = true;
    cv_.notify_all();
}

void HeadlessLoop::closeMessageGate() {
    std::lock_guard<std::mutex> g(m_);
    gateClosed_ = true;
    cv_.notify_all();
}

int HeadlessLoop::takeDueTimer(uint32_t now) {
    for (TimerEntry& t : timers_) {
        if (int32_t(now - t.due) < 0) continue;
        // A window timer does not queue up missed periods: a late one fires
        // once and starts its period again.
        t.due = int32_t(now - t.due) >= int32_t(t.period) ? now + t.period : t.due + t.period;
        return t.id;
    }
    return -1;
}

uint32_t HeadlessLoop::millisToNextTimer(uint32_t now) const {
    uint32_t wait = UINT32_MAX;
    for (const TimerEntry& t : timers_) {
        const int32_t left = int32_t(t.due - now);
        wait = std::min(wait, left <= 0 ? 0u : uint32_t(left));
    }
    return wait;
}

bool HeadlessLoop::runOnce(WindowHandlers& window, const std::atomic<int>* signal,
                           uint32_t maxWaitMs) {
    if (window.closed()) return false;
    if (signal != nullptr && signal->load() != 0) {
        const int sig = signal->load();
        const char* name = sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "?";
        velk::log("Tavrel", velk::LevelInfo, "收到信号 %s，程序退出。", name);
        window.OnClose(false);
        return false;
    }
    std::unique_lock<std::mutex> g(m_);
    if (closeRequested_) {
        closeRequested_ = false;
        g.unlock();
        return !window.OnClose(false);
    }
    Pending* p = nullptr;
    if (!gateClosed_) {
        for (Pending* q : pending_) {
            if (!q->taken) {
                p = q;
                break;
            }
        }
    }
    if (p != nullptr) {
        p->taken = true;
        const int message = p->message;
        const std::string text = p->text;
        g.unlock();
        const long result = window.OnWindowMessage(message, text);
        g.lock();
        p->result = result;
        p->done = true;
        pending_.erase(std::remove(pending_.begin(), pending_.end(), p), pending_.end());
        cv_.notify_all();
        return true;
    }
    const uint32_t now = platform::TickCount();
    const int timer = takeDueTimer(now);
    if (timer >= 0) {
        g.unlock();
        window.OnTimer(timer);
        return true;
    }
    const uint32_t wait = std::min(maxWaitMs, millisToNextTimer(now));
    if (wait > 0) cv_.wait_for(g, std::chrono::milliseconds(wait));
    return true;
}

void HeadlessLoop::run(WindowHandlers& window, const std::atomic<int>* signal) {
    while (runOnce(window, signal, kMaxWaitMs)) {
    }
}

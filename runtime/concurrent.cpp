#include "runtime/concurrent.h"

#include <pthread.h>

#include <chrono>

namespace velk::concurrent {

bool Condition::waitFor(Mutex& m, uint32_t ms) {
    return cv_.wait_for(m, std::chrono::milliseconds(ms)) == std::cv_status::no_timeout;
}

void Event::set() {
    std::lock_guard<std::mutex> g(m_);
    signalled_ = true;
    if (manual_)
        cv_.notify_all();
    else
        cv_.notify_one();
}

void Event::reset() {
    std::lock_guard<std::mutex> g(m_);
    signalled_ = false;
}

bool Event::wait(uint32_t ms) {
    std::unique_lock<std::mutex> g(m_);
    bool ok = cv_.wait_for(g, std::chrono::milliseconds(ms), [this] { return signalled_; });
    if (ok && !manual_) signalled_ = false;
    return ok;
}

MultipleEvent::MultipleEvent() {
    MutexLock g(lock_);
    mask_ = 0;
    event_.reset();
}

MultipleEvent::~MultipleEvent() = default;

void MultipleEvent::set(int bit) {
    if (bit < 0) return;
    MutexLock g(lock_);
    mask_ |= 1u << (bit % 32);
    event_.set();
}

void MultipleEvent::reset(int bit) {
    if (bit < 0) return;
    MutexLock g(lock_);
    mask_ &= ~(1u << (bit % 32));
    if (mask_ == 0) event_.reset();
}

bool MultipleEvent::isSet(int bit) {
    if (bit < 0) return false;
    MutexLock g(lock_);
    return (mask_ & (1u << (bit % 32))) != 0;
}

bool MultipleEvent::wait(uint32_t ms) {
    return event_.wait(ms);
}

uint32_t MultipleEvent::mask() {
    MutexLock g(lock_);
    return mask_;
}

Thread::Thread() : id_(std::this_thread::get_id()), hasName_(true) {}

Thread::Thread(Starter* starter, const char* name) : starter_(starter) {
    if (name != nullptr && std::char_traits<char>::length(name) < 100) {
        name_ = name;
        hasName_ = true;
    }
    if (starter_ == nullptr) {
        id_ = std::this_thread::get_id();
        return;
    }
    if (starter_->isInvalid()) return;
    std::lock_guard<std::mutex> g(startGate_);  // the body starts once this object is complete
    try {
        thread_ = std::thread(&Thread::body, this);
        id_ = thread_.get_id();
        started_ = true;
    } catch (const std::system_error&) {
        // No thread: join() then has nothing to wait for.
    }
}

void Thread::body() {
    { std::lock_guard<std::mutex> g(startGate_); }
    if (hasName_ && !name_.empty()) {
        // The kernel keeps at most 15 characters of a thread's name.
        pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
    }
    starter_->run();
}

// The body reaches its starter through this object, so a thread that is
// still running is waited for here rather than left with a dangling starter.
Thread::~Thread() {
    std::lock_guard<std::mutex> g(joinLock_);
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
}

bool Thread::join() {
    if (!started_) return true;
    if (id_ == std::this_thread::get_id()) return false;
    std::lock_guard<std::mutex> g(joinLock_);
    if (thread_.joinable()) thread_.join();
    return true;
}

}  // namespace velk::concurrent

#include "runtime/Timer.h"

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

#include "platform/Clock.h"
#include "runtime/concurrent.h"

namespace velk::util {

using concurrent::MutexLock;
using concurrent::SharedPtr;

namespace {

constexpr uint32_t kMaxWaitMs = 6000;
constexpr int kBitAdded = 0;
constexpr int kBitCancelled = 1;
constexpr int kBitStop = 2;

concurrent::Mutex& IdLock() {
    static concurrent::Mutex m;
    return m;
}
int32_t g_lastId = 0;

int32_t NextId() {
    MutexLock g(IdLock());
    int32_t next = g_lastId + 1;
    if (next == Timer::invalidId) next = g_lastId + 2;
    g_lastId = next;
    return next;
}

}  // namespace

bool Timer::isLater(uint32_t x, uint32_t y) {
    return x != y && uint32_t(y - x) >= 0x7FFFFFFFu;
}

bool Timer::isDue(uint32_t due, uint32_t now) {
    return now == due || uint32_t(now - due) <= 0x7FFFFFFEu;
}

class Timer::Impl {
  public:
    struct TimerElement {
        int32_t interval = 0;
        uint32_t due = 0;
        bool periodic = false;
        SharedPtr<Callback> callback;
        int32_t id = 0;
    };
    using ElementPtr = SharedPtr<TimerElement>;

    Impl() {
        listenerId_ = platform::AddClockListener([this] { events_.set(kBitAdded); });
        thread_.reset(new concurrent::Thread(this, &Impl::run, "Timer"));
    }

    ~Impl() {
        platform::RemoveClockListener(listenerId_);
        events_.set(kBitStop);
        thread_->join();
    }

    int32_t schedule(Callback* cb, int32_t intervalMs, bool periodic) {
        if (cb == nullptr) return Timer::invalidId;
        ElementPtr e(new TimerElement);
        e->interval = intervalMs;
        e->due = platform::TickCount() + uint32_t(intervalMs);
        e->periodic = periodic;
        e->callback.reset(cb);
        e->id = NextId();
        int32_t id = e->id;
        {
            MutexLock g(addLock_);
            added_.push_back(e);
        }
        events_.set(kBitAdded);
        return id;
    }

    void cancel(int32_t id) {
        if (id == Timer::invalidId) return;
        {
            MutexLock g(cancelLock_);
            cancelled_.insert(id);
        }
        events_.set(kBitCancelled);
    }

    int pendingCount() {
        MutexLock g(runLock_);
        MutexLock a(addLock_);
        return int(heap_.size() + added_.size());
    }

    int pendingCancellations() {
        MutexLock g(cancelLock_);
        return int(cancelled_.size());
    }

  private:
    static bool HeapLess(const ElementPtr& a, const ElementPtr& b) {
        // std heap keeps the "largest" at the front; the earliest must be there.
        return Timer::isLater(a->due, b->due);
    }

    void mergeAdded() {
        MutexLock c(cancelLock_);
        MutexLock a(addLock_);
        for (auto it = added_.rbegin(); it != added_.rend(); ++it) {
            auto found = cancelled_.find((*it)->id);
            if (found != cancelled_.end()) {
                cancelled_.erase(found);
                continue;
            }
            heap_.push_back(*it);
            std::push_heap(heap_.begin(), heap_.end(), HeapLess);
        }
        added_.clear();
        if (!cancelled_.empty()) {
            std::set<int32_t> keep;
            for (auto& e : heap_)
                if (cancelled_.count(e->id) != 0) keep.insert(e->id);
            cancelled_.swap(keep);
        }
    }

    // Fires every element due now; true when a callback ran.
    bool fireDue() {
        bool fired = false;
        uint32_t now = platform::TickCount();
        while (!heap_.empty() && Timer::isDue(heap_.front()->due, now)) {
            std::pop_heap(heap_.begin(), heap_.end(), HeapLess);
            ElementPtr e = heap_.back();
            heap_.pop_back();
            {
                MutexLock c(cancelLock_);
                auto found = cancelled_.find(e->id);
                if (found != cancelled_.end()) {
                    cancelled_.erase(found);
                    continue;
                }
            }
            runLock_.unlock();
            e->callback->invoke(e->id);
            runLock_.lock();
            fired = true;
            if (e->periodic) {
                e->due = platform::TickCount() + uint32_t(e->interval);
                MutexLock a(addLock_);
                added_.push_back(e);
            }
        }
        return fired;
    }

    void run() {
        MutexLock g(runLock_);
        for (;;) {
            events_.reset(kBitAdded);
            events_.reset(kBitCancelled);
            mergeAdded();
            if (fireDue()) continue;
            uint32_t wait = kMaxWaitMs;
            if (!heap_.empty()) {
                uint32_t now = platform::TickCount();
                uint32_t due = heap_.front()->due;
                wait = Timer::isDue(due, now) ? 0 : std::min<uint32_t>(due - now, kMaxWaitMs);
            }
            if (wait > 0) {
                runLock_.unlock();
                events_.wait(wait);
                runLock_.lock();
            }
            if (events_.isSet(kBitStop)) {
                events_.reset(kBitStop);
                break;
            }
        }
        heap_.clear();
        MutexLock a(addLock_);
        added_.clear();
    }

    concurrent::Mutex runLock_;
    std::vector<ElementPtr> heap_;
    concurrent::Mutex cancelLock_;
    std::set<int32_t> cancelled_;
    concurrent::Mutex addLock_;
    std::vector<ElementPtr> added_;
    concurrent::MultipleEvent events_;
    SharedPtr<concurrent::Thread> thread_;
    int listenerId_ = 0;
};

Timer::Timer() : impl_(new Impl) {}

Timer::~Timer() {
    delete impl_;
}

Timer& Timer::instance() {
    static Timer timer;  // stopped and joined at process exit
    return timer;
}

int32_t Timer::schedule(Callback* callback, int32_t intervalMs, bool periodic) {
    return impl_->schedule(callback, intervalMs, periodic);
}

void Timer::cancel(int32_t id) {
    impl_->cancel(id);
}

int Timer::pendingCount() {
    return impl_->pendingCount();
}

int Timer::pendingCancellations() {
    return impl_->pendingCancellations();
}

}  // namespace velk::util

#pragma once
// The station's small runtime for threads and shared ownership: a
// re-entrant mutex with its scoped guard, the condition of the bounded
// queues, events, a 32-bit event set, a thread wrapper with a pluggable body,
// and reference-counted shared pointers whose only atomic part is the count.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace velk::concurrent {

class Mutex {
  public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    void lock() { m_.lock(); }
    void unlock() { m_.unlock(); }

  private:
    std::recursive_mutex m_;
};

class MutexLock {
  public:
    explicit MutexLock(Mutex& m, bool lockNow = true) : mutex_(m) {
        if (lockNow) lock();
    }
    ~MutexLock() { unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;
    void lock() {
        if (!held_) {
            mutex_.lock();
            held_ = true;
        }
    }
    void unlock() {
        if (held_) {
            held_ = false;
            mutex_.unlock();
        }
    }
    bool held() const { return held_; }

  private:
    Mutex& mutex_;
    bool held_ = false;
};

// Releasing the mutex and starting to wait are one step. notify() wakes one
// thread waiting at that moment; a notification with no waiter is lost.
class Condition {
  public:
    int wait(Mutex& m) {
        cv_.wait(m);
        return 0;
    }
    // Waits at most ms milliseconds of real time; false on time-out.
    bool waitFor(Mutex& m, uint32_t ms);
    int notify() {
        cv_.notify_one();
        return 0;
    }
    void notifyAll() { cv_.notify_all(); }

  private:
    std::condition_variable_any cv_;
};

class Event {
  public:
    Event(bool initiallySignalled, bool manualReset)
        : signalled_(initiallySignalled), manual_(manualReset) {}
    void set();
    void reset();
    // True when the event was (or became) signalled within ms milliseconds.
    bool wait(uint32_t ms);

  private:
    std::mutex m_;
    std::condition_variable cv_;
    bool signalled_;
    bool manual_;
};

// 32 flag bits behind one manual-reset event: signalled while any bit is set.
class MultipleEvent {
  public:
    MultipleEvent();
    virtual ~MultipleEvent();
    MultipleEvent(const MultipleEvent&) = delete;
    MultipleEvent& operator=(const MultipleEvent&) = delete;

    void set(int bit);
    void reset(int bit);
    bool isSet(int bit);
    bool wait(uint32_t ms);
    uint32_t mask();

  private:
    Event event_{false, true};
    Mutex lock_;
    uint32_t mask_ = 0;
};

class Thread {
  public:
    class Starter {
      public:
        virtual ~Starter() = default;
        virtual bool isInvalid() = 0;
        virtual void run() = 0;
    };

    template <typename T>
    class ObjFuncStarter : public Starter {
      public:
        using Function = void (T::*)();
        ObjFuncStarter(T* object, Function function) : object_(object), function_(function) {}
        bool isInvalid() override { return object_ == nullptr || function_ == nullptr; }
        void run() override {
            if (!isInvalid()) (object_->*function_)();
        }

      private:
        T* object_;
        Function function_;
    };

    // Stands for the calling thread.
    Thread();
    // Takes ownership of starter and runs it on a new thread at once (unless
    // the starter is null or invalid). Names of 100 characters or more are
    // not kept.
    Thread(Starter* starter, const char* name);
    template <typename T>
    Thread(T* object, void (T::*function)(), const char* name)
        : Thread(new ObjFuncStarter<T>(object, function), name) {}
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // true at once when no thread was started; false when called from the
    // thread itself; otherwise waits for the thread's end and returns true.
    bool join();
    const char* name() const { return hasName_ ? name_.c_str() : nullptr; }
    std::thread::id id() const { return id_; }
    bool started() const { return started_; }

  private:
    void body();

    std::thread thread_;
    std::thread::id id_;
    std::string name_;
    bool hasName_ = false;
    std::unique_ptr<Starter> starter_;
    std::mutex joinLock_;
    std::mutex startGate_;
    bool started_ = false;
};

// Count block: the shared counter and the way to dispose of the object.
class SharedCount_Base {
  public:
    explicit SharedCount_Base(int32_t initial) : count_(initial) {}
    virtual ~SharedCount_Base() = default;
    virtual void dispose() = 0;
    int32_t addRef() { return count_.fetch_add(1, std::memory_order_acq_rel) + 1; }
    // Disposes of the object when the count drops to 0 or below; never
    // deletes the block itself.
    int32_t release() {
        int32_t n = count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (n <= 0) dispose();
        return n;
    }
    int32_t useCount() const { return count_.load(std::memory_order_acquire); }

  private:
    std::atomic<int32_t> count_;
};

template <typename T>
class SharedCount : public SharedCount_Base {
  public:
    explicit SharedCount(T* object)
        : SharedCount_Base(object != nullptr ? 1 : 0), object_(object) {}
    void dispose() override {
        delete object_;
        object_ = nullptr;
    }

  private:
    T* object_;
};

// A shared reference. Instances are not thread-safe themselves: one
// SharedPtr is changed by one thread at a time; copies may live anywhere.
template <typename T>
class SharedPtr {
  public:
    SharedPtr() = default;
    explicit SharedPtr(T* p) { adopt(p); }
    SharedPtr(const SharedPtr& o) : ptr_(o.ptr_), count_(o.count_) {
        if (count_ != nullptr) count_->addRef();
    }
    template <typename U>
    SharedPtr(const SharedPtr<U>& o) : ptr_(o.ptr_), count_(o.count_) {
        if (count_ != nullptr) count_->addRef();
    }
    SharedPtr(SharedPtr&& o) noexcept : ptr_(o.ptr_), count_(o.count_) {
        o.ptr_ = nullptr;
        o.count_ = nullptr;
    }
    ~SharedPtr() { drop(count_); }

    SharedPtr& operator=(SharedPtr o) noexcept {
        std::swap(ptr_, o.ptr_);
        std::swap(count_, o.count_);
        return *this;
    }

    // Takes p as a new object; nothing happens when p is already held.
    void reset(T* p) {
        if (p != nullptr && p == ptr_) return;
        SharedCount_Base* old = count_;
        ptr_ = nullptr;
        count_ = nullptr;
        adopt(p);
        drop(old);
    }
    void reset() {
        SharedCount_Base* old = count_;
        ptr_ = nullptr;
        count_ = nullptr;
        drop(old);
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    T& operator*() const { return *ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    bool isNull() const { return ptr_ == nullptr; }
    int32_t useCount() const { return count_ != nullptr ? count_->useCount() : 0; }
    template <typename U>
    bool operator==(const SharedPtr<U>& o) const {
        return ptr_ == o.ptr_;
    }

  private:
    template <typename U>
    friend class SharedPtr;

    void adopt(T* p) {
        if (p == nullptr) return;
        count_ = new (std::nothrow) SharedCount<T>(p);
        if (count_ != nullptr) ptr_ = p;
    }
    static void drop(SharedCount_Base* c) {
        if (c != nullptr && c->release() <= 0) delete c;
    }

    T* ptr_ = nullptr;
    SharedCount_Base* count_ = nullptr;
};

template <typename T, typename... Args>
SharedPtr<T> MakeShared(Args&&... args) {
    return SharedPtr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace velk::concurrent

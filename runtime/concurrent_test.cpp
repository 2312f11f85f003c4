#include "runtime/concurrent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace velk::concurrent {
namespace {

struct Counted {
    static inline int alive = 0;
    Counted() { ++alive; }
    ~Counted() { --alive; }
};

TEST(SharedPtr, TheLastCopyDeletesTheObject) {
    Counted::alive = 0;
    {
        SharedPtr<Counted> a(new Counted);
        EXPECT_EQ(a.useCount(), 1);
        {
            SharedPtr<Counted> b(a);
            SharedPtr<Counted> c;
            c = b;
            EXPECT_EQ(a.useCount(), 3);
        }
        EXPECT_EQ(Counted::alive, 1);
        EXPECT_EQ(a.useCount(), 1);
    }
    EXPECT_EQ(Counted::alive, 0);
}

TEST(SharedPtr, ResetRules) {
    Counted::alive = 0;
    auto* raw = new Counted;
    SharedPtr<Counted> a(raw);
    SharedPtr<Counted> b(a);
    a.reset(raw);  // already held: nothing changes
    EXPECT_EQ(a.useCount(), 2);
    a.reset(new Counted);  // a takes a new object, b keeps the old one
    EXPECT_EQ(Counted::alive, 2);
    EXPECT_EQ(b.useCount(), 1);
    b.reset();
    EXPECT_EQ(Counted::alive, 1);
    EXPECT_TRUE(b.isNull());
    SharedPtr<Counted> empty(nullptr);
    EXPECT_EQ(empty.useCount(), 0);
    SharedPtr<Counted> copy(empty);
    EXPECT_TRUE(copy.isNull());
}

struct Base {
    virtual ~Base() = default;
};
struct Derived : Base {
    bool* flag;
    explicit Derived(bool* f) : flag(f) {}
    ~Derived() override { *flag = true; }
};

TEST(SharedPtr, ConvertsToABaseAndDeletesTheRealObject) {
    bool deleted = false;
    {
        SharedPtr<Derived> d(new Derived(&deleted));
        SharedPtr<Base> b(d);
        d.reset();
        EXPECT_FALSE(deleted);
    }
    EXPECT_TRUE(deleted);
}

TEST(Condition, NotifyWithoutWaiterIsNotRemembered) {
    Mutex m;
    Condition c;
    c.notify();
    MutexLock g(m);
    EXPECT_FALSE(c.waitFor(m, 30));
}

TEST(Condition, NotifyWakesAWaiterAndTheMutexIsHeldAgain) {
    Mutex m;
    Condition c;
    bool ready = false;
    std::atomic<bool> woke{false};
    std::thread t([&] {
        MutexLock g(m);
        while (!ready) c.wait(m);
        woke = true;
    });
    for (int i = 0; i < 200 && !woke; ++i) {
        {
            MutexLock g(m);
            ready = true;
            c.notify();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    t.join();
    EXPECT_TRUE(woke);
}

TEST(MultipleEvent, BitsKeepTheEventSignalledUntilTheLastIsReset) {
    MultipleEvent e;
    EXPECT_FALSE(e.wait(0));
    e.set(0);
    e.set(1);
    e.reset(0);
    EXPECT_TRUE(e.wait(0));
    EXPECT_TRUE(e.isSet(1));
    e.reset(1);
    EXPECT_FALSE(e.wait(0));

    e.set(-1);
    EXPECT_FALSE(e.wait(0));
    EXPECT_FALSE(e.isSet(-1));
    e.set(32);  // bit 32 is bit 0
    EXPECT_TRUE(e.isSet(0));
    e.reset(-1);
    EXPECT_TRUE(e.isSet(0));
}

TEST(MultipleEvent, WaitEndsWhenAnotherThreadSetsABit) {
    MultipleEvent e;
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        e.set(2);
    });
    EXPECT_TRUE(e.wait(5000));
    t.join();
}

TEST(Event, AutoResetEventServesOneWait) {
    Event e(true, false);
    EXPECT_TRUE(e.wait(0));
    EXPECT_FALSE(e.wait(0));
    Event manual(false, true);
    manual.set();
    EXPECT_TRUE(manual.wait(0));
    EXPECT_TRUE(manual.wait(0));
    manual.reset();
    EXPECT_FALSE(manual.wait(0));
}

struct Worker {
    std::atomic<int> runs{0};
    SharedPtr<Thread> self;
    std::atomic<bool> go{false};
    bool joinedSelf = true;
    void body() {
        while (!go) std::this_thread::yield();
        ++runs;
        // Waiting on itself would never end: join must refuse.
        joinedSelf = self->join();
    }
};

TEST(Thread, RunsTheBodyAndJoinFromItselfReturnsFalse) {
    Worker w;
    Thread* t = new Thread(&w, &Worker::body, "");
    w.self.reset(t);
    w.go = true;
    EXPECT_TRUE(t->join());
    EXPECT_EQ(w.runs, 1);
    EXPECT_FALSE(w.joinedSelf);
    EXPECT_TRUE(t->join());  // again: nothing left to wait for
    w.self.reset();
}

TEST(Thread, InvalidStarterAndCurrentThreadJoinAtOnce) {
    Thread invalid(static_cast<Worker*>(nullptr), &Worker::body, "x");
    EXPECT_FALSE(invalid.started());
    EXPECT_TRUE(invalid.join());
    Thread current;
    EXPECT_TRUE(current.join());
    Thread fromNull(nullptr, "n");
    EXPECT_TRUE(fromNull.join());
}

TEST(Thread, NamesOfAHundredCharactersAreNotKept) {
    std::string n99(99, 'a'), n100(100, 'b');
    Thread a(nullptr, n99.c_str());
    Thread b(nullptr, n100.c_str());
    ASSERT_NE(a.name(), nullptr);
    EXPECT_EQ(std::string(a.name()), n99);
    EXPECT_EQ(b.name(), nullptr);
}

}  // namespace
}  // namespace velk::concurrent

#pragma once
// The process-wide timer service: callbacks registered to run once or
// repeatedly after an interval, all on the service's one thread "Timer".
// Timing rests on the wrapping millisecond tick of platform/Clock.
#include <cstdint>

namespace velk::util {

class Timer {
  public:
    class Callback {
      public:
        virtual ~Callback() = default;
        virtual void invoke(int timerId) = 0;
    };

    template <typename T>
    class Callback_Obj0 : public Callback {
      public:
        using Function = void (T::*)();
        Callback_Obj0(T* object, Function function) : object_(object), function_(function) {}
        void invoke(int) override { (object_->*function_)(); }

      private:
        T* object_;
        Function function_;
    };

    static constexpr int32_t invalidId = -1;

    static Timer& instance();

    // Owns callback from now on. Returns the registration's id, or invalidId
    // for a null callback.
    int32_t schedule(Callback* callback, int32_t intervalMs, bool periodic);
    // Pending registrations never fire after this; a running callback ends
    // normally. Unknown ids are forgotten.
    void cancel(int32_t id);

    // Number of registrations the service holds (heap and newly added), and
    // of cancellations still pending. For tests.
    int pendingCount();
    int pendingCancellations();

    // Due test and order on the wrapping tick (exposed for tests).
    static bool isDue(uint32_t due, uint32_t now);
    static bool isLater(uint32_t x, uint32_t y);  // x fires after y

    class Impl;
    ~Timer();

  private:
    Timer();
    Impl* impl_;
};

}  // namespace velk::util

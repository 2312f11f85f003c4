#pragma once
// The market's trading state and opening hours (packet type 12) and the
// system information (packet type 11): the state the window, the monitor and
// the controller follow, the open-flag file other programs test, the one
// clock correction per run, and the verdict on this program's version.
//
// Runs on the quote handler's thread; marketState() and openTimeText() are
// read by other threads without a lock (a reader may see the previous value).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "controller/Packet.h"
#include "quotes/QuoteContext.h"

class MarketState {
  public:
    // Payload lengths of the two packets (int16 fields, int32 fields).
    static constexpr size_t kStatePayload = 14;
    static constexpr size_t kSystemInfoPayload = 12;
    // The opening hours before the first state packet.
    static constexpr const char* kInitialOpenTime = "9:25-11:30 13:00-15:00";

    explicit MarketState(QuoteContext& context);
    MarketState(const MarketState&) = delete;
    MarketState& operator=(const MarketState&) = delete;

    // Set the local clock from the first system information that carries a
    // time (bit 0x80000 of dwFlag).
    void setCorrectClock(bool correct) { correctClock_ = correct; }

    void onMarketState(const Packet& packet);
    void onSystemInfo(const Packet& packet);

    int16_t marketState() const { return state_.load(std::memory_order_relaxed); }
    std::string GetMarketStateText() const { return StateText(marketState()); }
    std::string openTimeText() const;

    // "尚未开市" ... "成交完毕"; "未知" for any other code.
    static const char* StateText(int code);
    // 30, 40 and 55: the market is open.
    static bool IsOpenState(int code) { return code == 30 || code == 40 || code == 55; }

    // The clock was tried once already (it is never tried again).
    bool clockAttempted() const { return clockSet_; }

  private:
    void createOpenFlag();
    void removeOpenFlag();
    void correctClock(int32_t marketTime);
    void judgeVersion(int32_t newest, int32_t minimum);

    QuoteContext& context_;
    bool correctClock_ = false;
    std::atomic<int16_t> state_{0};
    std::atomic<std::shared_ptr<const std::string>> openTime_;
    // One handler per process, so these live for the run as the station
    // requires: the clock is set at most once, a version pair judged once.
    bool clockSet_ = false;
    int32_t lastNewest_ = 0;
    int32_t lastMinimum_ = 0;
};

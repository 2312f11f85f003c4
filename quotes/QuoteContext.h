#pragma once
// What the quote handler shares with the tables it drives: the controller's
// side (table objects, configuration, the calls back into the station), the
// published record counts and data times, and the stop request that ends a
// table's long waits. The handler owns one; every table keeps a reference.
//
// The counts and times are written by the quote handler's thread and read by
// the window and the monitor without a lock.
#include <atomic>
#include <cstdint>

#include "quotes/QuoteHost.h"
#include "quotes/QuoteTables.h"
#include "quotes/QuoteTimes.h"

class QuoteContext {
  public:
    // Positions of the published record counts (the order the window and the
    // monitor show them, and the order of QuoteConfig's paths).
    enum CountSlot {
        kCountNqhq = 0,
        kCountNqxyxx = 1,
        kCountNqzsxx = 2,
        kCountNqxx = 3,
        kCountNqfgkcjxx = 4,
        kCountNqfgksbxx = 5,
        kCountSlots = 6
    };
    static int CountSlotOf(QuoteTableId id);
    static QuoteTableId TableAtCountSlot(int slot);  // slot must be 0..5

    explicit QuoteContext(QuoteHost& host) : host_(host) {}
    QuoteContext(const QuoteContext&) = delete;
    QuoteContext& operator=(const QuoteContext&) = delete;

    QuoteHost& host() const { return host_; }
    // The table object and the configuration, as the controller holds them.
    CDbf& table(QuoteTableId id) const { return host_.quoteTable(id); }
    const CRcvConf& config() const { return host_.config(); }

    QuoteTimes& times() { return times_; }
    const QuoteTimes& times() const { return times_; }

    void setTableCount(QuoteTableId id, int32_t count);
    int32_t tableCount(QuoteTableId id) const;
    int32_t tableCountAtSlot(int slot) const;  // 0 outside 0..5

    // Set by the handler's stop; a table that waits or retries gives up when
    // it is set.
    bool stopRequested() const { return stop_.load(std::memory_order_acquire); }
    void setStopRequested(bool stop) { stop_.store(stop, std::memory_order_release); }

  private:
    QuoteHost& host_;
    QuoteTimes times_;
    std::atomic<int32_t> counts_[kCountSlots] = {};
    std::atomic<bool> stop_{false};
};

#pragma once
// The quote handler: turns the quote packets the receive controller accepts
// into the station's tables, and keeps the market state, the opening hours,
// the record counts and the data times the window and the monitor show.
//
// One per process. The controller creates it, initialises it with the table
// paths (which opens the tables) and starts its worker thread, which takes
// packets from a bounded queue one at a time and hands each to the code of
// its type. The published values are read by other threads without a lock.
#include <cstdint>
#include <deque>
#include <string>

#include "controller/Packet.h"
#include "quotes/CJQuota.h"
#include "quotes/DetailedQuota.h"
#include "quotes/MarketState.h"
#include "quotes/Quota.h"
#include "quotes/QuoteContext.h"
#include "quotes/QuoteHost.h"
#include "quotes/QuoteRecords.h"
#include "quotes/QuoteTimes.h"
#include "runtime/concurrent.h"

struct QuoteConfig {
    bool correctClock = false;
    // NQHQ.DBF, NQXYXX.DBF, NQZSXX.DBF, NQXX.DBF, NQFGKCJXX.DBF, NQFGKSBXX.DBF;
    // an empty path = the table is not received (optional table switched off)
    std::string tablePaths[6];
};

class TyQuotaHandler {
  public:
    // Packets waiting for the worker; the controller's worker waits while the
    // queue is full.
    static constexpr size_t kQueueLimit = 1024;
    // How long the worker waits for a packet before it looks at its stop flag.
    static constexpr uint32_t kIdleWaitMs = 10;

    // host must not be null; the handler keeps it for its lifetime.
    explicit TyQuotaHandler(velk::concurrent::SharedPtr<QuoteHost> host);
    ~TyQuotaHandler();
    TyQuotaHandler(const TyQuotaHandler&) = delete;
    TyQuotaHandler& operator=(const TyQuotaHandler&) = delete;

    // Stores the configuration and opens the tables in their order; 0, or -1
    // at the first table that fails (logged).
    int init(const QuoteConfig& config);
    int start();  // 0
    // Asks the worker to end and releases a putPacket waiting for space.
    void stop();
    void join();
    // Types 11, 12, 21-24, 26, 27; waits while the queue is full and the
    // handler is not stopping. 0.
    int putPacket(const Packet::Ptr& packet);
    // The dispatch by packet type (worker thread). 0.
    int dealPacket(const Packet::Ptr& packet);

    // --- published values, read without a lock --------------------------------
    int16_t marketState() const { return market_.marketState(); }
    std::string GetMarketStateText() const { return market_.GetMarketStateText(); }
    std::string openTimeText() const { return market_.openTimeText(); }
    // published order: NQHQ, NQXYXX, NQZSXX, NQXX, NQFGKCJXX, NQFGKSBXX; 0
    // outside 0..5
    int32_t tableCount(int slot) const { return context_.tableCountAtSlot(slot); }
    // quotes/QuoteTimes.h (published order NQHQ, NQXX, NQXYXX, NQZSXX,
    // NQFGKCJXX, NQFGKSBXX)
    const QuoteTimes& quoteTimes() const { return context_.times(); }
    int queueLength() const;

    // --- for the tables and for tests ------------------------------------------
    bool stopRequested() const { return context_.stopRequested(); }
    QuoteContext& context() { return context_; }
    const QuoteConfig& config() const { return config_; }
    // The path QuoteConfig gave for a table.
    const std::string& tablePath(QuoteTableId id) const;
    Quota<SnapshotRec_t>& nqhq() { return nqhq_; }
    DetailedQuota& nqxyxx() { return nqxyxx_; }
    Quota<NQZSXX_OrderRec_t>& nqzsxx() { return nqzsxx_; }
    Quota<ZqxxRec_t>& nqxx() { return nqxx_; }
    CJQuota& nqfgkcjxx() { return nqfgkcjxx_; }
    DetailedQuota& nqfgksbxx() { return nqfgksbxx_; }

  private:
    void run();

    // The controller's side; first, the context refers to it.
    velk::concurrent::SharedPtr<QuoteHost> host_;
    // Stop flag, record counts and data times, shared with the tables.
    QuoteContext context_;
    // Market state, opening hours, clock correction and version verdict.
    MarketState market_;
    QuoteConfig config_;
    // The table states, one member per table.
    Quota<SnapshotRec_t> nqhq_;
    DetailedQuota nqxyxx_;
    Quota<NQZSXX_OrderRec_t> nqzsxx_;
    Quota<ZqxxRec_t> nqxx_;
    CJQuota nqfgkcjxx_;
    DetailedQuota nqfgksbxx_;

    mutable velk::concurrent::Mutex lock_;  // guards the queue only
    velk::concurrent::SharedPtr<velk::concurrent::Thread> thread_;
    std::deque<Packet::Ptr> queue_;
    velk::concurrent::Condition spaceCondition_;  // after every removal
    velk::concurrent::Condition dataCondition_;   // after every insertion
};

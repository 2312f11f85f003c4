#pragma once
// The data times of the six tables and the guard that keeps each from going
// backwards while the station runs: a special record whose time is older
// than the one already published carries the published time instead.
//
// Written by the quote handler's thread; read by the window and the monitor
// without a lock.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "quotes/QuoteTables.h"

class QuoteTimes {
  public:
    // Positions of the published array (the order the monitor shows them).
    enum Slot { kHq = 0, kXx = 1, kXyxx = 2, kZsxx = 3, kFgkcjxx = 4, kFgksbxx = 5, kSlots = 6 };
    static int SlotOf(QuoteTableId id);

    // The latest data time of a table (hhmmss; hhmmsscc for NQXX.DBF).
    int32_t get(QuoteTableId id) const;
    int32_t atSlot(int slot) const;

    // Guards a time held as a number (HQCJBS of NQHQ.DBF): returns the time
    // the record must carry, logging the table's message when it was older.
    uint32_t guard(QuoteTableId id, uint32_t t);
    // Guards a time held as decimal text in the first `width` characters of
    // a record field; a corrected time is written back right-aligned.
    void guardText(QuoteTableId id, char* field, size_t width);

    void reset();  // all 0 (tests)

  private:
    std::atomic<int32_t> times_[kSlots] = {};
};

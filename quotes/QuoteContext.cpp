#include "quotes/QuoteContext.h"

int QuoteContext::CountSlotOf(QuoteTableId id) {
    switch (id) {
        case kNqhq:
            return kCountNqhq;
        case kNqxyxx:
            return kCountNqxyxx;
        case kNqzsxx:
            return kCountNqzsxx;
        case kNqxx:
            return kCountNqxx;
        case kNqfgkcjxx:
            return kCountNqfgkcjxx;
        case kNqfgksbxx:
            return kCountNqfgksbxx;
    }
    return -1;
}

QuoteTableId QuoteContext::TableAtCountSlot(int slot) {
    static constexpr QuoteTableId kTables[kCountSlots] = {kNqhq, kNqxyxx,    kNqzsxx,
                                                          kNqxx, kNqfgkcjxx, kNqfgksbxx};
    return kTables[slot];
}

void QuoteContext::setTableCount(QuoteTableId id, int32_t count) {
    int slot = CountSlotOf(id);
    if (slot >= 0) counts_[slot].store(count, std::memory_order_relaxed);
}

int32_t QuoteContext::tableCount(QuoteTableId id) const {
    return tableCountAtSlot(CountSlotOf(id));
}

int32_t QuoteContext::tableCountAtSlot(int slot) const {
    if (slot < 0 || slot >= kCountSlots) return 0;
    return counts_[slot].load(std::memory_order_relaxed);
}

#include "quotes/QuoteTimes.h"

#include "quotes/NumberFormat.h"
#include "runtime/SimpleLogger.h"

namespace {

const char* GuardMessage(QuoteTableId id) {
    switch (id) {
        case kNqhq:
            return "证券行情时间从 %d 设为 %d ！";
        case kNqxx:
            return "证券信息时间从 %d 设为 %d ！";
        case kNqzsxx:
            return "做市申报信息时间从 %d 设为 %d ！";
        case kNqxyxx:
            return "协议申报信息时间从 %d 设为 %d ！";
        case kNqfgksbxx:
            return "非公开申报信息时间从 %d 设为 %d ！";
        case kNqfgkcjxx:
            return "非公开成交信息时间从 %d 设为 %d ！";
    }
    return "%d %d";
}

}  // namespace

int QuoteTimes::SlotOf(QuoteTableId id) {
    switch (id) {
        case kNqhq:
            return kHq;
        case kNqxx:
            return kXx;
        case kNqxyxx:
            return kXyxx;
        case kNqzsxx:
            return kZsxx;
        case kNqfgkcjxx:
            return kFgkcjxx;
        case kNqfgksbxx:
            return kFgksbxx;
    }
    return -1;
}

int32_t QuoteTimes::get(QuoteTableId id) const {
    return atSlot(SlotOf(id));
}

int32_t QuoteTimes::atSlot(int slot) const {
    if (slot < 0 || slot >= kSlots) return 0;
    return times_[slot].load(std::memory_order_relaxed);
}

uint32_t QuoteTimes::guard(QuoteTableId id, uint32_t t) {
    int slot = SlotOf(id);
    if (slot < 0) return t;
    uint32_t q = uint32_t(times_[slot].load(std::memory_order_relaxed));
    if (t < q) {
        velk::log("TyQuotaHandler", 300, GuardMessage(id), int32_t(t), int32_t(q));
        return q;
    }
    times_[slot].store(int32_t(t), std::memory_order_relaxed);
    return t;
}

void QuoteTimes::guardText(QuoteTableId id, char* field, size_t width) {
    uint32_t t = uint32_t(ParseDecimalField(field, width));
    uint32_t kept = guard(id, t);
    if (kept != t) FormatIntField(field, unsigned(width), int64_t(kept));
}

void QuoteTimes::reset() {
    for (auto& t : times_) t.store(0, std::memory_order_relaxed);
}

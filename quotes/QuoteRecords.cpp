#include "quotes/QuoteRecords.h"

#include <array>
#include <bit>
#include <cstddef>
#include <tuple>
#include <utility>

#include "quotes/NumberFormat.h"
#include "quotes/NumberLanes.h"

namespace {

// --- How a record maps onto its image ------------------------------------------
// Field i of a record type fills field i of its table's schema. The map of each
// type is taken from the struct itself (offsetof, sizeof, member type) and
// checked at compile time against the schema, so the struct, the schema and
// the formatter cannot drift apart.

enum class Src : uint8_t { Text, I32, U32, I64 };

template <typename M>
constexpr Src KindOf() {
    if constexpr (std::is_same_v<M, LeInt32>) {
        return Src::I32;
    } else if constexpr (std::is_same_v<M, LeUInt32>) {
        return Src::U32;
    } else if constexpr (std::is_same_v<M, LeInt64>) {
        return Src::I64;
    } else {
        static_assert(std::is_same_v<std::remove_all_extents_t<M>, char>,
                      "record fields are text or little-endian integers");
        return Src::Text;
    }
}

struct FieldSource {
    size_t offset;
    size_t size;
    Src kind;
};

#define QUOTE_FIELD(T, m)                                                           \
    FieldSource {                                                                   \
        offsetof(T, m), sizeof(T::m), KindOf<std::remove_cvref_t<decltype(T::m)>>() \
    }

struct FieldOp {
    uint16_t src;  // offset in the binary record
    uint16_t dst;  // offset in the image
    uint8_t width;
    uint8_t decimals;
    Src kind;
};

// The record's fields lie back to back from offset 0 to its end, and each one
// fits the schema field of the same index: text of the field's width for a
// character field, an integer for a numeric or date field.
template <typename T, size_t N>
constexpr bool MatchesSchema(const FieldSource (&src)[N]) {
    const QuoteTableInfo& table = QuoteTable(QuoteRecordTraits<T>::table);
    if (table.fields.size() != N) return false;
    size_t next = 0;
    for (size_t i = 0; i < N; ++i) {
        const QuoteFieldLayout& f = table.fields[i];
        if (src[i].offset != next) return false;
        next += src[i].size;
        if (src[i].kind == Src::Text) {
            if (f.type != 'C' || src[i].size != f.width) return false;
        } else if (f.type != 'N' && f.type != 'D') {
            return false;
        }
    }
    return next == sizeof(T);
}

template <typename T, size_t N>
constexpr std::array<FieldOp, N> MakeOps(const FieldSource (&src)[N]) {
    const QuoteTableInfo& table = QuoteTable(QuoteRecordTraits<T>::table);
    std::array<FieldOp, N> ops{};
    for (size_t i = 0; i < N; ++i) {
        const QuoteFieldLayout& f = table.fields[i];
        ops[i] = FieldOp{static_cast<uint16_t>(src[i].offset), static_cast<uint16_t>(f.offset),
                         f.width, f.decimals, src[i].kind};
    }
    return ops;
}

// clang-format off
constexpr FieldSource kSnapshotSources[] = {
    QUOTE_FIELD(SnapshotRec_t, HQZQDM), QUOTE_FIELD(SnapshotRec_t, HQZQJC),
    QUOTE_FIELD(SnapshotRec_t, HQZRSP), QUOTE_FIELD(SnapshotRec_t, HQJRKP),
    QUOTE_FIELD(SnapshotRec_t, HQZJCJ), QUOTE_FIELD(SnapshotRec_t, HQCJSL),
    QUOTE_FIELD(SnapshotRec_t, HQCJJE), QUOTE_FIELD(SnapshotRec_t, HQCJBS),
    QUOTE_FIELD(SnapshotRec_t, HQZGCJ), QUOTE_FIELD(SnapshotRec_t, HQZDCJ),
    QUOTE_FIELD(SnapshotRec_t, HQSYL1), QUOTE_FIELD(SnapshotRec_t, HQSYL2),
    QUOTE_FIELD(SnapshotRec_t, HQJSD1), QUOTE_FIELD(SnapshotRec_t, HQJSD2),
    QUOTE_FIELD(SnapshotRec_t, HQHYCC), QUOTE_FIELD(SnapshotRec_t, HQSJW5),
    QUOTE_FIELD(SnapshotRec_t, HQSSL5), QUOTE_FIELD(SnapshotRec_t, HQSJW4),
    QUOTE_FIELD(SnapshotRec_t, HQSSL4), QUOTE_FIELD(SnapshotRec_t, HQSJW3),
    QUOTE_FIELD(SnapshotRec_t, HQSSL3), QUOTE_FIELD(SnapshotRec_t, HQSJW2),
    QUOTE_FIELD(SnapshotRec_t, HQSSL2), QUOTE_FIELD(SnapshotRec_t, HQSJW1),
    QUOTE_FIELD(SnapshotRec_t, HQSSL1), QUOTE_FIELD(SnapshotRec_t, HQBJW1),
    QUOTE_FIELD(SnapshotRec_t, HQBSL1), QUOTE_FIELD(SnapshotRec_t, HQBJW2),
    QUOTE_FIELD(SnapshotRec_t, HQBSL2), QUOTE_FIELD(SnapshotRec_t, HQBJW3),
    QUOTE_FIELD(SnapshotRec_t, HQBSL3), QUOTE_FIELD(SnapshotRec_t, HQBJW4),
    QUOTE_FIELD(SnapshotRec_t, HQBSL4), QUOTE_FIELD(SnapshotRec_t, HQBJW5),
    QUOTE_FIELD(SnapshotRec_t, HQBSL5),
};

constexpr FieldSource kZqxxSources[] = {
    QUOTE_FIELD(ZqxxRec_t, XXZQDM),   QUOTE_FIELD(ZqxxRec_t, XXZQJC),
    QUOTE_FIELD(ZqxxRec_t, XXYWJC),   QUOTE_FIELD(ZqxxRec_t, XXJCZQ),
    QUOTE_FIELD(ZqxxRec_t, XXISIN),   QUOTE_FIELD(ZqxxRec_t, XXZRDW),
    QUOTE_FIELD(ZqxxRec_t, XXHYZL),   QUOTE_FIELD(ZqxxRec_t, XXHBZL),
    QUOTE_FIELD(ZqxxRec_t, XXMGMZ),   QUOTE_FIELD(ZqxxRec_t, XXZGB),
    QUOTE_FIELD(ZqxxRec_t, XXFXSGB),  QUOTE_FIELD(ZqxxRec_t, XXSNSY),
    QUOTE_FIELD(ZqxxRec_t, XXBNSY),   QUOTE_FIELD(ZqxxRec_t, XXJSFL),
    QUOTE_FIELD(ZqxxRec_t, XXYHSL),   QUOTE_FIELD(ZqxxRec_t, XXGHFL),
    QUOTE_FIELD(ZqxxRec_t, XXGPRQ),   QUOTE_FIELD(ZqxxRec_t, XXZQQXR),
    QUOTE_FIELD(ZqxxRec_t, XXDQR),    QUOTE_FIELD(ZqxxRec_t, XXMBXL),
    QUOTE_FIELD(ZqxxRec_t, XXBLDW),   QUOTE_FIELD(ZqxxRec_t, XXSLDW),
    QUOTE_FIELD(ZqxxRec_t, XXZXSBSL), QUOTE_FIELD(ZqxxRec_t, XXJGDW),
    QUOTE_FIELD(ZqxxRec_t, XXSBCS),   QUOTE_FIELD(ZqxxRec_t, XXHXCS),
    QUOTE_FIELD(ZqxxRec_t, XXXJXZ),   QUOTE_FIELD(ZqxxRec_t, XXZTJG),
    QUOTE_FIELD(ZqxxRec_t, XXDTJG),   QUOTE_FIELD(ZqxxRec_t, XXDZZTJG),
    QUOTE_FIELD(ZqxxRec_t, XXDZDTJG), QUOTE_FIELD(ZqxxRec_t, XXCFGBZ),
    QUOTE_FIELD(ZqxxRec_t, XXZHBL),   QUOTE_FIELD(ZqxxRec_t, XXZRZT),
    QUOTE_FIELD(ZqxxRec_t, XXZQJB),   QUOTE_FIELD(ZqxxRec_t, XXZRLX),
    QUOTE_FIELD(ZqxxRec_t, XXZSSSL),  QUOTE_FIELD(ZqxxRec_t, XXTPBZ),
    QUOTE_FIELD(ZqxxRec_t, XXCQCX),   QUOTE_FIELD(ZqxxRec_t, XXWLTP),
    QUOTE_FIELD(ZqxxRec_t, XXQTYW),   QUOTE_FIELD(ZqxxRec_t, XXGXSJ),
};

constexpr FieldSource kZsxxSources[] = {
    QUOTE_FIELD(NQZSXX_OrderRec_t, ZSZQDM), QUOTE_FIELD(NQZSXX_OrderRec_t, ZSYWLB),
    QUOTE_FIELD(NQZSXX_OrderRec_t, ZSWTSL), QUOTE_FIELD(NQZSXX_OrderRec_t, ZSWTJG),
    QUOTE_FIELD(NQZSXX_OrderRec_t, ZSSJLX), QUOTE_FIELD(NQZSXX_OrderRec_t, ZSWTSJ),
    QUOTE_FIELD(NQZSXX_OrderRec_t, ZSBYZD),
};

constexpr FieldSource kXyxxSources[] = {
    QUOTE_FIELD(NQXYXX_OrderRec_t, XYZQDM), QUOTE_FIELD(NQXYXX_OrderRec_t, XYJYDY),
    QUOTE_FIELD(NQXYXX_OrderRec_t, XYYWLB), QUOTE_FIELD(NQXYXX_OrderRec_t, XYWTSL),
    QUOTE_FIELD(NQXYXX_OrderRec_t, XYWTJG), QUOTE_FIELD(NQXYXX_OrderRec_t, XYYDH),
    QUOTE_FIELD(NQXYXX_OrderRec_t, XYWTSJ), QUOTE_FIELD(NQXYXX_OrderRec_t, XYJLZT),
    QUOTE_FIELD(NQXYXX_OrderRec_t, XYBYBZ),
};

constexpr FieldSource kFgksbxxSources[] = {
    QUOTE_FIELD(NQFGKSBXX_OrderRec_t, FGKZQDM), QUOTE_FIELD(NQFGKSBXX_OrderRec_t, FGKJYDY),
    QUOTE_FIELD(NQFGKSBXX_OrderRec_t, FGKZQLB), QUOTE_FIELD(NQFGKSBXX_OrderRec_t, FGKSBLB),
    QUOTE_FIELD(NQFGKSBXX_OrderRec_t, FGKWTSL), QUOTE_FIELD(NQFGKSBXX_OrderRec_t, FGKWTJG),
    QUOTE_FIELD(NQFGKSBXX_OrderRec_t, FGKYDH),  QUOTE_FIELD(NQFGKSBXX_OrderRec_t, FGKWTSJ),
    QUOTE_FIELD(NQFGKSBXX_OrderRec_t, FGKJLZT), QUOTE_FIELD(NQFGKSBXX_OrderRec_t, FGKBYBZ),
};

constexpr FieldSource kFgkcjxxSources[] = {
    QUOTE_FIELD(NQFGKCJXX_TradeRec_t, FGKCJXH),   QUOTE_FIELD(NQFGKCJXX_TradeRec_t, FGKZQDM),
    QUOTE_FIELD(NQFGKCJXX_TradeRec_t, FGKZQJC),   QUOTE_FIELD(NQFGKCJXX_TradeRec_t, FGKZQLB),
    QUOTE_FIELD(NQFGKCJXX_TradeRec_t, FGKBJYDY),  QUOTE_FIELD(NQFGKCJXX_TradeRec_t, FGKBDYMC),
    QUOTE_FIELD(NQFGKCJXX_TradeRec_t, FGKSDJYDY), QUOTE_FIELD(NQFGKCJXX_TradeRec_t, FGKSDYMC),
    QUOTE_FIELD(NQFGKCJXX_TradeRec_t, FGKCJSL),   QUOTE_FIELD(NQFGKCJXX_TradeRec_t, FGKCJJG),
    QUOTE_FIELD(NQFGKCJXX_TradeRec_t, FGKCJSJ),   QUOTE_FIELD(NQFGKCJXX_TradeRec_t, FGKBYBZ),
};
// clang-format on

#undef QUOTE_FIELD

static_assert(MatchesSchema<SnapshotRec_t>(kSnapshotSources));
static_assert(MatchesSchema<ZqxxRec_t>(kZqxxSources));
static_assert(MatchesSchema<NQZSXX_OrderRec_t>(kZsxxSources));
static_assert(MatchesSchema<NQXYXX_OrderRec_t>(kXyxxSources));
static_assert(MatchesSchema<NQFGKSBXX_OrderRec_t>(kFgksbxxSources));
static_assert(MatchesSchema<NQFGKCJXX_TradeRec_t>(kFgkcjxxSources));

constexpr auto kSnapshotOps = MakeOps<SnapshotRec_t>(kSnapshotSources);
constexpr auto kZqxxOps = MakeOps<ZqxxRec_t>(kZqxxSources);
constexpr auto kZsxxOps = MakeOps<NQZSXX_OrderRec_t>(kZsxxSources);
constexpr auto kXyxxOps = MakeOps<NQXYXX_OrderRec_t>(kXyxxSources);
constexpr auto kFgksbxxOps = MakeOps<NQFGKSBXX_OrderRec_t>(kFgksbxxSources);
constexpr auto kFgkcjxxOps = MakeOps<NQFGKCJXX_TradeRec_t>(kFgkcjxxSources);

// --- Formatting --------------------------------------------------------------

template <typename T>
inline T LoadLe(const uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little) {
        T v;
        std::memcpy(&v, p, sizeof v);
        return v;
    } else {
        using U = std::make_unsigned_t<T>;
        U u = 0;
        for (size_t i = 0; i < sizeof(T); ++i) u |= static_cast<U>(static_cast<U>(p[i]) << (8 * i));
        return static_cast<T>(u);
    }
}

// The value of a numeric field.
template <FieldOp Op>
inline int64_t LoadValue(const uint8_t* rec) {
    const uint8_t* src = rec + Op.src;
    if constexpr (Op.kind == Src::I32) {
        return LoadLe<int32_t>(src);
    } else if constexpr (Op.kind == Src::U32) {
        return LoadLe<uint32_t>(src);
    } else {
        static_assert(Op.kind == Src::I64);
        return LoadLe<int64_t>(src);
    }
}

// One field, with its place, width and format fixed at compile time.
template <FieldOp Op>
inline void FormatField(const uint8_t* rec, char* out) {
    char* dst = out + Op.dst;
    if constexpr (Op.kind == Src::Text) {
        std::memcpy(dst, rec + Op.src, Op.width);
    } else {
        const int64_t value = LoadValue<Op>(rec);
        if constexpr (Op.decimals == 0) {
            FormatIntFieldN<Op.width>(dst, value);
        } else {
            FormatFixedFieldN<Op.width, Op.decimals>(dst, value);
        }
    }
}

template <const auto& Ops, size_t... I>
inline void FormatEachField(const uint8_t* rec, char* out, std::index_sequence<I...>) {
    (FormatField<Ops[I]>(rec, out), ...);
}

template <const auto& Ops>
inline constexpr size_t kFieldCount = std::tuple_size_v<std::remove_cvref_t<decltype(Ops)>>;

// The fields cover the image from byte 1 to its end without a gap (checked
// above and in QuoteTables.h), so only the deletion flag needs writing besides.
template <const auto& Ops>
void FormatFieldsPortable(const void* record, char* out) {
    out[0] = ' ';
    FormatEachField<Ops>(static_cast<const uint8_t*>(record), out,
                         std::make_index_sequence<kFieldCount<Ops>>{});
}

// --- Four numeric fields at a time ---------------------------------------------
// The numeric fields the lanes can take go four to a register, from the last
// field of the image to the first: a lane's 16-byte store reaches back over
// the fields ahead of its own, which are written after it. Every other field
// (text, a number the lanes cannot take) is written after all lanes, exactly
// in its width. A short last group repeats its last field: the same bytes
// written twice.

constexpr numlanes::LaneFormat LaneFormatOf(const FieldOp& op) {
    return {op.width, op.decimals};
}

// A lane's store begins 16 bytes before the field's end, inside the image.
constexpr bool TakenByLanes(const FieldOp& op) {
    return op.kind != Src::Text && op.dst + op.width >= 16 &&
           numlanes::LaneCanFormat(LaneFormatOf(op));
}

template <size_t N>
struct LanePlan {
    std::array<uint8_t, N> laneFields{};  // by decreasing image offset
    size_t laneCount = 0;
    std::array<uint8_t, N> otherFields{};
    size_t otherCount = 0;
    size_t groups = 0;

    // Field index of lane `lane` of group `group`.
    constexpr size_t field(size_t group, size_t lane) const {
        const size_t i = 4 * group + lane;
        return laneFields[i < laneCount ? i : laneCount - 1];
    }
};

template <size_t N>
constexpr LanePlan<N> MakeLanePlan(const std::array<FieldOp, N>& ops) {
    LanePlan<N> plan;
    for (size_t k = N; k-- > 0;) {
        if (TakenByLanes(ops[k])) {
            plan.laneFields[plan.laneCount++] = static_cast<uint8_t>(k);
        } else {
            plan.otherFields[plan.otherCount++] = static_cast<uint8_t>(k);
        }
    }
    plan.groups = (plan.laneCount + 3) / 4;
    return plan;
}

// By decreasing index the lanes go from the last field to the first.
template <size_t N>
constexpr bool InImageOrder(const std::array<FieldOp, N>& ops) {
    for (size_t k = 1; k < N; ++k) {
        if (ops[k].dst <= ops[k - 1].dst) return false;
    }
    return true;
}

template <const auto& Ops>
inline constexpr auto kLanePlan = [] {
    static_assert(InImageOrder(Ops));
    return MakeLanePlan(Ops);
}();

#if TAVREL_NUMBER_LANES

template <const auto& Ops, size_t G>
TAVREL_LANES_AVX2 inline void FormatGroup(const uint8_t* rec, char* out) {
    constexpr auto& plan = kLanePlan<Ops>;
    constexpr FieldOp f0 = Ops[plan.field(G, 0)], f1 = Ops[plan.field(G, 1)],
                      f2 = Ops[plan.field(G, 2)], f3 = Ops[plan.field(G, 3)];
    const unsigned missed =
        numlanes::PutFour<LaneFormatOf(f0), LaneFormatOf(f1), LaneFormatOf(f2), LaneFormatOf(f3)>(
            out + f0.dst + f0.width, out + f1.dst + f1.width, out + f2.dst + f2.width,
            out + f3.dst + f3.width, LoadValue<f0>(rec), LoadValue<f1>(rec), LoadValue<f2>(rec),
            LoadValue<f3>(rec));
    if (missed != 0) [[unlikely]] {
        if (missed & 1) FormatField<f0>(rec, out);
        if (missed & 2) FormatField<f1>(rec, out);
        if (missed & 4) FormatField<f2>(rec, out);
        if (missed & 8) FormatField<f3>(rec, out);
    }
}

template <const auto& Ops, size_t... G, size_t... K>
TAVREL_LANES_AVX2 inline void FormatLanesThenOthers(const uint8_t* rec, char* out,
                                                    std::index_sequence<G...>,
                                                    std::index_sequence<K...>) {
    constexpr auto& plan = kLanePlan<Ops>;
    (FormatGroup<Ops, G>(rec, out), ...);
    (FormatField<Ops[plan.otherFields[K]]>(rec, out), ...);
}

template <const auto& Ops>
TAVREL_LANES_AVX2 void FormatFieldsLanes(const void* record, char* out) {
    constexpr auto& plan = kLanePlan<Ops>;
    FormatLanesThenOthers<Ops>(static_cast<const uint8_t*>(record), out,
                               std::make_index_sequence<plan.groups>{},
                               std::make_index_sequence<plan.otherCount>{});
    out[0] = ' ';
}

#endif

bool UseLanes(ImageEngine engine) {
    static const bool available = numlanes::LanesAvailable();
    return engine != ImageEngine::Portable && available;
}

template <const auto& Ops>
void FormatFields(const void* record, char* out, ImageEngine engine) {
#if TAVREL_NUMBER_LANES
    if constexpr (kLanePlan<Ops>.groups > 0) {
        if (UseLanes(engine)) {
            FormatFieldsLanes<Ops>(record, out);
            return;
        }
    }
#endif
    FormatFieldsPortable<Ops>(record, out);
}

constexpr int kHqbsl4 = 32;
constexpr int kHqbsl5 = 34;
static_assert(kNqhqFields[kHqbsl4].name[5] == '4' && kNqhqFields[kHqbsl5].name[5] == '5');

// In the special record of NQHQ.DBF these two carry values that readers take
// as eight digits: above 10000 they are written as four spaces and the low 32
// bits zero-filled to eight digits.
void FormatSpecialVolume(int64_t value, int field, char* out) {
    if (value <= 10000) return;
    const QuoteFieldLayout& f = kNqhqFields[field];
    const int32_t low = static_cast<int32_t>(static_cast<uint32_t>(value));
    FormatZeroFilledField(out + f.offset, f.width, 4, 8, low);
}

template <const auto& Ops, typename T>
std::string FormatToString(const T& rec) {
    std::string image(kImageLength<T>, ' ');
    FormatFields<Ops>(&rec, image.data(), ImageEngine::Auto);
    return image;
}

bool IsCode000000(const char* code) {
    return std::memcmp(code, "000000", 6) == 0;
}

}  // namespace

void FormatRecord(const SnapshotRec_t& rec, bool specialRecord, char* out, ImageEngine engine) {
    FormatFields<kSnapshotOps>(&rec, out, engine);
    if (specialRecord) {
        FormatSpecialVolume(rec.HQBSL4, kHqbsl4, out);
        FormatSpecialVolume(rec.HQBSL5, kHqbsl5, out);
    }
}

void FormatRecord(const ZqxxRec_t& rec, char* out, ImageEngine engine) {
    FormatFields<kZqxxOps>(&rec, out, engine);
}
void FormatRecord(const NQZSXX_OrderRec_t& rec, char* out, ImageEngine engine) {
    FormatFields<kZsxxOps>(&rec, out, engine);
}
void FormatRecord(const NQXYXX_OrderRec_t& rec, char* out, ImageEngine engine) {
    FormatFields<kXyxxOps>(&rec, out, engine);
}
void FormatRecord(const NQFGKSBXX_OrderRec_t& rec, char* out, ImageEngine engine) {
    FormatFields<kFgksbxxOps>(&rec, out, engine);
}
void FormatRecord(const NQFGKCJXX_TradeRec_t& rec, char* out, ImageEngine engine) {
    FormatFields<kFgkcjxxOps>(&rec, out, engine);
}

bool ImageLanesAvailable() {
    return UseLanes(ImageEngine::Lanes);
}

int FormatRecord(std::span<const CQuotaRec<SnapshotRec_t>> table, size_t recordNo, char* out) {
    if (recordNo >= table.size()) return -1;
    FormatRecord(table[recordNo].rec, recordNo == 0, out);
    return 0;
}

int FormatRecord(std::span<const CQuotaRec<ZqxxRec_t>> table, size_t recordNo, char* out) {
    if (recordNo >= table.size()) return -1;
    FormatRecord(table[recordNo].rec, out);
    return 0;
}

int FormatRecord(std::span<const CQuotaRec<NQZSXX_OrderRec_t>> table, size_t recordNo, char* out) {
    if (recordNo >= table.size()) return -1;
    FormatRecord(table[recordNo].rec, out);
    return 0;
}

std::string FormatRecord(const NQXYXX_OrderRec_t& rec) {
    return FormatToString<kXyxxOps>(rec);
}
std::string FormatRecord(const NQFGKSBXX_OrderRec_t& rec) {
    return FormatToString<kFgksbxxOps>(rec);
}
std::string FormatRecord(const NQFGKCJXX_TradeRec_t& rec) {
    return FormatToString<kFgkcjxxOps>(rec);
}

std::string_view FieldText(QuoteTableId table, int field, std::string_view image) {
    const QuoteTableInfo* info = FindQuoteTable(table);
    if (info == nullptr || field < 0 || static_cast<size_t>(field) >= info->fields.size()) {
        return {};
    }
    const QuoteFieldLayout& f = info->fields[field];
    const size_t offset = static_cast<size_t>(f.offset);
    if (offset >= image.size()) return {};
    return image.substr(offset, f.width);
}

namespace {

// A numeric field read the way atoi reads it (an int).
int32_t FieldNumber(QuoteTableId table, int field, std::string_view image) {
    const std::string_view text = FieldText(table, field, image);
    return static_cast<int32_t>(ParseDecimalField(text.data(), text.size()));
}

constexpr int kXyzqdm = 0;
constexpr int kXyydh = 5;
constexpr int kFgkydh = 6;
constexpr int kFgkcjxh = 0;
static_assert(kNqxyxxFields[kXyydh].name[2] == 'Y' && kNqfgksbxxFields[kFgkydh].name[3] == 'Y');

}  // namespace

int64_t RecordKey(QuoteTableId table, std::string_view image) {
    switch (table) {
        case kNqxyxx: {
            const int64_t code = FieldNumber(table, kXyzqdm, image);
            const int64_t number = FieldNumber(table, kXyydh, image);
            // Within int64 for any 6-character code: |code| < 10^6 < 2^31.
            return code * (int64_t{1} << 32) + number;
        }
        case kNqfgksbxx:
            return FieldNumber(table, kFgkydh, image);
        default:
            return 0;
    }
}

bool IsSpecial(QuoteTableId table, std::string_view image) {
    const QuoteTableInfo* info = FindQuoteTable(table);
    if (info == nullptr) return false;
    return FieldText(table, info->codeField, image) == "000000";
}

bool IsSpecial(const NQXYXX_OrderRec_t& rec) {
    return IsCode000000(rec.XYZQDM);
}
bool IsSpecial(const NQFGKSBXX_OrderRec_t& rec) {
    return IsCode000000(rec.FGKZQDM);
}

bool IsActive(QuoteTableId table, std::string_view image) {
    const QuoteTableInfo* info = FindQuoteTable(table);
    if (info == nullptr || info->statusField < 0) return false;
    return FieldText(table, info->statusField, image) == "1";
}

int32_t TradeNumberOf(std::string_view image) {
    return FieldNumber(kNqfgkcjxx, kFgkcjxh, image);
}

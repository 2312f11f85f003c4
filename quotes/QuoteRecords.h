#pragma once
// The binary records the master station sends, one type per table, and their
// DBF record images.
//
// The records are packed and little-endian on the wire. Their integers are
// kept as byte arrays (LeInt) so that a record has no alignment gaps, can be
// copied straight out of a packet payload, and reads the same on any host; a
// member reads and assigns like a plain integer (`rec.HQCJBS = t`).
//
// FormatRecord writes the image of one record into a buffer the caller owns
// (a block buffer of a table write, a pending-append buffer), so the hot path
// neither allocates nor copies the image again.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "quotes/QuoteTables.h"

// A little-endian integer stored as bytes.
template <typename T>
struct LeInt {
    static_assert(std::is_integral_v<T>);
    uint8_t bytes[sizeof(T)];

    constexpr T get() const {
        using U = std::make_unsigned_t<T>;
        U u = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            u |= static_cast<U>(static_cast<U>(bytes[i]) << (8 * i));
        return static_cast<T>(u);
    }
    constexpr void set(T value) {
        using U = std::make_unsigned_t<T>;
        const U u = static_cast<U>(value);
        for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(u >> (8 * i));
    }
    constexpr operator T() const { return get(); }
    constexpr LeInt& operator=(T value) {
        set(value);
        return *this;
    }
};
using LeInt32 = LeInt<int32_t>;
using LeUInt32 = LeInt<uint32_t>;
using LeInt64 = LeInt<int64_t>;
using LeInt16 = LeInt<int16_t>;

// A little-endian integer read from packet bytes.
template <typename T>
inline T LoadLe(const uint8_t* p) {
    LeInt<T> v;
    std::memcpy(v.bytes, p, sizeof(T));
    return v.get();
}

// Prices and amounts are integers in units of 10^-d, d being the decimals of
// their DBF field (a price of 12.345 is sent as 12345).

// One security of NQHQ.DBF (198 bytes).
struct SnapshotRec_t {
    char HQZQDM[6];
    char HQZQJC[8];
    LeInt32 HQZRSP;
    LeInt32 HQJRKP;
    LeInt32 HQZJCJ;
    LeInt64 HQCJSL;
    LeInt64 HQCJJE;
    LeInt32 HQCJBS;
    LeInt32 HQZGCJ;
    LeInt32 HQZDCJ;
    LeInt32 HQSYL1;
    LeInt32 HQSYL2;
    LeInt32 HQJSD1;
    LeInt32 HQJSD2;
    LeInt64 HQHYCC;
    LeInt32 HQSJW5;
    LeInt64 HQSSL5;
    LeInt32 HQSJW4;
    LeInt64 HQSSL4;
    LeInt32 HQSJW3;
    LeInt64 HQSSL3;
    LeInt32 HQSJW2;
    LeInt64 HQSSL2;
    LeInt32 HQSJW1;
    LeInt64 HQSSL1;
    LeInt32 HQBJW1;
    LeInt64 HQBSL1;
    LeInt32 HQBJW2;
    LeInt64 HQBSL2;
    LeInt32 HQBJW3;
    LeInt64 HQBSL3;
    LeInt32 HQBJW4;
    LeInt64 HQBSL4;
    LeInt32 HQBJW5;
    LeInt64 HQBSL5;
};

// One security of NQXX.DBF (186 bytes).
struct ZqxxRec_t {
    char XXZQDM[6];
    char XXZQJC[8];
    char XXYWJC[20];  // in the special record: hhmmsscc, the information time
    char XXJCZQ[6];
    char XXISIN[12];
    LeInt32 XXZRDW;
    char XXHYZL[5];
    char XXHBZL[2];
    LeInt32 XXMGMZ;
    LeInt64 XXZGB;
    LeInt64 XXFXSGB;
    LeInt32 XXSNSY;
    LeInt32 XXBNSY;
    LeInt32 XXJSFL;
    LeInt32 XXYHSL;
    LeInt32 XXGHFL;
    LeInt32 XXGPRQ;  // dates as the number yyyymmdd
    LeInt32 XXZQQXR;
    LeInt32 XXDQR;
    LeInt32 XXMBXL;
    LeInt32 XXBLDW;
    LeInt32 XXSLDW;
    LeInt32 XXZXSBSL;
    LeInt32 XXJGDW;
    LeInt32 XXSBCS;
    LeInt32 XXHXCS;
    LeInt32 XXXJXZ;
    LeInt32 XXZTJG;
    LeInt32 XXDTJG;
    LeInt32 XXDZZTJG;
    LeInt32 XXDZDTJG;
    char XXCFGBZ;
    LeInt32 XXZHBL;
    char XXZRZT;
    char XXZQJB;
    char XXZRLX;
    LeInt32 XXZSSSL;
    char XXTPBZ;
    char XXCQCX;
    char XXWLTP;
    char XXQTYW[4];
    LeInt32 XXGXSJ;
};

// One market-making declaration of NQZSXX.DBF (31 bytes).
struct NQZSXX_OrderRec_t {
    char ZSZQDM[6];
    char ZSYWLB[2];
    LeInt64 ZSWTSL;
    LeInt32 ZSWTJG;
    char ZSSJLX;
    char ZSWTSJ[6];  // in the special record: the declaration time hhmmss
    LeInt32 ZSBYZD;
};

// One agreement-transfer investor declaration of NQXYXX.DBF (38 bytes).
struct NQXYXX_OrderRec_t {
    char XYZQDM[6];
    char XYJYDY[6];
    char XYYWLB[2];
    LeInt64 XYWTSL;
    LeInt32 XYWTJG;
    LeInt32 XYYDH;
    char XYWTSJ[6];
    char XYJLZT;  // '1' active, '0' withdrawn, ' ' in the special record
    char XYBYBZ;
};

// One non-public declaration of NQFGKSBXX.DBF (40 bytes).
struct NQFGKSBXX_OrderRec_t {
    char FGKZQDM[6];
    char FGKJYDY[6];
    char FGKZQLB[2];
    char FGKSBLB[2];
    LeInt64 FGKWTSL;
    LeInt32 FGKWTJG;
    LeInt32 FGKYDH;
    char FGKWTSJ[6];
    char FGKJLZT;  // '1' active, '0' withdrawn, ' ' in the special record
    char FGKBYBZ;
};

// One non-public trade of NQFGKCJXX.DBF (307 bytes).
struct NQFGKCJXX_TradeRec_t {
    LeInt32 FGKCJXH;  // trade number; 0 in the special record
    char FGKZQDM[6];
    char FGKZQJC[8];
    char FGKZQLB[2];
    char FGKBJYDY[6];
    char FGKBDYMC[128];
    char FGKSDJYDY[6];
    char FGKSDYMC[128];
    LeInt64 FGKCJSL;
    LeUInt32 FGKCJJG;  // unsigned: a price never reads as negative
    char FGKCJSJ[6];
    char FGKBYBZ;
};

static_assert(sizeof(SnapshotRec_t) == 198 && alignof(SnapshotRec_t) == 1);
static_assert(sizeof(ZqxxRec_t) == 186 && alignof(ZqxxRec_t) == 1);
static_assert(sizeof(NQZSXX_OrderRec_t) == 31 && alignof(NQZSXX_OrderRec_t) == 1);
static_assert(sizeof(NQXYXX_OrderRec_t) == 38 && alignof(NQXYXX_OrderRec_t) == 1);
static_assert(sizeof(NQFGKSBXX_OrderRec_t) == 40 && alignof(NQFGKSBXX_OrderRec_t) == 1);
static_assert(sizeof(NQFGKCJXX_TradeRec_t) == 307 && alignof(NQFGKCJXX_TradeRec_t) == 1);

// The element of a snapshot table's in-memory array; index n is record n.
// A value-initialised element (as after a resize) is all zero bytes.
template <typename T>
struct CQuotaRec {
    uint8_t firstRoundSeen = 0;  // received during the first full load
    uint8_t closeRoundSeen = 0;  // received after the close mark (NQHQ.DBF)
    T rec{};
};
static_assert(sizeof(CQuotaRec<SnapshotRec_t>) == 200);
static_assert(sizeof(CQuotaRec<ZqxxRec_t>) == 188);
static_assert(sizeof(CQuotaRec<NQZSXX_OrderRec_t>) == 33);

// Which table a record type belongs to and the length of its image.
template <typename T>
struct QuoteRecordTraits;
template <>
struct QuoteRecordTraits<SnapshotRec_t> {
    static constexpr QuoteTableId table = kNqhq;
};
template <>
struct QuoteRecordTraits<ZqxxRec_t> {
    static constexpr QuoteTableId table = kNqxx;
};
template <>
struct QuoteRecordTraits<NQZSXX_OrderRec_t> {
    static constexpr QuoteTableId table = kNqzsxx;
};
template <>
struct QuoteRecordTraits<NQXYXX_OrderRec_t> {
    static constexpr QuoteTableId table = kNqxyxx;
};
template <>
struct QuoteRecordTraits<NQFGKSBXX_OrderRec_t> {
    static constexpr QuoteTableId table = kNqfgksbxx;
};
template <>
struct QuoteRecordTraits<NQFGKCJXX_TradeRec_t> {
    static constexpr QuoteTableId table = kNqfgkcjxx;
};
template <typename T>
inline constexpr size_t kImageLength = QuoteTable(QuoteRecordTraits<T>::table).recordLength;

// Copies one record out of received bytes. false (and `out` untouched) when
// fewer than sizeof(T) bytes are available.
template <typename T>
bool LoadRecord(const void* data, size_t available, T& out) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (data == nullptr || available < sizeof(T)) return false;
    std::memcpy(&out, data, sizeof(T));
    return true;
}

// --- DBF record images -----------------------------------------------------
// Each writes exactly kImageLength<T> bytes to out: byte 0 (the deletion flag)
// a space, text fields copied byte for byte, numbers right-aligned in their
// field's width and cut to it when longer.

// The code that formats the numbers: Auto takes the vector lanes when the
// processor has them (x86-64 with AVX2), else the portable code; both write
// the same bytes. Portable and Lanes are for tests and benchmarks; Lanes
// falls back to Portable where the lanes are not available.
enum class ImageEngine : uint8_t { Auto, Portable, Lanes };

// specialRecord: the record is record 0 of the table, whose HQBSL4 and HQBSL5
// above 10000 are written as four spaces and eight zero-filled digits.
void FormatRecord(const SnapshotRec_t& rec, bool specialRecord, char* out,
                  ImageEngine engine = ImageEngine::Auto);
void FormatRecord(const ZqxxRec_t& rec, char* out, ImageEngine engine = ImageEngine::Auto);
void FormatRecord(const NQZSXX_OrderRec_t& rec, char* out, ImageEngine engine = ImageEngine::Auto);
void FormatRecord(const NQXYXX_OrderRec_t& rec, char* out, ImageEngine engine = ImageEngine::Auto);
void FormatRecord(const NQFGKSBXX_OrderRec_t& rec, char* out,
                  ImageEngine engine = ImageEngine::Auto);
void FormatRecord(const NQFGKCJXX_TradeRec_t& rec, char* out,
                  ImageEngine engine = ImageEngine::Auto);

// The processor runs the vector lanes (what Auto chooses).
bool ImageLanesAvailable();

// Record recordNo of a snapshot table's in-memory array (record 0 being the
// special record). 0, or -1 with nothing written when recordNo is outside it.
int FormatRecord(std::span<const CQuotaRec<SnapshotRec_t>> table, size_t recordNo, char* out);
int FormatRecord(std::span<const CQuotaRec<ZqxxRec_t>> table, size_t recordNo, char* out);
int FormatRecord(std::span<const CQuotaRec<NQZSXX_OrderRec_t>> table, size_t recordNo, char* out);

// The image as a string, for the declaration and trade tables that keep
// images in their own containers.
std::string FormatRecord(const NQXYXX_OrderRec_t& rec);
std::string FormatRecord(const NQFGKSBXX_OrderRec_t& rec);
std::string FormatRecord(const NQFGKCJXX_TradeRec_t& rec);

// --- Reading images ----------------------------------------------------------
// An image is the record's bytes as in the file (deletion flag at 0). A
// shorter view, as a torn read might give, is read as far as it goes: the
// fields it lacks count as empty.

// The bytes of field `field` of the table's image; empty when the field is
// unknown or lies outside the view, shortened when it lies partly outside.
std::string_view FieldText(QuoteTableId table, int field, std::string_view image);

// The key of a declaration: NQXYXX.DBF: XYZQDM * 2^32 + XYYDH (sign-extended);
// NQFGKSBXX.DBF: FGKYDH. Numbers are read like atoi. 0 for other tables.
int64_t RecordKey(QuoteTableId table, std::string_view image);

// The record is a special record: its security code field is "000000".
bool IsSpecial(QuoteTableId table, std::string_view image);
bool IsSpecial(const NQXYXX_OrderRec_t& rec);
bool IsSpecial(const NQFGKSBXX_OrderRec_t& rec);

// A declaration image whose status field is "1". false for tables without one.
bool IsActive(QuoteTableId table, std::string_view image);

// The trade number (FGKCJXH) of an NQFGKCJXX.DBF image, read like atoi.
int32_t TradeNumberOf(std::string_view image);

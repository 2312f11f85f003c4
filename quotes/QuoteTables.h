#pragma once
// The six tables the station publishes: their numbers, what feeds them, and
// their record layouts. The layouts are compile-time tables so that the record
// formatter (QuoteRecords.h) can be checked against them by the compiler; the
// DbfSchema arrays that CDbf takes are built from the same tables once.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "dbf/CDbfFieldDef.h"

// Index of a table in the controller's array of table objects and in the
// array of schemas.
enum QuoteTableId : int32_t {
    kNqhq = 0,       // NQHQ.DBF security quotes
    kNqxyxx = 1,     // NQXYXX.DBF agreement-transfer investor declarations
    kNqzsxx = 2,     // NQZSXX.DBF market-making declarations
    kNqxx = 3,       // NQXX.DBF security information
    kNqfgksbxx = 4,  // NQFGKSBXX.DBF non-public declarations
    kNqfgkcjxx = 5,  // NQFGKCJXX.DBF non-public trades
};
inline constexpr int kQuoteTableCount = 6;

constexpr bool IsQuoteTableId(int id) {
    return id >= 0 && id < kQuoteTableCount;
}

// How records reach a table's file.
enum class QuoteFamily {
    Snapshot,     // record n of the master station's snapshot is record n
    Declaration,  // keyed records, appended or rewritten in place
    Trade,        // appended in trade-number order
};

// One field of a table's record, as a constant.
struct QuoteFieldLayout {
    const char* name;
    char type;  // 'C', 'N', 'D'
    int32_t offset;
    uint8_t width;
    uint8_t decimals;
};

// What is particular to one table besides its fields.
struct QuoteTableInfo {
    QuoteTableId id;
    const char* fileName;   // "NQHQ.DBF"
    const char* pathKey;    // configuration key holding the table's path
    int packetType;         // packet type that feeds the table
    const char* switchKey;  // configuration switch the table depends on; nullptr: always
    uint16_t recordLength;  // bytes per record, deletion flag included
    QuoteFamily family;
    const char* logModule;  // module name of the table's family in the log
    int codeField;          // field holding the security code ("000000" = special record)
    int statusField;        // declaration status field ("1" active, "0" withdrawn); -1 none
    std::span<const QuoteFieldLayout> fields;
};

// clang-format off
inline constexpr QuoteFieldLayout kNqhqFields[] = {
    {"HQZQDM", 'C', 1, 6, 0},    {"HQZQJC", 'C', 7, 8, 0},    {"HQZRSP", 'N', 15, 9, 3},
    {"HQJRKP", 'N', 24, 9, 3},   {"HQZJCJ", 'N', 33, 9, 3},   {"HQCJSL", 'N', 42, 12, 0},
    {"HQCJJE", 'N', 54, 17, 3},  {"HQCJBS", 'N', 71, 9, 0},   {"HQZGCJ", 'N', 80, 9, 3},
    {"HQZDCJ", 'N', 89, 9, 3},   {"HQSYL1", 'N', 98, 9, 4},   {"HQSYL2", 'N', 107, 9, 4},
    {"HQJSD1", 'N', 116, 9, 3},  {"HQJSD2", 'N', 125, 9, 3},  {"HQHYCC", 'N', 134, 12, 0},
    {"HQSJW5", 'N', 146, 9, 3},  {"HQSSL5", 'N', 155, 12, 0}, {"HQSJW4", 'N', 167, 9, 3},
    {"HQSSL4", 'N', 176, 12, 0}, {"HQSJW3", 'N', 188, 9, 3},  {"HQSSL3", 'N', 197, 12, 0},
    {"HQSJW2", 'N', 209, 9, 3},  {"HQSSL2", 'N', 218, 12, 0}, {"HQSJW1", 'N', 230, 9, 3},
    {"HQSSL1", 'N', 239, 12, 0}, {"HQBJW1", 'N', 251, 9, 3},  {"HQBSL1", 'N', 260, 12, 0},
    {"HQBJW2", 'N', 272, 9, 3},  {"HQBSL2", 'N', 281, 12, 0}, {"HQBJW3", 'N', 293, 9, 3},
    {"HQBSL3", 'N', 302, 12, 0}, {"HQBJW4", 'N', 314, 9, 3},  {"HQBSL4", 'N', 323, 12, 0},
    {"HQBJW5", 'N', 335, 9, 3},  {"HQBSL5", 'N', 344, 12, 0},
};

inline constexpr QuoteFieldLayout kNqxyxxFields[] = {
    {"XYZQDM", 'C', 1, 6, 0},   {"XYJYDY", 'C', 7, 6, 0}, {"XYYWLB", 'C', 13, 2, 0},
    {"XYWTSL", 'N', 15, 12, 0}, {"XYWTJG", 'N', 27, 9, 3}, {"XYYDH", 'N', 36, 8, 0},
    {"XYWTSJ", 'C', 44, 6, 0},  {"XYJLZT", 'C', 50, 1, 0}, {"XYBYBZ", 'C', 51, 1, 0},
};

inline constexpr QuoteFieldLayout kNqzsxxFields[] = {
    {"ZSZQDM", 'C', 1, 6, 0}, {"ZSYWLB", 'C', 7, 2, 0},  {"ZSWTSL", 'N', 9, 12, 0},
    {"ZSWTJG", 'N', 21, 9, 3}, {"ZSSJLX", 'C', 30, 1, 0}, {"ZSWTSJ", 'C', 31, 6, 0},
    {"ZSBYZD", 'N', 37, 8, 0},
};

inline constexpr QuoteFieldLayout kNqxxFields[] = {
    {"XXZQDM", 'C', 1, 6, 0},     {"XXZQJC", 'C', 7, 8, 0},     {"XXYWJC", 'C', 15, 20, 0},
    {"XXJCZQ", 'C', 35, 6, 0},    {"XXISIN", 'C', 41, 12, 0},   {"XXZRDW", 'N', 53, 4, 0},
    {"XXHYZL", 'C', 57, 5, 0},    {"XXHBZL", 'C', 62, 2, 0},    {"XXMGMZ", 'N', 64, 7, 2},
    {"XXZGB", 'N', 71, 12, 0},    {"XXFXSGB", 'N', 83, 12, 0},  {"XXSNSY", 'N', 95, 9, 4},
    {"XXBNSY", 'N', 104, 9, 4},   {"XXJSFL", 'N', 113, 7, 6},   {"XXYHSL", 'N', 120, 7, 6},
    {"XXGHFL", 'N', 127, 7, 6},   {"XXGPRQ", 'D', 134, 8, 0},   {"XXZQQXR", 'D', 142, 8, 0},
    {"XXDQR", 'D', 150, 8, 0},    {"XXMBXL", 'N', 158, 9, 0},   {"XXBLDW", 'N', 167, 6, 0},
    {"XXSLDW", 'N', 173, 6, 0},   {"XXZXSBSL", 'N', 179, 6, 0}, {"XXJGDW", 'N', 185, 5, 3},
    {"XXSBCS", 'N', 190, 7, 3},   {"XXHXCS", 'N', 197, 7, 3},   {"XXXJXZ", 'N', 204, 1, 0},
    {"XXZTJG", 'N', 205, 9, 3},   {"XXDTJG", 'N', 214, 9, 3},   {"XXDZZTJG", 'N', 223, 9, 3},
    {"XXDZDTJG", 'N', 232, 9, 3}, {"XXCFGBZ", 'C', 241, 1, 0},  {"XXZHBL", 'N', 242, 5, 2},
    {"XXZRZT", 'C', 247, 1, 0},   {"XXZQJB", 'C', 248, 1, 0},   {"XXZRLX", 'C', 249, 1, 0},
    {"XXZSSSL", 'N', 250, 4, 0},  {"XXTPBZ", 'C', 254, 1, 0},   {"XXCQCX", 'C', 255, 1, 0},
    {"XXWLTP", 'C', 256, 1, 0},   {"XXQTYW", 'C', 257, 4, 0},   {"XXGXSJ", 'N', 261, 6, 0},
};

inline constexpr QuoteFieldLayout kNqfgksbxxFields[] = {
    {"FGKZQDM", 'C', 1, 6, 0},   {"FGKJYDY", 'C', 7, 6, 0},  {"FGKZQLB", 'C', 13, 2, 0},
    {"FGKSBLB", 'C', 15, 2, 0},  {"FGKWTSL", 'N', 17, 12, 0}, {"FGKWTJG", 'N', 29, 9, 3},
    {"FGKYDH", 'N', 38, 8, 0},   {"FGKWTSJ", 'C', 46, 6, 0},  {"FGKJLZT", 'C', 52, 1, 0},
    {"FGKBYBZ", 'C', 53, 1, 0},
};

inline constexpr QuoteFieldLayout kNqfgkcjxxFields[] = {
    {"FGKCJXH", 'N', 1, 8, 0},      {"FGKZQDM", 'C', 9, 6, 0},     {"FGKZQJC", 'C', 15, 8, 0},
    {"FGKZQLB", 'C', 23, 2, 0},     {"FGKBJYDY", 'C', 25, 6, 0},   {"FGKBDYMC", 'C', 31, 128, 0},
    {"FGKSDJYDY", 'C', 159, 6, 0},  {"FGKSDYMC", 'C', 165, 128, 0}, {"FGKCJSL", 'N', 293, 12, 0},
    {"FGKCJJG", 'N', 305, 9, 3},    {"FGKCJSJ", 'C', 314, 6, 0},   {"FGKBYBZ", 'C', 320, 1, 0},
};

inline constexpr QuoteTableInfo kQuoteTables[kQuoteTableCount] = {
    {kNqhq, "NQHQ.DBF", "NQHQ_File", 22, nullptr, 356, QuoteFamily::Snapshot, "Quota", 0, -1,
     kNqhqFields},
    {kNqxyxx, "NQXYXX.DBF", "NQXYXX_File", 23, nullptr, 52, QuoteFamily::Declaration,
     "DetailedQuota", 0, 7, kNqxyxxFields},
    {kNqzsxx, "NQZSXX.DBF", "NQZSXX_File", 24, "rcvZSXX", 45, QuoteFamily::Snapshot, "Quota", 0,
     -1, kNqzsxxFields},
    {kNqxx, "NQXX.DBF", "NQXX_File", 21, nullptr, 267, QuoteFamily::Snapshot, "Quota", 0, -1,
     kNqxxFields},
    {kNqfgksbxx, "NQFGKSBXX.DBF", "NQFGKSBXX_File", 26, "rcvFGKSBXX", 54,
     QuoteFamily::Declaration, "DetailedQuota", 0, 8, kNqfgksbxxFields},
    {kNqfgkcjxx, "NQFGKCJXX.DBF", "NQFGKCJXX_File", 27, "rcvFGKCJXX", 321, QuoteFamily::Trade,
     "CJQuota", 1, -1, kNqfgkcjxxFields},
};
// clang-format on

// Every field must begin where the previous one ends, and the record length
// must be where the last one ends: a slip here would shift every byte a
// trading system reads.
constexpr bool QuoteTableIsContiguous(const QuoteTableInfo& t) {
    int32_t next = 1;
    for (const QuoteFieldLayout& f : t.fields) {
        if (f.offset != next || f.width == 0) return false;
        next += f.width;
    }
    return next == t.recordLength;
}
static_assert(QuoteTableIsContiguous(kQuoteTables[kNqhq]));
static_assert(QuoteTableIsContiguous(kQuoteTables[kNqxyxx]));
static_assert(QuoteTableIsContiguous(kQuoteTables[kNqzsxx]));
static_assert(QuoteTableIsContiguous(kQuoteTables[kNqxx]));
static_assert(QuoteTableIsContiguous(kQuoteTables[kNqfgksbxx]));
static_assert(QuoteTableIsContiguous(kQuoteTables[kNqfgkcjxx]));

// The largest record length of the six tables (a buffer for any one record).
inline constexpr size_t kMaxQuoteRecordLength = 356;
static_assert([] {
    size_t longest = 0;
    for (const QuoteTableInfo& t : kQuoteTables)
        longest = std::max<size_t>(longest, t.recordLength);
    return longest == kMaxQuoteRecordLength;
}());

// The table's constants; id must be one of the six.
constexpr const QuoteTableInfo& QuoteTable(QuoteTableId id) {
    return kQuoteTables[id];
}
// The same for a number from elsewhere: nullptr when it names no table.
constexpr const QuoteTableInfo* FindQuoteTable(int id) {
    return IsQuoteTableId(id) ? &kQuoteTables[id] : nullptr;
}

// The table's schema as CDbf takes it, built once and constant for the life of
// the process. An id outside 0..5 gets an empty schema, which no table accepts.
const DbfSchema& QuoteSchema(int id);
// All six, indexed by QuoteTableId.
const std::array<DbfSchema, kQuoteTableCount>& QuoteSchemas();

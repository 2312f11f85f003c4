#pragma once
// Realistic records for the benchmarks: prices of a few yuan to a few
// hundred, volumes and amounts of a trading day, GBK-width names.
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "quotes/QuoteRecords.h"

namespace benchdata {

inline void Code(char* dst, size_t n, uint32_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*u", static_cast<int>(n), v);
    std::memcpy(dst, text, n);
}

inline void Text(char* dst, size_t n, std::mt19937& rng) {
    for (size_t i = 0; i < n; ++i) dst[i] = static_cast<char>('A' + rng() % 26);
}

// Prices of a few yuan to a few hundred, volumes and amounts of a trading day.
inline std::vector<CQuotaRec<SnapshotRec_t>> MakeSnapshots(size_t count) {
    std::mt19937 rng(1);
    std::vector<CQuotaRec<SnapshotRec_t>> table(count);
    for (size_t i = 0; i < table.size(); ++i) {
        SnapshotRec_t& r = table[i].rec;
        Code(r.HQZQDM, 6, i == 0 ? 0 : static_cast<uint32_t>(430000 + i));
        Text(r.HQZQJC, 8, rng);
        const int32_t close = static_cast<int32_t>(1000 + rng() % 300000);
        r.HQZRSP = close;
        r.HQJRKP = close + static_cast<int32_t>(rng() % 200) - 100;
        r.HQZJCJ = close + static_cast<int32_t>(rng() % 2000) - 1000;
        r.HQCJSL = static_cast<int64_t>(rng() % 50000000);
        r.HQCJJE = static_cast<int64_t>(r.HQCJSL) * close;
        r.HQCJBS = static_cast<int32_t>(rng() % 100000);
        r.HQZGCJ = close + 1000;
        r.HQZDCJ = close - 1000;
        r.HQSYL1 = static_cast<int32_t>(rng() % 1000000);
        r.HQSYL2 = static_cast<int32_t>(rng() % 1000000);
        r.HQJSD1 = static_cast<int32_t>(rng() % 5000);
        r.HQJSD2 = static_cast<int32_t>(rng() % 5000);
        r.HQHYCC = 0;
        LeInt32* prices[] = {&r.HQSJW5, &r.HQSJW4, &r.HQSJW3, &r.HQSJW2, &r.HQSJW1,
                             &r.HQBJW1, &r.HQBJW2, &r.HQBJW3, &r.HQBJW4, &r.HQBJW5};
        LeInt64* volumes[] = {&r.HQSSL5, &r.HQSSL4, &r.HQSSL3, &r.HQSSL2, &r.HQSSL1,
                              &r.HQBSL1, &r.HQBSL2, &r.HQBSL3, &r.HQBSL4, &r.HQBSL5};
        for (int k = 0; k < 10; ++k) {
            *prices[k] = close + (k - 5) * 10;
            *volumes[k] = static_cast<int64_t>(rng() % 1000000);
        }
    }
    return table;
}

inline std::vector<CQuotaRec<ZqxxRec_t>> MakeZqxx(size_t count) {
    std::mt19937 rng(2);
    std::vector<CQuotaRec<ZqxxRec_t>> table(count);
    for (size_t i = 0; i < table.size(); ++i) {
        ZqxxRec_t& r = table[i].rec;
        std::memset(&r, ' ', sizeof r);
        Code(r.XXZQDM, 6, static_cast<uint32_t>(430000 + i));
        Text(r.XXZQJC, 8, rng);
        Text(r.XXYWJC, 20, rng);
        Text(r.XXISIN, 12, rng);
        r.XXZRDW = 100;
        r.XXMGMZ = 100;
        r.XXZGB = static_cast<int64_t>(rng() % 1000000000);
        r.XXFXSGB = static_cast<int64_t>(rng() % 1000000000);
        r.XXSNSY = static_cast<int32_t>(rng() % 100000);
        r.XXBNSY = static_cast<int32_t>(rng() % 100000);
        r.XXJSFL = 487;
        r.XXYHSL = 1000;
        r.XXGHFL = 20;
        r.XXGPRQ = 20150101 + static_cast<int32_t>(rng() % 1000);
        r.XXZQQXR = 0;
        r.XXDQR = 0;
        r.XXMBXL = static_cast<int32_t>(rng() % 1000);
        r.XXBLDW = 1000;
        r.XXSLDW = 1000;
        r.XXZXSBSL = 1000;
        r.XXJGDW = 1;
        r.XXSBCS = 0;
        r.XXHXCS = 0;
        r.XXXJXZ = 1;
        r.XXZTJG = static_cast<int32_t>(rng() % 300000);
        r.XXDTJG = static_cast<int32_t>(rng() % 300000);
        r.XXDZZTJG = 0;
        r.XXDZDTJG = 0;
        r.XXZHBL = 100;
        r.XXZSSSL = 0;
        r.XXGXSJ = static_cast<int32_t>(rng() % 240000);
    }
    return table;
}

inline std::vector<NQFGKCJXX_TradeRec_t> MakeTrades(size_t count) {
    std::mt19937 rng(3);
    std::vector<NQFGKCJXX_TradeRec_t> trades(count);
    for (size_t i = 0; i < trades.size(); ++i) {
        NQFGKCJXX_TradeRec_t& t = trades[i];
        std::memset(&t, ' ', sizeof t);
        t.FGKCJXH = static_cast<int32_t>(i);
        Code(t.FGKZQDM, 6, static_cast<uint32_t>(430000 + i));
        Text(t.FGKBDYMC, 40, rng);
        Text(t.FGKSDYMC, 40, rng);
        t.FGKCJSL = static_cast<int64_t>(rng() % 10000000);
        t.FGKCJJG = static_cast<uint32_t>(rng() % 300000);
    }
    return trades;
}

// Agreement-transfer declarations: the special record, then active ones.
inline std::vector<NQXYXX_OrderRec_t> MakeDeclarations(size_t count) {
    std::mt19937 rng(4);
    std::vector<NQXYXX_OrderRec_t> out(count);
    for (size_t i = 0; i < out.size(); ++i) {
        NQXYXX_OrderRec_t& r = out[i];
        std::memset(&r, ' ', sizeof r);
        Code(r.XYZQDM, 6, i == 0 ? 0 : static_cast<uint32_t>(430000 + i % 5000));
        Code(r.XYJYDY, 6, static_cast<uint32_t>(rng() % 1000000));
        std::memcpy(r.XYYWLB, "0B", 2);
        r.XYWTSL = static_cast<int64_t>(rng() % 10000000);
        r.XYWTJG = static_cast<int32_t>(rng() % 300000);
        r.XYYDH = static_cast<int32_t>(i);
        std::memcpy(r.XYWTSJ, "093000", 6);
        r.XYJLZT = i == 0 ? ' ' : '1';
    }
    return out;
}

}  // namespace benchdata

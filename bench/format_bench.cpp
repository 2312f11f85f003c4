// Record images per second: FormatRecord runs for every record of every
// table write, so it bounds how fast a whole NQHQ.DBF can be rewritten.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "quotes/QuoteRecords.h"

namespace {

constexpr size_t kRecords = 4096;  // a working set the size of a real table

void Code(char* dst, size_t n, uint32_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*u", static_cast<int>(n), v);
    std::memcpy(dst, text, n);
}

void Text(char* dst, size_t n, std::mt19937& rng) {
    for (size_t i = 0; i < n; ++i) dst[i] = static_cast<char>('A' + rng() % 26);
}

// Prices of a few yuan to a few hundred, volumes and amounts of a trading day.
std::vector<CQuotaRec<SnapshotRec_t>> MakeSnapshots() {
    std::mt19937 rng(1);
    std::vector<CQuotaRec<SnapshotRec_t>> table(kRecords);
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

std::vector<CQuotaRec<ZqxxRec_t>> MakeZqxx() {
    std::mt19937 rng(2);
    std::vector<CQuotaRec<ZqxxRec_t>> table(kRecords);
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

std::vector<NQFGKCJXX_TradeRec_t> MakeTrades() {
    std::mt19937 rng(3);
    std::vector<NQFGKCJXX_TradeRec_t> trades(kRecords);
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

void BM_FormatRecord_Snapshot(benchmark::State& state) {
    const auto table = MakeSnapshots();
    std::vector<char> out(kImageLength<SnapshotRec_t>);
    size_t n = 0;
    for (auto _ : state) {
        FormatRecord(table, n, out.data());
        benchmark::DoNotOptimize(out.data());
        n = n + 1 == table.size() ? 0 : n + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatRecord_Snapshot);

void BM_FormatRecord_Zqxx(benchmark::State& state) {
    const auto table = MakeZqxx();
    std::vector<char> out(kImageLength<ZqxxRec_t>);
    size_t n = 0;
    for (auto _ : state) {
        FormatRecord(table, n, out.data());
        benchmark::DoNotOptimize(out.data());
        n = n + 1 == table.size() ? 0 : n + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatRecord_Zqxx);

void BM_FormatRecord_Trade(benchmark::State& state) {
    const auto trades = MakeTrades();
    std::vector<char> out(kImageLength<NQFGKCJXX_TradeRec_t>);
    size_t n = 0;
    for (auto _ : state) {
        FormatRecord(trades[n], out.data());
        benchmark::DoNotOptimize(out.data());
        n = n + 1 == trades.size() ? 0 : n + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatRecord_Trade);

// For comparison: the same NQHQ.DBF image printed field by field with
// snprintf, the way the formats are written down.
void BM_SnprintfBaseline_Snapshot(benchmark::State& state) {
    const auto table = MakeSnapshots();
    std::vector<char> out(kImageLength<SnapshotRec_t>);
    const QuoteTableInfo& info = QuoteTable(kNqhq);
    size_t n = 0;
    for (auto _ : state) {
        const SnapshotRec_t& r = table[n].rec;
        out[0] = ' ';
        std::memcpy(&out[1], r.HQZQDM, 6);
        std::memcpy(&out[7], r.HQZQJC, 8);
        const auto* bytes = reinterpret_cast<const uint8_t*>(&r);
        size_t src = 14;
        char scratch[64];
        for (size_t f = 2; f < info.fields.size(); ++f) {
            const QuoteFieldSpec& spec = info.fields[f];
            const bool wide = spec.width == 12 || spec.width == 17;
            int64_t v;
            if (wide) {
                v = LeInt64{{bytes[src], bytes[src + 1], bytes[src + 2], bytes[src + 3],
                             bytes[src + 4], bytes[src + 5], bytes[src + 6], bytes[src + 7]}};
                src += 8;
            } else {
                v = LeInt32{{bytes[src], bytes[src + 1], bytes[src + 2], bytes[src + 3]}};
                src += 4;
            }
            if (spec.decimals == 0) {
                std::snprintf(scratch, sizeof scratch, "%*lld", spec.width,
                              static_cast<long long>(v));
            } else {
                std::snprintf(scratch, sizeof scratch, "%*.*f", spec.width, spec.decimals,
                              static_cast<double>(v) / (spec.decimals == 3 ? 1000.0 : 10000.0));
            }
            std::memcpy(&out[spec.offset], scratch, spec.width);
        }
        benchmark::DoNotOptimize(out.data());
        n = n + 1 == table.size() ? 0 : n + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SnprintfBaseline_Snapshot);

}  // namespace

BENCHMARK_MAIN();

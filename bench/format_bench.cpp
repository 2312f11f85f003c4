// Record images per second: FormatRecord runs for every record of every
// table write, so it bounds how fast a whole NQHQ.DBF can be rewritten.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "bench/QuoteBenchData.h"
#include "quotes/QuoteRecords.h"

namespace {

constexpr size_t kRecords = 4096;  // a working set the size of a real table

void BM_FormatRecord_Snapshot(benchmark::State& state) {
    const auto table = benchdata::MakeSnapshots(kRecords);
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
    const auto table = benchdata::MakeZqxx(kRecords);
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

// The portable code alone, as on a processor without the vector lanes.
void BM_FormatRecordPortable_Snapshot(benchmark::State& state) {
    const auto table = benchdata::MakeSnapshots(kRecords);
    std::vector<char> out(kImageLength<SnapshotRec_t>);
    size_t n = 0;
    for (auto _ : state) {
        FormatRecord(table[n].rec, n == 0, out.data(), ImageEngine::Portable);
        benchmark::DoNotOptimize(out.data());
        n = n + 1 == table.size() ? 0 : n + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatRecordPortable_Snapshot);

void BM_FormatRecordPortable_Zqxx(benchmark::State& state) {
    const auto table = benchdata::MakeZqxx(kRecords);
    std::vector<char> out(kImageLength<ZqxxRec_t>);
    size_t n = 0;
    for (auto _ : state) {
        FormatRecord(table[n].rec, out.data(), ImageEngine::Portable);
        benchmark::DoNotOptimize(out.data());
        n = n + 1 == table.size() ? 0 : n + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatRecordPortable_Zqxx);

void BM_FormatRecord_Trade(benchmark::State& state) {
    const auto trades = benchdata::MakeTrades(kRecords);
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
    const auto table = benchdata::MakeSnapshots(kRecords);
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
            const QuoteFieldLayout& field = info.fields[f];
            const bool wide = field.width == 12 || field.width == 17;
            int64_t v;
            if (wide) {
                v = LeInt64{{bytes[src], bytes[src + 1], bytes[src + 2], bytes[src + 3],
                             bytes[src + 4], bytes[src + 5], bytes[src + 6], bytes[src + 7]}};
                src += 8;
            } else {
                v = LeInt32{{bytes[src], bytes[src + 1], bytes[src + 2], bytes[src + 3]}};
                src += 4;
            }
            if (field.decimals == 0) {
                std::snprintf(scratch, sizeof scratch, "%*lld", field.width,
                              static_cast<long long>(v));
            } else {
                std::snprintf(scratch, sizeof scratch, "%*.*f", field.width, field.decimals,
                              static_cast<double>(v) / (field.decimals == 3 ? 1000.0 : 10000.0));
            }
            std::memcpy(&out[field.offset], scratch, field.width);
        }
        benchmark::DoNotOptimize(out.data());
        n = n + 1 == table.size() ? 0 : n + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SnprintfBaseline_Snapshot);

}  // namespace

BENCHMARK_MAIN();

// Whole-table writes as the quote handler does them, formatting included,
// against one plain write of the same bytes in the same run:
//   PlainWrite_Nqhq            10,000 x 356 bytes in one positioned write
//   WriteRecordFormatted_Nqhq  the same records formatted from the in-memory
//                              table into blocks of 179, one WriteRecord each
//   PlainWrite_Nqxyxx          50,000 x 52 bytes in one positioned write
//   AppendRecord_Nqxyxx        AppendRecord of 50,000 formatted images
//   FormatAndAppend_Nqxyxx     the same with the formatting timed too
// Every iteration starts from a table cut back to its header, outside the
// timing, so all of them write into the same empty file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/QuoteBenchData.h"
#include "dbf/CDbf.h"
#include "platform/File.h"
#include "quotes/QuoteRecords.h"
#include "quotes/QuoteTables.h"

namespace {

constexpr size_t kNqhqRecords = 10000;
constexpr size_t kNqhqBlock = 179;  // records per write call of NQHQ.DBF
constexpr size_t kNqxyxxRecords = 50000;

class BenchDir {
  public:
    BenchDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr ? base : "/tmp") + "/tavrel-table-bench-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~BenchDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    bool ok() const { return !path_.empty(); }
    std::string file(const char* name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// An empty table of the given kind in the directory; nullptr when it cannot
// be created.
std::unique_ptr<CDbf> CreateTable(const BenchDir& dir, QuoteTableId id) {
    auto table = std::make_unique<CDbf>(QuoteSchema(id));
    if (!dir.ok() || table->CreatDB(dir.file(QuoteTable(id).fileName)) != 0) return nullptr;
    return table;
}

// One write of `bytes` at the table's first record, as fast as the file
// layer writes.
void PlainWrite(benchmark::State& state, QuoteTableId id, const std::string& bytes) {
    BenchDir dir;
    auto table = CreateTable(dir, id);
    platform::File file;
    if (!table || !file.open(dir.file(QuoteTable(id).fileName))) {
        state.SkipWithError("cannot create the table");
        return;
    }
    const int64_t header = table->headerLength;
    for (auto _ : state) {
        state.PauseTiming();
        file.setLength(header);
        state.ResumeTiming();
        if (!file.writeAt(header, bytes.data(), bytes.size())) state.SkipWithError("write failed");
    }
    state.SetItemsProcessed(state.iterations() *
                            int64_t(bytes.size() / QuoteTable(id).recordLength));
    state.SetBytesProcessed(state.iterations() * int64_t(bytes.size()));
}

void BM_PlainWrite_Nqhq(benchmark::State& state) {
    PlainWrite(state, kNqhq, std::string(kNqhqRecords * kImageLength<SnapshotRec_t>, ' '));
}
BENCHMARK(BM_PlainWrite_Nqhq)->Unit(benchmark::kMillisecond);

// The handler's whole-table write: format records into a block buffer, one
// WriteRecord per full block and one for the rest.
void BM_WriteRecordFormatted_Nqhq(benchmark::State& state) {
    const auto records = benchdata::MakeSnapshots(kNqhqRecords);
    BenchDir dir;
    auto table = CreateTable(dir, kNqhq);
    if (!table) {
        state.SkipWithError("cannot create the table");
        return;
    }
    constexpr size_t length = kImageLength<SnapshotRec_t>;
    std::vector<char> block(kNqhqBlock * length);
    for (auto _ : state) {
        state.PauseTiming();
        table->WriteRecNum(0);
        state.ResumeTiming();
        for (size_t first = 0; first < records.size(); first += kNqhqBlock) {
            const size_t n = std::min(kNqhqBlock, records.size() - first);
            for (size_t k = 0; k < n; ++k) FormatRecord(records, first + k, &block[k * length]);
            if (table->WriteRecord(uint32_t(first), block.data(), uint32_t(n * length)) != 0) {
                state.SkipWithError("write failed");
                break;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * int64_t(records.size()));
    state.SetBytesProcessed(state.iterations() * int64_t(records.size() * length));
}
BENCHMARK(BM_WriteRecordFormatted_Nqhq)->Unit(benchmark::kMillisecond);

std::string DeclarationImages() {
    std::string images;
    images.reserve(kNqxyxxRecords * kImageLength<NQXYXX_OrderRec_t>);
    for (const NQXYXX_OrderRec_t& r : benchdata::MakeDeclarations(kNqxyxxRecords)) {
        images += FormatRecord(r);
    }
    return images;
}

void BM_PlainWrite_Nqxyxx(benchmark::State& state) {
    PlainWrite(state, kNqxyxx, DeclarationImages());
}
BENCHMARK(BM_PlainWrite_Nqxyxx)->Unit(benchmark::kMillisecond);

void BM_AppendRecord_Nqxyxx(benchmark::State& state) {
    const std::string images = DeclarationImages();
    BenchDir dir;
    auto table = CreateTable(dir, kNqxyxx);
    if (!table) {
        state.SkipWithError("cannot create the table");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        table->WriteRecNum(0);
        state.ResumeTiming();
        if (table->AppendRecord(images.data(), uint32_t(kNqxyxxRecords)) != 0) {
            state.SkipWithError("append failed");
        }
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kNqxyxxRecords));
    state.SetBytesProcessed(state.iterations() * int64_t(images.size()));
}
BENCHMARK(BM_AppendRecord_Nqxyxx)->Unit(benchmark::kMillisecond);

// A base round's commit: every declaration formatted, then one append.
void BM_FormatAndAppend_Nqxyxx(benchmark::State& state) {
    const auto records = benchdata::MakeDeclarations(kNqxyxxRecords);
    BenchDir dir;
    auto table = CreateTable(dir, kNqxyxx);
    if (!table) {
        state.SkipWithError("cannot create the table");
        return;
    }
    constexpr size_t length = kImageLength<NQXYXX_OrderRec_t>;
    std::vector<char> images(records.size() * length);
    for (auto _ : state) {
        state.PauseTiming();
        table->WriteRecNum(0);
        state.ResumeTiming();
        for (size_t i = 0; i < records.size(); ++i) FormatRecord(records[i], &images[i * length]);
        if (table->AppendRecord(images.data(), uint32_t(records.size())) != 0) {
            state.SkipWithError("append failed");
        }
    }
    state.SetItemsProcessed(state.iterations() * int64_t(records.size()));
    state.SetBytesProcessed(state.iterations() * int64_t(images.size()));
}
BENCHMARK(BM_FormatAndAppend_Nqxyxx)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

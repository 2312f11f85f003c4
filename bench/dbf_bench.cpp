// Table writes against one plain write of the same bytes.
//   PlainWrite/<records>/<length>       one positioned write of the whole image
//   AppendRecord/50000/52               AppendRecord (blocks of 1000, 0x1A, count)
//   WriteRecordBlocks/10000/356/179     WriteRecord per block of 179 records
// Every iteration starts from a table cut back to its header, outside the
// timing, so all of them write into the same empty file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "dbf/CDbf.h"
#include "platform/File.h"

namespace {

class BenchDir {
  public:
    BenchDir() {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base != nullptr ? base : "/tmp") + "/tavrel-bench-XXXXXX";
        if (mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
    }
    ~BenchDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A schema of n character fields adding up to recordLength bytes.
DbfSchema Layout(int recordLength) {
    DbfSchema schema;
    int left = recordLength - 1;
    for (int i = 0; left > 0; ++i) {
        int width = left > 12 ? 12 : left;
        char name[12];
        std::snprintf(name, sizeof name, "F%d", i);
        schema.emplace_back(name, i % 2 == 0 ? 'C' : 'N', 0, uint8_t(width), 0);
        left -= width;
    }
    return schema;
}

std::string Images(int records, int recordLength) {
    std::string out(size_t(records) * size_t(recordLength), ' ');
    for (size_t i = 0; i < out.size(); ++i) {
        if (i % size_t(recordLength) != 0) out[i] = char('0' + i % 10);
    }
    return out;
}

void BM_PlainWrite(benchmark::State& state) {
    const int records = int(state.range(0));
    const int length = int(state.range(1));
    BenchDir dir;
    CDbf table(Layout(length));
    if (table.CreatDB(dir.file("PLAIN.DBF")) != 0) {
        state.SkipWithError("cannot create the table");
        return;
    }
    const int64_t header = table.headerLength;
    const std::string images = Images(records, length);
    platform::File f;
    f.open(dir.file("PLAIN.DBF"));
    for (auto _ : state) {
        state.PauseTiming();
        f.setLength(header);
        state.ResumeTiming();
        if (!f.writeAt(header, images.data(), images.size())) state.SkipWithError("write failed");
    }
    state.SetItemsProcessed(state.iterations() * records);
    state.SetBytesProcessed(state.iterations() * int64_t(images.size()));
}

void BM_AppendRecord(benchmark::State& state) {
    const int records = int(state.range(0));
    const int length = int(state.range(1));
    BenchDir dir;
    CDbf table(Layout(length));
    if (table.CreatDB(dir.file("APPEND.DBF")) != 0 || table.recordLength != length) {
        state.SkipWithError("cannot create the table");
        return;
    }
    const std::string images = Images(records, length);
    for (auto _ : state) {
        state.PauseTiming();
        table.WriteRecNum(0);
        state.ResumeTiming();
        if (table.AppendRecord(images.data(), uint32_t(records)) != 0) {
            state.SkipWithError("append failed");
        }
    }
    state.SetItemsProcessed(state.iterations() * records);
    state.SetBytesProcessed(state.iterations() * int64_t(images.size()));
}

void BM_WriteRecordBlocks(benchmark::State& state) {
    const int records = int(state.range(0));
    const int length = int(state.range(1));
    const int block = int(state.range(2));
    BenchDir dir;
    CDbf table(Layout(length));
    if (table.CreatDB(dir.file("BLOCKS.DBF")) != 0 || table.recordLength != length) {
        state.SkipWithError("cannot create the table");
        return;
    }
    const std::string images = Images(records, length);
    for (auto _ : state) {
        state.PauseTiming();
        table.WriteRecNum(0);
        state.ResumeTiming();
        for (int first = 0; first < records; first += block) {
            int n = records - first < block ? records - first : block;
            if (table.WriteRecord(uint32_t(first), images.data() + size_t(first) * size_t(length),
                                  uint32_t(n * length)) != 0) {
                state.SkipWithError("write failed");
                break;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * records);
    state.SetBytesProcessed(state.iterations() * int64_t(images.size()));
}

BENCHMARK(BM_PlainWrite)->Args({50000, 52})->Args({10000, 356})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendRecord)->Args({50000, 52})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteRecordBlocks)->Args({10000, 356, 179})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

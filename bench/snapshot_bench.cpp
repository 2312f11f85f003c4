// Snapshot tables from packets to disk, as the quote handler's thread does it:
//   FirstLoad_Nqhq    a fresh NQHQ.DBF receiving a whole snapshot of 10,000
//                     securities in packets of 40 entries of 202 bytes (the
//                     most an 8160-byte payload holds), record 0 last: the
//                     records are stored, then the whole table is written
//                     (blocks of 179, special record, count, close and reopen)
//   LiveRound_Nqhq    a loaded table receiving rounds in which every record
//                     changes: each packet's range is written after it
//   LiveRound_Nqxx    the same for NQXX.DBF (190-byte entries, 42 per packet)
// Each live iteration is one whole round; the rounds alternate between two
// versions of every record, so every record really changes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/QuoteBenchData.h"
#include "controller/Packet.h"
#include "dbf/CDbf.h"
#include "quotes/Quota.h"
#include "quotes/QuoteContext.h"
#include "quotes/QuoteHost.h"
#include "runtime/RunParams.h"

namespace {

constexpr int32_t kSecurities = 10000;

class BenchDir {
  public:
    BenchDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr ? base : "/tmp") + "/tavrel-snapshot-bench-XXXXXX";
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

class BenchHost : public QuoteHost {
  public:
    BenchHost() {
        for (int id = 0; id < kQuoteTableCount; ++id) {
            tables_[id] = std::make_unique<CDbf>(QuoteSchema(id));
        }
    }
    CDbf& quoteTable(QuoteTableId id) override { return *tables_[id]; }
    const CRcvConf& config() const override { return conf_; }
    int32_t GetVersionDate() override { return 20170213; }
    void ReportInvalidVersion() override {}
    void SetNewVersionAvailable() override {}
    void ReconnectTcp() override {}

  private:
    CRcvConf conf_;
    std::unique_ptr<CDbf> tables_[kQuoteTableCount];
};

// The packets of one whole round: records 1.. in order, as many per packet
// as the largest payload holds, record 0 as the last entry of the last one.
template <typename T>
std::vector<Packet::Ptr> RoundPackets(const std::vector<CQuotaRec<T>>& records, uint8_t type) {
    using Q = Quota<T>;
    const int32_t total = int32_t(records.size());
    const size_t perPacket = (Packet::kMaxPayload - Q::kHeaderBytes) / Q::kEntryBytes;
    std::vector<int32_t> order;
    for (int32_t r = 1; r < total; ++r) order.push_back(r);
    order.push_back(0);
    std::vector<Packet::Ptr> packets;
    for (size_t at = 0; at < order.size(); at += perPacket) {
        const size_t n = std::min(perPacket, order.size() - at);
        const size_t length = Q::kHeaderBytes + n * Q::kEntryBytes;
        Packet::Ptr p = Packet::Create(uint32_t(length));
        p->setType(int8_t(type));
        p->setPayloadLen(uint16_t(length));
        uint8_t* out = p->payload();
        std::memset(out, 0, Q::kHeaderBytes);
        std::memcpy(out, &total, 4);
        out += Q::kHeaderBytes;
        for (size_t k = 0; k < n; ++k) {
            const int32_t r = order[at + k];
            std::memcpy(out, &r, 4);
            std::memcpy(out + 4, &records[size_t(r)].rec, sizeof(T));
            out += Q::kEntryBytes;
        }
        packets.push_back(p);
    }
    return packets;
}

// A second version of every record: other prices and volumes, a later time
// in the special record.
std::vector<CQuotaRec<SnapshotRec_t>> Changed(std::vector<CQuotaRec<SnapshotRec_t>> records) {
    for (CQuotaRec<SnapshotRec_t>& e : records) {
        e.rec.HQZJCJ = e.rec.HQZJCJ + 10;
        e.rec.HQCJSL = e.rec.HQCJSL + 100;
        e.rec.HQCJBS = e.rec.HQCJBS + 1;
    }
    records[0].rec.HQCJSL = 93000;  // no close mark
    return records;
}

std::vector<CQuotaRec<ZqxxRec_t>> Changed(std::vector<CQuotaRec<ZqxxRec_t>> records) {
    for (CQuotaRec<ZqxxRec_t>& e : records) e.rec.XXZGB = e.rec.XXZGB + 1;
    return records;
}

void BM_FirstLoad_Nqhq(benchmark::State& state) {
    velk::RunParams::instance().clear();
    BenchDir dir;
    auto records = benchdata::MakeSnapshots(kSecurities);
    records[0].rec.HQCJSL = 93000;
    const std::vector<Packet::Ptr> packets = RoundPackets(records, 22);
    BenchHost host;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(dir.file("NQHQ.DBF"));
        QuoteContext context(host);
        auto hq = std::make_unique<Quota<SnapshotRec_t>>(context);
        if (!dir.ok() || hq->open(host.quoteTable(kNqhq), dir.file("NQHQ.DBF")) != 0) {
            state.SkipWithError("cannot open the table");
            return;
        }
        state.ResumeTiming();
        for (const Packet::Ptr& p : packets) hq->onPacket(*p);
        state.PauseTiming();
        if (hq->firstRound()) state.SkipWithError("the first load was not written");
        hq.reset();
        host.quoteTable(kNqhq).ClearStatus();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kSecurities);
}

template <typename T>
void LiveRounds(benchmark::State& state, std::vector<CQuotaRec<T>> records, uint8_t type) {
    velk::RunParams::instance().clear();
    BenchDir dir;
    const std::vector<Packet::Ptr> rounds[2] = {RoundPackets(records, type),
                                                RoundPackets(Changed(records), type)};
    BenchHost host;
    QuoteContext context(host);
    Quota<T> table(context);
    const QuoteTableId id = Quota<T>::kTable;
    if (!dir.ok() || table.open(host.quoteTable(id), dir.file(QuoteTable(id).fileName)) != 0) {
        state.SkipWithError("cannot open the table");
        return;
    }
    for (const Packet::Ptr& p : rounds[0]) table.onPacket(*p);
    if (table.firstRound()) {
        state.SkipWithError("the first load was not written");
        return;
    }
    size_t next = 1;
    for (auto _ : state) {
        for (const Packet::Ptr& p : rounds[next]) table.onPacket(*p);
        next ^= 1;
    }
    state.SetItemsProcessed(state.iterations() * int64_t(records.size()));
    state.counters["packets/round"] = double(rounds[0].size());
}

void BM_LiveRound_Nqhq(benchmark::State& state) {
    auto records = benchdata::MakeSnapshots(kSecurities);
    records[0].rec.HQCJSL = 93000;
    LiveRounds(state, std::move(records), 22);
}

void BM_LiveRound_Nqxx(benchmark::State& state) {
    LiveRounds(state, benchdata::MakeZqxx(kSecurities), 21);
}

BENCHMARK(BM_FirstLoad_Nqhq)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiveRound_Nqhq)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiveRound_Nqxx)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

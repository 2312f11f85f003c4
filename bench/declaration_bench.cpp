// The declaration tables and the trade journal on disk: a base round of
// 50,000 NQXYXX.DBF declarations into an empty table, delta rounds of 1,000
// changes on top of it, the start-up load of a 200,000-record file, and
// trades appended one by one with a flush after each, as the journal does.
//
// Files live in a scratch directory on the same disk as /tmp; every commit
// and every trade ends with the table's flush to disk.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/CRcvConf.h"
#include "controller/Packet.h"
#include "dbf/CDbf.h"
#include "quotes/CJQuota.h"
#include "quotes/DetailedQuota.h"
#include "quotes/QuoteContext.h"
#include "quotes/QuoteHost.h"
#include "quotes/QuoteRecords.h"

namespace {

class BenchHost : public QuoteHost {
  public:
    BenchHost() {
        for (int i = 0; i < kQuoteTableCount; ++i)
            tables[i] = std::make_unique<CDbf>(QuoteSchema(i));
    }
    CDbf& quoteTable(QuoteTableId id) override { return *tables[id]; }
    const CRcvConf& config() const override { return conf; }
    int32_t GetVersionDate() override { return 0; }
    void ReportInvalidVersion() override {}
    void SetNewVersionAvailable() override {}
    void ReconnectTcp() override { ++reconnects; }

    std::unique_ptr<CDbf> tables[kQuoteTableCount];
    CRcvConf conf;
    int reconnects = 0;
};

// A scratch directory removed at the end.
class Scratch {
  public:
    Scratch() {
        char name[] = "/tmp/tavrel-decl-bench-XXXXXX";
        path_ = mkdtemp(name) ? name : "/tmp";
    }
    ~Scratch() {
        std::error_code ignored;
        if (path_ != "/tmp") std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const char* name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

template <size_t N>
void Put(char (&field)[N], const char* text) {
    std::memset(field, ' ', N);
    std::memcpy(field, text, std::min(N, std::strlen(text)));
}

// Declaration i of a realistic base: 2,000 securities, 25 declarations each.
NQXYXX_OrderRec_t Declaration(int i, int64_t quantity, char status = '1') {
    NQXYXX_OrderRec_t r;
    char code[8];
    std::snprintf(code, sizeof code, "%06d", 430000 + i % 2000);
    Put(r.XYZQDM, i == 0 ? "000000" : code);
    Put(r.XYJYDY, "A00001");
    Put(r.XYYWLB, "OB");
    r.XYWTSL = quantity;
    r.XYWTJG = 1000 + i % 90000;
    r.XYYDH = i;
    Put(r.XYWTSJ, "093000");
    r.XYJLZT = i == 0 ? ' ' : status;
    r.XYBYBZ = ' ';
    return r;
}

struct Change {
    int32_t entryNo;
    int16_t operation;
    NQXYXX_OrderRec_t rec;
};

// The packets of one round part, at most 185 entries each (a full packet).
std::vector<Packet::Ptr> Packets(int16_t mode, int32_t round, int32_t delta,
                                 const std::vector<Change>& entries) {
    constexpr size_t kPerPacket = (Packet::kMaxPayload - sizeof(DeclarationHeader)) /
                                  sizeof(DeclarationEntry<NQXYXX_OrderRec_t>);
    std::vector<Packet::Ptr> out;
    for (size_t first = 0; first < entries.size(); first += kPerPacket) {
        const size_t n = std::min(kPerPacket, entries.size() - first);
        const uint32_t length =
            uint32_t(sizeof(DeclarationHeader) + n * sizeof(DeclarationEntry<NQXYXX_OrderRec_t>));
        Packet::Ptr p = Packet::Create(length);
        p->setType(23);
        p->setOrigLen(uint16_t(length));
        DeclarationHeader h{};
        h.totalCount = int32_t(entries.size());
        h.mode = mode;
        h.round = round;
        h.delta = delta;
        std::memcpy(p->payload(), &h, sizeof h);
        uint8_t* at = p->payload() + sizeof h;
        for (size_t i = first; i < first + n; ++i) {
            DeclarationEntry<NQXYXX_OrderRec_t> e;
            e.entryNo = entries[i].entryNo;
            e.operation = entries[i].operation;
            e.rec = entries[i].rec;
            std::memcpy(at, &e, sizeof e);
            at += sizeof e;
        }
        out.push_back(p);
    }
    return out;
}

std::vector<Change> BaseRound(int count) {
    std::vector<Change> entries;
    for (int i = 0; i <= count; ++i) entries.push_back({i, 0, Declaration(i, 1000)});
    return entries;
}

void BM_BaseRoundIntoEmptyTable(benchmark::State& state) {
    const int count = int(state.range(0));
    const std::vector<Packet::Ptr> packets = Packets(0, 1, 0, BaseRound(count));
    Scratch dir;
    for (auto _ : state) {
        state.PauseTiming();
        BenchHost host;
        QuoteContext context(host);
        DetailedQuota quota(kNqxyxx, context);
        std::filesystem::remove(dir.file("NQXYXX.DBF"));
        if (quota.open(host.quoteTable(kNqxyxx), dir.file("NQXYXX.DBF")) != 0) {
            state.SkipWithError("open failed");
            break;
        }
        state.ResumeTiming();
        for (const Packet::Ptr& p : packets) quota.onPacket(*p);
        if (quota.tableCount() != count + 1) state.SkipWithError("round not committed");
    }
    state.SetItemsProcessed(state.iterations() * (count + 1));
}
BENCHMARK(BM_BaseRoundIntoEmptyTable)->Arg(50000)->UseRealTime()->Unit(benchmark::kMillisecond);

// Delta rounds of 1,000 entries on a table of 50,000: 800 changed, 100 new,
// 100 withdrawn.
void BM_DeltaRounds(benchmark::State& state) {
    const int base = 50000;
    const int changes = int(state.range(0));
    Scratch dir;
    BenchHost host;
    QuoteContext context(host);
    DetailedQuota quota(kNqxyxx, context);
    if (quota.open(host.quoteTable(kNqxyxx), dir.file("NQXYXX.DBF")) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    for (const Packet::Ptr& p : Packets(0, 1, 0, BaseRound(base))) quota.onPacket(*p);
    int32_t delta = 0;
    int next = base + 1;
    for (auto _ : state) {
        state.PauseTiming();
        ++delta;
        std::vector<Change> entries;
        for (int k = 0; k < changes; ++k) {
            const int kind = k % 10;
            if (kind == 8) {
                entries.push_back({next, 0, Declaration(next, 500)});
                ++next;
            } else {
                const int i = 1 + (delta * 7919 + k * 37) % base;
                entries.push_back({i, int16_t(kind == 9 ? 2 : 0), Declaration(i, 1000 + delta)});
            }
        }
        const std::vector<Packet::Ptr> packets = Packets(1, 1, delta, entries);
        state.ResumeTiming();
        for (const Packet::Ptr& p : packets) quota.onPacket(*p);
    }
    state.SetItemsProcessed(state.iterations() * changes);
}
BENCHMARK(BM_DeltaRounds)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_LoadAtStartUp(benchmark::State& state) {
    const uint32_t count = uint32_t(state.range(0));
    Scratch dir;
    {
        CDbf maker(QuoteSchema(kNqxyxx));
        maker.CreatDB(dir.file("NQXYXX.DBF"));
        std::string images;
        images.reserve(size_t(count) * 52);
        for (uint32_t i = 0; i < count; ++i) images += FormatRecord(Declaration(int(i), 1000));
        if (maker.AppendRecord(images.data(), count) != 0) {
            state.SkipWithError("file not written");
            return;
        }
        maker.Close();
    }
    for (auto _ : state) {
        BenchHost host;
        QuoteContext context(host);
        DetailedQuota quota(kNqxyxx, context);
        if (quota.open(host.quoteTable(kNqxyxx), dir.file("NQXYXX.DBF")) != 0 ||
            quota.knownCount() != count) {
            state.SkipWithError("load failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_LoadAtStartUp)->Arg(200000)->UseRealTime()->Unit(benchmark::kMillisecond);

// Trades in packets of 26 (the largest that fits a packet), each appended
// and flushed on its own.
void BM_TradesAppended(benchmark::State& state) {
    const int count = int(state.range(0));
    constexpr int kPerPacket = 26;
    std::vector<Packet::Ptr> packets;
    for (int first = 0; first <= count; first += kPerPacket) {
        const int n = std::min(kPerPacket, count + 1 - first);
        const uint32_t length = uint32_t(n * sizeof(NQFGKCJXX_TradeRec_t));
        Packet::Ptr p = Packet::Create(length);
        p->setType(27);
        p->setOrigLen(uint16_t(length));
        for (int i = 0; i < n; ++i) {
            NQFGKCJXX_TradeRec_t t;
            std::memset(&t, ' ', sizeof t);
            t.FGKCJXH = first + i;
            Put(t.FGKZQDM, first + i == 0 ? "000000" : "430001");
            t.FGKCJSL = 1000;
            t.FGKCJJG = 12345u;
            Put(t.FGKCJSJ, "100000");
            std::memcpy(p->payload() + i * sizeof t, &t, sizeof t);
        }
        packets.push_back(p);
    }
    Scratch dir;
    for (auto _ : state) {
        state.PauseTiming();
        BenchHost host;
        QuoteContext context(host);
        CJQuota quota(context);
        std::filesystem::remove(dir.file("NQFGKCJXX.DBF"));
        if (quota.open(host.quoteTable(kNqfgkcjxx), dir.file("NQFGKCJXX.DBF")) != 0) {
            state.SkipWithError("open failed");
            break;
        }
        state.ResumeTiming();
        for (const Packet::Ptr& p : packets) quota.onPacket(*p);
        if (quota.nextTradeNo() != count + 1) state.SkipWithError("trades missing");
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_TradesAppended)
    ->Arg(2600)
    ->Arg(100000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

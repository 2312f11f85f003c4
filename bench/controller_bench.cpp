// The receive controller's hand-over: packets through the bounded queue into
// the worker (decode and count), and datagrams from loopback multicast
// through the two receivers into the worker.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "config/Ipv4Text.h"
#include "controller/RcvController.h"
#include "platform/Socket.h"
#include "runtime/RunParams.h"
#include "runtime/SimpleLogger.h"
#include "runtime/Util.h"

namespace {

// A directory for the tables, removed afterwards.
class ScratchDir {
  public:
    ScratchDir() {
        char tmpl[] = "/tmp/tavrel-bench-XXXXXX";
        if (mkdtemp(tmpl) != nullptr) path_ = tmpl;
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

std::vector<uint8_t> Wire(uint32_t channel, uint32_t seq, size_t payload) {
    std::vector<uint8_t> b(20 + payload, 0x20);
    for (int i = 0; i < 4; ++i) {
        b[size_t(i)] = uint8_t(channel >> (8 * i));
        b[4 + size_t(i)] = uint8_t(seq >> (8 * i));
    }
    b[8] = 6;  // idle packet: decoded and counted, nothing to dispatch
    b[9] = 0;
    for (size_t at : {10u, 12u, 14u}) {
        b[at] = uint8_t(payload);
        b[at + 1] = uint8_t(payload >> 8);
    }
    std::memset(b.data() + 16, 0, 4);
    return b;
}

CRcvConf Config(const std::string& dir, uint16_t port) {
    CRcvConf c;
    c.NQHQ_File = velk::util::JoinPath(dir, "NQHQ.DBF");
    c.NQXX_File = velk::util::JoinPath(dir, "NQXX.DBF");
    c.NQXYXX_File = velk::util::JoinPath(dir, "NQXYXX.DBF");
    c.szTYBulletinPath = dir;
    c.dwFlag = CRcvConf::kFlagBindInterfaces;
    c.mcNetCard1 = c.mcNetCard2 = Ipv4FromOctets(127, 0, 0, 1);
    c.mcRcvAddr1 = Ipv4FromOctets(239, 255, 12, 1);
    c.mcRcvAddr2 = Ipv4FromOctets(239, 255, 12, 2);
    c.mcRcvPort1 = port;
    c.mcRcvPort2 = uint16_t(port + 1);
    return c;
}

bool WaitForPackets(RcvController& c, int64_t n) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (c.GetPacketsReceived() < n) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::yield();
    }
    return true;
}

// One producer thread (this one) against the running worker: the queue's
// lock and conditions plus the decode of a packet without checksum.
void BM_QueueToWorker(benchmark::State& state) {
    velk::RunParams::instance().checkTraffic = 0;
    ScratchDir dir;
    RcvController::Ptr c = RcvController::Create(Config(dir.path(), 47701));
    if (c->Init() != 0 || c->Start() != 0) {
        state.SkipWithError("controller did not start");
        return;
    }
    const size_t payload = size_t(state.range(0));
    const int batch = 4096;
    std::vector<Packet::Ptr> packets;
    uint32_t seq = 1;
    int64_t sent = 0;
    for (auto _ : state) {
        state.PauseTiming();
        packets.clear();
        for (int i = 0; i < batch; ++i) {
            const auto w = Wire(kPrimaryChannelId, seq++, payload);
            packets.push_back(Packet::FromBytes(w.data(), w.size()));
        }
        state.ResumeTiming();
        for (const Packet::Ptr& p : packets) c->EnqueuePacket(p);
        sent += batch;
        if (!WaitForPackets(*c, sent)) state.SkipWithError("worker fell behind for 10 s");
    }
    state.SetItemsProcessed(sent);
    state.SetBytesProcessed(sent * int64_t(payload + 20));
    c->Stop();
}
BENCHMARK(BM_QueueToWorker)->Arg(200)->Arg(8160)->UseRealTime()->Unit(benchmark::kMillisecond);

// Datagrams sent on loopback multicast to the primary channel, taken by its
// receiver and counted by the worker. The sender waits for each batch, so
// nothing is lost to a full socket buffer.
void BM_LoopbackMulticastToWorker(benchmark::State& state) {
    velk::RunParams::instance().checkTraffic = 0;
    ScratchDir dir;
    const CRcvConf conf = Config(dir.path(), 47711);
    RcvController::Ptr c = RcvController::Create(conf);
    if (c->Init() != 0 || c->Start() != 0) {
        state.SkipWithError("controller did not start");
        return;
    }
    platform::SocketHandle s = platform::OpenMulticastSender(Ipv4FromOctets(127, 0, 0, 1), 1);
    const size_t payload = size_t(state.range(0));
    // About 100 KB per batch, well inside the socket's receive buffer.
    const int batch = int(std::max<size_t>(8, 102400 / (payload + 20)));
    uint32_t seq = 1;
    int64_t sent = 0;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) {
            const auto w = Wire(kPrimaryChannelId, seq++, payload);
            platform::SendDatagram(s, conf.mcRcvAddr1, conf.mcRcvPort1, w.data(), w.size());
        }
        sent += batch;
        if (!WaitForPackets(*c, sent)) {
            state.SkipWithError("datagrams lost on loopback");
            break;
        }
    }
    platform::CloseSocket(s);
    state.SetItemsProcessed(sent);
    state.SetBytesProcessed(sent * int64_t(payload + 20));
    c->Stop();
}
BENCHMARK(BM_LoopbackMulticastToWorker)
    ->Arg(200)
    ->Arg(8160)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

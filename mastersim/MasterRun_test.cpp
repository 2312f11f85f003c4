#include "mastersim/MasterRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "tests/support/TestSupport.h"

namespace mastersim {
namespace {

// Keeps every datagram with the moment it went out.
class TimedSink : public DatagramSink {
  public:
    TimedSink() : start_(std::chrono::steady_clock::now()) {}
    bool send(int channel, const uint8_t* data, size_t length) override {
        std::lock_guard<std::mutex> g(lock_);
        const double t =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        sent.push_back({channel, t, std::vector<uint8_t>(data, data + length)});
        return true;
    }
    struct Datagram {
        int channel;
        double at;
        std::vector<uint8_t> bytes;
    };
    std::vector<Datagram> sent;

  private:
    std::mutex lock_;
    std::chrono::steady_clock::time_point start_;
};

MasterOptions Quick(const std::string& truthDir) {
    MasterOptions o;
    o.sim.securities = 50;
    o.sim.roundInterval = 0.05;
    o.sim.infoInterval = 0.2;
    o.sim.baseInterval = 0.4;
    o.sim.statusInterval = 0.1;
    o.sim.daySpeed = 60;
    o.sim.startTime = 93000;
    o.rate = 0;
    o.progressEvery = 0;
    o.truthDir = truthDir;
    return o;
}

TEST(MasterRunTest, StopOfBothChannelsSendsNothingAndTheRunEndsComplete) {
    testsupport::TempDir dir;
    MasterOptions o = Quick(dir.file("truth"));
    o.duration = 1.2;
    o.stopBoth = Window{0.3, 0.5};
    o.roundLog = dir.file("rounds.log");
    TimedSink sink;
    std::atomic<bool> stop{false}, stopNow{false};
    const RunResult r = RunMaster(o, sink, stop, stopNow, nullptr);
    ASSERT_TRUE(r.complete);
    ASSERT_TRUE(r.error.empty()) << r.error;
    size_t before = 0, during = 0, after = 0;
    for (const auto& d : sink.sent) {
        // Margins for a busy machine between the decision and the send.
        if (d.at < 0.25)
            ++before;
        else if (d.at > 0.35 && d.at < 0.75)
            ++during;
        else if (d.at > 0.85)
            ++after;
    }
    EXPECT_GT(before, 0u);
    EXPECT_EQ(during, 0u);
    EXPECT_GT(after, 0u);
    // What was written matches what went out.
    const auto kv = ReadKeyValues(dir.file("truth/expect.txt"));
    EXPECT_EQ(kv.at("complete"), "1");
    EXPECT_EQ(std::stoull(kv.at("channel.2000011.datagrams")) +
                  std::stoull(kv.at("channel.2100011.datagrams")),
              sink.sent.size());
    EXPECT_EQ(kv.at("count.NQHQ.DBF"), "51");
    std::string error;
    EXPECT_EQ(ReadTruthDir(dir.file("truth"), &error).size(), 3u) << error;
    EXPECT_EQ(int64_t(r.roundTimes.size()), r.sim.nqhqRounds);
    EXPECT_NE(testsupport::ReadFile(dir.file("rounds.log")).find("round 1 "), std::string::npos);
}

TEST(MasterRunTest, AStopRequestCompletesTheRoundsUnderWay) {
    testsupport::TempDir dir;
    MasterOptions o = Quick(dir.file("truth"));
    o.duration = 0;  // until the day is over, which is far away
    TimedSink sink;
    std::atomic<bool> stop{false}, stopNow{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = true;
    });
    const RunResult r = RunMaster(o, sink, stop, stopNow, nullptr);
    stopper.join();
    EXPECT_TRUE(r.complete);
    EXPECT_LT(r.seconds, 5.0);
    // The run ends with a whole NQHQ.DBF round: its last datagram is the
    // round's last packet.
    ASSERT_FALSE(sink.sent.empty());
    const auto last = std::find_if(sink.sent.rbegin(), sink.sent.rend(),
                                   [](const TimedSink::Datagram& d) { return d.channel == 0; });
    ASSERT_NE(last, sink.sent.rend());
    EXPECT_EQ(ReadHeader(last->bytes.data()).type, 22);
    ASSERT_FALSE(r.roundTimes.empty());
    EXPECT_EQ(r.roundTimes.back().first, r.sim.nqhqRounds);
    EXPECT_EQ(r.channels[0].lastSeq, r.channels[0].numbered);
    EXPECT_EQ(r.sim.packets, r.channels[0].datagrams);
}

TEST(MasterRunTest, CompareReportsEachTable) {
    testsupport::TempDir dir;
    MasterOptions o = Quick(dir.file("truth"));
    o.duration = 0.3;
    TimedSink sink;
    std::atomic<bool> stop{false}, stopNow{false};
    ASSERT_TRUE(RunMaster(o, sink, stop, stopNow, nullptr).error.empty());
    // No station wrote anything here: every table differs, exit status 1.
    FILE* out = std::tmpfile();
    EXPECT_EQ(CompareTables(dir.file("truth"), dir.path(), false, out), 1);
    std::rewind(out);
    char buf[4096] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, out);
    std::fclose(out);
    const std::string text(buf, n);
    EXPECT_NE(text.find("NQHQ.DBF    DIFFERS"), std::string::npos) << text;
    EXPECT_NE(text.find("NQXYXX.DBF  DIFFERS"), std::string::npos) << text;
    EXPECT_EQ(CompareTables(dir.file("nothing"), dir.path(), false, stdout), 2);
}

}  // namespace
}  // namespace mastersim

// The station and the stand-in master station as real processes over
// loopback multicast: the tables the station writes against the truth of the
// run, and its counters and log lines against the faults injected.
#include <gtest/gtest.h>

#include "tests/E2eStation.h"

namespace {

using e2e::Child;

class MasterE2eTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        channels_ = e2e::Channels::ForThisProcess();
        e2e::WriteStationConfig(dir_.path(), channels_);
        ASSERT_TRUE(station_.start({e2e::StationProgram(), "--headless", "--dir", dir_.path()},
                                   dir_.file("station.out")));
        // Listening once both channels are joined.
        ASSERT_TRUE(e2e::WaitFor(
            [&] { return log().find("通信模块启动成功") != std::string::npos; }, 20000))
            << testsupport::ReadFile(dir_.file("station.out")) << log();
    }

    void TearDown() override {
        if (station_.running()) {
            station_.signal(SIGTERM);
            station_.wait(20000);
        }
    }

    std::string log() const { return e2e::LogText(dir_.path()); }
    std::string truthDir() const { return dir_.file("truth"); }
    std::string dataDir() const { return dir_.file("data"); }

    // Runs tavrel-master to its end with the test's channels.
    void runMaster(std::vector<std::string> args) {
        std::vector<std::string> all{e2e::MasterProgram(), "--truth", truthDir(), "--progress",
                                     "0"};
        for (const std::string& a : channels_.masterArgs()) all.push_back(a);
        all.insert(all.end(), args.begin(), args.end());
        Child master;
        ASSERT_TRUE(master.start(all, dir_.file("master.out")));
        ASSERT_EQ(master.wait(60000), 0) << testsupport::ReadFile(dir_.file("master.out"));
        expect_ = mastersim::ReadKeyValues(truthDir() + "/expect.txt");
        ASSERT_EQ(expect_["complete"], "1");
    }

    // Waits for the station to reach the truth, then stops it cleanly.
    e2e::TablesVersusTruth settleAndStop(mastersim::CompareMode mode) {
        e2e::TablesVersusTruth r;
        e2e::WaitFor(
            [&] {
                r = e2e::CompareTables(truthDir(), dataDir(), mode);
                return r.equal;
            },
            15000);
        station_.signal(SIGTERM);
        EXPECT_EQ(station_.wait(20000), 0) << testsupport::ReadFile(dir_.file("station.out"));
        // The tables as they are after the stop.
        return e2e::CompareTables(truthDir(), dataDir(), mode);
    }

    long long expect(const std::string& key) { return e2e::ExpectValue(expect_, key); }

    testsupport::TempDir dir_;
    e2e::Channels channels_;
    Child station_;
    std::map<std::string, std::string> expect_;
};

TEST_F(MasterE2eTest, CleanTradingDayEndsWithTablesEqualToTheTruth) {
    // A whole compressed day (09:00 to 15:30) in about six seconds, every
    // encoding in turn.
    runMaster({"--securities", "300", "--seed", "11", "--day-speed", "4000", "--round-interval",
               "0.25", "--info-interval", "1", "--base-interval", "2", "--status-interval", "0.5",
               "--rate", "0"});
    const e2e::TablesVersusTruth tables = settleAndStop(mastersim::CompareMode::Exact);
    EXPECT_TRUE(tables.equal) << tables.report;
    EXPECT_NE(tables.report.find("NQHQ.DBF equal (301 records"), std::string::npos)
        << tables.report;
    EXPECT_NE(tables.report.find("NQXX.DBF equal (301 records"), std::string::npos)
        << tables.report;
    EXPECT_NE(tables.report.find("NQXYXX.DBF equal"), std::string::npos) << tables.report;
    EXPECT_GE(expect("rounds.NQHQ.close"), 2);

    const std::string text = log();
    const e2e::Totals totals = e2e::ParseTotals(text);
    ASSERT_TRUE(totals.found) << text;
    // Both channels reach the station; nothing is lost or bad.
    EXPECT_EQ(totals.packets,
              expect("channel.2000011.datagrams") + expect("channel.2100011.datagrams"));
    EXPECT_EQ(totals.bytes, expect("channel.2000011.bytes") + expect("channel.2100011.bytes"));
    EXPECT_EQ(totals.errors, 0);
    EXPECT_EQ(totals.lost, 0);
    EXPECT_EQ(totals.outOfOrder, 0);
    // The day's market states, each change logged once and in order.
    const char* changes[] = {"由未知转变为尚未开市",     "由尚未开市转变为允许报盘",
                             "由允许报盘转变为上午开市", "由上午开市转变为上午闭市",
                             "由上午闭市转变为下午开市", "由下午开市转变为下午闭市",
                             "由下午闭市转变为成交完毕"};
    size_t at = 0;
    for (const char* c : changes) {
        EXPECT_EQ(e2e::CountLines(text, c), 1) << c;
        const size_t next = text.find(c);
        EXPECT_NE(next, std::string::npos) << c;
        if (next != std::string::npos) {
            EXPECT_GT(next, at) << c << " out of order";
            at = next;
        }
    }
    EXPECT_EQ(e2e::CountLines(text, "股市开市时间：09:30-11:30, 13:00-15:00"), 1);
    EXPECT_EQ(e2e::CountLines(text, "错包（"), 0);
}

TEST_F(MasterE2eTest, FaultsAreCountedAsInjectedAndTablesConvergeAfterCleanRounds) {
    // Loss, duplicates, reordering and damage on the primary channel for
    // three seconds, then clean rounds (two base rounds of the declarations
    // among them) until the end.
    runMaster(
        {"--securities",    "300",    "--seed",          "5",    "--start-time",      "093000",
         "--day-speed",     "300",    "--duration",      "7",    "--round-interval",  "0.2",
         "--info-interval", "1",      "--base-interval", "1.5",  "--status-interval", "0.5",
         "--rate",          "0",      "--loss",          "0.08", "--duplicate",       "0.08",
         "--reorder",       "0.08",   "--corrupt",       "0.08", "--fault-window",    "0.5:3.5",
         "--fault-channel", "primary"});
    const e2e::TablesVersusTruth tables = settleAndStop(mastersim::CompareMode::Converged);
    EXPECT_TRUE(tables.equal) << tables.report;

    const long long lost = expect("channel.2000011.expect.lost");
    const long long late = expect("channel.2000011.expect.out_of_order");
    const long long damaged = expect("channel.2000011.expect.errors");
    // The run really had faults of every kind.
    ASSERT_GT(expect("channel.2000011.dropped"), 0);
    ASSERT_GT(expect("channel.2000011.duplicated"), 0);
    ASSERT_GT(expect("channel.2000011.reordered"), 0);
    ASSERT_GT(expect("channel.2000011.corrupt.checksum"), 0);
    ASSERT_GT(lost, 0);
    ASSERT_GT(late, 0);
    EXPECT_EQ(expect("channel.2100011.dropped"), 0);

    const std::string text = log();
    const e2e::Totals totals = e2e::ParseTotals(text);
    ASSERT_TRUE(totals.found) << text;
    EXPECT_EQ(totals.packets,
              expect("channel.2000011.datagrams") + expect("channel.2100011.datagrams"));
    EXPECT_EQ(totals.lost, lost);
    EXPECT_EQ(totals.outOfOrder, late);
    EXPECT_EQ(totals.errors, damaged);
    // One log line per event, as the station words them.
    EXPECT_EQ(e2e::CountLines(text, "丢包（信道 2000011）", "至"),
              expect("channel.2000011.expect.loss_lines.single"));
    EXPECT_EQ(e2e::CountLines(text, "丢包（信道 2000011）") -
                  e2e::CountLines(text, "丢包（信道 2000011）", "至"),
              expect("channel.2000011.expect.loss_lines.range"));
    EXPECT_EQ(e2e::CountLines(text, "乱序（信道 2000011）"), late);
    EXPECT_EQ(e2e::CountLines(text, "错包（信道 2000011）：校验值"),
              expect("channel.2000011.corrupt.checksum"));
    EXPECT_EQ(e2e::CountLines(text, "错包（信道 2000011）：包长"),
              expect("channel.2000011.corrupt.length"));
    EXPECT_EQ(e2e::CountLines(text, "encode packet failed!"), damaged);
    // The backup channel is not the active one: nothing of it is counted.
    EXPECT_EQ(e2e::CountLines(text, "信道 2100011）"), 0);
}

}  // namespace

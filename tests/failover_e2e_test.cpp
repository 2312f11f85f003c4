// Failover: the primary channel falls silent for longer than 30 seconds of
// station time and the station goes on with the backup. The station runs in
// this process on a clock that goes fifteen times faster than real time, so
// half a minute of silence takes two seconds; tavrel-master is a real process
// sending on loopback multicast.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Clock.h"
#include "shell/TavrelApp.h"
#include "tests/E2eStation.h"

namespace {

// The fake clock moved on by a thread of its own, `scale` times as fast as
// real time; sleeping really sleeps (the real duration), so the station's
// idle loops cost what they always do.
class ScaledClock : public platform::FakeClock {
  public:
    explicit ScaledClock(int scale) : scale_(scale) {
        const platform::WallTime now = platform::ToLocal(time(nullptr));
        // Mid-morning of today: the day's tables and log, and no midnight
        // or 02:00 rule within reach of the faster clock.
        setWall(now.year, now.month, now.day, 10, 0, 0);
        platform::InstallClock(this);
        driver_ = std::thread([this] {
            while (!stop_.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                advance(uint32_t(scale_));
            }
        });
    }
    ~ScaledClock() override {
        stop_ = true;
        driver_.join();
        platform::InstallClock(nullptr);
    }
    void sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

  private:
    int scale_;
    std::atomic<bool> stop_{false};
    std::thread driver_;
};

TEST(FailoverE2eTest, SilentPrimarySwitchesOnceAndDataKeepsComingFromTheBackup) {
    testsupport::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const e2e::Channels channels = e2e::Channels::ForThisProcess(1);
    e2e::WriteStationConfig(dir.path(), channels);

    ScaledClock clock(15);
    std::atomic<int> signal{0};
    int status = -1;
    std::thread station([&] {
        CTavrelApp app;
        const std::string d = dir.path();
        const char* argv[] = {"tavrel", "--headless", "--dir", d.c_str()};
        status = app.Run(4, argv, &signal);
    });
    struct Stopper {
        std::atomic<int>& signal;
        std::thread& station;
        ~Stopper() {
            signal = SIGTERM;
            if (station.joinable()) station.join();
        }
    } stopper{signal, station};
    auto log = [&] { return e2e::LogText(dir.path()); };
    ASSERT_TRUE(
        e2e::WaitFor([&] { return log().find("通信模块启动成功") != std::string::npos; }, 20000))
        << log();

    // The primary channel sends for one second and then never again.
    std::vector<std::string> args{e2e::MasterProgram(),
                                  "--truth",
                                  dir.file("truth"),
                                  "--progress",
                                  "0",
                                  "--securities",
                                  "200",
                                  "--seed",
                                  "3",
                                  "--start-time",
                                  "093000",
                                  "--day-speed",
                                  "60",
                                  "--duration",
                                  "8",
                                  "--round-interval",
                                  "0.2",
                                  "--info-interval",
                                  "1",
                                  "--base-interval",
                                  "1.5",
                                  "--status-interval",
                                  "0.5",
                                  "--rate",
                                  "0",
                                  "--silence-primary",
                                  "1:100"};
    for (const std::string& a : channels.masterArgs()) args.push_back(a);
    e2e::Child master;
    ASSERT_TRUE(master.start(args, dir.file("master.out")));
    ASSERT_EQ(master.wait(60000), 0) << testsupport::ReadFile(dir.file("master.out"));
    auto expect = mastersim::ReadKeyValues(dir.file("truth/expect.txt"));
    // The primary sent only its first second; the backup all along.
    ASSERT_GT(e2e::ExpectValue(expect, "channel.2000011.silenced"), 0);
    ASSERT_EQ(e2e::ExpectValue(expect, "channel.2100011.silenced"), 0);

    e2e::TablesVersusTruth tables;
    e2e::WaitFor(
        [&] {
            tables = e2e::CompareTables(dir.file("truth"), dir.file("data"),
                                        mastersim::CompareMode::Converged);
            return tables.equal;
        },
        15000);
    signal = SIGTERM;
    station.join();
    EXPECT_EQ(status, CTavrelApp::kExitOk);

    // The last rounds reached the tables, and only the backup carried them.
    tables =
        e2e::CompareTables(dir.file("truth"), dir.file("data"), mastersim::CompareMode::Converged);
    EXPECT_TRUE(tables.equal) << tables.report;
    const std::string text = log();
    EXPECT_EQ(e2e::CountLines(text, "信道 2000011 接收行情不正常，现转由信道 2100011 继续接收"), 1)
        << text;
    EXPECT_EQ(e2e::CountLines(text, "现转由信道 2000011"), 0);
    const e2e::Totals totals = e2e::ParseTotals(text);
    ASSERT_TRUE(totals.found);
    // The backup starts a fresh sequence when it takes over: nothing is
    // reported lost, nothing is bad.
    EXPECT_EQ(totals.lost, 0);
    EXPECT_EQ(totals.outOfOrder, 0);
    EXPECT_EQ(totals.errors, 0);
    EXPECT_EQ(totals.packets, e2e::ExpectValue(expect, "channel.2000011.datagrams") +
                                  e2e::ExpectValue(expect, "channel.2100011.datagrams"));
}

}  // namespace

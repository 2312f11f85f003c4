#include "mastersim/Options.h"

#include <gtest/gtest.h>

namespace mastersim {
namespace {

Command Parse(std::vector<std::string> args, MasterOptions& o, std::string& error) {
    o = MasterOptions{};
    return ParseOptions(args, o, error);
}

TEST(OptionsTest, DefaultsKeepTrafficOnLoopback) {
    MasterOptions o;
    std::string error;
    ASSERT_EQ(Parse({}, o, error), Command::Run);
    EXPECT_EQ(o.interfaceAddr, "127.0.0.1");
    EXPECT_EQ(o.ttl, 1);
    EXPECT_EQ(o.sim.securities, 8000);
    // A compressed day of about two minutes.
    EXPECT_NEAR((SecondsOfDay(o.sim.endTime) - SecondsOfDay(o.sim.startTime)) / o.sim.daySpeed, 130,
                15);
}

TEST(OptionsTest, EveryOptionIsTakenAndChecked) {
    MasterOptions o;
    std::string error;
    ASSERT_EQ(Parse({"--group1",
                     "239.1.1.1",
                     "--port1",
                     "5001",
                     "--group2",
                     "239.1.1.2",
                     "--port2",
                     "5002",
                     "--securities",
                     "20000",
                     "--seed",
                     "9",
                     "--round-interval",
                     "0",
                     "--rate",
                     "0",
                     "--duration",
                     "60",
                     "--day-speed",
                     "1",
                     "--start-time",
                     "093000",
                     "--encoding",
                     "0x25",
                     "--version",
                     "20170301,20170101",
                     "--zsxx",
                     "--loss",
                     "0.01",
                     "--duplicate",
                     "0.02",
                     "--reorder",
                     "0.03",
                     "--corrupt",
                     "0.04",
                     "--fault-window",
                     "2:8",
                     "--fault-channel",
                     "primary",
                     "--silence-primary",
                     "3:40",
                     "--stop-both",
                     "50:5",
                     "--truth",
                     "/tmp/t",
                     "--replay-rounds",
                     "4",
                     "--first-seq",
                     "7"},
                    o, error),
              Command::Run)
        << error;
    EXPECT_EQ(o.groups[0], "239.1.1.1");
    EXPECT_EQ(o.ports[1], 5002);
    EXPECT_EQ(o.sim.securities, 20000);
    EXPECT_EQ(o.sim.seed, 9u);
    EXPECT_EQ(o.faults.seed, 9u);
    EXPECT_EQ(o.sim.roundInterval, 0);
    EXPECT_EQ(o.rate, 0);
    EXPECT_EQ(o.sim.startTime, 93000);
    EXPECT_EQ(o.sim.encodings, std::vector<uint8_t>{0x25});
    EXPECT_EQ(o.sim.versionNewest, 20170301);
    EXPECT_EQ(o.sim.versionMinimum, 20170101);
    EXPECT_TRUE(o.sim.zsxx);
    EXPECT_DOUBLE_EQ(o.faults.corrupt, 0.04);
    EXPECT_DOUBLE_EQ(o.faults.faults.at, 2);
    EXPECT_DOUBLE_EQ(o.faults.faults.length, 6);
    EXPECT_FALSE(o.faults.onBackup);
    EXPECT_DOUBLE_EQ(o.faults.silencePrimary.length, 40);
    EXPECT_TRUE(o.stopBoth.contains(52));
    EXPECT_EQ(o.truthDir, "/tmp/t");
    EXPECT_EQ(o.sim.replayRounds, 4);
    EXPECT_EQ(o.firstSeq, 7u);
}

TEST(OptionsTest, BadValuesAreRefusedWithTheirOption) {
    const std::vector<std::vector<std::string>> bad = {
        {"--securities", "0"},
        {"--securities", "abc"},
        {"--port1", "70000"},
        {"--ttl", "2"},
        {"--loss", "1.5"},
        {"--loss", "-0.1"},
        {"--encoding", "0x02"},
        {"--encoding", "0x30"},
        {"--encoding", ""},
        {"--start-time", "2561"},
        {"--start-time", "096000"},
        {"--fault-window", "5:2"},
        {"--fault-channel", "third"},
        {"--silence-primary", "3"},
        {"--rate", "-1"},
        {"--round-interval"},
        {"--unknown", "1"},
        {"stray"},
        {"--compare", "only-one"},
        {"--day-speed", "0"},
        {"--date", "20171340"},
    };
    for (const auto& args : bad) {
        MasterOptions o;
        std::string error;
        EXPECT_EQ(Parse(args, o, error), Command::Error) << args[0];
        EXPECT_FALSE(error.empty());
    }
    MasterOptions o;
    std::string error;
    EXPECT_EQ(Parse({"--help"}, o, error), Command::Help);
    EXPECT_EQ(Parse({"--compare", "a", "b", "--converged"}, o, error), Command::Compare);
    EXPECT_TRUE(o.converged);
    EXPECT_NE(HelpText().find("--silence-primary"), std::string::npos);
}

}  // namespace
}  // namespace mastersim

// The quote handler: the opening order of the tables with its messages, the
// dispatch by packet type, the bounded queue and its release on stop, and
// packets flowing through the worker into the tables and published values.
#include "quotes/TyQuotaHandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/SystemClock.h"
#include "quotes/QuoteTestSupport.h"
#include "runtime/RunParams.h"
#include "tests/support/TestSupport.h"

namespace {

using quotetest::HqSpecial;
using quotetest::MakePacket;
using quotetest::PutI16;
using quotetest::Security;
using quotetest::SnapshotPayload;
using velk::concurrent::SharedPtr;

// Waits (in real time, briefly) until the condition holds; false after 5 s.
template <typename Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 5000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

class TyQuotaHandlerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        velk::RunParams::instance().clear();
        host_ = new quotetest::TestQuoteHost;
        hostRef_.reset(host_);
        handler_ = std::make_unique<TyQuotaHandler>(hostRef_);
        for (int slot = 0; slot < 6; ++slot) {
            static const char* kNames[6] = {"NQHQ.DBF", "NQXYXX.DBF",    "NQZSXX.DBF",
                                            "NQXX.DBF", "NQFGKCJXX.DBF", "NQFGKSBXX.DBF"};
            config_.tablePaths[slot] = dir_.file(kNames[slot]);
        }
    }
    void TearDown() override {
        handler_.reset();
        velk::RunParams::instance().clear();
    }

    platform::ScopedFakeClock clock_;
    platform::ScopedClockRecorder clockSetter_;
    testsupport::TempDir dir_;
    testsupport::CaptureAppender log_;
    quotetest::TestQuoteHost* host_ = nullptr;
    SharedPtr<QuoteHost> hostRef_;
    std::unique_ptr<TyQuotaHandler> handler_;
    QuoteConfig config_;
};

TEST_F(TyQuotaHandlerTest, InitOpensTheSnapshotTablesInOrder) {
    host_->conf.rcvZSXX = 1;
    ASSERT_EQ(handler_->init(config_), 0);
    EXPECT_TRUE(handler_->nqhq().isOpen());
    EXPECT_TRUE(handler_->nqxx().isOpen());
    EXPECT_TRUE(handler_->nqzsxx().isOpen());
    for (const char* name : {"NQHQ.DBF", "NQXX.DBF", "NQZSXX.DBF"}) {
        EXPECT_TRUE(testsupport::Exists(dir_.file(name))) << name;
    }
    EXPECT_EQ(handler_->tablePath(kNqxx), dir_.file("NQXX.DBF"));
}

TEST_F(TyQuotaHandlerTest, InitStopsAtTheFirstTableThatFails) {
    struct Case {
        int badSlot;
        const char* message;
        const char* tableMessage;  // the table's own open failure, or nullptr
        std::vector<const char*> created;
        std::vector<const char*> notCreated;
    };
    const std::vector<Case> cases = {
        {0,
         "Init_NQHQ, 初始化NQHQ.DBF失败",
         nullptr,
         {},
         {"NQXX.DBF", "NQXYXX.DBF", "NQZSXX.DBF", "NQFGKSBXX.DBF", "NQFGKCJXX.DBF"}},
        {3,
         "Init_NQXX, 初始化NQXX.DBF失败",
         nullptr,
         {"NQHQ.DBF"},
         {"NQXYXX.DBF", "NQZSXX.DBF", "NQFGKSBXX.DBF", "NQFGKCJXX.DBF"}},
        {1,
         "Init_NQXYWT, 初始化NQXYWT.DBF失败",
         "打开协议转让投资者申报信息库",
         {"NQHQ.DBF", "NQXX.DBF"},
         {"NQZSXX.DBF", "NQFGKSBXX.DBF", "NQFGKCJXX.DBF"}},
        {2,
         "Init_NQZSWT, 初始化NQZSWT.DBF失败",
         nullptr,
         {"NQHQ.DBF", "NQXX.DBF", "NQXYXX.DBF"},
         {"NQFGKSBXX.DBF", "NQFGKCJXX.DBF"}},
        {5,
         "Init_NQFGKSBXX, 初始化NQFGKSBXX.DBF失败",
         "打开非公开申报信息库",
         {"NQHQ.DBF", "NQXX.DBF", "NQXYXX.DBF", "NQZSXX.DBF"},
         {"NQFGKCJXX.DBF"}},
        {4,
         "Init_NQFGKCJXX, 初始化NQFGKCJXX.DBF失败",
         "打开非公开成交信息库",
         {"NQHQ.DBF", "NQXX.DBF", "NQXYXX.DBF", "NQZSXX.DBF", "NQFGKSBXX.DBF"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        testsupport::TempDir dir;
        quotetest::TestQuoteHost* host = new quotetest::TestQuoteHost;
        SharedPtr<QuoteHost> ref(host);
        host->conf.rcvZSXX = 1;
        host->conf.rcvFGKSBXX = 1;
        host->conf.rcvFGKCJXX = 1;
        TyQuotaHandler handler(ref);
        QuoteConfig config;
        for (int slot = 0; slot < 6; ++slot) {
            config.tablePaths[slot] =
                dir.file(QuoteTable(QuoteContext::TableAtCountSlot(slot)).fileName);
        }
        config.tablePaths[c.badSlot] = dir.file("no-such-dir/x.DBF");
        log_.clear();
        EXPECT_EQ(handler.init(config), -1);
        EXPECT_EQ(log_.count(c.message, "TyQuotaHandler", velk::LevelError), 1) << log_.dump();
        if (c.tableMessage != nullptr) {
            const std::string text = std::string(c.tableMessage) + dir.file("no-such-dir/x.DBF");
            EXPECT_EQ(log_.count(text, "TyQuotaHandler", velk::LevelError), 1) << log_.dump();
            // The table's message comes before the handler's.
            std::vector<velk::LogEvent> events = log_.events();
            size_t table = events.size(), init = events.size();
            for (size_t i = 0; i < events.size(); ++i) {
                if (events[i].text.find(text) != std::string::npos) table = i;
                if (events[i].text.find(c.message) != std::string::npos) init = i;
            }
            EXPECT_LT(table, init);
        }
        for (const char* name : c.created) EXPECT_TRUE(testsupport::Exists(dir.file(name))) << name;
        for (const char* name : c.notCreated) {
            EXPECT_FALSE(testsupport::Exists(dir.file(name))) << name;
        }
    }
}

TEST_F(TyQuotaHandlerTest, MarketMakingTableIsLeftAloneWhenNotReceived) {
    host_->conf.rcvZSXX = 0;
    ASSERT_EQ(handler_->init(config_), 0);
    EXPECT_FALSE(handler_->nqzsxx().isOpen());
    EXPECT_FALSE(testsupport::Exists(config_.tablePaths[QuoteContext::kCountNqzsxx]));
    log_.clear();
    handler_->dealPacket(MakePacket(
        24, SnapshotPayload<NQZSXX_OrderRec_t>(
                2, {{1, quotetest::MarketMaking(1)}, {0, quotetest::ZsSpecial("093000")}})));
    EXPECT_TRUE(log_.events().empty()) << log_.dump();
    EXPECT_EQ(handler_->tableCount(QuoteContext::kCountNqzsxx), 0);
    EXPECT_FALSE(testsupport::Exists(config_.tablePaths[QuoteContext::kCountNqzsxx]));
}

TEST_F(TyQuotaHandlerTest, DispatchByPacketType) {
    host_->conf.rcvZSXX = 1;
    ASSERT_EQ(handler_->init(config_), 0);

    handler_->dealPacket(MakePacket(
        22, SnapshotPayload<SnapshotRec_t>(2, {{1, Security(1, 100)}, {0, HqSpecial(93000)}})));
    handler_->dealPacket(
        MakePacket(21, SnapshotPayload<ZqxxRec_t>(3, {{1, quotetest::Information(1)},
                                                      {2, quotetest::Information(2)},
                                                      {0, quotetest::XxSpecial("09300012")}})));
    handler_->dealPacket(MakePacket(
        24, SnapshotPayload<NQZSXX_OrderRec_t>(4, {{0, quotetest::ZsSpecial("093001")}})));
    std::string state;
    for (int16_t v : {30, 930, 1130, 1300, 1500, 0, 0}) PutI16(state, v);
    handler_->dealPacket(MakePacket(12, state));

    EXPECT_EQ(handler_->tableCount(QuoteContext::kCountNqhq), 2);
    EXPECT_EQ(handler_->tableCount(QuoteContext::kCountNqxx), 3);
    EXPECT_EQ(handler_->tableCount(QuoteContext::kCountNqzsxx), 4);
    EXPECT_EQ(handler_->tableCount(QuoteContext::kCountNqxyxx), 0);
    EXPECT_EQ(handler_->tableCount(6), 0);
    EXPECT_EQ(handler_->quoteTimes().atSlot(QuoteTimes::kHq), 93000);
    EXPECT_EQ(handler_->quoteTimes().atSlot(QuoteTimes::kXx), 9300012);
    EXPECT_EQ(handler_->quoteTimes().atSlot(QuoteTimes::kZsxx), 93001);
    EXPECT_EQ(handler_->marketState(), 30);
    EXPECT_EQ(handler_->GetMarketStateText(), "上午开市");
    EXPECT_EQ(handler_->openTimeText(), "09:30-11:30, 13:00-15:00");

    // Types switched off are ignored without a word; anything else is
    // unknown.
    struct Case {
        int type;
        const char* message;  // nullptr: no log line at all
    };
    host_->conf.rcvFGKSBXX = 0;
    host_->conf.rcvFGKCJXX = 0;
    for (const Case& c :
         {Case{25, "unkown packet type 25"}, Case{0, "unkown packet type 0"},
          Case{-3, "unkown packet type -3"}, Case{26, nullptr}, Case{27, nullptr}}) {
        SCOPED_TRACE(c.type);
        log_.clear();
        EXPECT_EQ(handler_->dealPacket(MakePacket(c.type, std::string(40, '\0'))), 0);
        if (c.message == nullptr) {
            EXPECT_TRUE(log_.events().empty()) << log_.dump();
        } else {
            EXPECT_EQ(log_.count(c.message, "TyQuotaHandler", velk::LevelWarn), 1) << log_.dump();
        }
    }
    EXPECT_EQ(handler_->dealPacket(Packet::Ptr()), 0);
}

TEST_F(TyQuotaHandlerTest, FullQueueHoldsTheProducerUntilTheWorkerTakesOne) {
    ASSERT_EQ(handler_->init(config_), 0);
    for (size_t i = 0; i < TyQuotaHandler::kQueueLimit; ++i) {
        handler_->putPacket(MakePacket(25, ""));
    }
    EXPECT_EQ(handler_->queueLength(), 1024);
    std::atomic<bool> returned{false};
    std::thread producer([&] {
        handler_->putPacket(MakePacket(25, ""));
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned);
    EXPECT_EQ(handler_->queueLength(), 1024);

    handler_->start();
    EXPECT_TRUE(Eventually([&] { return returned.load(); }));
    producer.join();
    EXPECT_TRUE(Eventually([&] { return handler_->queueLength() == 0; }));
    handler_->stop();
    handler_->join();
    EXPECT_EQ(log_.count("unkown packet type 25"), 1025);
}

TEST_F(TyQuotaHandlerTest, StopReleasesAWaitingProducer) {
    for (size_t i = 0; i < TyQuotaHandler::kQueueLimit; ++i) {
        handler_->putPacket(MakePacket(25, ""));
    }
    std::atomic<bool> returned{false};
    std::thread producer([&] {
        handler_->putPacket(MakePacket(25, ""));
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    handler_->stop();
    EXPECT_TRUE(Eventually([&] { return returned.load(); }));
    producer.join();
    EXPECT_EQ(handler_->queueLength(), 1025);
    // Stopped: a further packet is appended at once, whatever the queue holds.
    handler_->putPacket(MakePacket(25, ""));
    EXPECT_EQ(handler_->queueLength(), 1026);
}

TEST_F(TyQuotaHandlerTest, WorkerTurnsQueuedPacketsIntoTablesAndPublishedValues) {
    ASSERT_EQ(handler_->init(config_), 0);
    ASSERT_EQ(handler_->start(), 0);
    std::string state;
    for (int16_t v : {40, 925, 1130, 1300, 1500, 1900, 2100}) PutI16(state, v);
    handler_->putPacket(MakePacket(12, state));
    for (int r = 1; r < 5; ++r) {
        handler_->putPacket(
            MakePacket(22, SnapshotPayload<SnapshotRec_t>(5, {{r, Security(r, 100 * r)}})));
    }
    handler_->putPacket(
        MakePacket(22, SnapshotPayload<SnapshotRec_t>(5, {{0, HqSpecial(140001)}})));
    handler_->putPacket(
        MakePacket(22, SnapshotPayload<SnapshotRec_t>(5, {{0, HqSpecial(140000)}})));
    ASSERT_TRUE(Eventually([&] { return handler_->queueLength() == 0; }));
    handler_->stop();
    handler_->join();

    EXPECT_EQ(handler_->marketState(), 40);
    EXPECT_EQ(handler_->openTimeText(), "09:25-11:30, 13:00-15:00, 19:00-21:00");
    EXPECT_EQ(handler_->tableCount(QuoteContext::kCountNqhq), 5);
    EXPECT_EQ(handler_->quoteTimes().atSlot(QuoteTimes::kHq), 140001);
    EXPECT_EQ(log_.count("证券行情时间从 140000 设为 140001 ！"), 1);
    quotetest::TableFile file =
        quotetest::ReadTable(testsupport::ReadFile(dir_.file("NQHQ.DBF")), 356);
    ASSERT_EQ(file.count, 5u);
    EXPECT_EQ(FieldText(kNqhq, 7, file.records[0]), "   140001");
    EXPECT_EQ(FieldText(kNqhq, 0, file.records[3]), "430003");

    // Started again after the join; packets queued after a stop wait for it.
    handler_->putPacket(MakePacket(
        22, SnapshotPayload<SnapshotRec_t>(5, {{2, Security(2, 777)}, {0, HqSpecial(140002)}})));
    ASSERT_EQ(handler_->start(), 0);
    ASSERT_TRUE(Eventually([&] { return handler_->queueLength() == 0; }));
    handler_->stop();
    handler_->join();
    EXPECT_EQ(handler_->quoteTimes().atSlot(QuoteTimes::kHq), 140002);
}

TEST_F(TyQuotaHandlerTest, ClockCorrectionFollowsTheConfiguration) {
    config_.correctClock = true;
    ASSERT_EQ(handler_->init(config_), 0);
    std::string info;
    quotetest::PutI32(info, 20170213);
    quotetest::PutI32(info, 20170101);
    quotetest::PutI32(info, int32_t(platform::FromLocal(2017, 2, 13, 10, 0, 0)));
    handler_->dealPacket(MakePacket(11, info));
    handler_->dealPacket(MakePacket(11, info));
    EXPECT_EQ(clockSetter_.calls(), 1);
    EXPECT_EQ(host_->invalidVersionReports, 0);
}

}  // namespace

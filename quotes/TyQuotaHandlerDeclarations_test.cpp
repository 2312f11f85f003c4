// The declaration tables and the trade journal inside the quote handler:
// opened with their switches, fed by packet types 23, 26 and 27, published in
// their count slots, and carried across a restart of the handler without a
// record lost or written twice.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "quotes/DeclarationTestSupport.h"
#include "quotes/TyQuotaHandler.h"
#include "runtime/RunParams.h"

namespace {

using decltest::DeclarationPacket;
using decltest::Entry;
using decltest::FileRecords;
using decltest::Trade;
using decltest::TradePacket;
using velk::concurrent::SharedPtr;
using XE = Entry<NQXYXX_OrderRec_t>;
using FE = Entry<NQFGKSBXX_OrderRec_t>;

XE Xy(int32_t entryNo, int32_t number, int16_t operation = 0) {
    return {entryNo, operation, decltest::Xyxx("430001", number)};
}
FE Fgk(int32_t entryNo, int32_t number, int16_t operation = 0) {
    return {entryNo, operation, decltest::Fgksbxx("830001", number)};
}

Packet::Ptr Trades(int32_t first, int32_t last) {
    std::vector<NQFGKCJXX_TradeRec_t> trades;
    for (int32_t n = first; n <= last; ++n) trades.push_back(Trade(n));
    return TradePacket(trades);
}

class HandlerTablesTest : public decltest::TableFixture {
  protected:
    HandlerTablesTest() {
        velk::RunParams::instance().clear();
        for (int slot = 0; slot < 6; ++slot) {
            config.tablePaths[slot] =
                Path(QuoteTable(QuoteContext::TableAtCountSlot(slot)).fileName);
        }
        NewHandler(1, 1);
    }
    ~HandlerTablesTest() override {
        handler.reset();
        velk::RunParams::instance().clear();
    }

    // A handler as the controller makes one at a start of the station.
    void NewHandler(int32_t rcvFGKSBXX, int32_t rcvFGKCJXX) {
        handler.reset();
        host = new decltest::RecordingHost;
        host->conf.rcvFGKSBXX = rcvFGKSBXX;
        host->conf.rcvFGKCJXX = rcvFGKCJXX;
        handler = std::make_unique<TyQuotaHandler>(SharedPtr<QuoteHost>(host));
    }
    // The controller closes the tables after the handler has stopped.
    void StopStation() {
        handler->stop();
        handler->join();
        for (auto& table : host->tables) table->Close();
        handler.reset();
    }
    int32_t Count(int slot) const { return handler->tableCount(slot); }
    std::vector<std::string> Records(QuoteTableId id) {
        return FileRecords(Path(QuoteTable(id).fileName));
    }
    void Deal(const Packet::Ptr& p) { handler->dealPacket(p); }

    QuoteConfig config;
    decltest::RecordingHost* host = nullptr;
    std::unique_ptr<TyQuotaHandler> handler;
};

TEST_F(HandlerTablesTest, TypesReachTheirTablesAndCountSlots) {
    ASSERT_EQ(0, handler->init(config));
    Deal(DeclarationPacket<NQXYXX_OrderRec_t>(
        23, 0, 1, 0, 3, {{0, 0, decltest::XyxxSpecial("093001")}, Xy(1, 1), Xy(2, 2)}));
    Deal(DeclarationPacket<NQFGKSBXX_OrderRec_t>(
        26, 0, 7, 0, 2, {{0, 0, decltest::FgksbxxSpecial("100002")}, Fgk(1, 5)}));
    Deal(Trades(0, 3));

    EXPECT_EQ(3, Count(QuoteContext::kCountNqxyxx));
    EXPECT_EQ(2, Count(QuoteContext::kCountNqfgksbxx));
    EXPECT_EQ(4, Count(QuoteContext::kCountNqfgkcjxx));
    EXPECT_EQ(3u, Records(kNqxyxx).size());
    EXPECT_EQ(2u, Records(kNqfgksbxx).size());
    EXPECT_EQ(4u, Records(kNqfgkcjxx).size());
    const QuoteTimes& times = handler->quoteTimes();
    EXPECT_EQ(93001, times.atSlot(QuoteTimes::kXyxx));
    EXPECT_EQ(100002, times.atSlot(QuoteTimes::kFgksbxx));
    EXPECT_EQ(103000, times.atSlot(QuoteTimes::kFgkcjxx));

    // A break in the trade numbers reaches the controller as a reconnect.
    Deal(Trades(6, 6));
    EXPECT_EQ(1, host->reconnects);
    EXPECT_EQ(4, Count(QuoteContext::kCountNqfgkcjxx));
}

TEST_F(HandlerTablesTest, NonPublicTablesFollowTheirSwitches) {
    struct Case {
        int32_t rcvFGKSBXX, rcvFGKCJXX;
        bool opened;      // the files are made and the tables take packets
        bool dispatched;  // packets 26 and 27 reach the tables at all
    };
    for (const Case& c :
         {Case{0, 0, false, false}, Case{1, 1, true, true}, Case{2, 2, false, true}}) {
        SCOPED_TRACE(c.rcvFGKSBXX);
        StopStation();
        platform::RemoveFile(Path("NQFGKSBXX.DBF"));
        platform::RemoveFile(Path("NQFGKCJXX.DBF"));
        NewHandler(c.rcvFGKSBXX, c.rcvFGKCJXX);
        ASSERT_EQ(0, handler->init(config));
        EXPECT_EQ(c.opened, testsupport::Exists(Path("NQFGKSBXX.DBF")));
        EXPECT_EQ(c.opened, testsupport::Exists(Path("NQFGKCJXX.DBF")));
        log.clear();
        Deal(DeclarationPacket<NQFGKSBXX_OrderRec_t>(26, 0, 1, 0, 1,
                                                     {{0, 0, decltest::FgksbxxSpecial()}}));
        Deal(Trades(0, 1));
        EXPECT_EQ(c.opened ? 1 : 0, Count(QuoteContext::kCountNqfgksbxx));
        EXPECT_EQ(c.opened ? 2 : 0, Count(QuoteContext::kCountNqfgkcjxx));
        if (!c.dispatched) {
            EXPECT_TRUE(log.events().empty()) << log.dump();
        } else if (!c.opened) {
            // Dispatched to a table that was never opened: said once, no file.
            EXPECT_EQ(1, log.count("NQFGKSBXX.DBF 未打开，不处理其数据包"));
            EXPECT_EQ(1, log.count("NQFGKCJXX.DBF 未打开，不处理其数据包"));
            EXPECT_FALSE(testsupport::Exists(Path("NQFGKCJXX.DBF")));
        }
    }
}

TEST_F(HandlerTablesTest, RestartContinuesTheTablesWithoutDuplicates) {
    ASSERT_EQ(0, handler->init(config));
    const Packet::Ptr base = DeclarationPacket<NQXYXX_OrderRec_t>(
        23, 0, 1, 0, 3, {{0, 0, decltest::XyxxSpecial()}, Xy(1, 1), Xy(2, 2)});
    const Packet::Ptr delta =
        DeclarationPacket<NQXYXX_OrderRec_t>(23, 1, 1, 1, 2, {Xy(1, 3), Xy(2, 1, 2)});
    const Packet::Ptr nonPublic = DeclarationPacket<NQFGKSBXX_OrderRec_t>(
        26, 0, 1, 0, 3, {{0, 0, decltest::FgksbxxSpecial()}, Fgk(1, 5), Fgk(2, 6)});
    // Through the worker, as the controller hands them over.
    handler->start();
    for (const Packet::Ptr& p : {base, delta, nonPublic, Trades(0, 4)}) handler->putPacket(p);
    for (int i = 0; i < 5000 && Count(QuoteContext::kCountNqfgkcjxx) != 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(5, Count(QuoteContext::kCountNqfgkcjxx));
    StopStation();

    const std::vector<std::string> xyxx = Records(kNqxyxx);
    const std::vector<std::string> fgksbxx = Records(kNqfgksbxx);
    ASSERT_EQ(4u, xyxx.size());
    ASSERT_EQ(3u, fgksbxx.size());
    ASSERT_EQ(5u, Records(kNqfgkcjxx).size());

    // The same files, a new handler: the counts come from the files.
    NewHandler(1, 1);
    ASSERT_EQ(0, handler->init(config));
    EXPECT_EQ(3, Count(QuoteContext::kCountNqxyxx))
        << "two active declarations and the special record";
    EXPECT_EQ(3, Count(QuoteContext::kCountNqfgksbxx));
    EXPECT_EQ(5, Count(QuoteContext::kCountNqfgkcjxx));

    // The master station resends: the delta waits for its base round, the
    // base round and the trades already held change nothing.
    Deal(delta);
    Deal(DeclarationPacket<NQXYXX_OrderRec_t>(
        23, 0, 2, 0, 3, {{0, 0, decltest::XyxxSpecial()}, Xy(1, 2), Xy(2, 3)}));
    Deal(nonPublic);
    Deal(Trades(0, 6));
    EXPECT_EQ(xyxx, Records(kNqxyxx));
    EXPECT_EQ(fgksbxx, Records(kNqfgksbxx));
    std::vector<int32_t> numbers;
    for (const std::string& r : Records(kNqfgkcjxx)) numbers.push_back(TradeNumberOf(r));
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6}), numbers);
    EXPECT_EQ(0, host->reconnects);

    // New data after the restart lands after the records already held.
    Deal(DeclarationPacket<NQXYXX_OrderRec_t>(23, 1, 2, 1, 1, {Xy(1, 4)}));
    ASSERT_EQ(5u, Records(kNqxyxx).size());
    EXPECT_EQ(FormatRecord(decltest::Xyxx("430001", 4)), Records(kNqxyxx)[4]);
    EXPECT_EQ(4, Count(QuoteContext::kCountNqxyxx));
}

}  // namespace

// The trade journal: record n holds trade n, trades are accepted only in
// exact order, and every break or failed write sets the position back to what
// the file holds and renews the connection.
#include "quotes/CJQuota.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "quotes/DeclarationTestSupport.h"

namespace {

using decltest::Trade;
using decltest::TradePacket;

constexpr int kFgkcjsj = 10;  // time field of NQFGKCJXX.DBF

class CJQuotaTest : public decltest::TableFixture {
  protected:
    CJQuotaTest() { Reset(); }

    void Reset() { quota = std::make_unique<CJQuota>(context); }
    CDbf& Table() { return host.quoteTable(kNqfgkcjxx); }
    int Open() { return quota->open(Table(), Path("NQFGKCJXX.DBF")); }
    void Send(const std::vector<int32_t>& numbers) {
        std::vector<NQFGKCJXX_TradeRec_t> trades;
        for (int32_t n : numbers) trades.push_back(Trade(n));
        quota->onPacket(*TradePacket(trades));
    }
    std::vector<std::string> Records() { return decltest::FileRecords(Path("NQFGKCJXX.DBF")); }
    // The trade numbers of the file's records, in order.
    std::vector<int32_t> Numbers() {
        std::vector<int32_t> out;
        for (const std::string& r : Records()) out.push_back(TradeNumberOf(r));
        return out;
    }
    // A file holding records with these trade numbers.
    void MakeFile(const std::vector<int32_t>& numbers) {
        CDbf maker(QuoteSchema(kNqfgkcjxx));
        ASSERT_EQ(0, maker.CreatDB(Path("NQFGKCJXX.DBF")));
        std::string images;
        for (int32_t n : numbers) images += FormatRecord(Trade(n));
        if (!numbers.empty()) {
            ASSERT_EQ(0, maker.AppendRecord(images.data(), uint32_t(numbers.size())));
        }
        maker.Close();
    }
    // An empty table given the special record and trades 1 and 2.
    void ThreeRecords() {
        ASSERT_EQ(0, Open());
        Send({0, 1, 2});
        ASSERT_EQ((std::vector<int32_t>{0, 1, 2}), Numbers());
    }

    int32_t Next() const { return context.tableCount(kNqfgkcjxx); }

    decltest::RecordingHost host;
    QuoteContext context{host};
    QuoteTimes& times = context.times();
    std::unique_ptr<CJQuota> quota;
};

TEST_F(CJQuotaTest, EmptyTableTakesTheSpecialRecordThenTradesOneAppendEach) {
    ASSERT_EQ(0, Open());
    EXPECT_EQ(0, Next());
    Watch();
    Send({0, 1, 2});
    EXPECT_EQ("W321 W1 W4 F W321 W1 W4 F W321 W1 W4 F", Describe(TakeWrites()));
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2}), Numbers());
    EXPECT_TRUE(IsSpecial(kNqfgkcjxx, Records()[0]));
    EXPECT_EQ(Records()[1], FormatRecord(Trade(1)));
    EXPECT_EQ(3, Next());
    EXPECT_EQ(3, quota->nextTradeNo());
    EXPECT_EQ(0, host.reconnects);
    EXPECT_EQ(103000, times.get(kNqfgkcjxx));
}

TEST_F(CJQuotaTest, LowerNumbersAreSkipped) {
    ThreeRecords();
    Watch();
    Send({2, 3, 4});
    EXPECT_EQ("W321 W1 W4 F W321 W1 W4 F", Describe(TakeWrites()));
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3, 4}), Numbers());
    EXPECT_EQ(5, Next());
    EXPECT_EQ(0, host.reconnects);
}

TEST_F(CJQuotaTest, NumberTooHighReconnectsRereadsAndDropsTheRest) {
    struct Case {
        std::vector<int32_t> packet;
        const char* message;
    };
    const Case cases[] = {
        {{5, 3, 4}, "收到错误的成交序号 5，期望收到的成交序号为 3，小站将重新连接服务器"},
        // Compared unsigned: a negative number is beyond every expected one.
        {{-1, 3}, "收到错误的成交序号 -1，期望收到的成交序号为 3，小站将重新连接服务器"},
    };
    ThreeRecords();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        log.clear();
        const int reconnects = host.reconnects;
        Watch();
        Send(c.packet);
        EXPECT_EQ(1, log.count(c.message, "TyQuotaHandler", velk::LevelError));
        EXPECT_EQ(reconnects + 1, host.reconnects);
        bool reread = false;
        for (const decltest::FileEvent& e : events)
            reread |= e.op == platform::FileOp::Read && e.bytes == 3 * 321;
        EXPECT_TRUE(reread) << "the position is read again from the file";
        EXPECT_EQ(3, Next());
        EXPECT_EQ((std::vector<int32_t>{0, 1, 2}), Numbers()) << "the rest of the packet dropped";
    }
}

TEST_F(CJQuotaTest, VerifyCountsUpToTheFirstGap) {
    MakeFile({0, 1, 7, 3});
    ASSERT_EQ(0, Open());
    EXPECT_EQ(2, Next());
    EXPECT_EQ(
        1, log.count(
               "非公开成交信息成交序号不连续（发生在第 2 条记录），请重启小站，删掉NQFGKCJXX.DBF！",
               "CJQuota", velk::LevelError));
    EXPECT_EQ(2, quota->verify());

    // A long journal is read 5000 records at a time.
    std::vector<int32_t> numbers;
    for (int i = 0; i <= 10500; ++i) numbers.push_back(i);
    MakeFile(numbers);
    Reset();
    Watch();
    ASSERT_EQ(0, Open());
    std::vector<size_t> reads;
    for (const decltest::FileEvent& e : events)
        if (e.op == platform::FileOp::Read && e.bytes >= 1000) reads.push_back(e.bytes);
    EXPECT_EQ((std::vector<size_t>{5000 * 321, 5000 * 321, 501 * 321}), reads);
    EXPECT_EQ(10501, Next());
}

TEST_F(CJQuotaTest, OpenChecksTheSpecialRecordOnlyWhenTradesVerify) {
    // Record 0 is trade 0 but not the special record's code.
    MakeFile({0, 1});
    {
        CDbf t(QuoteSchema(kNqfgkcjxx));
        ASSERT_EQ(0, t.OpenDB(Path("NQFGKCJXX.DBF")));
        ASSERT_EQ(0, t.UpdateField(0, 1, "430001", 6));
        t.Close();
    }
    EXPECT_EQ(-1, Open());
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_EQ(" DBF 库 " + Path("NQFGKCJXX.DBF") + " 特殊记录格式出错，特殊记录格式与规范不符！",
              ui.boxes[0].text);

    // Nothing verified: no check.
    MakeFile({4, 5});
    Reset();
    EXPECT_EQ(0, Open());
    EXPECT_EQ(0, Next());
    EXPECT_EQ(1u, ui.boxes.size());

    Reset();
    EXPECT_EQ(-1, quota->open(Table(), Path("missing/NQFGKCJXX.DBF")));
    EXPECT_EQ(1, log.count("打开非公开成交信息库" + Path("missing/NQFGKCJXX.DBF") + "失败",
                           "TyQuotaHandler", velk::LevelError));
}

TEST_F(CJQuotaTest, SpecialRecordIsRewrittenInPlaceWithItsTimeGuarded) {
    ThreeRecords();
    Watch();
    quota->onPacket(*TradePacket({Trade(0, "103005")}));
    EXPECT_EQ("W321 F", Describe(TakeWrites()));
    EXPECT_EQ("103005", decltest::Field(kNqfgkcjxx, kFgkcjsj, Records()[0]));

    quota->onPacket(*TradePacket({Trade(0, "102959"), Trade(3)}));
    EXPECT_EQ(1, log.count("非公开成交信息时间从 102959 设为 103005 ！", "TyQuotaHandler",
                           velk::LevelInfo));
    EXPECT_EQ("103005", decltest::Field(kNqfgkcjxx, kFgkcjsj, Records()[0]));
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3}), Numbers());
    EXPECT_EQ(103005, times.get(kNqfgkcjxx));
}

TEST_F(CJQuotaTest, FailedAppendReconnectsAndTheTradeComesAgain) {
    ThreeRecords();
    faults.add({platform::FileOp::Write, 0, 1000, platform::FileCause::Other, 5, "NQFGKCJXX"});
    Send({3});
    EXPECT_EQ(1, log.count("写非公开成交信息出错，小站将重新连接服务器", "TyQuotaHandler",
                           velk::LevelError));
    EXPECT_EQ(1, host.reconnects);
    EXPECT_EQ(3, Next()) << "re-read from the file";
    platform::faults::ClearFileFaults();

    Send({3, 4});
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3, 4}), Numbers());
    EXPECT_EQ(5, Next());
    EXPECT_EQ(1, host.reconnects);

    // A failure in the middle of a packet: the following trade is then
    // beyond the re-read position and ends the packet.
    faults.add({platform::FileOp::Write, 0, 1000, platform::FileCause::Other, 5, "NQFGKCJXX"});
    Send({5, 6});
    platform::faults::ClearFileFaults();
    EXPECT_EQ(3, host.reconnects);
    EXPECT_EQ(1, log.count("收到错误的成交序号 6，期望收到的成交序号为 5"));
    EXPECT_EQ(5, Next());
    EXPECT_EQ(5u, Records().size());
}

TEST_F(CJQuotaTest, UnreadableTableNeverTakesTheSpecialRecordAsNew) {
    ThreeRecords();
    // The table lost its file (share gone) and cannot be opened for a while.
    Table().ClearStatus();
    faults.add({platform::FileOp::Open, 0, 1000, platform::FileCause::NetworkLost, 0, "NQFGKCJXX"});
    Send({0});
    EXPECT_EQ(1, log.count("写成交库特殊记录失败，小站将重新连接服务器", "TyQuotaHandler",
                           velk::LevelError));
    EXPECT_EQ(1, log.count("读取非公开成交信息库失败，请检查NQFGKCJXX.DBF，并重启小站！", "CJQuota",
                           velk::LevelError));
    EXPECT_EQ(1, host.reconnects);
    EXPECT_EQ(0, Next());
    platform::faults::ClearFileFaults();

    // The master station resends from 0; the special record is not appended
    // after the trades, the position is read again instead.
    // Trade 3 of the same packet is then the one expected.
    Send({0, 1, 2, 3});
    EXPECT_EQ(2, host.reconnects);
    EXPECT_EQ(1, log.count("写非公开成交信息出错"));
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3}), Numbers());
    EXPECT_EQ(4, Next());
}

TEST_F(CJQuotaTest, EntriesFollowTheBytesPresent) {
    ThreeRecords();
    Packet::Ptr full = TradePacket({Trade(3), Trade(4)});
    Packet::Ptr cut = Packet::Create(307 + 100);
    std::memcpy(cut->data(), full->data(), cut->capacity());
    cut->setOrigLen(2 * 307);  // claims two, holds one and a part
    quota->onPacket(*cut);
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3}), Numbers());
    EXPECT_EQ(4, Next());
}

TEST_F(CJQuotaTest, RestartContinuesWithoutDuplicates) {
    ThreeRecords();
    Send({3});
    Table().Close();
    Reset();
    context.setTableCount(kNqfgkcjxx, 0);
    ASSERT_EQ(0, Open());
    EXPECT_EQ(4, Next());
    Send({0, 1, 2, 3, 4, 5});
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3, 4, 5}), Numbers());
    EXPECT_EQ(0, host.reconnects);
}

}  // namespace

// The declaration tables through their rounds: what reaches the file, when,
// and with which writes; the drop rules; recovery after a failed commit; the
// file read back at start-up.
#include "quotes/DetailedQuota.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "quotes/DeclarationTestSupport.h"
#include "quotes/NumberFormat.h"

namespace {

using decltest::Entry;
using decltest::FgksbxxSpecial;
using decltest::Xyxx;
using decltest::XyxxSpecial;
using XE = Entry<NQXYXX_OrderRec_t>;
using FE = Entry<NQFGKSBXX_OrderRec_t>;

constexpr int16_t kBase = 0;
constexpr int16_t kDelta = 1;
constexpr int kXyjlzt = 7;  // status field of NQXYXX.DBF
constexpr int kXywtsj = 6;  // time field

int64_t Key(int32_t code, int32_t number) {
    return int64_t(code) * (int64_t{1} << 32) + number;
}

XE Special(const std::string& time = "093000") {
    return {0, 0, XyxxSpecial(time)};
}
XE Decl(int32_t entryNo, const std::string& code, int32_t number, char status = '1',
        int16_t operation = 0, int64_t quantity = 1000) {
    return {entryNo, operation, Xyxx(code, number, status, quantity)};
}

class DetailedQuotaTest : public decltest::TableFixture {
  protected:
    DetailedQuotaTest() { Reset(); }

    // A fresh table state, as after a start of the station.
    void Reset() {
        quota = std::make_unique<DetailedQuota>(kNqxyxx, context, [this] { return Stop(); });
    }
    int Open() { return quota->open(table, Path("NQXYXX.DBF")); }
    void Send(int16_t mode, int32_t round, int32_t delta, int32_t total,
              const std::vector<XE>& entries) {
        quota->onPacket(*decltest::DeclarationPacket<NQXYXX_OrderRec_t>(23, mode, round, delta,
                                                                        total, entries));
    }
    std::vector<std::string> Records() { return decltest::FileRecords(Path("NQXYXX.DBF")); }
    std::string Status(int recordNo) {
        std::vector<std::string> r = Records();
        if (recordNo >= int(r.size())) return "missing";
        return decltest::Field(kNqxyxx, kXyjlzt, r[recordNo]);
    }
    // Base round 1: the special record and declarations A (430001/1) and
    // B (430002/2), both active; committed as records 0, 1, 2.
    void BaseRoundOne() {
        ASSERT_EQ(0, Open());
        Send(kBase, 1, 0, 3, {Special(), Decl(1, "430001", 1), Decl(2, "430002", 2)});
        ASSERT_EQ(3u, Records().size());
    }
    bool Stop() { return stopHook ? stopHook() : false; }

    int32_t Count() const { return context.tableCount(kNqxyxx); }

    decltest::RecordingHost host;
    QuoteContext context{host};
    QuoteTimes& times = context.times();
    CDbf& table = host.quoteTable(kNqxyxx);
    std::unique_ptr<DetailedQuota> quota;
    std::function<bool()> stopHook;
};

TEST_F(DetailedQuotaTest, BaseRoundOverTwoPacketsIsAppendedOnceComplete) {
    ASSERT_EQ(0, Open());
    EXPECT_EQ(0, Count());
    EXPECT_EQ(kNqxyxx, quota->tableId());
    Watch();

    Send(kBase, 1, 0, 3, {Special("093000"), Decl(1, "430001", 1)});
    EXPECT_EQ("", Describe(TakeWrites())) << "nothing is written before the part is complete";
    EXPECT_TRUE(Records().empty());
    EXPECT_FALSE(quota->partDone());

    Send(kBase, 1, 0, 3, {Decl(2, "430002", 2)});
    // One append of the three images (records, end mark, count), then a flush.
    EXPECT_EQ("W156 W1 W4 F", Describe(TakeWrites()));
    std::vector<std::string> records = Records();
    ASSERT_EQ(3u, records.size());
    EXPECT_TRUE(IsSpecial(kNqxyxx, records[0]));
    EXPECT_EQ(records[1], quota->imageOf(Key(430001, 1)));
    EXPECT_EQ(records[2], quota->imageOf(Key(430002, 2)));
    EXPECT_EQ(3, Count()) << "two active declarations and the special record";
    EXPECT_TRUE(quota->partDone());
    EXPECT_EQ(0, quota->received());
    EXPECT_EQ(1, log.count("接收到第(round=1,delta=0)轮行情最后一个报文", "TyQuotaHandler",
                           velk::LevelDebug));
    EXPECT_EQ(93000, times.get(kNqxyxx));
}

TEST_F(DetailedQuotaTest, CountLeavesOutWithdrawnDeclarations) {
    ASSERT_EQ(0, Open());
    Send(kBase, 1, 0, 3, {Special(), Decl(1, "430001", 1, '1'), Decl(2, "430002", 2, '0')});
    EXPECT_EQ(3u, Records().size());
    EXPECT_EQ(2, Count());
}

TEST_F(DetailedQuotaTest, DropRulesForDeltasAndRepeatedPackets) {
    ASSERT_EQ(0, Open());
    // Without any base round a delta is dropped without a word.
    Send(kDelta, 1, 1, 1, {Decl(1, "430001", 1)});
    EXPECT_EQ(0, log.count("未收到增量行情的基轮行情"));
    EXPECT_EQ(0u, quota->knownCount());

    Send(kBase, 1, 0, 3, {Special(), Decl(1, "430001", 1), Decl(2, "430002", 2)});
    Watch();

    // A delta of round 2 while round 1 is current.
    Send(kDelta, 2, 1, 1, {Decl(1, "430001", 1, '1', 0, 7)});
    EXPECT_EQ(1,
              log.count("未收到增量行情的基轮行情，直接丢弃增量行情包(mode= 1,round= 2, delta= 1",
                        "TyQuotaHandler", velk::LevelWarn));
    EXPECT_EQ(1, quota->curRound());

    // The base round's packet again, after its part was committed.
    Send(kBase, 1, 0, 3, {Special(), Decl(1, "430001", 1, '1', 0, 7), Decl(2, "430002", 2)});
    EXPECT_EQ(1, log.count("该轮行情已经处理完毕，直接丢弃此包(mode= 0,round= 1, delta= 0",
                           "TyQuotaHandler", velk::LevelWarn));

    // A complete delta, then the same delta packet again.
    Send(kDelta, 1, 1, 1, {Decl(1, "430002", 2, '1', 0, 9)});
    TakeWrites();
    Send(kDelta, 1, 1, 1, {Decl(1, "430002", 2, '1', 0, 11)});
    EXPECT_EQ(1, log.count("该轮行情已经处理完毕，直接丢弃此包(mode= 1,round= 1, delta= 1"));
    EXPECT_EQ("", Describe(TakeWrites()));
    EXPECT_NE(std::string::npos, quota->imageOf(Key(430002, 2)).find("           9"))
        << "the repeated delta changed nothing";
    EXPECT_NE(std::string::npos, quota->imageOf(Key(430001, 1)).find("        1000"));
}

TEST_F(DetailedQuotaTest, TableNeverOpenedTakesNoPacket) {
    Send(kBase, 1, 0, 1, {Special()});
    Send(kBase, 2, 0, 1, {Special()});
    EXPECT_EQ(1, log.count("NQXYXX.DBF 未打开，不处理其数据包", "TyQuotaHandler", velk::LevelWarn));
    EXPECT_EQ(0u, quota->knownCount());
    EXPECT_EQ(-1, quota->curRound());
    EXPECT_EQ(0, log.count("尝试恢复DBF库"));
}

TEST_F(DetailedQuotaTest, DeclarationMissingFromTheNextBaseRoundHasOnlyItsStatusWritten) {
    BaseRoundOne();
    const std::string before = Records()[2];
    Watch();
    Send(kBase, 2, 0, 2, {Special(), Decl(1, "430001", 1)});
    // A resent unchanged: nothing; B missing: one byte.
    EXPECT_EQ("W1 F", Describe(TakeWrites()));
    std::string expected = before;
    expected[50] = '0';
    EXPECT_EQ(expected, Records()[2]);
    EXPECT_EQ("1", Status(1));
    EXPECT_EQ(2, Count());
    EXPECT_FALSE(quota->isActive(Key(430002, 2)));

    // Round 3 brings B back and changes A: both whole records are rewritten.
    Send(kBase, 3, 0, 3, {Special(), Decl(1, "430001", 1, '1', 0, 5), Decl(2, "430002", 2)});
    EXPECT_EQ("W52 W52 F", Describe(TakeWrites()));
    EXPECT_EQ(before, Records()[2]);
    EXPECT_EQ(Records()[1], quota->imageOf(Key(430001, 1)));
    EXPECT_EQ(3, Count());
}

TEST_F(DetailedQuotaTest, DeltaEntriesTakeTheirStatusFromTheOperation) {
    BaseRoundOne();
    Watch();
    // Operation 2 withdraws A even though its record says "1"; C is new.
    Send(kDelta, 1, 1, 2, {Decl(1, "430001", 1, '1', 2), Decl(2, "430003", 3, '0', 0)});
    EXPECT_EQ("W52 W52 W1 W4 F", Describe(TakeWrites()));
    ASSERT_EQ(4u, Records().size());
    EXPECT_EQ("0", Status(1));
    EXPECT_EQ("1", Status(3)) << "operation other than 2 makes the declaration active";
    EXPECT_FALSE(quota->isActive(Key(430001, 1)));
    EXPECT_EQ(3, Count()) << "B, C and the special record";
}

TEST_F(DetailedQuotaTest, UnchangedResendInADeltaWritesNothing) {
    BaseRoundOne();
    const std::string file = testsupport::ReadFile(Path("NQXYXX.DBF"));
    Watch();
    Send(kDelta, 1, 1, 2, {Decl(1, "430001", 1), Decl(2, "430002", 2)});
    for (const decltest::FileEvent& e : TakeWrites())
        EXPECT_NE(platform::FileOp::Write, e.op) << e.bytes;
    EXPECT_EQ(file, testsupport::ReadFile(Path("NQXYXX.DBF")));
    EXPECT_TRUE(quota->partDone());
}

TEST_F(DetailedQuotaTest, NewDeltaCommitsTheIncompletePreviousOneFirst) {
    BaseRoundOne();
    Watch();
    Send(kDelta, 1, 1, 2, {Decl(1, "430001", 1, '1', 0, 5)});  // one of two entries
    EXPECT_EQ("", Describe(TakeWrites()));
    Send(kDelta, 1, 2, 1, {Decl(1, "430002", 2, '1', 0, 6)});
    // Delta 1 as it stands, then delta 2 complete.
    EXPECT_EQ("W52 F W52 F", Describe(TakeWrites()));
    EXPECT_EQ(Records()[1], quota->imageOf(Key(430001, 1)));
    EXPECT_EQ(Records()[2], quota->imageOf(Key(430002, 2)));
    EXPECT_EQ(2, quota->curDelta());
    EXPECT_TRUE(quota->partDone());

    // The same for a base round that ends an incomplete delta.
    Send(kDelta, 1, 3, 5, {Decl(1, "430001", 1, '1', 0, 8)});
    EXPECT_EQ("", Describe(TakeWrites()));
    Send(kBase, 2, 0, 3,
         {Special(), Decl(1, "430001", 1, '1', 0, 8), Decl(2, "430002", 2, '1', 0, 6)});
    EXPECT_EQ("W52 F F", Describe(TakeWrites()));
    EXPECT_EQ(2, quota->curRound());
}

TEST_F(DetailedQuotaTest, RecordsBeforeTheFirstSpecialRecordAreIgnored) {
    ASSERT_EQ(0, Open());
    Send(kBase, 1, 0, 4,
         {Decl(1, "430001", 1), Special(), Decl(2, "430002", 2), Decl(3, "430003", 3)});
    std::vector<std::string> records = Records();
    ASSERT_EQ(3u, records.size()) << "the part is complete, A is not in it";
    EXPECT_TRUE(IsSpecial(kNqxyxx, records[0]));
    EXPECT_EQ(-1, quota->recordNoOf(Key(430001, 1)));
    EXPECT_EQ(1, quota->recordNoOf(Key(430002, 2)));
    // A comes in the next round and takes the next record.
    Send(kBase, 2, 0, 4,
         {Special(), Decl(1, "430001", 1), Decl(2, "430002", 2), Decl(3, "430003", 3)});
    EXPECT_EQ(3, quota->recordNoOf(Key(430001, 1)));
    EXPECT_EQ(4u, Records().size());
}

TEST_F(DetailedQuotaTest, SpecialRecordIsRewrittenInPlaceAndItsTimeNeverGoesBack) {
    BaseRoundOne();
    Watch();
    Send(kBase, 2, 0, 3, {Special("093005"), Decl(1, "430001", 1), Decl(2, "430002", 2)});
    EXPECT_EQ("W52 F", Describe(TakeWrites()));
    EXPECT_EQ("093005", decltest::Field(kNqxyxx, kXywtsj, Records()[0]));

    Send(kBase, 3, 0, 3, {Special("093000"), Decl(1, "430001", 1), Decl(2, "430002", 2)});
    EXPECT_EQ(
        1, log.count("协议申报信息时间从 93000 设为 93005 ！", "TyQuotaHandler", velk::LevelInfo));
    EXPECT_EQ(" 93005", decltest::Field(kNqxyxx, kXywtsj, Records()[0]));
    EXPECT_EQ(93005, times.get(kNqxyxx));
    EXPECT_EQ(3u, Records().size());
}

TEST_F(DetailedQuotaTest, ShortPayloadsAndEntryCountsFollowTheBytesPresent) {
    ASSERT_EQ(0, Open());
    Send(kBase, 1, 0, 3, {Special(), Decl(1, "430001", 1), Decl(2, "430002", 2)});
    Watch();

    Packet::Ptr runt = Packet::Create(17);
    runt->setType(23);
    runt->setOrigLen(17);
    quota->onPacket(*runt);
    EXPECT_EQ(1, log.count("收到的NQXYXX.DBF数据包长度(17)不足包头的18字节，直接丢弃此包",
                           "TyQuotaHandler", velk::LevelWarn));

    // The header claims two entries and a half; the packet holds one and a
    // half. One entry is taken, the part stays open.
    Packet::Ptr p = decltest::DeclarationPacket<NQXYXX_OrderRec_t>(
        23, kDelta, 1, 1, 2, {Decl(1, "430003", 3), Decl(2, "430004", 4)});
    Packet::Ptr cut = Packet::Create(18 + 44 + 22);
    std::memcpy(cut->data(), p->data(), cut->capacity());
    cut->setOrigLen(uint16_t(18 + 2 * 44 + 22));
    quota->onPacket(*cut);
    EXPECT_EQ(1, quota->received());
    EXPECT_EQ(3, quota->recordNoOf(Key(430003, 3)));
    EXPECT_EQ(-1, quota->recordNoOf(Key(430004, 4)));
    EXPECT_EQ("", Describe(TakeWrites()));
}

TEST_F(DetailedQuotaTest, FailedCommitRecoversFromTheFileAndTheNextBaseRoundRestores) {
    BaseRoundOne();
    const std::string file = testsupport::ReadFile(Path("NQXYXX.DBF"));
    // Every write to the table fails: the change of A and the new C are lost.
    faults.add({platform::FileOp::Write, 0, 1000, platform::FileCause::Other, 5, "NQXYXX"});
    Send(kDelta, 1, 1, 2, {Decl(1, "430001", 1, '1', 0, 5), Decl(2, "430003", 3)});
    EXPECT_EQ(1, log.count("写(round = 1,delta = 1)轮行情失败(错误码：5)，尝试恢复DBF库",
                           "TyQuotaHandler", velk::LevelError))
        << log.dump();
    EXPECT_EQ(
        1, log.count("尝试恢复DBF库成功，继续处理下一轮行情", "TyQuotaHandler", velk::LevelInfo));
    platform::faults::ClearFileFaults();
    EXPECT_EQ(file, testsupport::ReadFile(Path("NQXYXX.DBF")));
    // Memory is the file again.
    EXPECT_EQ(Records()[1], quota->imageOf(Key(430001, 1)));
    EXPECT_EQ(-1, quota->recordNoOf(Key(430003, 3)));
    EXPECT_EQ(0u, quota->pendingCount());
    EXPECT_EQ(0u, quota->changedCount());
    EXPECT_EQ(3, Count());
    EXPECT_TRUE(quota->partDone()) << "the part is over; its repeats are dropped";

    Send(kBase, 2, 0, 4,
         {Special(), Decl(1, "430001", 1, '1', 0, 5), Decl(2, "430002", 2), Decl(3, "430003", 3)});
    std::vector<std::string> records = Records();
    ASSERT_EQ(4u, records.size());
    EXPECT_EQ(records[1], quota->imageOf(Key(430001, 1)));
    EXPECT_EQ(records[3], quota->imageOf(Key(430003, 3)));
    EXPECT_EQ(4, Count());
}

TEST_F(DetailedQuotaTest, RecoveryRetriesOnceASecondUntilTheTableOpens) {
    BaseRoundOne();
    faults.add({platform::FileOp::Write, 0, 1000, platform::FileCause::Other, 5, "NQXYXX"});
    // Once the commit has failed, the table cannot be reopened three times.
    bool installed = false;
    stopHook = [&] {
        if (!installed) {
            installed = true;
            faults.add(
                {platform::FileOp::Open, 0, 3, platform::FileCause::AccessDenied, 13, "NQXYXX"});
        }
        return false;
    };
    const uint64_t sleptBefore = clock.totalSlept();
    Send(kDelta, 1, 1, 1, {Decl(1, "430003", 3)});
    EXPECT_EQ(3, log.count("尝试恢复DBF库失败(错误码：-1)，等待1秒后继续尝试恢复", "TyQuotaHandler",
                           velk::LevelError))
        << log.dump();
    EXPECT_EQ(1, log.count("尝试恢复DBF库成功"));
    const uint64_t slept = clock.totalSlept() - sleptBefore;
    // Three pauses of a second, plus the table's own short retry pauses.
    EXPECT_GE(slept, 3000u);
    EXPECT_LT(slept, 4000u);
    EXPECT_EQ(3u, quota->knownCount());
}

TEST_F(DetailedQuotaTest, StopEndsTheRecoveryLoopAndTheNextPacketRecoversFirst) {
    BaseRoundOne();
    faults.add({platform::FileOp::Write, 0, 1000, platform::FileCause::Other, 5, "NQXYXX"});
    faults.add(
        {platform::FileOp::Open, 0, 100000, platform::FileCause::AccessDenied, 13, "NQXYXX"});
    bool stop = false;
    stopHook = [&] {
        if (log.count("尝试恢复DBF库失败") >= 2) stop = true;
        return stop;
    };
    Send(kDelta, 1, 1, 1, {Decl(1, "430003", 3)});
    EXPECT_EQ(2, log.count("尝试恢复DBF库失败"));
    EXPECT_EQ(0, log.count("尝试恢复DBF库成功"));
    EXPECT_EQ(0u, quota->knownCount());

    // While stopped nothing is taken in.
    Send(kDelta, 1, 2, 1, {Decl(1, "430004", 4)});
    EXPECT_EQ(0u, quota->knownCount());

    // Started again with the table reachable: the state is rebuilt from the
    // file before the packet is looked at.
    platform::faults::ClearFileFaults();
    stop = false;
    stopHook = nullptr;
    Send(kDelta, 1, 3, 1, {Decl(1, "430005", 5)});
    EXPECT_EQ(1, log.count("尝试恢复DBF库成功"));
    ASSERT_EQ(4u, Records().size());
    EXPECT_EQ(3, quota->recordNoOf(Key(430005, 5)));
}

TEST_F(DetailedQuotaTest, FileChangedBehindOurBackIsReloadedInsteadOfMisnumbered) {
    BaseRoundOne();
    {
        // Another writer appends a record the station does not know of.
        CDbf other(QuoteSchema(kNqxyxx));
        ASSERT_EQ(0, other.OpenDB(Path("NQXYXX.DBF")));
        std::string image = FormatRecord(Xyxx("430009", 9));
        ASSERT_EQ(0, other.AppendRecord(image.data(), 1));
        other.Close();
    }
    Send(kDelta, 1, 1, 1, {Decl(1, "430003", 3)});
    EXPECT_EQ(1, log.count("的记录数(4)与小站已知的记录数(3)不符，新申报无法追加")) << log.dump();
    EXPECT_EQ(1, log.count("尝试恢复DBF库成功"));
    EXPECT_EQ(3, quota->recordNoOf(Key(430009, 9)));

    Send(kBase, 2, 0, 4,
         {Special(), Decl(1, "430001", 1), Decl(2, "430002", 2), Decl(3, "430003", 3)});
    std::vector<std::string> records = Records();
    ASSERT_EQ(5u, records.size());
    EXPECT_EQ(records[4], quota->imageOf(Key(430003, 3)));
    EXPECT_EQ("0", Status(3)) << "the unknown declaration is not in the base round";
}

// --- opening and loading -------------------------------------------------------

class DetailedQuotaFileTest : public DetailedQuotaTest {
  protected:
    // Writes a table file holding these records.
    void MakeFile(const std::vector<NQXYXX_OrderRec_t>& recs) {
        CDbf maker(QuoteSchema(kNqxyxx));
        ASSERT_EQ(0, maker.CreatDB(Path("NQXYXX.DBF")));
        std::string images;
        for (const NQXYXX_OrderRec_t& r : recs) images += FormatRecord(r);
        if (!recs.empty()) {
            ASSERT_EQ(0, maker.AppendRecord(images.data(), uint32_t(recs.size())));
        }
        maker.Close();
    }
};

TEST_F(DetailedQuotaFileTest, LoadReadsBlocksOf5000AndNumbersRecordsByPosition) {
    std::vector<NQXYXX_OrderRec_t> recs = {XyxxSpecial()};
    for (int i = 1; i <= 12000; ++i)
        recs.push_back(Xyxx("43" + std::to_string(1000 + i % 7), i, i % 3 ? '1' : '0'));
    MakeFile(recs);
    Watch();
    ASSERT_EQ(0, Open());
    std::vector<size_t> reads;
    for (const decltest::FileEvent& e : events)
        if (e.op == platform::FileOp::Read && e.bytes >= 1000) reads.push_back(e.bytes);
    EXPECT_EQ((std::vector<size_t>{260000, 260000, 2001 * 52}), reads);
    EXPECT_EQ(12001u, quota->knownCount());
    EXPECT_EQ(12000, quota->recordNoOf(Key(431000 + 12000 % 7, 12000)));
    EXPECT_EQ(1, quota->recordNoOf(Key(431001, 1)));
    EXPECT_TRUE(quota->specialInFile());
    EXPECT_FALSE(quota->specialSeen());
    EXPECT_EQ(8000 + 1, Count());
}

TEST_F(DetailedQuotaFileTest, DuplicateKeysInTheFileKeepLaterRecordNumbersRight) {
    // A (430001/1) twice; C after the duplicate is record 4.
    MakeFile({XyxxSpecial(), Xyxx("430001", 1, '1'), Xyxx("430002", 2, '1'),
              Xyxx("430001", 1, '0', 7), Xyxx("430003", 3, '1')});
    ASSERT_EQ(0, Open());
    EXPECT_EQ(1, log.count("中有 1 条记录与其后的记录关键字重复，以后面的记录为准",
                           "TyQuotaHandler", velk::LevelWarn));
    EXPECT_EQ(3, quota->recordNoOf(Key(430001, 1)));
    EXPECT_EQ(4, quota->recordNoOf(Key(430003, 3)));
    EXPECT_FALSE(quota->isActive(Key(430001, 1))) << "the later record says withdrawn";
    EXPECT_EQ(3, Count());

    Send(kBase, 1, 0, 4,
         {Special(), Decl(1, "430002", 2), Decl(2, "430003", 3, '1', 0, 44), Decl(3, "430004", 4)});
    std::vector<std::string> records = Records();
    ASSERT_EQ(6u, records.size());
    EXPECT_EQ(records[4], quota->imageOf(Key(430003, 3))) << "C rewritten where it lies";
    EXPECT_EQ(records[5], quota->imageOf(Key(430004, 4))) << "D appended as record 5";
    EXPECT_EQ(FormatRecord(Xyxx("430001", 1, '0', 7)), records[3]);
}

TEST_F(DetailedQuotaFileTest, OpenRefusesWrongSpecialRecordsAndForeignLayouts) {
    // Record 0 is an ordinary declaration.
    MakeFile({Xyxx("430001", 1)});
    EXPECT_EQ(-1, Open());
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_EQ(" DBF 库 " + Path("NQXYXX.DBF") + " 特殊记录格式出错，特殊记录格式与规范不符！",
              ui.boxes[0].text);
    EXPECT_EQ("错误", ui.boxes[0].title);

    // An empty file passes.
    MakeFile({});
    Reset();
    EXPECT_EQ(0, Open());
    EXPECT_EQ(1u, ui.boxes.size());

    // The same fields in another order: the file opens, but our images would
    // garble it.
    DbfSchema reversed(QuoteSchema(kNqxyxx).rbegin(), QuoteSchema(kNqxyxx).rend());
    CDbf maker(reversed);
    ASSERT_EQ(0, maker.CreatDB(Path("NQXYXX.DBF")));
    maker.Close();
    Reset();
    EXPECT_EQ(-1, Open());
    EXPECT_EQ(1, log.count("导入协议转让投资者申报信息库" + Path("NQXYXX.DBF") + "失败",
                           "TyQuotaHandler", velk::LevelError));

    // No file can be made where the directory is missing.
    Reset();
    EXPECT_EQ(-1, quota->open(table, Path("missing/NQXYXX.DBF")));
    EXPECT_EQ(1, log.count("打开协议转让投资者申报信息库" + Path("missing/NQXYXX.DBF") + "失败",
                           "TyQuotaHandler", velk::LevelError));
}

TEST_F(DetailedQuotaFileTest, RestartContinuesWithoutDuplicates) {
    BaseRoundOne();
    Send(kDelta, 1, 1, 1, {Decl(1, "430003", 3)});
    ASSERT_EQ(4u, Records().size());
    table.Close();

    Reset();
    ASSERT_EQ(0, Open());
    EXPECT_EQ(4, Count());
    EXPECT_EQ(-1, quota->curRound());
    // Deltas wait for a base round; the base round resends what is in force.
    Send(kDelta, 1, 2, 1, {Decl(1, "430004", 4)});
    EXPECT_EQ(-1, quota->recordNoOf(Key(430004, 4)));
    Watch();
    Send(kBase, 2, 0, 4,
         {Special(), Decl(1, "430001", 1), Decl(2, "430002", 2), Decl(3, "430003", 3)});
    EXPECT_EQ("F", Describe(TakeWrites())) << "everything is already in the file";
    Send(kDelta, 2, 1, 1, {Decl(1, "430004", 4)});
    ASSERT_EQ(5u, Records().size());
    EXPECT_EQ(4, quota->recordNoOf(Key(430004, 4)));
    EXPECT_EQ(5, Count());
}

// An independent DBF reader sees the declarations with their values.
TEST_F(DetailedQuotaFileTest, IndependentReaderSeesTheDeclarations) {
    BaseRoundOne();
    Send(kDelta, 1, 1, 2, {Decl(1, "430001", 1, '1', 2), Decl(2, "430003", 3, '1', 0, 123456)});
    const std::string script = Path("read.py");
    testsupport::WriteFile(
        script,
        "import sys\n"
        "from dbfread import DBF\n"
        "for r in DBF(sys.argv[1], encoding='latin-1', char_decode_errors='strict'):\n"
        "    print('%s|%s|%s|%s|%s' % (r['XYZQDM'], r['XYYDH'], r['XYWTSL'],"
        " r['XYJLZT'], r['XYWTSJ']))\n");
    const std::string command = "/usr/bin/python3 " + script + " " + Path("NQXYXX.DBF") + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::string out;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
    ASSERT_EQ(0, pclose(pipe)) << out;
    EXPECT_EQ(
        "000000|0|0||093000\n"
        "430001|1|1000|0|093000\n"
        "430002|2|1000|1|093000\n"
        "430003|3|123456|1|093000\n",
        out);
}

// --- the non-public declarations ---------------------------------------------------

class FgksbxxQuotaTest : public decltest::TableFixture {
  protected:
    FgksbxxQuotaTest() : quota(kNqfgksbxx, context) {}
    void Send(int16_t mode, int32_t round, int32_t delta, int32_t total,
              const std::vector<FE>& entries) {
        quota.onPacket(*decltest::DeclarationPacket<NQFGKSBXX_OrderRec_t>(26, mode, round, delta,
                                                                          total, entries));
    }
    static FE Decl(int32_t entryNo, int32_t number, char status = '1', int16_t op = 0) {
        return {entryNo, op, decltest::Fgksbxx("830001", number, status)};
    }
    std::vector<std::string> Records() { return decltest::FileRecords(Path("NQFGKSBXX.DBF")); }

    int32_t Count() const { return context.tableCount(kNqfgksbxx); }

    decltest::RecordingHost host;
    QuoteContext context{host};
    QuoteTimes& times = context.times();
    CDbf& table = host.quoteTable(kNqfgksbxx);
    DetailedQuota quota;
};

TEST_F(FgksbxxQuotaTest, KeyStatusFieldTimeAndTextsAreItsOwn) {
    ASSERT_EQ(0, quota.open(table, Path("NQFGKSBXX.DBF")));
    EXPECT_EQ(kNqfgksbxx, quota.tableId());
    Send(kBase, 5, 0, 3, {{0, 0, FgksbxxSpecial("100001")}, Decl(1, 11), Decl(2, 12)});
    ASSERT_EQ(3u, Records().size());
    EXPECT_EQ(3, Count());
    EXPECT_EQ(100001, times.get(kNqfgksbxx));
    EXPECT_EQ(1, quota.recordNoOf(11)) << "the key is FGKYDH alone";
    EXPECT_EQ(1, log.count("接收到第(round=5,delta=0)轮非公开申报信息最后一个报文"));

    Send(kBase, 5, 0, 3, {{0, 0, FgksbxxSpecial("100001")}, Decl(1, 11), Decl(2, 12)});
    EXPECT_EQ(1,
              log.count("该轮非公开申报信息已经处理完毕，直接丢弃此包(mode= 0,round= 5, delta= 0"));

    Watch();
    Send(kBase, 6, 0, 2, {{0, 0, FgksbxxSpecial("095959")}, Decl(1, 12)});
    // The special record's corrected time is the one it has: only 11's status.
    EXPECT_EQ("W1 F", Describe(TakeWrites()));
    EXPECT_EQ(1, log.count("非公开申报信息时间从 95959 设为 100001 ！"));
    std::vector<std::string> records = Records();
    EXPECT_EQ("0", decltest::Field(kNqfgksbxx, 8, records[1]));
    EXPECT_EQ("1", decltest::Field(kNqfgksbxx, 8, records[2]));
    EXPECT_EQ(2, Count());

    // A delta withdrawal through the operation.
    Send(kDelta, 6, 1, 1, {Decl(1, 12, '1', 2)});
    EXPECT_EQ("0", decltest::Field(kNqfgksbxx, 8, Records()[2]));
    EXPECT_EQ(1, Count());
}

}  // namespace

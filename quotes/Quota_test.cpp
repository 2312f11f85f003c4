// The snapshot tables as trading systems see them: which records reach the
// file when, in what blocks, with which count, and the copies kept beside
// the table; driven by packets built as the master station sends them.
#include "quotes/Quota.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/UiHost.h"
#include "quotes/QuoteTestSupport.h"
#include "runtime/RunParams.h"
#include "tests/support/TestSupport.h"

namespace {

using platform::FileOp;
using quotetest::FileOps;
using quotetest::HqSpecial;
using quotetest::MakePacket;
using quotetest::ReadTable;
using quotetest::Security;
using quotetest::SnapshotPayload;

constexpr size_t kHq = 356;  // NQHQ.DBF record length
constexpr int kHqcjbs = 7;   // field index of HQCJBS

class BoxRecorder : public platform::UiHost {
  public:
    BoxRecorder() { platform::SetUiHost(this); }
    ~BoxRecorder() override { platform::SetUiHost(nullptr); }
    platform::BoxResult messageBox(const platform::MessageBoxRequest& request) override {
        boxes.push_back(request);
        return request.defaultResult;
    }
    std::vector<platform::MessageBoxRequest> boxes;
};

std::string HqImage(const SnapshotRec_t& rec, bool special) {
    std::string out(kHq, '\0');
    FormatRecord(rec, special, out.data());
    return out;
}

// The writes, table resizes, closes and opens of an operation list (reads,
// flushes and status calls left out).
std::vector<std::string> Shape(const std::vector<FileOps::Op>& ops) {
    std::vector<std::string> out;
    for (const FileOps::Op& op : ops) {
        switch (op.op) {
            case FileOp::Write:
                out.push_back("write " + std::to_string(op.bytes));
                break;
            case FileOp::SetLength:
                out.push_back("cut");
                break;
            case FileOp::Close:
                out.push_back("close");
                break;
            case FileOp::Open:
                out.push_back("open");
                break;
            default:
                break;
        }
    }
    return out;
}

using Entries = std::vector<std::pair<int32_t, SnapshotRec_t>>;

class SnapshotTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        velk::RunParams::instance().clear();
        path_ = dir_.file("NQHQ.DBF");
    }
    void TearDown() override { velk::RunParams::instance().clear(); }

    void Open() { ASSERT_EQ(hq_.open(host_.quoteTable(kNqhq), path_), 0); }

    void Send(int32_t total, const Entries& entries) {
        hq_.onPacket(*MakePacket(22, SnapshotPayload(total, entries)));
    }

    // Security r as sent in round `round`; the last sent version is kept.
    SnapshotRec_t Sec(int r, int round) {
        SnapshotRec_t rec = Security(r, 1000 * round + r);
        sent_[r] = rec;
        return rec;
    }
    SnapshotRec_t Special(int32_t time, int64_t volume = 0) {
        SnapshotRec_t rec = HqSpecial(time, volume);
        sent_[0] = rec;
        return rec;
    }

    // A whole round of `total` records: 1.. in packets of `perPacket`, the
    // special record as the last entry of the last packet.
    void Round(int32_t total, int round, int32_t time, int64_t volume = 0, int perPacket = 40) {
        Entries entries;
        for (int r = 1; r < total; ++r) {
            entries.push_back({r, Sec(r, round)});
            if (int(entries.size()) == perPacket) {
                Send(total, entries);
                entries.clear();
            }
        }
        entries.push_back({0, Special(time, volume)});
        Send(total, entries);
    }

    quotetest::TableFile File() { return ReadTable(testsupport::ReadFile(path_), kHq); }

    // The file holds exactly the records last sent, with their count.
    void ExpectFileHoldsSent(uint32_t count) {
        quotetest::TableFile file = File();
        ASSERT_EQ(file.count, count);
        ASSERT_EQ(file.records.size(), count);
        for (uint32_t r = 0; r < count; ++r) {
            EXPECT_EQ(file.records[r], HqImage(sent_[r], r == 0)) << "record " << r;
        }
    }

    static bool WholeTableWrite(const std::vector<std::string>& shape) {
        for (const std::string& s : shape) {
            if (s == "write 4") return true;  // the record count
        }
        return false;
    }

    platform::ScopedFakeClock clock_;
    testsupport::TempDir dir_;
    testsupport::CaptureAppender log_;
    quotetest::TestQuoteHost host_;
    QuoteContext context_{host_};
    Quota<SnapshotRec_t> hq_{context_};
    std::string path_;
    std::map<int, SnapshotRec_t> sent_;
};

TEST_F(SnapshotTableTest, FirstSnapshotIsWrittenWholeWhenRecordZeroArrives) {
    // One packet 1, 2, 0, and the same snapshot over three packets.
    for (bool onePacket : {true, false}) {
        SCOPED_TRACE(onePacket ? "one packet" : "three packets");
        testsupport::TempDir dir;
        quotetest::TestQuoteHost host;
        QuoteContext context(host);
        Quota<SnapshotRec_t> hq(context);
        const std::string path = dir.file("NQHQ.DBF");
        ASSERT_EQ(hq.open(host.quoteTable(kNqhq), path), 0);
        FileOps ops("NQHQ.DBF");

        const SnapshotRec_t one = Security(1, 5000), two = Security(2, 6000);
        const SnapshotRec_t zero = HqSpecial(93000);
        if (onePacket) {
            hq.onPacket(*MakePacket(
                22, SnapshotPayload<SnapshotRec_t>(3, {{1, one}, {2, two}, {0, zero}})));
        } else {
            hq.onPacket(*MakePacket(22, SnapshotPayload<SnapshotRec_t>(3, {{1, one}})));
            hq.onPacket(*MakePacket(22, SnapshotPayload<SnapshotRec_t>(3, {{2, two}})));
            EXPECT_EQ(ops.takeWrites(), std::vector<size_t>{}) << "nothing before record 0";
            EXPECT_TRUE(hq.firstRound());
            hq.onPacket(*MakePacket(22, SnapshotPayload<SnapshotRec_t>(3, {{0, zero}})));
        }
        // Records 1-2 in one block, then 0, then the count 3 (the file cut to
        // it), then the table is closed and reopened.
        EXPECT_EQ(Shape(ops.take()), (std::vector<std::string>{"write 712", "write 356", "write 4",
                                                               "cut", "close", "open"}));
        EXPECT_FALSE(hq.firstRound());
        EXPECT_EQ(context.tableCount(kNqhq), 3);
        quotetest::TableFile file = ReadTable(testsupport::ReadFile(path), kHq);
        EXPECT_EQ(file.count, 3u);
        ASSERT_EQ(file.records.size(), 3u);
        EXPECT_EQ(file.records[0], HqImage(zero, true));
        EXPECT_EQ(file.records[1], HqImage(one, false));
        EXPECT_EQ(file.records[2], HqImage(two, false));
    }
}

TEST_F(SnapshotTableTest, IndependentReaderSeesTheWrittenValues) {
    if (!quotetest::HaveDbfRead()) GTEST_SKIP() << "python3-dbfread is not installed";
    Open();
    Round(4, 1, 93000);
    Send(4, {{2, Sec(2, 7)}});
    EXPECT_EQ(quotetest::DbfReadFields(path_, "HQZQDM,HQZRSP,HQZJCJ,HQCJBS"),
              "000000|0.0|0.0|93000\n"
              "430001|1.001|1.011|1\n"
              "430002|7.002|7.012|2\n"
              "430003|1.003|1.013|3\n");
}

TEST_F(SnapshotTableTest, LivePacketWritesTheRangeItChanged) {
    Open();
    Round(10, 1, 93000);
    FileOps ops("NQHQ.DBF");
    Send(10, {{5, Sec(5, 2)}, {9, Sec(9, 2)}});
    // Records 5 to 9 in one write after the packet's last entry; the count
    // is left alone.
    EXPECT_EQ(Shape(ops.take()), std::vector<std::string>{"write 1780"});
    ExpectFileHoldsSent(10);
    EXPECT_EQ(hq_.dirtyHigh(), Quota<SnapshotRec_t>::kNothingHigh);
}

TEST_F(SnapshotTableTest, SavePerRoundWritesOncePerRoundAndKeepsNumberedCopies) {
    Open();
    Round(10, 1, 93000);
    velk::RunParams::instance().savePerRound = 1;
    FileOps ops("NQHQ");
    Send(10, {{5, Sec(5, 2)}, {9, Sec(9, 2)}});
    EXPECT_EQ(ops.takeWrites(), std::vector<size_t>{}) << "nothing before record 0";
    const std::string before = testsupport::ReadFile(path_);

    Send(10, {{0, Special(93010)}});
    // The copy is taken when record 0 arrives, named with its time, then
    // records 0 to 9 go out in one block.
    const std::string copy = dir_.file("NQHQ_93010.DBF");
    ASSERT_TRUE(testsupport::Exists(copy));
    EXPECT_EQ(testsupport::ReadFile(copy), before);
    std::vector<size_t> writes = ops.takeWrites();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), 10 * kHq);
    ExpectFileHoldsSent(10);
}

TEST_F(SnapshotTableTest, CountChangeClearsTheTableAndWritesTheNextWholeSnapshot) {
    Open();
    Round(100, 1, 93000);
    log_.clear();
    FileOps ops("NQHQ.DBF");

    Entries part;  // not noted as sent: the file must keep round 1
    for (int r = 1; r <= 40; ++r) part.push_back({r, Security(r, 2000 + r)});
    Send(101, part);
    EXPECT_EQ(log_.count("前后两次收到行情条数不一致，上一轮：100, 本轮：101", "TyQuotaHandler",
                         velk::LevelError),
              1);
    EXPECT_EQ(context_.tableCount(kNqhq), 101);
    EXPECT_EQ(hq_.expectedCount(), 101);
    EXPECT_FALSE(hq_.firstRound());
    EXPECT_TRUE(hq_.reloading());
    // The in-memory table was cleared: only what came since is there.
    EXPECT_EQ(std::string(hq_.records()[50].rec.HQZQDM, 6), std::string(6, '\0'));
    EXPECT_EQ(std::string(hq_.records()[40].rec.HQZQDM, 6), "430040");
    // No record of the half-received table reaches the file.
    EXPECT_EQ(ops.takeWrites(), std::vector<size_t>{});
    ExpectFileHoldsSent(100);

    Round(101, 2, 93100);
    EXPECT_FALSE(hq_.reloading());
    EXPECT_TRUE(WholeTableWrite(Shape(ops.take())));
    ExpectFileHoldsSent(101);

    // Live again: ranges as before.
    Send(101, {{100, Sec(100, 3)}});
    EXPECT_EQ(ops.takeWrites(), std::vector<size_t>{kHq});
    ExpectFileHoldsSent(101);
}

TEST_F(SnapshotTableTest, CountChangeDuringTheFirstLoadStartsTheCountAgain) {
    Open();
    Entries part;
    for (int r = 1; r <= 50; ++r) part.push_back({r, Sec(r, 1)});
    Send(100, part);
    EXPECT_EQ(hq_.firstRoundReceived(), 50);
    FileOps ops("NQHQ.DBF");
    // 101 records now: the 50 already counted were cleared with the table, so
    // the first write waits for all 101.
    part.clear();
    for (int r = 51; r <= 100; ++r) part.push_back({r, Sec(r, 1)});
    part.push_back({0, Special(93000)});
    Send(101, part);
    EXPECT_TRUE(hq_.firstRound());
    EXPECT_EQ(hq_.firstRoundReceived(), 51);
    EXPECT_EQ(ops.takeWrites(), std::vector<size_t>{});
    Round(101, 1, 93001);
    EXPECT_FALSE(hq_.firstRound());
    ExpectFileHoldsSent(101);
}

TEST_F(SnapshotTableTest, CloseMarkTurnsToWholeTableWrites) {
    Open();
    Round(10, 1, 150000);
    FileOps ops("NQHQ.DBF");
    // The close mark: the special record's HQCJSL ends in 1.
    Send(10, {{0, Special(150005, 11)}});
    EXPECT_TRUE(hq_.closed());
    EXPECT_FALSE(WholeTableWrite(Shape(ops.take())));

    // No range writes after the mark ...
    Entries entries;
    for (int r = 1; r < 10; ++r) entries.push_back({r, Sec(r, 2)});
    Send(10, entries);
    EXPECT_EQ(ops.takeWrites(), std::vector<size_t>{});
    // ... until the special record completes a snapshot received since.
    Send(10, {{0, Special(150010, 11)}});
    EXPECT_TRUE(WholeTableWrite(Shape(ops.take())));
    ExpectFileHoldsSent(10);

    // Once complete, every later special record rewrites the whole table.
    Send(10, {{0, Special(150020, 11)}});
    EXPECT_TRUE(WholeTableWrite(Shape(ops.take())));

    // A record 60 seconds after the last whole-table write rewrites it;
    // 59,999 ms is not enough.
    clock_.advance(59999);
    Send(10, {{3, Sec(3, 3)}});
    EXPECT_EQ(ops.takeWrites(), std::vector<size_t>{});
    clock_.advance(1);
    Send(10, {{4, Sec(4, 3)}});
    EXPECT_TRUE(WholeTableWrite(Shape(ops.take())));
    ExpectFileHoldsSent(10);
    // The clock starts again from that write.
    clock_.advance(59999);
    Send(10, {{5, Sec(5, 3)}});
    EXPECT_EQ(ops.takeWrites(), std::vector<size_t>{});
}

TEST_F(SnapshotTableTest, SixtySecondRuleWorksAcrossTheTickWrap) {
    clock_.setTick(0xFFFFFFFFu - 20000);
    Open();
    Round(5, 1, 150000);
    Send(5, {{0, Special(150005, 21)}});  // 21 ends in 1: the mark
    ASSERT_TRUE(hq_.closed());
    FileOps ops("NQHQ.DBF");
    clock_.advance(59999);  // the tick wraps meanwhile
    Send(5, {{1, Sec(1, 2)}});
    EXPECT_EQ(ops.takeWrites(), std::vector<size_t>{});
    clock_.advance(1);
    Send(5, {{2, Sec(2, 2)}});
    EXPECT_TRUE(WholeTableWrite(Shape(ops.take())));
}

TEST_F(SnapshotTableTest, CloseMarkNeedsALastDigitOfOne) {
    // HQCJSL modulo 10 as a signed remainder: -9 and 12 are not the mark.
    for (int64_t volume : {int64_t{0}, int64_t{12}, int64_t{-9}, int64_t{10}}) {
        Quota<SnapshotRec_t> hq(context_);
        testsupport::TempDir dir;
        ASSERT_EQ(hq.open(host_.quoteTable(kNqhq), dir.file("NQHQ.DBF")), 0);
        hq.onPacket(*MakePacket(
            22, SnapshotPayload<SnapshotRec_t>(2, {{1, Security(1, 1)}, {0, HqSpecial(1)}})));
        hq.onPacket(
            *MakePacket(22, SnapshotPayload<SnapshotRec_t>(2, {{0, HqSpecial(2, volume)}})));
        EXPECT_FALSE(hq.closed()) << volume;
    }
}

TEST_F(SnapshotTableTest, CloseCopyIsWrittenOnce) {
    velk::RunParams::instance().saveClosedRoundQuota = 1;
    Open();
    Round(5, 1, 150000);
    Send(5, {{0, Special(150005, 11)}});
    const std::string copy = dir_.file("NQHQ.DBF.20170213.Close.DBF");
    EXPECT_FALSE(testsupport::Exists(copy));
    Round(5, 2, 150010, 11);  // a snapshot after the mark: the first whole write
    ASSERT_TRUE(testsupport::Exists(copy));
    EXPECT_EQ(testsupport::ReadFile(copy), testsupport::ReadFile(path_));
    EXPECT_EQ(log_.count("保存闭市行情 " + copy + " 成功", "Quota", velk::LevelDetail), 1);

    platform::RemoveFile(copy);
    Round(5, 3, 150020, 11);  // another whole write
    EXPECT_TRUE(hq_.closeCopySaved());
    EXPECT_FALSE(testsupport::Exists(copy));
}

TEST_F(SnapshotTableTest, FirstLoadCopyIsKeptWhenAsked) {
    velk::RunParams::instance().saveFirstRoundQuota = 1;
    Open();
    Round(6, 1, 93000);
    const std::string copy = dir_.file("NQHQ.DBF.20170213.First.DBF");
    ASSERT_TRUE(testsupport::Exists(copy));
    EXPECT_EQ(testsupport::ReadFile(copy), testsupport::ReadFile(path_));
    EXPECT_EQ(log_.count("保存首轮行情 " + copy + " 成功", "Quota", velk::LevelDetail), 1);

    // Only after the first load: a reload after a count change keeps none.
    platform::RemoveFile(copy);
    Round(7, 2, 93100);
    EXPECT_FALSE(hq_.reloading());
    EXPECT_FALSE(testsupport::Exists(copy));
}

TEST_F(SnapshotTableTest, TimeGuardKeepsTheLaterTime) {
    Open();
    Round(3, 1, 93005);
    Send(3, {{0, Special(93000)}});
    EXPECT_EQ(log_.count("证券行情时间从 93000 设为 93005 ！", "TyQuotaHandler", velk::LevelInfo),
              1);
    EXPECT_EQ(context_.times().get(kNqhq), 93005);
    EXPECT_EQ(FieldText(kNqhq, kHqcjbs, File().records[0]), "    93005");
    // The rest of the record is what was sent.
    SnapshotRec_t corrected = sent_[0];
    corrected.HQCJBS = 93005;
    EXPECT_EQ(File().records[0], HqImage(corrected, true));
}

TEST_F(SnapshotTableTest, EntriesOutsideTheTableAreDropped) {
    Open();
    Round(10, 1, 93000);
    log_.clear();
    FileOps ops("NQHQ.DBF");
    // -1 and 10 lie outside records 0..9; the last entry of the packet is one
    // of them, and the range of the others is still written.
    Send(10, {{-1, Sec(3, 9)}, {4, Sec(4, 2)}, {6, Sec(6, 2)}, {10, Sec(7, 9)}});
    sent_[3] = Security(3, 1003);  // what the file still holds
    sent_[7] = Security(7, 1007);
    EXPECT_EQ(log_.count("处理协议转让证券行情包时出错！", "TyQuotaHandler", velk::LevelError), 2);
    EXPECT_EQ(log_.count("记录号 10 不在 0 至 9 之间"), 1);
    EXPECT_EQ(ops.takeWrites(), std::vector<size_t>{3 * kHq});
    ExpectFileHoldsSent(10);
    EXPECT_EQ(hq_.expectedCount(), 10);
}

TEST_F(SnapshotTableTest, DamagedPacketsAreDroppedWhole) {
    Open();
    Round(10, 1, 93000);
    log_.clear();
    FileOps ops("NQHQ.DBF");
    struct Case {
        const char* name;
        std::string payload;
        const char* message;
    };
    const std::string entry = SnapshotPayload<SnapshotRec_t>(10, {{4, Security(4, 1)}});
    const std::vector<Case> cases = {
        {"negative count", SnapshotPayload<SnapshotRec_t>(-1, {{4, Security(4, 1)}}),
         "NQHQ.DBF 数据包的记录总数 -1 不在 0 至 1000000 之间，丢弃此包！"},
        {"absurd count", SnapshotPayload<SnapshotRec_t>(1000001, {{4, Security(4, 1)}}),
         "NQHQ.DBF 数据包的记录总数 1000001 不在 0 至 1000000 之间，丢弃此包！"},
        {"shorter than the header", entry.substr(0, 3),
         "NQHQ.DBF 数据包长度 3 字节，不足包头的 4 字节，丢弃此包！"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hq_.onPacket(*MakePacket(22, c.payload));
        EXPECT_EQ(log_.count(c.message, "TyQuotaHandler"), 1) << log_.dump();
    }
    EXPECT_EQ(ops.takeWrites(), std::vector<size_t>{});
    EXPECT_EQ(hq_.expectedCount(), 10);
    EXPECT_EQ(context_.tableCount(kNqhq), 10);
    ExpectFileHoldsSent(10);

    // A partial entry at the end is ignored; the whole one before it counts.
    std::string payload = SnapshotPayload<SnapshotRec_t>(10, {{4, Sec(4, 2)}});
    payload += SnapshotPayload<SnapshotRec_t>(10, {{5, Security(5, 77)}}).substr(4, 150);
    hq_.onPacket(*MakePacket(22, payload));
    EXPECT_EQ(ops.takeWrites(), std::vector<size_t>{kHq});
    ExpectFileHoldsSent(10);
}

TEST_F(SnapshotTableTest, AFailedRangeStaysPendingForTheNextOne) {
    Open();
    Round(10, 1, 93000);
    log_.clear();
    platform::faults::ScopedFileFaults faults;
    // Enough failures to exhaust the table's own retries of one write.
    faults.add(
        {FileOp::Write, 0, CDbf::kErrorRetries + 1, platform::FileCause::Other, EIO, "NQHQ.DBF"});
    Send(10, {{5, Sec(5, 2)}});
    EXPECT_EQ(log_.count("！！！写文件 " + path_ +
                             " 的第 5 条记录到第 5 条记录失败，错误码 = " + std::to_string(EIO),
                         "Quota", velk::LevelError),
              1)
        << log_.dump();
    EXPECT_EQ(log_.count("处理协议转让证券行情包时出错！"), 1);
    EXPECT_EQ(hq_.dirtyLow(), 5);
    EXPECT_EQ(hq_.dirtyHigh(), 5);

    FileOps ops("NQHQ.DBF");
    Send(10, {{8, Sec(8, 2)}});
    EXPECT_EQ(ops.takeWrites(), std::vector<size_t>{4 * kHq});  // 5 to 8
    ExpectFileHoldsSent(10);
}

TEST_F(SnapshotTableTest, RunParametersLogWhatTheyAskFor) {
    Open();
    velk::RunParams& params = velk::RunParams::instance();
    params.DebugRecNoSw = 1;
    params.testPerformance = 1;
    params.DebugNewRoundSw = 1;
    Send(3, {{1, Sec(1, 1)}, {2, Sec(2, 1)}, {0, Special(93000)}});
    EXPECT_EQ(log_.count("收到协议转让证券行情包，记录号为 1  2  0 ", "TyQuotaHandler",
                         velk::LevelDetail),
              1);
    EXPECT_EQ(log_.count("写证券行情库共耗费 ", "Quota", velk::LevelDetail), 1);
    // The first load is no round's end.
    EXPECT_EQ(log_.count("接收到新的一轮证券行情"), 0);

    Send(3, {{2, Sec(2, 2)}, {0, Special(93001)}});
    EXPECT_EQ(log_.count("写证券行情 " + path_ + " 第 0 条记录到第 2 条记录共耗费 ", "Quota",
                         velk::LevelDetail),
              1);
    EXPECT_EQ(log_.count("接收到新的一轮证券行情", "Quota", velk::LevelDetail), 1);
}

TEST_F(SnapshotTableTest, OpenChecksTheFileAndPublishesItsCount) {
    Open();
    Round(4, 1, 93000);
    const std::string written = testsupport::ReadFile(path_);

    // A restart: the file's count is published, its records are not read,
    // and nothing is written before a whole snapshot has arrived again.
    Quota<SnapshotRec_t> again(context_);
    context_.setTableCount(kNqhq, 0);
    host_.quoteTable(kNqhq).ClearStatus();
    ASSERT_EQ(again.open(host_.quoteTable(kNqhq), path_), 0);
    EXPECT_EQ(again.fileCount(), 4);
    EXPECT_EQ(again.expectedCount(), 4);
    EXPECT_EQ(context_.tableCount(kNqhq), 4);
    EXPECT_TRUE(again.firstRound());
    again.onPacket(*MakePacket(22, SnapshotPayload<SnapshotRec_t>(4, {{1, Security(1, 99)}})));
    EXPECT_EQ(testsupport::ReadFile(path_), written);
    EXPECT_EQ(log_.count("条数不一致"), 0);

    // A file whose record 0 is an ordinary security is refused with the box.
    BoxRecorder boxes;
    std::string damaged = written;
    const size_t header = uint8_t(damaged[8]) | uint8_t(damaged[9]) << 8;
    damaged.replace(header + 1, 6, "430001");
    testsupport::WriteFile(path_, damaged);
    Quota<SnapshotRec_t> refused(context_);
    EXPECT_EQ(refused.open(host_.quoteTable(kNqhq), path_), -1);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].text.find("特殊记录格式出错"), std::string::npos);

    // A table that cannot be opened at all.
    Quota<SnapshotRec_t> missing(context_);
    const std::string nowhere = dir_.file("no-such-dir/NQHQ.DBF");
    EXPECT_EQ(missing.open(host_.quoteTable(kNqhq), nowhere), -1);
    EXPECT_EQ(log_.count("打开证券行情库" + nowhere + "失败", "TyQuotaHandler", velk::LevelError),
              1);
}

// Whole-table writes go out in blocks of as many records as one write call
// takes, the special record last.
template <typename T>
std::vector<size_t> WholeWriteBlocks(int32_t count, const T& special, std::function<T(int)> make,
                                     uint8_t type) {
    testsupport::TempDir dir;
    quotetest::TestQuoteHost host;
    QuoteContext context(host);
    Quota<T> table(context);
    EXPECT_EQ(table.open(host.quoteTable(Quota<T>::kTable),
                         dir.file(QuoteTable(Quota<T>::kTable).fileName)),
              0);
    std::vector<std::pair<int32_t, T>> entries;
    for (int r = 1; r < count; ++r) entries.push_back({r, make(r)});
    FileOps ops(QuoteTable(Quota<T>::kTable).fileName);
    // Packets of at most 8160 payload bytes, as the master station sends.
    const size_t perPacket = (Packet::kMaxPayload - Quota<T>::kHeaderBytes) / Quota<T>::kEntryBytes;
    for (size_t at = 0; at < entries.size(); at += perPacket) {
        std::vector<std::pair<int32_t, T>> part(
            entries.begin() + at, entries.begin() + std::min(entries.size(), at + perPacket));
        table.onPacket(*MakePacket(type, SnapshotPayload<T>(count, part)));
    }
    EXPECT_EQ(ops.takeWrites(), std::vector<size_t>{});
    table.onPacket(*MakePacket(type, SnapshotPayload<T>(count, {{0, special}})));
    quotetest::TableFile file =
        ReadTable(testsupport::ReadFile(dir.file(QuoteTable(Quota<T>::kTable).fileName)),
                  Quota<T>::kRecordBytes);
    EXPECT_EQ(file.count, uint32_t(count));
    EXPECT_EQ(file.records.size(), size_t(count));
    return ops.takeWrites();
}

TEST(SnapshotBlocks, WholeTableWritesUseTheTablesBlockSizes) {
    platform::ScopedFakeClock clock;
    velk::RunParams::instance().clear();
    EXPECT_EQ(WholeWriteBlocks<SnapshotRec_t>(
                  400, HqSpecial(93000), [](int r) { return Security(r, r); }, 22),
              (std::vector<size_t>{179 * 356, 179 * 356, 41 * 356, 356, 4}));
    EXPECT_EQ(WholeWriteBlocks<ZqxxRec_t>(241, quotetest::XxSpecial("09300000"),
                                          quotetest::Information, 21),
              (std::vector<size_t>{239 * 267, 1 * 267, 267, 4}));
    EXPECT_EQ(WholeWriteBlocks<NQZSXX_OrderRec_t>(1424, quotetest::ZsSpecial("093000"),
                                                  quotetest::MarketMaking, 24),
              (std::vector<size_t>{1422 * 45, 1 * 45, 45, 4}));
}

// NQXX.DBF and NQZSXX.DBF: the same rules, their own texts, time fields held
// as text, and no close mark.
TEST(SnapshotOtherTables, InformationAndMarketMakingFollowTheirOwnRules) {
    platform::ScopedFakeClock clock;
    testsupport::TempDir dir;
    testsupport::CaptureAppender log;
    quotetest::TestQuoteHost host;
    QuoteContext context(host);
    velk::RunParams::instance().clear();
    velk::RunParams::instance().DebugNewRoundSw = 1;
    velk::RunParams::instance().DebugRecNoSw = 1;

    Quota<ZqxxRec_t> xx(context);
    const std::string xxPath = dir.file("NQXX.DBF");
    ASSERT_EQ(xx.open(host.quoteTable(kNqxx), xxPath), 0);
    auto sendXx = [&](int32_t total, std::vector<std::pair<int32_t, ZqxxRec_t>> e) {
        xx.onPacket(*MakePacket(21, SnapshotPayload<ZqxxRec_t>(total, e)));
    };
    sendXx(3, {{1, quotetest::Information(1)},
               {2, quotetest::Information(2)},
               {0, quotetest::XxSpecial("14300000")}});
    sendXx(3, {{0, quotetest::XxSpecial("14295900")}});
    EXPECT_EQ(log.count("证券信息时间从 14295900 设为 14300000 ！", "TyQuotaHandler"), 1);
    EXPECT_EQ(context.times().get(kNqxx), 14300000);
    quotetest::TableFile xxFile = ReadTable(testsupport::ReadFile(xxPath), 267);
    ASSERT_EQ(xxFile.count, 3u);
    EXPECT_EQ(FieldText(kNqxx, 2, xxFile.records[0]).substr(0, 8), "14300000");
    EXPECT_EQ(log.count("接收到新的一轮证券信息", "Quota", velk::LevelDetail), 1);
    EXPECT_EQ(log.count("收到证券信息包，记录号为 0 ", "TyQuotaHandler"), 1);
    // A count change and a close-mark lookalike.
    sendXx(4, {{0, quotetest::XxSpecial("14310011")}});
    EXPECT_EQ(log.count("前后两次收到证券信息条数不一致，上一轮：3, 本轮：4"), 1);
    EXPECT_FALSE(xx.closed());

    Quota<NQZSXX_OrderRec_t> zs(context);
    const std::string zsPath = dir.file("NQZSXX.DBF");
    ASSERT_EQ(zs.open(host.quoteTable(kNqzsxx), zsPath), 0);
    auto sendZs = [&](int32_t total, std::vector<std::pair<int32_t, NQZSXX_OrderRec_t>> e) {
        zs.onPacket(*MakePacket(24, SnapshotPayload<NQZSXX_OrderRec_t>(total, e)));
    };
    sendZs(2, {{1, quotetest::MarketMaking(1)}, {0, quotetest::ZsSpecial("093005")}});
    sendZs(2, {{1, quotetest::MarketMaking(1)}, {0, quotetest::ZsSpecial("093000")}});
    EXPECT_EQ(log.count("做市申报信息时间从 93000 设为 93005 ！", "TyQuotaHandler"), 1);
    quotetest::TableFile zsFile = ReadTable(testsupport::ReadFile(zsPath), 45);
    ASSERT_EQ(zsFile.count, 2u);
    EXPECT_EQ(FieldText(kNqzsxx, 5, zsFile.records[0]), " 93005");
    // No end-of-round text for this table.
    EXPECT_EQ(log.count("接收到新的一轮做市"), 0);
    EXPECT_EQ(log.count("收到做市转让申报信息包，记录号为 1  0 "), 2);
    velk::RunParams::instance().clear();

    // A short NQXX.DBF packet: its header is 8 bytes.
    xx.onPacket(*MakePacket(21, std::string("\x03\0\0\0\0\0", 6)));
    EXPECT_EQ(log.count("NQXX.DBF 数据包长度 6 字节，不足包头的 8 字节，丢弃此包！"), 1);
}

}  // namespace

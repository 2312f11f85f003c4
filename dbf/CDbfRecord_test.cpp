// Record reads and writes: the record count, fields, records, appends, and
// the retry rules under injected file faults.
#include <gtest/gtest.h>

#include <cstdio>
#include <utility>

#include "dbf/CDbf.h"
#include "dbf/DbfTestSupport.h"

namespace {

using dbftest::BuildTable;
using dbftest::MakeSchema;
using dbftest::RawField;
using dbftest::Record;
using platform::FileCause;
using platform::FileOp;

// Record length 25, header length 161.
const std::vector<RawField> kFields = {{"CODE", 'C', 1, 6, 0},
                                       {"NAME", 'C', 7, 8, 0},
                                       {"PRICE", 'N', 15, 9, 3},
                                       {"STATUS", 'C', 24, 1, 0}};
constexpr size_t kHeader = 161;
constexpr size_t kRec = 25;

class RecordTest : public dbftest::DbfFixture {
  protected:
    RecordTest() : schema(MakeSchema(kFields)) {}

    void SetUp() override { ASSERT_EQ(0, t.OpenDB(Path("T.DBF"), &schema)); }

    std::string Image(int i) const {
        char code[16], name[16];
        std::snprintf(code, sizeof code, "%06d", i % 1000000);
        std::snprintf(name, sizeof name, "N%d", i);
        return Record(schema, {code, name, "    1.000", "1"});
    }
    std::string Images(int first, int n) const {
        std::string out;
        for (int i = first; i < first + n; ++i) out += Image(i);
        return out;
    }
    void Append(int first, int n) {
        std::string images = Images(first, n);
        ASSERT_EQ(0, t.AppendRecord(images.data(), uint32_t(n)));
    }
    // Records every file operation on the table from now on.
    void Observe() {
        platform::faults::SetFileObserver([this](FileOp op, const std::string& p, size_t bytes) {
            if (p == Path("T.DBF")) ops.emplace_back(op, bytes);
        });
    }
    int Count(FileOp op) const {
        int n = 0;
        for (auto& o : ops) n += o.first == op;
        return n;
    }
    std::string Table() const { return Bytes("T.DBF"); }

    DbfSchema schema;
    CDbf t;
    std::vector<std::pair<FileOp, size_t>> ops;
};

using Ops = std::vector<std::pair<FileOp, size_t>>;

// --- record count ---------------------------------------------------------------

TEST_F(RecordTest, CountIsWrittenBeforeTheFileIsCut) {
    Append(0, 3);
    EXPECT_EQ(kHeader + 3 * kRec + 1, Table().size());
    EXPECT_EQ('\x1A', Table().back());

    Observe();
    ASSERT_EQ(0, t.WriteRecNum(2));
    EXPECT_EQ((Ops{{FileOp::Write, 4}, {FileOp::SetLength, kHeader + 2 * kRec}}), ops);
    EXPECT_EQ(kHeader + 2 * kRec, Table().size());
    EXPECT_EQ(Images(0, 2), Table().substr(kHeader));
    uint32_t n = 0;
    ASSERT_EQ(0, t.ReadRecNum(n));
    EXPECT_EQ(2u, n);

    ASSERT_EQ(0, t.WriteRecNum(0));
    EXPECT_EQ(kHeader, Table().size());
    EXPECT_EQ(0u, CountInFile("T.DBF"));
}

TEST_F(RecordTest, WriteRecNumReopensAfterAnErrorAndResetsTheFailureCount) {
    for (FileOp op : {FileOp::Write, FileOp::SetLength}) {
        SCOPED_TRACE(platform::FileOpName(op));
        log.clear();
        faults.add({op, 0, 1, FileCause::Other, EIO, ""});
        EXPECT_EQ(0, t.WriteRecNum(0));
        EXPECT_EQ(1, Errors("在模块 WriteRecNum()中发生文件：" + Path("T.DBF") +
                            " 操作第1 次错误，错误码:5 ,将尝试继续写数据"))
            << log.dump();
        EXPECT_EQ(0, tableWriteFailures.load());
        EXPECT_TRUE(t.isOpen);
    }
}

TEST_F(RecordTest, WriteRecNumGivesUpAfterFiveFailuresCountedOverAllTables) {
    faults.add({FileOp::Write, 0, 100, FileCause::Other, EIO, ""});
    EXPECT_EQ(EIO, t.WriteRecNum(0));
    EXPECT_EQ(5, Errors("在模块 WriteRecNum()中发生文件")) << log.dump();
    EXPECT_EQ(1, Errors("操作第5 次错误"));
    EXPECT_EQ(100 - 6, platform::faults::PendingFileFaults());
    EXPECT_EQ(5, tableWriteFailures.load());
    EXPECT_FALSE(t.isOpen);
    platform::faults::ClearFileFaults();

    // Another table inherits the count: its first error ends the call.
    log.clear();
    CDbf u(schema);
    ASSERT_EQ(0, u.OpenDB(Path("U.DBF")));
    faults.add({FileOp::Write, 0, 1, FileCause::Other, EIO, ""});
    EXPECT_EQ(EIO, u.WriteRecNum(0));
    EXPECT_EQ(0, Errors("在模块 WriteRecNum()中发生文件"));
    // The next success, on either table, clears it.
    EXPECT_EQ(0, u.WriteRecNum(0));
    EXPECT_EQ(0, tableWriteFailures.load());
}

TEST_F(RecordTest, WriteRecNumReturnsTheErrorOfTheLastReopen) {
    faults.add({FileOp::Write, 0, 1, FileCause::Other, EIO, ""});
    faults.add({FileOp::Open, 0, 5, FileCause::AccessDenied, 0, ""});
    EXPECT_EQ(EACCES, t.WriteRecNum(0));
    EXPECT_EQ(0, platform::faults::PendingFileFaults());
    EXPECT_EQ(5, tableWriteFailures.load());
    EXPECT_FALSE(t.isOpen);
    EXPECT_EQ(0, Errors("在模块 WriteRecNum()中发生文件"));
}

// --- fields -------------------------------------------------------------------

TEST_F(RecordTest, ReadFieldReadsAtMostTheWidth) {
    Append(7, 1);
    char buf[32];
    struct Case {
        uint32_t record;
        uint16_t field;
        uint32_t length;
        int result;
        std::string value;
    } cases[] = {
        {0, 1, 20, 0, "N7      "},  // cut to the width of 8
        {0, 0, 3, 0, "000"},       {0, 3, 1, 0, "1"},
        {4, 0, 6, 0, ""},  // past the end of the file: nothing read
        {0, 4, 6, -1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        uint32_t len = c.length;
        EXPECT_EQ(c.result, t.ReadField(c.record, c.field, buf, len));
        if (c.result == 0) {
            EXPECT_EQ(c.value, std::string(buf, len));
        }
    }
    EXPECT_EQ(1, Errors("在模块 ReadField()中，输入参数错误"));

    // A closed table is opened again by the read.
    t.ClearStatus();
    uint32_t len = 6;
    EXPECT_EQ(0, t.ReadField(0, 0, buf, len));
    EXPECT_EQ("000007", std::string(buf, len));
}

TEST_F(RecordTest, UpdateFieldChecksItsArgumentsAndWritesNothingOnError) {
    Append(0, 2);
    struct Case {
        uint32_t record;
        uint16_t field;
        std::string data;
        bool ok;
    } cases[] = {
        {1, 2, "   99.000", true}, {1, 2, "   99.0000", false},  // one byte too long
        {0, 3, "0", true},         {2, 0, "999999", false},      // record == count
        {0, 4, "x", false},                                      // no such field
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        log.clear();
        std::string before = Table();
        int r = t.UpdateField(c.record, c.field, c.data.data(), uint32_t(c.data.size()));
        if (c.ok) {
            EXPECT_EQ(0, r);
            std::string after = before;
            after.replace(kHeader + c.record * kRec + size_t(schema[c.field].offset), c.data.size(),
                          c.data);
            EXPECT_EQ(after, Table());
        } else {
            EXPECT_EQ(-1, r);
            EXPECT_EQ(1, Errors("在模块 UpdateField()中，输入参数错误"));
            EXPECT_EQ(before, Table());
        }
    }
}

// --- whole records ---------------------------------------------------------------

TEST_F(RecordTest, UpdateRecordOnlyRewritesExistingRecords) {
    Append(0, 3);
    std::string before = Table();
    std::string image = Image(42);
    EXPECT_EQ(-1, t.UpdateRecord(3, image.data()));
    EXPECT_EQ(
        1, Errors("在模块 UpdateRecord()中，recordNo=3, 超出DBF文件现有的总条数3，记录无法更新。"))
        << log.dump();
    EXPECT_EQ(before, Table());

    EXPECT_EQ(0, t.UpdateRecord(2, image.data()));
    EXPECT_EQ(before.substr(0, kHeader + 2 * kRec) + image + "\x1A", Table());

    // A table that cannot be opened is a failure, not a wrong record number.
    t.ClearStatus();
    t.path = Path("no/such/dir/T.DBF");
    log.clear();
    EXPECT_EQ(-1, t.UpdateRecord(0, image.data()));
    EXPECT_EQ(0, Errors("超出DBF文件现有的总条数"));
}

TEST_F(RecordTest, WriteRecordWaitsOutSixtyOneLockViolations) {
    std::string image = Image(1);
    struct Case {
        int violations;
        int result;
    } cases[] = {{1, 0}, {61, 0}, {62, EAGAIN}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.violations);
        ASSERT_EQ(0, t.OpenDB(Path("T.DBF")));
        log.clear();
        uint64_t slept = clock.totalSlept();
        faults.add({FileOp::Write, 0, c.violations, FileCause::LockViolation, 0, ""});
        EXPECT_EQ(c.result, t.WriteRecord(0, image.data(), uint32_t(image.size())));
        EXPECT_EQ(0, platform::faults::PendingFileFaults());
        EXPECT_EQ(uint64_t(std::min(c.violations, 61)) * 15, clock.totalSlept() - slept);
        EXPECT_EQ(0, Errors("将尝试继续写数据"));
        if (c.result == 0) {
            EXPECT_EQ(image, Table().substr(kHeader, kRec));
            EXPECT_TRUE(t.isOpen);
        } else {
            EXPECT_EQ(1, Errors("在模块 WriteRecord()中， " + Path("T.DBF") +
                                " 文件被锁定时间过长！重试 915 毫秒后仍未能写入成功！"))
                << log.dump();
            EXPECT_FALSE(t.isOpen);
        }
    }
}

TEST_F(RecordTest, WriteRecordDoesNotRetryOnALostShare) {
    std::string image = Image(1);
    Observe();
    faults.add({FileOp::Write, 0, 3, FileCause::NetworkLost, 0, ""});
    EXPECT_EQ(ESTALE, t.WriteRecord(0, image.data(), uint32_t(image.size())));
    EXPECT_EQ(2, platform::faults::PendingFileFaults());  // one attempt only
    EXPECT_EQ(0u, clock.totalSlept());
    EXPECT_EQ(1, Errors("在WriteRecord()模块中，文件操作失败，指定网络名 " + Path("T.DBF") +
                        " 不再可用，请检查网络是否有故障"))
        << log.dump();
    EXPECT_EQ(1, Errors("打开文件 " + Path("T.DBF") + " 失败"));
    EXPECT_FALSE(t.isOpen);
    EXPECT_EQ(0, Count(FileOp::Open));
}

TEST_F(RecordTest, WriteRecordRetriesOtherErrorsFiveTimesReopeningTheFile) {
    std::string image = Image(1);
    Observe();
    faults.add({FileOp::Write, 0, 5, FileCause::Other, EIO, ""});
    EXPECT_EQ(0, t.WriteRecord(0, image.data(), uint32_t(image.size())));
    for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(1, Errors("在模块 WriteRecord()中发生文件：" + Path("T.DBF") + " 操作第" +
                            std::to_string(i) + " 次错误，错误码:5 ,将尝试继续写数据"))
            << log.dump();
    }
    EXPECT_EQ(5, Count(FileOp::Open));
    EXPECT_EQ(75u, clock.totalSlept());
    EXPECT_EQ(image, Table().substr(kHeader, kRec));

    log.clear();
    faults.add({FileOp::Write, 0, 6, FileCause::Other, EIO, ""});
    EXPECT_EQ(EIO, t.WriteRecord(0, image.data(), uint32_t(image.size())));
    EXPECT_EQ(1, Errors("在模块 WriteRecord()中发生文件操作错误，多次尝试打开文件 " +
                        Path("T.DBF") + " 失败，错误码为： 5 ，当前数据将丢失！"))
        << log.dump();
    EXPECT_EQ(5, Errors("将尝试继续写数据"));
    EXPECT_FALSE(t.isOpen);
}

TEST_F(RecordTest, WriteRecordCountsLockAndErrorRetriesSeparately) {
    std::string block = Images(0, 3);
    // Three errors (one of them a failing reopen), then 61 lock violations.
    faults.add({FileOp::Write, 0, 2, FileCause::Other, EIO, ""});
    faults.add({FileOp::Open, 0, 1, FileCause::AccessDenied, 0, ""});
    faults.add({FileOp::Write, 0, 61, FileCause::LockViolation, 0, ""});
    EXPECT_EQ(0, t.WriteRecord(5, block.data(), uint32_t(block.size())));
    EXPECT_EQ(0, platform::faults::PendingFileFaults());
    EXPECT_EQ(1, Errors("操作第2 次错误，错误码:13"));
    EXPECT_EQ(1, Errors("操作第3 次错误，错误码:5"));
    // A block beyond the last counted record extends the file.
    EXPECT_EQ(kHeader + 8 * kRec, Table().size());
    EXPECT_EQ(block, Table().substr(kHeader + 5 * kRec));
}

// --- appends ---------------------------------------------------------------------

TEST_F(RecordTest, AppendWritesBlocksOfAThousandThenTheEndMarkThenTheCount) {
    std::string images = Images(0, 2500);
    Observe();
    ASSERT_EQ(0, t.AppendRecord(images.data(), 2500));
    EXPECT_EQ((Ops{{FileOp::Read, 4},
                   {FileOp::Write, 1000 * kRec},
                   {FileOp::Write, 1000 * kRec},
                   {FileOp::Write, 500 * kRec},
                   {FileOp::Write, 1},
                   {FileOp::Write, 4}}),
              ops);
    std::string b = Table();
    ASSERT_EQ(kHeader + 2500 * kRec + 1, b.size());
    EXPECT_EQ(images, b.substr(kHeader, 2500 * kRec));
    EXPECT_EQ('\x1A', b.back());
    EXPECT_EQ(2500u, CountInFile("T.DBF"));

    // The next append starts on the end mark.
    std::string more = Images(2500, 2);
    ASSERT_EQ(0, t.AppendRecord(more.data(), 2));
    EXPECT_EQ(images + more + "\x1A", Table().substr(kHeader));
    EXPECT_EQ(2502u, CountInFile("T.DBF"));
}

TEST_F(RecordTest, ARetriedAppendRewritesFromTheSameBase) {
    Append(0, 2);
    std::string images = Images(2, 2500);
    const std::string expected = Images(0, 2) + images + "\x1A";
    struct Case {
        const char* what;
        int skip;  // writes that succeed before the failing one
    } cases[] = {{"second block", 1}, {"end mark", 3}, {"count", 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(0, t.WriteRecNum(2));
        log.clear();
        faults.add({FileOp::Write, c.skip, 1, FileCause::Other, EIO, ""});
        ASSERT_EQ(0, t.AppendRecord(images.data(), 2500));
        EXPECT_EQ(1, Errors("在模块 AppendRecord()中，文件操作错误，错误码是5")) << log.dump();
        EXPECT_EQ(1, Errors("打开文件 " + Path("T.DBF") + " 失败"));
        EXPECT_EQ(expected, Table().substr(kHeader));
        EXPECT_EQ(2502u, CountInFile("T.DBF"));
        EXPECT_TRUE(t.isOpen);
    }
}

TEST_F(RecordTest, AppendGivesUpAfterFiveAttempts) {
    Append(0, 2);
    std::string before = Table();
    std::string images = Images(2, 10);
    faults.add({FileOp::Write, 0, 100, FileCause::Other, EIO, ""});
    EXPECT_EQ(-1, t.AppendRecord(images.data(), 10));
    EXPECT_EQ(5, Errors("在模块 AppendRecord()中，文件操作错误，错误码是5")) << log.dump();
    EXPECT_EQ(1, Errors("在模块 AppendRecord()中，多次尝试写入失败"));
    EXPECT_EQ(95, platform::faults::PendingFileFaults());
    EXPECT_FALSE(t.isOpen);
    EXPECT_EQ(before, Table());
}

TEST_F(RecordTest, AppendWithoutAReadableCountWritesNothing) {
    Append(0, 2);
    std::string before = Table();
    Observe();
    faults.add({FileOp::Read, 0, 1, FileCause::Other, EIO, ""});
    std::string images = Images(2, 3);
    EXPECT_EQ(EIO, t.AppendRecord(images.data(), 3));
    EXPECT_EQ(0, Count(FileOp::Write));
    EXPECT_EQ(before, Table());
}

TEST_F(RecordTest, RecordNumbersThatWouldPassTheLargestCountAreRefused) {
    // A header claiming almost 2^32 records: an append that would wrap the
    // count, or a read whose end wraps in 32 bits, must not be attempted.
    uint8_t huge[4];
    dbfbytes::StoreU32(huge, 0xFFFFFFF0u);
    platform::File f;
    ASSERT_TRUE(f.open(Path("T.DBF")));
    ASSERT_TRUE(f.writeAt(4, huge, 4));
    f.close();
    ASSERT_EQ(0, t.OpenDB(Path("T.DBF")));
    Observe();
    std::string images = Images(0, 16);
    EXPECT_EQ(-1, t.AppendRecord(images.data(), 16));
    EXPECT_EQ(1, Errors("在模块 AppendRecord()中，输入参数错误"));
    char buf[2 * kRec];
    EXPECT_EQ(-1, t.ReadRecords(0xFFFFFFFFu, 2, buf));
    EXPECT_EQ(1, Errors("在模块 ReadRecords()中，输入参数错误"));
    EXPECT_EQ(0, Count(FileOp::Write));
    EXPECT_EQ(0xFFFFFFF0u, CountInFile("T.DBF"));
}

// --- reading records ---------------------------------------------------------------

TEST_F(RecordTest, ReadRecordsReadsUpToTheLastCountedRecord) {
    Append(0, 5);
    std::string buf(5 * kRec, '\0');
    EXPECT_EQ(0, t.ReadRecords(3, 2, buf.data()));
    EXPECT_EQ(Images(3, 2), buf.substr(0, 2 * kRec));
    EXPECT_EQ(0, t.ReadRecords(0, 5, buf.data()));
    EXPECT_EQ(Images(0, 5), buf);
    EXPECT_EQ(0, t.ReadRecords(5, 0, buf.data()));
    EXPECT_EQ(-1, t.ReadRecords(3, 3, buf.data()));
    EXPECT_EQ(1, Errors("在模块 ReadRecords()中，输入参数错误"));
}

TEST_F(RecordTest, ReadRecordsFailsWhenTheFileHoldsFewerRecordsThanItsCount) {
    Append(0, 5);
    platform::File f;
    ASSERT_TRUE(f.open(Path("T.DBF")));
    ASSERT_TRUE(f.setLength(int64_t(kHeader + 3 * kRec + 10)));
    f.close();
    std::string buf(5 * kRec, '#');
    EXPECT_EQ(-1, t.ReadRecords(2, 3, buf.data()));
    EXPECT_EQ(1, Errors("在模块 ReadRecords()中，文件 " + Path("T.DBF") +
                        " 的数据不足：应读 75 字节，实读 35 字节！"))
        << log.dump();
    EXPECT_TRUE(t.isOpen);
    EXPECT_EQ(0, t.ReadRecords(0, 3, buf.data()));
    EXPECT_EQ(Images(0, 3), buf.substr(0, 3 * kRec));
}

TEST_F(RecordTest, ReadRecordsRetriesAfterAReadError) {
    Append(0, 3);
    std::string buf(3 * kRec, '\0');
    faults.add({FileOp::Read, 1, 1, FileCause::Other, EIO, ""});  // the count read passes
    EXPECT_EQ(0, t.ReadRecords(0, 3, buf.data()));
    EXPECT_EQ(Images(0, 3), buf);
    EXPECT_EQ(1, Errors("在模块 ReadRecords()中，文件操作错误，错误码是5"));

    log.clear();
    faults.add({FileOp::Read, 1, 100, FileCause::Other, EIO, ""});
    EXPECT_EQ(-1, t.ReadRecords(0, 3, buf.data()));
    EXPECT_EQ(1, Errors("在模块 ReadRecords()中，多次尝试读取失败")) << log.dump();
}

// --- the five-attempt operations on a closed or changed table ------------------------

TEST_F(RecordTest, OperationsOnAClosedTableFailWithoutTouchingIt) {
    Append(0, 2);
    t.ClearStatus();
    log.clear();
    Observe();
    char buf[2 * kRec];
    std::string images = Images(2, 1);
    EXPECT_EQ(-1, t.UpdateField(0, 0, "999999", 6));
    EXPECT_EQ(-1, t.AppendRecord(images.data(), 1));
    EXPECT_EQ(-1, t.ReadRecords(0, 1, buf));
    EXPECT_TRUE(ops.empty());
    EXPECT_TRUE(log.events().empty()) << log.dump();
}

TEST_F(RecordTest, EveryFailedOpeningIsLoggedWithItsAttemptNumber) {
    Append(0, 2);
    struct Case {
        int openFailures;
        int result;
    } cases[] = {{3, 0}, {4, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.openFailures);
        ASSERT_EQ(0, t.OpenDB(Path("T.DBF")));
        log.clear();
        faults.add({FileOp::Write, 0, 1, FileCause::Other, EIO, ""});
        faults.add({FileOp::Open, 0, c.openFailures, FileCause::AccessDenied, 0, ""});
        EXPECT_EQ(c.result, t.UpdateField(1, 0, "999999", 6));
        for (int attempt = 1; attempt <= c.openFailures; ++attempt) {
            EXPECT_EQ(1, Errors("打开" + Path("T.DBF") + "失败,第" + std::to_string(attempt) +
                                "次尝试..."))
                << log.dump();
        }
        EXPECT_EQ(c.result == 0 ? 0 : 1, Errors("在模块 UpdateField()中，多次尝试写入失败"));
    }
    EXPECT_EQ("999999", Table().substr(kHeader + kRec + 1, 6));
}

TEST_F(RecordTest, AHalfOpenTableIsNeverWrittenByARetry) {
    Append(0, 2);
    // Someone replaces the file with one that lacks a field; our write fails
    // once, and every retry finds the table unusable.
    std::vector<RawField> fewer(kFields.begin(), kFields.end() - 1);
    std::string replaced = BuildTable(fewer, 2, Images(0, 2), -1, int(kRec));
    testsupport::WriteFile(Path("T.DBF"), replaced);
    faults.add({FileOp::Write, 0, 1, FileCause::Other, EIO, ""});
    EXPECT_EQ(-1, t.UpdateField(0, 0, "999999", 6));
    EXPECT_EQ(4u, ui.boxes.size());
    EXPECT_EQ(1, Errors("在模块 UpdateField()中，多次尝试写入失败"));
    EXPECT_EQ(replaced, Table());
}

}  // namespace

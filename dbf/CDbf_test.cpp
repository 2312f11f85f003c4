// Creating, opening, checking, closing and copying tables.
#include "dbf/CDbf.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "dbf/DbfTestSupport.h"
#include "platform/Text.h"

namespace {

using dbftest::BuildTable;
using dbftest::MakeSchema;
using dbftest::RawField;
using dbftest::Record;
using platform::FileCause;
using platform::FileOp;

const std::vector<RawField> kThree = {
    {"CODE", 'C', 1, 6, 0}, {"PRICE", 'N', 7, 9, 3}, {"DAY", 'D', 16, 8, 0}};

uint8_t At(const std::string& bytes, size_t i) {
    return uint8_t(bytes.at(i));
}

class CDbfTest : public dbftest::DbfFixture {};

TEST_F(CDbfTest, OneFieldOfWidthTenMakesA65ByteFile) {
    CDbf t(MakeSchema({{"NAME", 'C', 1, 10, 0}}));
    ASSERT_EQ(0, t.CreatDB(Path("T.DBF")));
    EXPECT_TRUE(t.isOpen);
    EXPECT_EQ(65, t.headerLength);
    EXPECT_EQ(11, t.recordLength);
    EXPECT_EQ(20170213, t.headerDate);

    std::string b = Bytes("T.DBF");
    ASSERT_EQ(65u, b.size());
    const uint8_t header[12] = {0x03, 17, 2, 13, 0, 0, 0, 0, 65, 0, 11, 0};
    for (size_t i = 0; i < 12; ++i) EXPECT_EQ(header[i], At(b, i)) << "header byte " << i;
    for (size_t i = 12; i < 32; ++i) EXPECT_EQ(0, At(b, i)) << "reserved byte " << i;
    EXPECT_EQ(std::string("NAME\0\0\0\0\0\0\0", 11), b.substr(32, 11));
    EXPECT_EQ('C', b[43]);
    EXPECT_EQ(1u, dbfbytes::LoadU32(reinterpret_cast<const uint8_t*>(b.data()) + 44));
    EXPECT_EQ(10, At(b, 48));
    EXPECT_EQ(0, At(b, 49));
    for (size_t i = 50; i < 64; ++i) EXPECT_EQ(0, At(b, i)) << "descriptor byte " << i;
    EXPECT_EQ(0x0D, At(b, 64));
}

TEST_F(CDbfTest, DescriptorsKeepElevenNameBytesTypeWidthAndDecimals) {
    DbfSchema schema = MakeSchema(
        {{"ELEVENCHARS", 'N', 1, 12, 4}, {"TWELVECHARSX", 'C', 13, 3, 0}, {"D", 'D', 16, 8, 0}});
    CDbf t(schema);
    ASSERT_EQ(0, t.CreatDB(Path("T.DBF")));
    std::string b = Bytes("T.DBF");
    ASSERT_EQ(32u + 3 * 32 + 1, b.size());
    EXPECT_EQ("ELEVENCHARS", b.substr(32, 11));  // no terminating zero
    EXPECT_EQ("TWELVECHARS", b.substr(64, 11));  // cut to 11
    EXPECT_EQ(std::string("D\0\0\0\0\0\0\0\0\0\0", 11), b.substr(96, 11));
    EXPECT_EQ(12, At(b, 48));
    EXPECT_EQ(4, At(b, 49));
    EXPECT_EQ('D', b[107]);
    EXPECT_EQ(16u, dbfbytes::LoadU32(reinterpret_cast<const uint8_t*>(b.data()) + 108));
    EXPECT_EQ(1 + 12 + 3 + 8, t.recordLength);
}

TEST_F(CDbfTest, WrongOffsetIsCorrectedWithOneErrorLine) {
    DbfSchema schema = MakeSchema({{"A", 'C', 1, 4, 0}, {"B", 'C', 9, 2, 0}, {"C", 'C', 7, 3, 0}});
    CDbf t;
    ASSERT_EQ(0, t.CreatDB(Path("T.DBF"), &schema));
    // B moves to 5, and C follows the corrected B at 7, so C needs no fix.
    EXPECT_EQ(1, t.fields[0].offset);
    EXPECT_EQ(5, t.fields[1].offset);
    EXPECT_EQ(7, t.fields[2].offset);
    EXPECT_EQ(10, t.recordLength);
    EXPECT_EQ(1, log.count("位置偏移不对", "Dbf", 500)) << log.dump();
    EXPECT_EQ(
        1, Errors("创建 DBF 库 " + Path("T.DBF") + " 时出错：\n\n字段“B”的位置偏移不对！已修改！"));
    std::string b = Bytes("T.DBF");
    EXPECT_EQ(5u, dbfbytes::LoadU32(reinterpret_cast<const uint8_t*>(b.data()) + 64 + 12));
}

TEST_F(CDbfTest, SchemaWithoutFieldsIsRefusedWithABox) {
    CDbf t;
    DbfSchema empty;
    EXPECT_EQ(-1, t.CreatDB(Path("T.DBF"), &empty));
    EXPECT_FALSE(testsupport::Exists(Path("T.DBF")));
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_EQ("创建 DBF 库 " + Path("T.DBF") + " 时出错：\n\n库结构至少要有一个字段！",
              ui.boxes[0].text);
    EXPECT_EQ("错误", ui.boxes[0].title);
    EXPECT_EQ(platform::BoxIcon::Error, ui.boxes[0].icon);
}

TEST_F(CDbfTest, SchemaBeyondTheHeaderFieldsIsRefused) {
    // 16-bit header and record lengths: at most 2046 fields, records of at
    // most 65535 bytes. Anything larger would be written truncated.
    DbfSchema wide(257, CDbfFieldDef("W", 'C', 0, 255, 0));
    DbfSchema many(2047, CDbfFieldDef("M", 'C', 0, 1, 0));
    DbfSchema fits(2046, CDbfFieldDef("F", 'C', 0, 1, 0));
    for (auto* schema : {&wide, &many}) {
        CDbf t;
        EXPECT_EQ(-1, t.CreatDB(Path("T.DBF"), schema));
        EXPECT_FALSE(t.isOpen);
    }
    EXPECT_FALSE(testsupport::Exists(Path("T.DBF")));
    EXPECT_EQ(2u, ui.boxes.size());
    CDbf t;
    EXPECT_EQ(0, t.CreatDB(Path("T.DBF"), &fits));
    EXPECT_EQ(65505, t.headerLength);
}

TEST_F(CDbfTest, OpeningAMissingFileCreatesIt) {
    DbfSchema schema = MakeSchema(kThree);
    CDbf t;
    ASSERT_EQ(0, t.OpenDB(Path("NEW.DBF"), &schema));
    EXPECT_TRUE(t.isOpen);
    EXPECT_EQ(Path("NEW.DBF"), t.path);
    EXPECT_EQ(32u + 3 * 32 + 1, Bytes("NEW.DBF").size());
    EXPECT_EQ(0, log.count("", "Dbf")) << log.dump();
}

TEST_F(CDbfTest, YesterdaysTableIsRecreatedTodaysIsKept) {
    DbfSchema schema = MakeSchema(kThree);
    std::string rec = Record(schema, {"000001", "    1.000", "20170213"});
    {
        CDbf t(schema);
        ASSERT_EQ(0, t.OpenDB(Path("T.DBF")));
        ASSERT_EQ(0, t.AppendRecord((rec + rec).data(), 2));
    }
    {
        CDbf t(schema);
        ASSERT_EQ(0, t.OpenDB(Path("T.DBF")));
        uint32_t n = 0;
        ASSERT_EQ(0, t.ReadRecNum(n));
        EXPECT_EQ(2u, n);
    }
    EXPECT_EQ(0, log.count("不是今天的"));

    clock.advance(15 * 3600 * 1000);  // 2017-02-14 00:30
    CDbf t(schema);
    ASSERT_EQ(0, t.OpenDB(Path("T.DBF")));
    EXPECT_EQ(1, log.count(Path("T.DBF") + " 不是今天的，小站将删除并创建新的文件！", "Dbf", 400));
    EXPECT_EQ(20170214, t.headerDate);
    std::string b = Bytes("T.DBF");
    EXPECT_EQ(size_t(t.headerLength), b.size());
    EXPECT_EQ(14, At(b, 3));
    uint32_t n = 99;
    ASSERT_EQ(0, t.ReadRecNum(n));
    EXPECT_EQ(0u, n);
}

TEST_F(CDbfTest, EmptyOrTruncatedHeaderIsRecreated) {
    for (size_t len : {0, 3, 31}) {
        SCOPED_TRACE(len);
        testsupport::WriteFile(Path("T.DBF"), std::string(len, '\x11'));
        DbfSchema schema = MakeSchema(kThree);
        CDbf t;
        ASSERT_EQ(0, t.OpenDB(Path("T.DBF"), &schema));
        EXPECT_TRUE(t.isOpen);
        EXPECT_EQ(size_t(t.headerLength), Bytes("T.DBF").size());
    }
}

TEST_F(CDbfTest, LengthWarningAllowsExactlyOneExtraByte) {
    DbfSchema schema = MakeSchema(kThree);
    const std::string rec = Record(schema, {"000001"});
    struct Case {
        int extra;
        bool warns;
    } cases[] = {{-1, true}, {0, false}, {1, false}, {2, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extra);
        log.clear();
        std::string image = BuildTable(kThree, 2, rec + rec);
        if (c.extra < 0) image.pop_back();
        image += std::string(c.extra > 0 ? size_t(c.extra) : 0, '\x1A');
        testsupport::WriteFile(Path("T.DBF"), image);
        CDbf t(schema);
        EXPECT_EQ(0, t.OpenDB(Path("T.DBF")));
        EXPECT_TRUE(t.isOpen);
        std::string expected = "警告： DBF 库 " + Path("T.DBF") + " 文件长度（" +
                               std::to_string(image.size()) +
                               "）与数据库头（129 + 24 * 2 <+1>）不符！";
        EXPECT_EQ(c.warns ? 1 : 0, Errors(expected)) << log.dump();
        EXPECT_EQ(c.warns ? 1 : 0, log.count("", "Dbf")) << log.dump();
    }
}

TEST_F(CDbfTest, BadHeaderOrRecordLengthFailsTheOpen) {
    struct Case {
        int headerLength, recordLength;
        std::string message;
    } cases[] = {
        {64, 24, "打开 DBF 库 %s 时出错：\n\n数据库头长度（64）不对！"},
        {0, 24, "打开 DBF 库 %s 时出错：\n\n数据库头长度（0）不对！"},
        {129, 1, "打开 DBF 库 %s 时出错：\n\n记录长度（1）不对！"},
        {129, 0, "打开 DBF 库 %s 时出错：\n\n记录长度（0）不对！"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        log.clear();
        testsupport::WriteFile(Path("T.DBF"),
                               BuildTable(kThree, 0, "", c.headerLength, c.recordLength));
        CDbf t(MakeSchema(kThree));
        EXPECT_EQ(-1, t.OpenDB(Path("T.DBF")));
        EXPECT_FALSE(t.isOpen);
        EXPECT_FALSE(t.file.isOpen());
        std::string text = c.message;
        text.replace(text.find("%s"), 2, Path("T.DBF"));
        EXPECT_EQ(1, Errors(text)) << log.dump();
    }
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(CDbfTest, MoreDescriptorsThanTheSchemaFailTheOpen) {
    testsupport::WriteFile(Path("T.DBF"), BuildTable(kThree, 0));
    DbfSchema two = MakeSchema({kThree[0], kThree[1]});
    CDbf t(two);
    EXPECT_EQ(-1, t.OpenDB(Path("T.DBF")));
    EXPECT_FALSE(t.isOpen);
    EXPECT_FALSE(t.file.isOpen());
    EXPECT_EQ(1, Errors("提示：DBF库" + Path("T.DBF") + " 有3 个字段，本程序只写2 个字段"))
        << log.dump();
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(CDbfTest, MissingFieldsAreListedInOneBoxAndLeaveTheTableHalfOpen) {
    testsupport::WriteFile(Path("T.DBF"), BuildTable({kThree[0]}, 0));
    DbfSchema schema = MakeSchema(kThree);
    CDbf t(schema);
    EXPECT_EQ(-1, t.OpenDB(Path("T.DBF")));
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_EQ("打开 DBF 库 " + Path("T.DBF") +
                  " 时出错：\n\n库结构缺少字段“ PRICE  DAY ”或者该字段定义与规范不符！",
              ui.boxes[0].text);
    EXPECT_EQ("错误", ui.boxes[0].title);
    EXPECT_EQ(platform::BoxIcon::Error, ui.boxes[0].icon);
    EXPECT_FALSE(t.isOpen);
    EXPECT_TRUE(t.file.isOpen());
    EXPECT_EQ(7, t.fields[1].offset);  // offsets recomputed from the widths

    // The next record operation opens (and checks) the table again.
    uint32_t n = 5;
    EXPECT_EQ(0, t.ReadRecNum(n));
    EXPECT_EQ(5u, n);
    EXPECT_EQ(2u, ui.boxes.size());
}

TEST_F(CDbfTest, AFieldThatDiffersInAnyWayCountsAsMissing) {
    struct Case {
        const char* what;
        RawField stored;  // how the file describes PRICE
    } cases[] = {
        {"width", {"PRICE", 'N', 7, 10, 3}},
        {"type", {"PRICE", 'C', 7, 9, 3}},
        {"decimals", {"PRICE", 'N', 7, 9, 2}},
        {"name", {"PRICF", 'N', 7, 9, 3}},
        {"offset zero", {"PRICE", 'N', 0, 9, 3}},
        {"offset negative", {"PRICE", 'N', -7, 9, 3}},
        {"offset past the record", {"PRICE", 'N', 16, 9, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ui.boxes.clear();
        testsupport::WriteFile(Path("T.DBF"),
                               BuildTable({kThree[0], c.stored, kThree[2]}, 0, "", -1, 24));
        CDbf t(MakeSchema(kThree));
        EXPECT_EQ(-1, t.OpenDB(Path("T.DBF")));
        ASSERT_EQ(1u, ui.boxes.size());
        EXPECT_NE(std::string::npos, ui.boxes[0].text.find("缺少字段“ PRICE ”"));
    }
}

TEST_F(CDbfTest, NamesMatchOnTenCharactersAndOffsetsComeFromTheFile) {
    // The file stores the fields in another order than the schema; the second
    // and third schema fields differ only in their 11th character and both
    // take the one descriptor that agrees in the first ten.
    std::vector<RawField> stored = {
        {"DAY", 'D', 1, 8, 0}, {"ABCDEFGHIJX", 'C', 9, 4, 0}, {"CODE", 'C', 13, 6, 0}};
    std::string rec = " 20170213WXYZ000042";
    testsupport::WriteFile(Path("T.DBF"), BuildTable(stored, 1, rec));
    DbfSchema schema = MakeSchema({{"CODE", 'C', 1, 6, 0},
                                   {"ABCDEFGHIJ1", 'C', 7, 4, 0},
                                   {"ABCDEFGHIJ2", 'C', 11, 4, 0},
                                   {"DAY", 'D', 15, 8, 0}});
    CDbf t(schema);
    ASSERT_EQ(0, t.OpenDB(Path("T.DBF"))) << log.dump();
    EXPECT_EQ(13, t.fields[0].offset);
    EXPECT_EQ(9, t.fields[1].offset);
    EXPECT_EQ(9, t.fields[2].offset);
    EXPECT_EQ(1, t.fields[3].offset);
    char buf[8];
    uint32_t len = sizeof buf;
    ASSERT_EQ(0, t.ReadField(0, 0, buf, len));
    EXPECT_EQ("000042", std::string(buf, len));
    len = sizeof buf;
    ASSERT_EQ(0, t.ReadField(0, 2, buf, len));
    EXPECT_EQ("WXYZ", std::string(buf, len));

    // A name shorter than ten characters must agree to its end.
    stored[2].name = "CODEX";
    testsupport::WriteFile(Path("T.DBF"), BuildTable(stored, 1, rec));
    CDbf u(schema);
    EXPECT_EQ(-1, u.OpenDB(Path("T.DBF")));
    ASSERT_EQ(1u, ui.boxes.size());
    EXPECT_NE(std::string::npos, ui.boxes[0].text.find("“ CODE ”"));
}

TEST_F(CDbfTest, SnapshotIsAByteCopyNamedAfterTheTable) {
    DbfSchema schema = MakeSchema(kThree);
    ASSERT_TRUE(platform::MakeDirectory(Path("v1.2")));
    struct Case {
        std::string table, copy;
    } cases[] = {
        {Path("NQXX.DBF"), Path("NQXX_5.DBF")},
        {Path("v1.2/NQHQ"), Path("v1.2/NQHQ_5.DBF")},
        {Path("v1.2/NQHQ.old.dbf"), Path("v1.2/NQHQ.old_5.DBF")},
    };
    // 2000 records make a file of several copy chunks.
    std::string recs;
    for (int i = 0; i < 2000; ++i) {
        char code[8];
        std::snprintf(code, sizeof code, "%06d", i);
        recs += Record(schema, {code, "    1.500", "20170213"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        CDbf t(schema);
        ASSERT_EQ(0, t.OpenDB(c.table));
        ASSERT_EQ(0, t.AppendRecord(recs.data(), 2000));
        ASSERT_EQ(0, t.SnapshotDB(5));
        std::string original = testsupport::ReadFile(c.table);
        EXPECT_GT(original.size(), 2 * CDbf::kCopyChunk);
        EXPECT_EQ(original, testsupport::ReadFile(c.copy));
        // The table is open again and goes on working.
        EXPECT_TRUE(t.isOpen);
        EXPECT_EQ(0, t.WriteRecNum(10));
    }
    CDbf off(schema);
    EXPECT_EQ(-1, off.SnapshotDB(5));
    EXPECT_FALSE(testsupport::Exists("_5.DBF"));
}

TEST_F(CDbfTest, FileErrorsCloseTheTableAndReturnTheErrno) {
    DbfSchema schema = MakeSchema(kThree);
    testsupport::WriteFile(Path("T.DBF"), BuildTable(kThree, 0));
    faults.add({FileOp::Open, 0, 1, FileCause::AccessDenied, 0, "T.DBF"});
    CDbf t(schema);
    EXPECT_EQ(EACCES, t.OpenDB(Path("T.DBF")));
    EXPECT_FALSE(t.isOpen);
    EXPECT_FALSE(t.file.isOpen());
    EXPECT_EQ(0, t.headerLength);
    EXPECT_EQ(1, Errors("打开文件 " + Path("T.DBF") + " 失败"));

    faults.add({FileOp::Create, 0, 1, FileCause::Other, ENOSPC, ""});
    EXPECT_EQ(ENOSPC, t.CreatDB(Path("U.DBF")));
    EXPECT_FALSE(t.isOpen);
    EXPECT_EQ(1, Errors("打开文件 " + Path("U.DBF") + " 失败"));

    // A failed close in ClearStatus is reported too, and the state is clear.
    ASSERT_EQ(0, t.OpenDB(Path("T.DBF")));
    faults.add({FileOp::Close, 0, 1, FileCause::Other, EIO, ""});
    EXPECT_EQ(EIO, t.ClearStatus());
    EXPECT_FALSE(t.file.isOpen());
    EXPECT_EQ(2, Errors("打开文件 " + Path("T.DBF") + " 失败"));
}

TEST_F(CDbfTest, CloseKeepsTheOpenStateAndCloseAndOpenRestoresTheFile) {
    DbfSchema schema = MakeSchema(kThree);
    CDbf t(schema);
    ASSERT_EQ(0, t.OpenDB(Path("T.DBF")));
    EXPECT_EQ(0, t.Flush());
    EXPECT_EQ(0, t.Close());
    EXPECT_TRUE(t.isOpen);
    EXPECT_FALSE(t.file.isOpen());
    EXPECT_EQ(-1, t.Flush());
    t.WriteToDisk();  // nothing to do, and no complaint

    // A write reopens the closed file by itself.
    std::string rec = Record(schema, {"000000"});
    EXPECT_EQ(0, t.WriteRecord(0, rec.data(), uint32_t(rec.size())));
    EXPECT_TRUE(t.file.isOpen());

    EXPECT_EQ(0, t.Close());
    EXPECT_EQ(0, t.CloseAndOpen());
    EXPECT_TRUE(t.isOpen);
    EXPECT_TRUE(t.file.isOpen());

    faults.add({FileOp::Flush, 0, 1, FileCause::Other, EIO, ""});
    EXPECT_EQ(EIO, t.Flush());
    EXPECT_FALSE(t.isOpen);
    EXPECT_EQ(0, log.count("", "Dbf", 400)) << log.dump();
}

// --- an independent reader ---------------------------------------------------

std::string RunPython(const std::string& script, const std::string& arg) {
    std::string cmd = "/usr/bin/python3 " + script + " " + arg + " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    std::string out;
    if (!pipe) return out;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
    return out;
}

TEST_F(CDbfTest, TablesWeWriteReadBackWithAnIndependentReader) {
    if (std::system("/usr/bin/python3 -c 'import dbfread' >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3-dbfread is not installed (scripts/setup.sh installs it)";
    }
    DbfSchema schema = MakeSchema({{"ZQDM", 'C', 1, 6, 0},
                                   {"ZQJC", 'C', 7, 8, 0},
                                   {"PRICE", 'N', 15, 9, 3},
                                   {"VOLUME", 'N', 24, 12, 0},
                                   {"LISTED", 'D', 36, 8, 0}});
    const std::string name = platform::Utf8ToGbk("浦发银行");
    ASSERT_EQ(8u, name.size());
    std::string images = Record(schema, {"000000", "", "    0.000", "       93000", "20170213"}) +
                         Record(schema, {"430001", name, "   12.345", "     1000000", "20010315"}) +
                         Record(schema, {"430002", "ABC", "   -0.500", "           0", "19991231"});

    CDbf t(schema);
    ASSERT_EQ(0, t.OpenDB(Path("NQTEST.DBF")));
    ASSERT_EQ(0, t.AppendRecord(images.data(), 3));
    std::string changed =
        Record(schema, {"430003", "XYZ", "    7.000", "          42", "20200229"});
    ASSERT_EQ(0, t.UpdateRecord(2, changed.data()));
    ASSERT_EQ(0, t.UpdateField(1, 2, "   13.000", 9));
    ASSERT_EQ(0, t.Flush());

    testsupport::WriteFile(Path("read.py"), R"PY(
import sys, dbfread
sys.stdout.reconfigure(encoding="utf-8")
t = dbfread.DBF(sys.argv[1], encoding="gbk", char_decode_errors="strict")
print("fields", ";".join("%s,%s,%d,%d" % (f.name, f.type, f.length, f.decimal_count) for f in t.fields))
print("count", t.header.numrecords, len(t))
for r in t:
    print("|".join(v.isoformat() if hasattr(v, "isoformat") else repr(v) for v in r.values()))
)PY");
    std::string out = RunPython(Path("read.py"), Path("NQTEST.DBF"));
    EXPECT_EQ(
        "fields ZQDM,C,6,0;ZQJC,C,8,0;PRICE,N,9,3;VOLUME,N,12,0;LISTED,D,8,0\n"
        "count 3 3\n"
        "'000000'|''|0.0|93000|2017-02-13\n"
        "'430001'|'浦发银行'|13.0|1000000|2001-03-15\n"
        "'430003'|'XYZ'|7.0|42|2020-02-29\n",
        out);
}

}  // namespace

#include "mastersim/Truth.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "dbf/CDbf.h"
#include "mastersim/Market.h"
#include "quotes/QuoteTables.h"
#include "tests/support/TestSupport.h"

namespace mastersim {
namespace {

TruthTable QuoteTruth(int securities) {
    Market m(securities, 21, 20170213);
    m.evolve(60, 100000, true, true);
    TruthTable t{&NqhqLayout(), {}};
    uint8_t rec[198];
    m.quoteSpecial(100000, 10, rec);
    t.images.push_back(FormatImage(NqhqLayout(), rec, true));
    for (int i = 0; i < securities; ++i) {
        m.quoteRecord(i, rec);
        t.images.push_back(FormatImage(NqhqLayout(), rec, false));
    }
    return t;
}

void WriteDbf(const std::string& path, QuoteTableId id, const std::vector<std::string>& images) {
    CDbf table(QuoteSchema(id));
    ASSERT_EQ(table.CreatDB(path), 0);
    std::string all;
    for (const std::string& i : images) all += i;
    if (!images.empty()) {
        ASSERT_EQ(table.AppendRecord(all.data(), uint32_t(images.size())), 0);
    }
    table.ClearStatus();
}

TEST(TruthFileTest, RoundTripsEveryByte) {
    testsupport::TempDir dir;
    TruthTable t = QuoteTruth(50);
    // Bytes that need escaping inside a text field.
    t.images[3].replace(7, 8, "a|b\\c\x01\xFF\x0A");
    std::string error;
    ASSERT_TRUE(WriteTruthTable(dir.path(), t, &error)) << error;
    TruthTable back;
    ASSERT_TRUE(ReadTruthTable(dir.file("NQHQ.DBF.truth"), back, &error)) << error;
    EXPECT_EQ(back.layout, &NqhqLayout());
    EXPECT_EQ(back.images, t.images);
    const auto all = ReadTruthDir(dir.path(), &error);
    ASSERT_EQ(all.size(), 1u);
}

TEST(TruthFileTest, RefusesMalformedFiles) {
    testsupport::TempDir dir;
    const std::string good =
        "tavrel-master truth 1\ntable NQZSXX.DBF\nfields 7\nrecords 1\n"
        "000000|  |           0|    0.000| |093000|       0\n";
    const std::pair<std::string, std::string> cases[] = {
        {"magic", "truth 2\n"},
        {"table", "tavrel-master truth 1\ntable NQNONE.DBF\nfields 7\nrecords 0\n"},
        {"fields", "tavrel-master truth 1\ntable NQZSXX.DBF\nfields 8\nrecords 0\n"},
        {"missing record",
         "tavrel-master truth 1\ntable NQZSXX.DBF\nfields 7\nrecords 2\n"
         "000000|  |           0|    0.000| |093000|       0\n"},
        {"width",
         "tavrel-master truth 1\ntable NQZSXX.DBF\nfields 7\nrecords 1\n"
         "000000| |           0|    0.000| |093000|       0\n"},
        {"short", "tavrel-master truth 1\ntable NQZSXX.DBF\nfields 7\nrecords 1\n000000|  \n"},
        {"escape",
         "tavrel-master truth 1\ntable NQZSXX.DBF\nfields 7\nrecords 1\n"
         "00000\\x|  |           0|    0.000| |093000|       0\n"},
    };
    TruthTable t;
    std::string error;
    testsupport::WriteFile(dir.file("good.truth"), good);
    ASSERT_TRUE(ReadTruthTable(dir.file("good.truth"), t, &error)) << error;
    for (const auto& [name, text] : cases) {
        testsupport::WriteFile(dir.file("bad.truth"), text);
        EXPECT_FALSE(ReadTruthTable(dir.file("bad.truth"), t, &error)) << name;
    }
}

TEST(CompareTest, AStationTableEqualToTheTruthAndEachKindOfDifference) {
    testsupport::TempDir dir;
    const TruthTable t = QuoteTruth(300);
    const std::string path = dir.file("NQHQ.DBF");
    WriteDbf(path, kNqhq, t.images);
    TableComparison c = CompareWithDbf(t, path, CompareMode::Exact);
    EXPECT_TRUE(c.equal) << (c.differences.empty() ? "" : c.differences[0]);
    EXPECT_EQ(c.tableRecords, 301u);

    // One field of one record changed on disk.
    DbfContents dbf;
    ASSERT_TRUE(ReadDbf(path, dbf, nullptr));
    std::string bytes = testsupport::ReadFile(path);
    const size_t at =
        dbf.headerLength + 17 * dbf.recordLength + NqhqLayout().field("HQZJCJ").dbfOffset;
    bytes[at + 8] = bytes[at + 8] == '1' ? '2' : '1';
    testsupport::WriteFile(path, bytes);
    c = CompareWithDbf(t, path, CompareMode::Exact);
    EXPECT_FALSE(c.equal);
    EXPECT_EQ(c.differingRecords, 1u);
    ASSERT_EQ(c.differences.size(), 1u);
    EXPECT_NE(c.differences[0].find("record 17 field HQZJCJ"), std::string::npos)
        << c.differences[0];

    // A record short.
    WriteDbf(path, kNqhq, std::vector<std::string>(t.images.begin(), t.images.end() - 1));
    c = CompareWithDbf(t, path, CompareMode::Converged);
    EXPECT_FALSE(c.equal);
    EXPECT_NE(c.differences[0].find("record count"), std::string::npos);

    // Not a table at all.
    testsupport::WriteFile(path, "garbage");
    EXPECT_FALSE(CompareWithDbf(t, path, CompareMode::Exact).equal);
    EXPECT_FALSE(CompareWithDbf(t, dir.file("absent.DBF"), CompareMode::Exact).equal);
}

// Our reader and an independent one agree on a table the station's table
// class wrote.
TEST(CompareTest, ReaderAgreesWithDbfread) {
    if (std::system("/usr/bin/python3 -c 'import dbfread' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-dbfread is not installed";
    testsupport::TempDir dir;
    const TruthTable t = QuoteTruth(40);
    const std::string path = dir.file("NQHQ.DBF");
    WriteDbf(path, kNqhq, t.images);
    const std::string script = dir.file("read.py");
    testsupport::WriteFile(script,
                           "import sys, dbfread\n"
                           "t = dbfread.DBF(sys.argv[1], encoding='gbk', raw=True, load=True)\n"
                           "for r in t.records:\n"
                           "    print(r['HQZQDM'].decode() + '|' + r['HQZJCJ'].decode() + '|' + "
                           "r['HQCJSL'].decode())\n");
    const std::string outPath = dir.file("out.txt");
    ASSERT_EQ(std::system(("/usr/bin/python3 " + script + " " + path + " > " + outPath).c_str()),
              0);
    std::ifstream in(outPath);
    DbfContents dbf;
    ASSERT_TRUE(ReadDbf(path, dbf, nullptr));
    ASSERT_EQ(dbf.records.size(), 41u);
    std::string line;
    size_t r = 0;
    for (; std::getline(in, line); ++r) {
        ASSERT_LT(r, dbf.records.size());
        const std::string& rec = dbf.records[r];
        EXPECT_EQ(line, rec.substr(1, 6) + "|" + rec.substr(33, 9) + "|" + rec.substr(42, 12));
    }
    EXPECT_EQ(r, 41u);
}

std::vector<uint8_t> Declaration(const char* code, int32_t number, int64_t qty, char status) {
    RecordBuilder b(NqxyxxLayout());
    b.text("XYZQDM", code);
    b.text("XYJYDY", "000123");
    b.text("XYYWLB", "OB");
    b.number("XYWTSL", qty);
    b.number("XYWTJG", 12340);
    b.number("XYYDH", number);
    b.text("XYWTSJ", "093000");
    b.text("XYJLZT", std::string(1, status));
    return {b.data(), b.data() + b.size()};
}

std::vector<uint8_t> DeclarationSpecial(const char* time) {
    RecordBuilder b(NqxyxxLayout());
    b.text("XYZQDM", "000000");
    b.text("XYWTSJ", time);
    return {b.data(), b.data() + b.size()};
}

TEST(DeclarationTruthTest, FollowsBaseRoundsAndDeltas) {
    DeclarationTruth t(NqxyxxLayout());
    // Base round 1: special, A, B.
    t.beginBase();
    t.apply(DeclarationSpecial("093000").data(), true, false, 0);
    t.apply(Declaration("830001", 1, 1000, '1').data(), false, false, 0);
    t.apply(Declaration("830002", 2, 2000, '1').data(), false, false, 0);
    EXPECT_EQ(t.activeCount(), 2u);
    // Delta: C added, A withdrawn (its status by the operation), B resent unchanged.
    t.apply(DeclarationSpecial("093100").data(), true, true, 0);
    t.apply(Declaration("830003", 3, 3000, '1').data(), false, true, 1);
    t.apply(Declaration("830001", 1, 1000, '1').data(), false, true, 2);
    t.apply(Declaration("830002", 2, 2000, '1').data(), false, true, 3);
    // Base round 2 without B: B keeps its record, withdrawn.
    t.beginBase();
    t.apply(DeclarationSpecial("093200").data(), true, false, 0);
    t.apply(Declaration("830003", 3, 3500, '1').data(), false, false, 0);
    const TruthTable table = t.table();
    ASSERT_EQ(table.images.size(), 4u);
    auto field = [&](size_t r, const char* name) {
        const FieldLayout& f = NqxyxxLayout().field(name);
        return table.images[r].substr(f.dbfOffset, f.dbfWidth);
    };
    EXPECT_EQ(field(0, "XYWTSJ"), "093200");
    EXPECT_EQ(field(0, "XYJLZT"), " ");
    EXPECT_EQ(field(1, "XYZQDM"), "830001");
    EXPECT_EQ(field(1, "XYJLZT"), "0");
    EXPECT_EQ(field(2, "XYZQDM"), "830002");
    EXPECT_EQ(field(2, "XYJLZT"), "0");
    EXPECT_EQ(field(3, "XYZQDM"), "830003");
    EXPECT_EQ(field(3, "XYWTSL"), "        3500");
    EXPECT_EQ(field(3, "XYJLZT"), "1");
    EXPECT_EQ(t.activeCount(), 1u);
}

TEST(CompareTest, ConvergedDeclarationsCompareByKey) {
    testsupport::TempDir dir;
    DeclarationTruth truth(NqxyxxLayout());
    truth.beginBase();
    truth.apply(DeclarationSpecial("100000").data(), true, false, 0);
    for (int i = 1; i <= 5; ++i)
        truth.apply(Declaration("830001", i, 1000 * i, '1').data(), false, false, 0);
    truth.apply(Declaration("830001", 2, 2000, '1').data(), false, true, 2);  // withdrawn
    const TruthTable t = truth.table();

    // The station saw the declarations in another order and missed the
    // withdrawn one's last change: equal by key, not in place.
    std::vector<std::string> images = {t.images[0], t.images[4], t.images[1],
                                       t.images[3], t.images[5], t.images[2]};
    images[5][50] = '0';
    const std::string path = dir.file("NQXYXX.DBF");
    WriteDbf(path, kNqxyxx, images);
    EXPECT_FALSE(CompareWithDbf(t, path, CompareMode::Exact).equal);
    TableComparison c = CompareWithDbf(t, path, CompareMode::Converged);
    EXPECT_TRUE(c.equal) << (c.differences.empty() ? "" : c.differences[0]);

    // An active declaration missing, or one still active that the truth has
    // withdrawn, is a difference.
    WriteDbf(path, kNqxyxx, {images[0], images[1], images[2], images[3], images[5]});
    c = CompareWithDbf(t, path, CompareMode::Converged);
    EXPECT_FALSE(c.equal);
    images[5][50] = '1';
    WriteDbf(path, kNqxyxx, images);
    c = CompareWithDbf(t, path, CompareMode::Converged);
    EXPECT_FALSE(c.equal);
    ASSERT_FALSE(c.differences.empty());
    EXPECT_NE(c.differences[0].find("withdrawn in truth"), std::string::npos) << c.differences[0];
}

}  // namespace
}  // namespace mastersim

// The six tables as trading systems see them: written with CDbf from our
// records, read back by an independent DBF reader (python3-dbfread), so a
// mistake in our own reader cannot hide one in the writer or the formatter.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dbf/CDbf.h"
#include "platform/Clock.h"
#include "platform/Text.h"
#include "quotes/QuoteRecords.h"
#include "quotes/TableCheck.h"
#include "tests/support/TestSupport.h"

namespace {

// Fills a record field by field in schema order and notes, for each field,
// the value a DBF reader must find: text as the hex of its bytes without the
// trailing padding, numbers as decimal text with the field's decimals, dates
// as yyyymmdd or None.
class Expect {
  public:
    template <size_t N>
    void text(char (&field)[N], const std::string& value) {
        ASSERT_LE(value.size(), N);
        std::memset(field, ' ', N);
        std::memcpy(field, value.data(), value.size());
        values_.push_back(Hex(value));
    }
    void text(char& field, char value) {
        field = value;
        values_.push_back(value == ' ' ? "" : Hex(std::string(1, value)));
    }
    template <typename Le, typename V>
    void number(Le& field, V value, int decimals = 0) {
        field = value;
        values_.push_back(Decimal(static_cast<int64_t>(value), decimals));
    }
    template <typename Le>
    void date(Le& field, int32_t yyyymmdd) {
        field = yyyymmdd;
        values_.push_back(yyyymmdd == 0 ? "None" : std::to_string(yyyymmdd));
    }
    // What a reader must see instead of the last value noted.
    void replaceLast(const std::string& value) { values_.back() = value; }

    std::string line() const {
        std::string out;
        for (size_t i = 0; i < values_.size(); ++i) out += (i ? "|" : "") + values_[i];
        return out + "\n";
    }

  private:
    static std::string Hex(std::string s) {
        while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
        std::string out;
        char byte[3];
        for (unsigned char c : s) {
            std::snprintf(byte, sizeof byte, "%02x", c);
            out += byte;
        }
        return out;
    }
    static std::string Decimal(int64_t scaled, int decimals) {
        if (decimals == 0) return std::to_string(scaled);
        const uint64_t magnitude = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : scaled;
        uint64_t unit = 1;
        for (int i = 0; i < decimals; ++i) unit *= 10;
        char text[48];
        std::snprintf(text, sizeof text, "%s%" PRIu64 ".%0*" PRIu64, scaled < 0 ? "-" : "",
                      magnitude / unit, decimals, magnitude % unit);
        return text;
    }
    std::vector<std::string> values_;
};

const std::string kName = platform::Utf8ToGbk("浦发银行");     // 8 bytes
const std::string kOther = platform::Utf8ToGbk("中关村科技");  // 10 bytes

std::string Code(int i) {
    char code[8];
    std::snprintf(code, sizeof code, "%06d", i == 0 ? 0 : 430000 + i % 1000);
    return code;
}

// Record i of each table; i = 0 is the special record. Values reach the edges
// of their fields (the widest text that still fits, negatives, zero).
SnapshotRec_t Snapshot(int i, Expect& e) {
    SnapshotRec_t r{};
    const bool special = i == 0;
    const int32_t price = i == 2 ? 99999999 : i == 3 ? -9999999 : i * 1234;
    e.text(r.HQZQDM, Code(i));
    e.text(r.HQZQJC, i == 1 ? kName : "ABC");
    e.number(r.HQZRSP, price, 3);
    e.number(r.HQJRKP, -500, 3);
    e.number(r.HQZJCJ, 0, 3);
    e.number(r.HQCJSL, special ? int64_t{93001} : int64_t{999999999999}, 0);
    e.number(r.HQCJJE, i == 2 ? (int64_t{1} << 52) - 1 : int64_t{123456789012}, 3);
    e.number(r.HQCJBS, special ? 93000 : i, 0);
    e.number(r.HQZGCJ, price, 3);
    e.number(r.HQZDCJ, price, 3);
    e.number(r.HQSYL1, 99999999, 4);
    e.number(r.HQSYL2, -9999999, 4);
    e.number(r.HQJSD1, 1, 3);
    e.number(r.HQJSD2, -1, 3);
    e.number(r.HQHYCC, int64_t{-99999999999}, 0);
    LeInt32* prices[] = {&r.HQSJW5, &r.HQSJW4, &r.HQSJW3, &r.HQSJW2, &r.HQSJW1,
                         &r.HQBJW1, &r.HQBJW2, &r.HQBJW3, &r.HQBJW4, &r.HQBJW5};
    LeInt64* volumes[] = {&r.HQSSL5, &r.HQSSL4, &r.HQSSL3, &r.HQSSL2, &r.HQSSL1,
                          &r.HQBSL1, &r.HQBSL2, &r.HQBSL3, &r.HQBSL4, &r.HQBSL5};
    for (int k = 0; k < 10; ++k) {
        e.number(*prices[k], price > 0 ? price - k : price + k, 3);  // stays in the field
        // HQBSL4 and HQBSL5 of the special record are zero-filled; a reader
        // still finds the number.
        e.number(*volumes[k], int64_t{10000} + k * 100000 + i, 0);
    }
    return r;
}

ZqxxRec_t Zqxx(int i, Expect& e) {
    ZqxxRec_t r{};
    e.text(r.XXZQDM, Code(i));
    e.text(r.XXZQJC, kName);
    e.text(r.XXYWJC, i == 0 ? "09300012" : "PUFA BANK CO LTD 20C");
    e.text(r.XXJCZQ, Code(i));
    e.text(r.XXISIN, "CNE000001R84");
    e.number(r.XXZRDW, 9999);
    e.text(r.XXHYZL, "C27");
    e.text(r.XXHBZL, "00");
    e.number(r.XXMGMZ, 100, 2);
    e.number(r.XXZGB, int64_t{999999999999});
    e.number(r.XXFXSGB, int64_t{-1});
    e.number(r.XXSNSY, 12345, 4);
    e.number(r.XXBNSY, -12345, 4);
    // "%7.6f" of a rate prints eight characters and the 7-wide field keeps
    // seven: readers have always seen the sixth decimal cut.
    e.number(r.XXJSFL, 487, 6);
    e.replaceLast("0.000480");
    e.number(r.XXYHSL, 1000, 6);
    e.number(r.XXGHFL, 0, 6);
    e.date(r.XXGPRQ, 20150301 + i);
    e.date(r.XXZQQXR, 0);
    e.date(r.XXDQR, 20991231);
    e.number(r.XXMBXL, 999999999);
    e.number(r.XXBLDW, 1000);
    e.number(r.XXSLDW, -99999);
    e.number(r.XXZXSBSL, 999999);
    e.number(r.XXJGDW, 1, 3);
    e.number(r.XXSBCS, 99999, 3);
    e.number(r.XXHXCS, -9999, 3);
    e.number(r.XXXJXZ, i % 10);
    e.number(r.XXZTJG, 12345678, 3);
    e.number(r.XXDTJG, 0, 3);
    e.number(r.XXDZZTJG, 5, 3);
    e.number(r.XXDZDTJG, -5, 3);
    e.text(r.XXCFGBZ, 'N');
    e.number(r.XXZHBL, 100, 2);
    e.text(r.XXZRZT, 'T');
    e.text(r.XXZQJB, ' ');
    e.text(r.XXZRLX, 'M');
    e.number(r.XXZSSSL, 9999);
    e.text(r.XXTPBZ, 'F');
    e.text(r.XXCQCX, ' ');
    e.text(r.XXWLTP, 'Y');
    e.text(r.XXQTYW, "ABCD");
    e.number(r.XXGXSJ, 150000);
    return r;
}

NQZSXX_OrderRec_t Zsxx(int i, Expect& e) {
    NQZSXX_OrderRec_t r{};
    e.text(r.ZSZQDM, Code(i));
    e.text(r.ZSYWLB, "OB");
    e.number(r.ZSWTSL, int64_t{1000} * i);
    e.number(r.ZSWTJG, 12345 + i, 3);
    e.text(r.ZSSJLX, '1');
    e.text(r.ZSWTSJ, "093000");
    e.number(r.ZSBYZD, -9999999);
    return r;
}

NQXYXX_OrderRec_t Xyxx(int i, Expect& e) {
    NQXYXX_OrderRec_t r{};
    e.text(r.XYZQDM, Code(i));
    e.text(r.XYJYDY, "123456");
    e.text(r.XYYWLB, "0B");
    e.number(r.XYWTSL, int64_t{100} * i);
    e.number(r.XYWTJG, 1500 * i, 3);
    e.number(r.XYYDH, 99999999 - i);
    e.text(r.XYWTSJ, "093005");
    e.text(r.XYJLZT, i == 0 ? ' ' : '1');
    e.text(r.XYBYBZ, ' ');
    return r;
}

NQFGKSBXX_OrderRec_t Fgksbxx(int i, Expect& e) {
    NQFGKSBXX_OrderRec_t r{};
    e.text(r.FGKZQDM, Code(i));
    e.text(r.FGKJYDY, "654321");
    e.text(r.FGKZQLB, "GP");
    e.text(r.FGKSBLB, "S1");
    e.number(r.FGKWTSL, int64_t{-1} * i);
    e.number(r.FGKWTJG, 99999999, 3);
    e.number(r.FGKYDH, i);
    e.text(r.FGKWTSJ, "100000");
    e.text(r.FGKJLZT, i == 0 ? ' ' : i % 2 ? '1' : '0');
    e.text(r.FGKBYBZ, 'X');
    return r;
}

NQFGKCJXX_TradeRec_t Trade(int i, Expect& e) {
    NQFGKCJXX_TradeRec_t r{};
    e.number(r.FGKCJXH, i);
    e.text(r.FGKZQDM, Code(i));
    e.text(r.FGKZQJC, kName);
    e.text(r.FGKZQLB, "GP");
    e.text(r.FGKBJYDY, "000001");
    e.text(r.FGKBDYMC, std::string(12, 'B') + kOther + std::string(106, 'b'));  // all 128
    e.text(r.FGKSDJYDY, "000002");
    e.text(r.FGKSDYMC, kOther);
    e.number(r.FGKCJSL, int64_t{999999999999} - i);
    // Unsigned: a price above 2^31 thousandths is still positive.
    e.number(r.FGKCJJG, i == 2 ? uint32_t{2147483648u} : uint32_t{12345}, 3);
    if (i == 2) e.replaceLast("2147483.6");  // eleven characters printed, nine kept
    e.text(r.FGKCJSJ, "145959");
    e.text(r.FGKBYBZ, ' ');
    return r;
}

class QuoteTableFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::system("/usr/bin/python3 -c 'import dbfread' >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "python3-dbfread is not installed (scripts/setup.sh installs it)";
        }
    }

    std::unique_ptr<CDbf> Open(QuoteTableId id) {
        auto table = std::make_unique<CDbf>(QuoteSchema(id));
        EXPECT_EQ(table->OpenDB(dir_.file(QuoteTable(id).fileName)), 0);
        EXPECT_EQ(table->recordLength, QuoteTable(id).recordLength);
        return table;
    }

    // A snapshot table as the station writes it whole: records 1.. in blocks,
    // the special record last, then the count.
    template <typename T, typename Make>
    std::string WriteSnapshot(QuoteTableId id, int count, size_t block, Make make) {
        std::vector<CQuotaRec<T>> records(count);
        std::string expected;
        for (int i = 0; i < count; ++i) {
            Expect e;
            records[i].rec = make(i, e);
            expected += e.line();
        }
        auto table = Open(id);
        const size_t length = kImageLength<T>;
        std::string buffer(block * length, '\0');
        auto writeRange = [&](int first, int n) {
            for (int start = first; start < first + n; start += static_cast<int>(block)) {
                const int m = std::min<int>(static_cast<int>(block), first + n - start);
                for (int k = 0; k < m; ++k) {
                    ASSERT_EQ(FormatRecord(records, start + k, &buffer[k * length]), 0);
                }
                ASSERT_EQ(table->WriteRecord(start, buffer.data(), m * length), 0);
            }
        };
        writeRange(1, count - 1);
        writeRange(0, 1);
        EXPECT_EQ(table->WriteRecNum(count), 0);
        EXPECT_EQ(CheckSpecialRecord(*table, id), 0);
        return expected;
    }

    // A declaration or trade table: appended, then one record rewritten.
    template <typename T, typename Make>
    std::string WriteAppended(QuoteTableId id, int count, Make make) {
        std::string images, expected;
        std::vector<std::string> lines;
        for (int i = 0; i < count; ++i) {
            Expect e;
            images += FormatRecord(make(i, e));
            lines.push_back(e.line());
        }
        auto table = Open(id);
        EXPECT_EQ(table->AppendRecord(images.data(), count), 0);
        Expect e;
        const std::string changed = FormatRecord(make(count + 5, e));
        EXPECT_EQ(table->UpdateRecord(count - 1, changed.data()), 0);
        lines.back() = e.line();
        EXPECT_EQ(table->Flush(), 0);
        EXPECT_EQ(CheckSpecialRecord(*table, id), 0);
        for (const std::string& line : lines) expected += line;
        return expected;
    }

    // What the reader finds: the descriptors, the count, every record.
    std::string ReadBack(QuoteTableId id) {
        const std::string script = dir_.file("read.py");
        testsupport::WriteFile(script, R"PY(
import sys, dbfread
t = dbfread.DBF(sys.argv[1], encoding="gbk", char_decode_errors="strict")
print("count", t.header.numrecords, len(t))
def show(f, v):
    if v is None:
        return "None"
    if f.type == "C":
        return v.encode("gbk").hex()
    if f.type == "D":
        return v.strftime("%Y%m%d")
    if isinstance(v, float):
        return "%.*f" % (f.decimal_count, v)
    return str(v)
for r in t:
    print("|".join(show(f, v) for f, v in zip(t.fields, r.values())))
)PY");
        const std::string command =
            "/usr/bin/python3 " + script + " " + dir_.file(QuoteTable(id).fileName) + " 2>&1";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        std::string out;
        char buf[4096];
        size_t n;
        while (pipe && (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
        return out;
    }

    static std::string Count(int n) {
        return "count " + std::to_string(n) + " " + std::to_string(n) + "\n";
    }

    platform::ScopedFakeClock clock_;
    testsupport::TempDir dir_;
};

TEST_F(QuoteTableFilesTest, SnapshotTablesReadBackWithTheirValues) {
    // Blocks smaller than the table, so that more than one write is needed.
    const std::string nqhq = WriteSnapshot<SnapshotRec_t>(kNqhq, 5, 2, Snapshot);
    EXPECT_EQ(ReadBack(kNqhq), Count(5) + nqhq);
    const std::string nqxx = WriteSnapshot<ZqxxRec_t>(kNqxx, 4, 3, Zqxx);
    EXPECT_EQ(ReadBack(kNqxx), Count(4) + nqxx);
    const std::string nqzsxx = WriteSnapshot<NQZSXX_OrderRec_t>(kNqzsxx, 3, 1422, Zsxx);
    EXPECT_EQ(ReadBack(kNqzsxx), Count(3) + nqzsxx);
}

TEST_F(QuoteTableFilesTest, AppendedTablesReadBackWithTheirValues) {
    const std::string xyxx = WriteAppended<NQXYXX_OrderRec_t>(kNqxyxx, 4, Xyxx);
    EXPECT_EQ(ReadBack(kNqxyxx), Count(4) + xyxx);
    const std::string fgksbxx = WriteAppended<NQFGKSBXX_OrderRec_t>(kNqfgksbxx, 3, Fgksbxx);
    EXPECT_EQ(ReadBack(kNqfgksbxx), Count(3) + fgksbxx);
    const std::string trades = WriteAppended<NQFGKCJXX_TradeRec_t>(kNqfgkcjxx, 3, Trade);
    EXPECT_EQ(ReadBack(kNqfgkcjxx), Count(3) + trades);
}

}  // namespace

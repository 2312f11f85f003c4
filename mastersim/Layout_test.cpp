#include "mastersim/Layout.h"

#include <gtest/gtest.h>

#include <cstring>

#include "mastersim/Market.h"
#include "quotes/QuoteRecords.h"
#include "quotes/QuoteTables.h"

namespace mastersim {
namespace {

TEST(LayoutTest, RecordsArePackedAndMatchTheDocumentedSizes) {
    struct Expect {
        const RecordLayout* layout;
        size_t fields;
        uint16_t recordSize;
        uint16_t dbfLength;
    };
    for (const Expect& e :
         {Expect{&NqhqLayout(), 35, 198, 356}, Expect{&NqxxLayout(), 42, 186, 267},
          Expect{&NqzsxxLayout(), 7, 31, 45}, Expect{&NqxyxxLayout(), 9, 38, 52}}) {
        SCOPED_TRACE(e.layout->table);
        EXPECT_EQ(e.layout->fields.size(), e.fields);
        EXPECT_EQ(e.layout->recordSize, e.recordSize);
        EXPECT_EQ(e.layout->dbfRecordLength, e.dbfLength);
        uint16_t bin = 0, dbf = 1;
        for (const FieldLayout& f : e.layout->fields) {
            EXPECT_EQ(f.binOffset, bin) << f.name;
            EXPECT_EQ(f.dbfOffset, dbf) << f.name;
            if (f.bin == BinType::Text) {
                EXPECT_EQ(f.binWidth, f.dbfWidth) << f.name;
            }
            bin = uint16_t(bin + f.binWidth);
            dbf = uint16_t(dbf + f.dbfWidth);
        }
        EXPECT_EQ(bin, e.recordSize);
    }
    // A few fields checked against the documented positions.
    EXPECT_EQ(NqhqLayout().field("HQBSL5").dbfOffset, 344);
    EXPECT_EQ(NqhqLayout().field("HQBSL4").binOffset, 178);
    EXPECT_EQ(NqxxLayout().field("XXGXSJ").dbfOffset, 261);
    EXPECT_EQ(NqxxLayout().field("XXCFGBZ").binOffset, 163);
    EXPECT_EQ(NqzsxxLayout().field("ZSBYZD").dbfOffset, 37);
    EXPECT_EQ(NqxyxxLayout().field("XYJLZT").dbfOffset, 50);
}

TEST(LayoutTest, FieldsAreFormattedAsTheStationWritesThem) {
    struct Case {
        const RecordLayout* layout;
        const char* field;
        int64_t value;
        bool special;
        const char* text;
    };
    const Case cases[] = {
        {&NqhqLayout(), "HQZJCJ", 0, false, "    0.000"},
        {&NqhqLayout(), "HQZJCJ", -500, false, "   -0.500"},
        {&NqhqLayout(), "HQCJJE", 123456789012, false, "    123456789.012"},
        // A price too wide for its field keeps its first nine characters.
        {&NqhqLayout(), "HQZJCJ", 2147483647, false, "2147483.6"},
        {&NqhqLayout(), "HQBSL4", 93000, true, "    00093000"},
        {&NqhqLayout(), "HQBSL4", 93000, false, "       93000"},
        {&NqhqLayout(), "HQBSL4", 5000, true, "        5000"},
        {&NqhqLayout(), "HQBSL5", 10001, true, "    00010001"},
        {&NqhqLayout(), "HQSYL1", 123456, false, "  12.3456"},
        {&NqxxLayout(), "XXXJXZ", 12, false, "1"},
        {&NqxxLayout(), "XXGPRQ", 0, false, "       0"},
        {&NqxxLayout(), "XXJSFL", 500, false, "0.00050"},
        {&NqxxLayout(), "XXMGMZ", 100, false, "   1.00"},
        {&NqxyxxLayout(), "XYYDH", 42, false, "      42"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + "=" + std::to_string(c.value));
        RecordBuilder b(*c.layout);
        b.number(c.field, c.value);
        const std::string image = FormatImage(*c.layout, b.data(), c.special);
        const FieldLayout& f = c.layout->field(c.field);
        EXPECT_EQ(image.substr(f.dbfOffset, f.dbfWidth), c.text);
        EXPECT_EQ(image[0], ' ');
    }
}

// The stand-in formats from the documented layouts on its own; the station's
// record code must come to the same bytes for every generated record.
TEST(LayoutTest, ImagesAgreeWithTheStationsRecordFormatter) {
    Market market(300, 7, 20170213);
    for (int step = 0; step < 5; ++step) market.evolve(30, 100000 + step, true, true);
    std::vector<uint8_t> rec(200);
    char out[400];
    for (int i = 0; i < market.size(); ++i) {
        market.quoteRecord(i, rec.data());
        SnapshotRec_t hq;
        std::memcpy(&hq, rec.data(), sizeof hq);
        FormatRecord(hq, false, out);
        ASSERT_EQ(FormatImage(NqhqLayout(), rec.data(), false), std::string(out, 356)) << i;

        market.infoRecord(i, rec.data());
        ZqxxRec_t xx;
        std::memcpy(&xx, rec.data(), sizeof xx);
        FormatRecord(xx, out);
        ASSERT_EQ(FormatImage(NqxxLayout(), rec.data(), false), std::string(out, 267)) << i;
    }
    for (int k = 0; k < market.makerQuoteCount(); ++k) {
        market.makerQuoteRecord(k, rec.data());
        NQZSXX_OrderRec_t zs;
        std::memcpy(&zs, rec.data(), sizeof zs);
        FormatRecord(zs, out);
        ASSERT_EQ(FormatImage(NqzsxxLayout(), rec.data(), false), std::string(out, 45)) << k;
    }
    for (int d = 0; d < 20; ++d) market.moveDeclarations(100000 + d);
    ASSERT_FALSE(market.activeDeclarations().empty());
    for (const auto& [key, decl] : market.activeDeclarations()) {
        market.declarationRecord(decl, '1', rec.data());
        NQXYXX_OrderRec_t xy;
        std::memcpy(&xy, rec.data(), sizeof xy);
        ASSERT_EQ(FormatImage(NqxyxxLayout(), rec.data(), false), FormatRecord(xy));
    }
    market.quoteSpecial(150001, 71, rec.data());
    SnapshotRec_t special;
    std::memcpy(&special, rec.data(), sizeof special);
    FormatRecord(special, true, out);
    EXPECT_EQ(FormatImage(NqhqLayout(), rec.data(), true), std::string(out, 356));
}

}  // namespace
}  // namespace mastersim

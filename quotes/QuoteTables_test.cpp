#include "quotes/QuoteTables.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// The record length a table file gets from its schema: offset of the last
// field plus its width.
int RecordLengthOf(const DbfSchema& schema) {
    return schema.back().offset + schema.back().width;
}

TEST(QuoteTables, SchemasGiveTheDocumentedRecordLengths) {
    const int lengths[kQuoteTableCount] = {356, 52, 45, 267, 54, 321};
    const size_t fieldCounts[kQuoteTableCount] = {35, 9, 7, 42, 10, 12};
    for (int id = 0; id < kQuoteTableCount; ++id) {
        const DbfSchema& schema = QuoteSchema(id);
        ASSERT_EQ(schema.size(), fieldCounts[id]) << QuoteTable(QuoteTableId(id)).fileName;
        EXPECT_EQ(RecordLengthOf(schema), lengths[id]);
        EXPECT_EQ(&schema, &QuoteSchemas()[id]);
        int32_t next = 1;
        std::set<std::string> names;
        for (const CDbfFieldDef& f : schema) {
            EXPECT_EQ(f.offset, next) << f.name;  // every field where the previous one ends
            next += f.width;
            // A DBF descriptor holds 11 characters; matching uses the first 10.
            EXPECT_LE(f.name.size(), 10u) << f.name;
            EXPECT_TRUE(names.insert(f.name.substr(0, 10)).second) << f.name;
            EXPECT_TRUE(f.type == 'C' || f.type == 'N' || f.type == 'D') << f.name;
        }
    }
}

TEST(QuoteTables, TableConstants) {
    EXPECT_STREQ(QuoteTable(kNqhq).fileName, "NQHQ.DBF");
    EXPECT_STREQ(QuoteTable(kNqfgkcjxx).fileName, "NQFGKCJXX.DBF");
    // The special record is recognised by the security code: field 1 of the
    // trade table (after the trade number), field 0 of the others.
    EXPECT_EQ(QuoteSchema(kNqfgkcjxx)[QuoteTable(kNqfgkcjxx).codeField].name, "FGKZQDM");
    EXPECT_EQ(QuoteSchema(kNqxx)[QuoteTable(kNqxx).codeField].name, "XXZQDM");
    EXPECT_EQ(QuoteSchema(kNqxyxx)[QuoteTable(kNqxyxx).statusField].name, "XYJLZT");
    EXPECT_EQ(QuoteSchema(kNqfgksbxx)[QuoteTable(kNqfgksbxx).statusField].name, "FGKJLZT");
    EXPECT_STREQ(QuoteTable(kNqzsxx).switchKey, "rcvZSXX");
    EXPECT_EQ(QuoteTable(kNqxx).switchKey, nullptr);

    // Numbers from elsewhere are checked.
    EXPECT_EQ(FindQuoteTable(-1), nullptr);
    EXPECT_EQ(FindQuoteTable(6), nullptr);
    EXPECT_EQ(FindQuoteTable(3), &QuoteTable(kNqxx));
    EXPECT_TRUE(QuoteSchema(6).empty());
    EXPECT_TRUE(QuoteSchema(-1).empty());
}

}  // namespace

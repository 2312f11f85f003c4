#include "quotes/QuoteTables.h"

namespace {

DbfSchema BuildSchema(const QuoteTableInfo& table) {
    DbfSchema schema;
    schema.reserve(table.fields.size());
    for (const QuoteFieldLayout& f : table.fields) {
        schema.emplace_back(f.name, f.type, f.offset, f.width, f.decimals);
    }
    return schema;
}

}  // namespace

const std::array<DbfSchema, kQuoteTableCount>& QuoteSchemas() {
    static const std::array<DbfSchema, kQuoteTableCount> schemas = [] {
        std::array<DbfSchema, kQuoteTableCount> all;
        for (int id = 0; id < kQuoteTableCount; ++id) all[id] = BuildSchema(kQuoteTables[id]);
        return all;
    }();
    return schemas;
}

const DbfSchema& QuoteSchema(int id) {
    static const DbfSchema none;
    return IsQuoteTableId(id) ? QuoteSchemas()[id] : none;
}

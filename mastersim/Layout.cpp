#include "mastersim/Layout.h"

#include <cstdio>
#include <cstring>

namespace mastersim {

namespace {

constexpr BinType T = BinType::Text;
constexpr BinType I = BinType::I32;
constexpr BinType U = BinType::U32;
constexpr BinType L = BinType::I64;

struct FieldRow {
    const char* name;
    BinType bin;
    uint16_t binOffset;
    char dbfType;
    uint8_t dbfWidth;
    uint8_t decimals;
};

uint16_t BinWidthOf(BinType bin, uint8_t dbfWidth) {
    switch (bin) {
        case BinType::Text:
            return dbfWidth;
        case BinType::I32:
        case BinType::U32:
            return 4;
        case BinType::I64:
            return 8;
    }
    return 0;
}

RecordLayout Make(const char* table, int type, TableKind kind, uint16_t recordSize,
                  const char* statusField, const char* timeField,
                  std::initializer_list<FieldRow> rows) {
    RecordLayout l{table, type, kind, recordSize, 1, -1, -1, {}};
    uint16_t dbfOffset = 1;
    for (const FieldRow& s : rows) {
        l.fields.push_back({s.name, s.bin, s.binOffset, BinWidthOf(s.bin, s.dbfWidth), s.dbfType,
                            s.dbfWidth, s.decimals, dbfOffset});
        dbfOffset = uint16_t(dbfOffset + s.dbfWidth);
    }
    l.dbfRecordLength = dbfOffset;
    if (statusField != nullptr) l.statusField = l.indexOf(statusField);
    l.timeField = l.indexOf(timeField);
    return l;
}

}  // namespace

const FieldLayout& RecordLayout::field(std::string_view name) const {
    int i = indexOf(name);
    if (i < 0) {
        std::fprintf(stderr, "mastersim: no field %.*s in %s\n", int(name.size()), name.data(),
                     table);
        std::abort();
    }
    return fields[size_t(i)];
}

int RecordLayout::indexOf(std::string_view name) const {
    for (size_t i = 0; i < fields.size(); ++i)
        if (name == fields[i].name) return int(i);
    return -1;
}

const RecordLayout& NqhqLayout() {
    static const RecordLayout l =
        Make("NQHQ.DBF", 22, TableKind::Snapshot, 198, nullptr, "HQCJBS",
             {{"HQZQDM", T, 0, 'C', 6, 0},    {"HQZQJC", T, 6, 'C', 8, 0},
              {"HQZRSP", I, 14, 'N', 9, 3},   {"HQJRKP", I, 18, 'N', 9, 3},
              {"HQZJCJ", I, 22, 'N', 9, 3},   {"HQCJSL", L, 26, 'N', 12, 0},
              {"HQCJJE", L, 34, 'N', 17, 3},  {"HQCJBS", I, 42, 'N', 9, 0},
              {"HQZGCJ", I, 46, 'N', 9, 3},   {"HQZDCJ", I, 50, 'N', 9, 3},
              {"HQSYL1", I, 54, 'N', 9, 4},   {"HQSYL2", I, 58, 'N', 9, 4},
              {"HQJSD1", I, 62, 'N', 9, 3},   {"HQJSD2", I, 66, 'N', 9, 3},
              {"HQHYCC", L, 70, 'N', 12, 0},  {"HQSJW5", I, 78, 'N', 9, 3},
              {"HQSSL5", L, 82, 'N', 12, 0},  {"HQSJW4", I, 90, 'N', 9, 3},
              {"HQSSL4", L, 94, 'N', 12, 0},  {"HQSJW3", I, 102, 'N', 9, 3},
              {"HQSSL3", L, 106, 'N', 12, 0}, {"HQSJW2", I, 114, 'N', 9, 3},
              {"HQSSL2", L, 118, 'N', 12, 0}, {"HQSJW1", I, 126, 'N', 9, 3},
              {"HQSSL1", L, 130, 'N', 12, 0}, {"HQBJW1", I, 138, 'N', 9, 3},
              {"HQBSL1", L, 142, 'N', 12, 0}, {"HQBJW2", I, 150, 'N', 9, 3},
              {"HQBSL2", L, 154, 'N', 12, 0}, {"HQBJW3", I, 162, 'N', 9, 3},
              {"HQBSL3", L, 166, 'N', 12, 0}, {"HQBJW4", I, 174, 'N', 9, 3},
              {"HQBSL4", L, 178, 'N', 12, 0}, {"HQBJW5", I, 186, 'N', 9, 3},
              {"HQBSL5", L, 190, 'N', 12, 0}});
    return l;
}

const RecordLayout& NqxxLayout() {
    static const RecordLayout l =
        Make("NQXX.DBF", 21, TableKind::Snapshot, 186, nullptr, "XXYWJC",
             {{"XXZQDM", T, 0, 'C', 6, 0},     {"XXZQJC", T, 6, 'C', 8, 0},
              {"XXYWJC", T, 14, 'C', 20, 0},   {"XXJCZQ", T, 34, 'C', 6, 0},
              {"XXISIN", T, 40, 'C', 12, 0},   {"XXZRDW", I, 52, 'N', 4, 0},
              {"XXHYZL", T, 56, 'C', 5, 0},    {"XXHBZL", T, 61, 'C', 2, 0},
              {"XXMGMZ", I, 63, 'N', 7, 2},    {"XXZGB", L, 67, 'N', 12, 0},
              {"XXFXSGB", L, 75, 'N', 12, 0},  {"XXSNSY", I, 83, 'N', 9, 4},
              {"XXBNSY", I, 87, 'N', 9, 4},    {"XXJSFL", I, 91, 'N', 7, 6},
              {"XXYHSL", I, 95, 'N', 7, 6},    {"XXGHFL", I, 99, 'N', 7, 6},
              {"XXGPRQ", I, 103, 'D', 8, 0},   {"XXZQQXR", I, 107, 'D', 8, 0},
              {"XXDQR", I, 111, 'D', 8, 0},    {"XXMBXL", I, 115, 'N', 9, 0},
              {"XXBLDW", I, 119, 'N', 6, 0},   {"XXSLDW", I, 123, 'N', 6, 0},
              {"XXZXSBSL", I, 127, 'N', 6, 0}, {"XXJGDW", I, 131, 'N', 5, 3},
              {"XXSBCS", I, 135, 'N', 7, 3},   {"XXHXCS", I, 139, 'N', 7, 3},
              {"XXXJXZ", I, 143, 'N', 1, 0},   {"XXZTJG", I, 147, 'N', 9, 3},
              {"XXDTJG", I, 151, 'N', 9, 3},   {"XXDZZTJG", I, 155, 'N', 9, 3},
              {"XXDZDTJG", I, 159, 'N', 9, 3}, {"XXCFGBZ", T, 163, 'C', 1, 0},
              {"XXZHBL", I, 164, 'N', 5, 2},   {"XXZRZT", T, 168, 'C', 1, 0},
              {"XXZQJB", T, 169, 'C', 1, 0},   {"XXZRLX", T, 170, 'C', 1, 0},
              {"XXZSSSL", I, 171, 'N', 4, 0},  {"XXTPBZ", T, 175, 'C', 1, 0},
              {"XXCQCX", T, 176, 'C', 1, 0},   {"XXWLTP", T, 177, 'C', 1, 0},
              {"XXQTYW", T, 178, 'C', 4, 0},   {"XXGXSJ", I, 182, 'N', 6, 0}});
    return l;
}

const RecordLayout& NqzsxxLayout() {
    static const RecordLayout l = Make("NQZSXX.DBF", 24, TableKind::Snapshot, 31, nullptr, "ZSWTSJ",
                                       {{"ZSZQDM", T, 0, 'C', 6, 0},
                                        {"ZSYWLB", T, 6, 'C', 2, 0},
                                        {"ZSWTSL", L, 8, 'N', 12, 0},
                                        {"ZSWTJG", I, 16, 'N', 9, 3},
                                        {"ZSSJLX", T, 20, 'C', 1, 0},
                                        {"ZSWTSJ", T, 21, 'C', 6, 0},
                                        {"ZSBYZD", I, 27, 'N', 8, 0}});
    return l;
}

const RecordLayout& NqxyxxLayout() {
    static const RecordLayout l =
        Make("NQXYXX.DBF", 23, TableKind::Declaration, 38, "XYJLZT", "XYWTSJ",
             {{"XYZQDM", T, 0, 'C', 6, 0},
              {"XYJYDY", T, 6, 'C', 6, 0},
              {"XYYWLB", T, 12, 'C', 2, 0},
              {"XYWTSL", L, 14, 'N', 12, 0},
              {"XYWTJG", I, 22, 'N', 9, 3},
              {"XYYDH", I, 26, 'N', 8, 0},
              {"XYWTSJ", T, 30, 'C', 6, 0},
              {"XYJLZT", T, 36, 'C', 1, 0},
              {"XYBYBZ", T, 37, 'C', 1, 0}});
    return l;
}

std::vector<const RecordLayout*> AllLayouts() {
    return {&NqhqLayout(), &NqxxLayout(), &NqzsxxLayout(), &NqxyxxLayout()};
}

const RecordLayout* LayoutForTable(std::string_view table) {
    for (const RecordLayout* l : AllLayouts())
        if (table == l->table) return l;
    return nullptr;
}

RecordBuilder::RecordBuilder(const RecordLayout& layout)
    : layout_(&layout), bytes_(layout.recordSize) {
    reset();
}

void RecordBuilder::reset() {
    std::memset(bytes_.data(), 0, bytes_.size());
    for (const FieldLayout& f : layout_->fields)
        if (f.bin == BinType::Text) std::memset(bytes_.data() + f.binOffset, ' ', f.binWidth);
}

void RecordBuilder::text(std::string_view field, std::string_view value) {
    const FieldLayout& f = layout_->field(field);
    uint8_t* p = bytes_.data() + f.binOffset;
    std::memset(p, ' ', f.binWidth);
    std::memcpy(p, value.data(), std::min<size_t>(value.size(), f.binWidth));
}

void RecordBuilder::number(std::string_view field, int64_t value) {
    WriteNumber(layout_->field(field), bytes_.data(), value);
}

int64_t RecordBuilder::numberOf(std::string_view field) const {
    return ReadNumber(layout_->field(field), bytes_.data());
}

std::string_view RecordBuilder::textOf(std::string_view field) const {
    const FieldLayout& f = layout_->field(field);
    return {reinterpret_cast<const char*>(bytes_.data()) + f.binOffset, f.binWidth};
}

int64_t ReadNumber(const FieldLayout& f, const uint8_t* record) {
    const uint8_t* p = record + f.binOffset;
    switch (f.bin) {
        case BinType::I32:
            return int32_t(GetLe32(p));
        case BinType::U32:
            return int64_t(GetLe32(p));
        case BinType::I64:
            return int64_t(GetLe64(p));
        case BinType::Text:
            break;
    }
    return 0;
}

void WriteNumber(const FieldLayout& f, uint8_t* record, int64_t value) {
    uint8_t* p = record + f.binOffset;
    switch (f.bin) {
        case BinType::I32:
        case BinType::U32:
            PutLe32(p, uint32_t(value));
            break;
        case BinType::I64:
            PutLe64(p, uint64_t(value));
            break;
        case BinType::Text:
            break;
    }
}

std::string FormatField(const FieldLayout& f, const uint8_t* record, bool specialWide) {
    if (f.bin == BinType::Text)
        return std::string(reinterpret_cast<const char*>(record + f.binOffset), f.binWidth);
    const int64_t v = ReadNumber(f, record);
    char buf[64];
    if (specialWide && v > 10000) {
        std::snprintf(buf, sizeof buf, "    %08d", int32_t(uint32_t(uint64_t(v))));
    } else if (f.decimals > 0) {
        double scale = 1;
        for (int i = 0; i < f.decimals; ++i) scale *= 10;
        std::snprintf(buf, sizeof buf, "%*.*f", int(f.dbfWidth), int(f.decimals),
                      double(v) / scale);
    } else {
        std::snprintf(buf, sizeof buf, "%*lld", int(f.dbfWidth), static_cast<long long>(v));
    }
    return std::string(buf, f.dbfWidth);
}

std::string FormatImage(const RecordLayout& layout, const uint8_t* record, bool isSpecial) {
    std::string image(layout.dbfRecordLength, ' ');
    const bool nqhq = &layout == &NqhqLayout();
    for (const FieldLayout& f : layout.fields) {
        const bool wide =
            isSpecial && nqhq &&
            (std::strcmp(f.name, "HQBSL4") == 0 || std::strcmp(f.name, "HQBSL5") == 0);
        image.replace(f.dbfOffset, f.dbfWidth, FormatField(f, record, wide));
    }
    return image;
}

void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void PutLe64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint16_t GetLe16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t GetLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t GetLe64(const uint8_t* p) {
    return uint64_t(GetLe32(p)) | uint64_t(GetLe32(p + 4)) << 32;
}

}  // namespace mastersim

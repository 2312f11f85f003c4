#pragma once
// The record layouts the master station sends, field by field: where each
// field lies in the binary record, how it is stored, and the DBF field it
// becomes. The stand-in builds its records from these tables and derives the
// expected DBF images from the same bytes, so what it sends and what it
// expects the station to write cannot drift apart.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mastersim {

enum class BinType : uint8_t {
    Text,  // n bytes copied unchanged
    I32,   // signed 32-bit little-endian
    U32,   // unsigned 32-bit little-endian
    I64,   // signed 64-bit little-endian
};

struct FieldLayout {
    const char* name;  // the DBF field name
    BinType bin;
    uint16_t binOffset;  // within the binary record
    uint16_t binWidth;
    char dbfType;  // 'C', 'N' or 'D'
    uint8_t dbfWidth;
    uint8_t decimals;
    uint16_t dbfOffset;  // within the DBF record (1 for the first field)
};

enum class TableKind : uint8_t { Snapshot, Declaration };

struct RecordLayout {
    const char* table;  // file name, e.g. "NQHQ.DBF"
    int packetType;
    TableKind kind;
    uint16_t recordSize;       // binary record
    uint16_t dbfRecordLength;  // DBF record, deletion flag included
    int statusField;           // index of the status field, -1 when none
    int timeField;             // index of the special record's time field
    std::vector<FieldLayout> fields;

    const FieldLayout& field(std::string_view name) const;
    int indexOf(std::string_view name) const;  // -1 when absent
};

// The four tables the stand-in produces.
const RecordLayout& NqhqLayout();    // type 22, SnapshotRec_t, 198 bytes
const RecordLayout& NqxxLayout();    // type 21, ZqxxRec_t, 186 bytes
const RecordLayout& NqzsxxLayout();  // type 24, NQZSXX_OrderRec_t, 31 bytes
const RecordLayout& NqxyxxLayout();  // type 23, NQXYXX_OrderRec_t, 38 bytes
// All four, in the order above.
std::vector<const RecordLayout*> AllLayouts();
const RecordLayout* LayoutForTable(std::string_view table);

// A binary record under construction, written through its layout.
class RecordBuilder {
  public:
    explicit RecordBuilder(const RecordLayout& layout);
    void reset();  // text fields to spaces, numbers to 0
    // Text fields: copied and space-padded (cut to the field's width).
    void text(std::string_view field, std::string_view value);
    void number(std::string_view field, int64_t value);
    int64_t numberOf(std::string_view field) const;
    std::string_view textOf(std::string_view field) const;
    const uint8_t* data() const { return bytes_.data(); }
    uint8_t* data() { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }
    const RecordLayout& layout() const { return *layout_; }

  private:
    const RecordLayout* layout_;
    std::vector<uint8_t> bytes_;
};

// Reads a numeric field of a binary record (sign- or zero-extended).
int64_t ReadNumber(const FieldLayout& f, const uint8_t* record);
void WriteNumber(const FieldLayout& f, uint8_t* record, int64_t value);

// The DBF text of one field as the station writes it: text copied; numbers
// printed right-aligned in the field's width with its decimals (the stored
// integer divided by 10^decimals), keeping only the first width characters
// of a longer text. specialWide selects the special record's form of
// HQBSL4/HQBSL5 ("    %08d" for values above 10000).
std::string FormatField(const FieldLayout& f, const uint8_t* record, bool specialWide = false);
// The whole DBF record image (deletion flag included). isSpecial applies the
// special record's rules of NQHQ.DBF.
std::string FormatImage(const RecordLayout& layout, const uint8_t* record, bool isSpecial);

// Little-endian helpers for payload headers.
void PutLe16(uint8_t* p, uint16_t v);
void PutLe32(uint8_t* p, uint32_t v);
void PutLe64(uint8_t* p, uint64_t v);
uint16_t GetLe16(const uint8_t* p);
uint32_t GetLe32(const uint8_t* p);
uint64_t GetLe64(const uint8_t* p);

}  // namespace mastersim

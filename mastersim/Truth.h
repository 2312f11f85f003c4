#pragma once
// What the station should have written at the end of a run, table by table:
// the DBF record images the stand-in expects (derived from the bytes it sent
// and the documented number formats), written to text files, read back, and
// compared field by field with the station's DBF files through a small DBF
// reader of our own.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "mastersim/Layout.h"

namespace mastersim {

struct TruthTable {
    const RecordLayout* layout = nullptr;
    // Record images in file order, deletion flag included; record 0 is the
    // special record.
    std::vector<std::string> images;
};

// The expected declaration table: records are appended in the order their
// keys first arrive, rewritten when they change, and never removed; a
// withdrawn declaration keeps its record with the status "0".
class DeclarationTruth {
  public:
    explicit DeclarationTruth(const RecordLayout& layout) : layout_(&layout) {}
    // A new base round: every active declaration counts as withdrawn until
    // the round sends it again (only its status changes).
    void beginBase();
    // One entry as the station takes it; a delta entry's status is set by
    // its operation (2 withdraws), a base entry's is its own.
    void apply(const uint8_t* record, bool special, bool delta, int16_t operation);
    TruthTable table() const;
    size_t activeCount() const { return active_.size(); }

  private:
    std::string keyOf(const std::string& image) const;
    const RecordLayout* layout_;
    std::vector<std::string> images_;
    std::map<std::string, size_t> index_;
    std::set<std::string> active_;
};

// The key of a declaration image (security code and agreement number).
std::string DeclarationKey(const RecordLayout& layout, const std::string& image);

// Truth files: one "<table>.truth" per table in dir.
bool WriteTruthTable(const std::string& dir, const TruthTable& table, std::string* error);
bool ReadTruthTable(const std::string& path, TruthTable& table, std::string* error);
// Every "*.truth" file of dir.
std::vector<TruthTable> ReadTruthDir(const std::string& dir, std::string* error);

// Plain "key=value" lines (the run's expected counters and summary).
bool WriteKeyValues(const std::string& path,
                    const std::vector<std::pair<std::string, std::string>>& kv);
std::map<std::string, std::string> ReadKeyValues(const std::string& path);

// A DBF file as it lies on disk, read from the documented layout.
struct DbfField {
    std::string name;
    char type = 0;
    int offset = 0;
    int width = 0;
    int decimals = 0;
};
struct DbfContents {
    uint32_t count = 0;
    uint16_t headerLength = 0;
    uint16_t recordLength = 0;
    std::vector<DbfField> fields;
    std::vector<std::string> records;
};
bool ReadDbf(const std::string& path, DbfContents& out, std::string* error);

enum class CompareMode {
    // Every record in its place.
    Exact,
    // After faults: snapshot tables exact; for a declaration table the
    // special record and the active declarations exact (by key), and every
    // other record a declaration that was once sent and is withdrawn.
    Converged,
};

struct TableComparison {
    bool equal = false;
    size_t truthRecords = 0;
    size_t tableRecords = 0;
    size_t differingRecords = 0;
    std::vector<std::string> differences;  // the first few, readable
};
TableComparison CompareWithDbf(const TruthTable& truth, const std::string& dbfPath,
                               CompareMode mode);

// Text of a field for messages: printable ASCII as is, other bytes as \xHH.
std::string Escape(const std::string& bytes);

}  // namespace mastersim

#include "mastersim/Truth.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace mastersim {

namespace {

constexpr const char* kTruthMagic = "tavrel-master truth 1";
constexpr size_t kMaxDifferences = 20;

size_t StatusOffset(const RecordLayout& l) {
    return l.fields[size_t(l.statusField)].dbfOffset;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescape(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 3 >= text.size() || text[i + 1] != 'x') return false;
        const int hi = HexValue(text[i + 2]), lo = HexValue(text[i + 3]);
        if (hi < 0 || lo < 0) return false;
        out += char(hi * 16 + lo);
        i += 3;
    }
    return true;
}

std::string Field(const std::string& image, const FieldLayout& f) {
    return image.substr(f.dbfOffset, f.dbfWidth);
}

void Note(TableComparison& c, const std::string& text) {
    if (c.differences.size() < kMaxDifferences) c.differences.push_back(text);
}

// Compares two images field by field; notes each differing field.
bool SameRecord(const RecordLayout& l, const std::string& table, const std::string& truth,
                const std::string& where, TableComparison& c) {
    bool same = true;
    if (table[0] != truth[0]) {
        Note(c, where + " deletion flag: table '" + Escape(table.substr(0, 1)) + "' truth '" +
                    Escape(truth.substr(0, 1)) + "'");
        same = false;
    }
    for (const FieldLayout& f : l.fields) {
        const std::string a = Field(table, f), b = Field(truth, f);
        if (a == b) continue;
        Note(c,
             where + " field " + f.name + ": table '" + Escape(a) + "' truth '" + Escape(b) + "'");
        same = false;
    }
    return same;
}

}  // namespace

std::string Escape(const std::string& bytes) {
    std::string out;
    for (unsigned char ch : bytes) {
        if (ch < 0x20 || ch > 0x7E || ch == '|' || ch == '\\') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", ch);
            out += buf;
        } else {
            out += char(ch);
        }
    }
    return out;
}

std::string DeclarationKey(const RecordLayout& l, const std::string& image) {
    return Field(image, l.fields[0]) + "/" + Field(image, l.field("XYYDH"));
}

std::string DeclarationTruth::keyOf(const std::string& image) const {
    return DeclarationKey(*layout_, image);
}

void DeclarationTruth::beginBase() {
    const size_t at = StatusOffset(*layout_);
    for (const std::string& key : active_) images_[index_[key]][at] = '0';
    active_.clear();
}

void DeclarationTruth::apply(const uint8_t* record, bool special, bool delta, int16_t operation) {
    std::string image = FormatImage(*layout_, record, false);
    const size_t at = StatusOffset(*layout_);
    if (delta && !special) image[at] = operation == 2 ? '0' : '1';
    const std::string key = keyOf(image);
    auto it = index_.find(key);
    if (it == index_.end()) {
        index_[key] = images_.size();
        images_.push_back(image);
    } else {
        images_[it->second] = image;
    }
    if (image[at] == '1')
        active_.insert(key);
    else
        active_.erase(key);
}

TruthTable DeclarationTruth::table() const {
    return {layout_, images_};
}

bool WriteTruthTable(const std::string& dir, const TruthTable& t, std::string* error) {
    const std::string path = dir + "/" + t.layout->table + ".truth";
    const std::string tmp = path + ".tmp";
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) {
        if (error) *error = "cannot create " + tmp;
        return false;
    }
    out << kTruthMagic << "\n";
    out << "table " << t.layout->table << "\n";
    out << "fields " << t.layout->fields.size() << "\n";
    out << "records " << t.images.size() << "\n";
    for (const std::string& image : t.images) {
        for (size_t i = 0; i < t.layout->fields.size(); ++i) {
            if (i > 0) out << '|';
            out << Escape(Field(image, t.layout->fields[i]));
        }
        out << "\n";
    }
    out.close();
    if (!out || std::rename(tmp.c_str(), path.c_str()) != 0) {
        if (error) *error = "cannot write " + path;
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

bool ReadTruthTable(const std::string& path, TruthTable& t, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = path + ": " + why;
        return false;
    };
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail("cannot open");
    std::string line, word, table;
    size_t fields = 0, records = 0;
    if (!std::getline(in, line) || line != kTruthMagic) return fail("not a truth file");
    if (!std::getline(in, line)) return fail("no table line");
    std::istringstream(line) >> word >> table;
    t.layout = LayoutForTable(table);
    if (word != "table" || t.layout == nullptr) return fail("unknown table '" + table + "'");
    if (!std::getline(in, line)) return fail("no field count");
    std::istringstream(line) >> word >> fields;
    if (word != "fields" || fields != t.layout->fields.size()) return fail("wrong field count");
    if (!std::getline(in, line)) return fail("no record count");
    std::istringstream(line) >> word >> records;
    if (word != "records" || records > 10000000) return fail("bad record count");
    t.images.clear();
    t.images.reserve(records);
    std::string value;
    for (size_t r = 0; r < records; ++r) {
        if (!std::getline(in, line)) return fail("record " + std::to_string(r) + " missing");
        std::string image(t.layout->dbfRecordLength, ' ');
        size_t start = 0;
        for (size_t i = 0; i < fields; ++i) {
            const size_t bar = i + 1 < fields ? line.find('|', start) : line.size();
            if (bar == std::string::npos) return fail("record " + std::to_string(r) + " short");
            const FieldLayout& f = t.layout->fields[i];
            if (!Unescape(line.substr(start, bar - start), value) || value.size() != f.dbfWidth)
                return fail("record " + std::to_string(r) + " field " + f.name + " malformed");
            image.replace(f.dbfOffset, f.dbfWidth, value);
            start = bar + 1;
        }
        t.images.push_back(std::move(image));
    }
    return true;
}

std::vector<TruthTable> ReadTruthDir(const std::string& dir, std::string* error) {
    std::vector<TruthTable> tables;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        if (error) *error = "cannot open " + dir;
        return tables;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() > 6 && name.compare(name.size() - 6, 6, ".truth") == 0)
            names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        TruthTable t;
        if (ReadTruthTable(dir + "/" + name, t, error)) tables.push_back(std::move(t));
    }
    return tables;
}

bool WriteKeyValues(const std::string& path,
                    const std::vector<std::pair<std::string, std::string>>& kv) {
    const std::string tmp = path + ".tmp";
    std::ofstream out(tmp, std::ios::trunc);
    for (const auto& [k, v] : kv) out << k << "=" << v << "\n";
    out.close();
    if (!out) return false;
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

std::map<std::string, std::string> ReadKeyValues(const std::string& path) {
    std::map<std::string, std::string> kv;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return kv;
}

bool ReadDbf(const std::string& path, DbfContents& out, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = path + ": " + why;
        return false;
    };
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail("cannot open");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 32) return fail("shorter than a header");
    const uint8_t* b = reinterpret_cast<const uint8_t*>(bytes.data());
    out = DbfContents{};
    out.count = GetLe32(b + 4);
    out.headerLength = GetLe16(b + 8);
    out.recordLength = GetLe16(b + 10);
    if (out.headerLength < 33 || out.headerLength > bytes.size())
        return fail("header length " + std::to_string(out.headerLength) + " out of range");
    if (out.recordLength < 2) return fail("record length too small");
    for (size_t at = 32; at + 32 <= out.headerLength && b[at] != 0x0D; at += 32) {
        DbfField f;
        f.name.assign(reinterpret_cast<const char*>(b + at),
                      strnlen(reinterpret_cast<const char*>(b + at), 11));
        f.type = char(b[at + 11]);
        f.offset = int32_t(GetLe32(b + at + 12));
        f.width = b[at + 16];
        f.decimals = b[at + 17];
        if (f.offset < 1 || f.offset + f.width > out.recordLength)
            return fail("field " + f.name + " lies outside the record");
        out.fields.push_back(f);
    }
    const uint64_t need = uint64_t(out.headerLength) + uint64_t(out.count) * out.recordLength;
    if (need > bytes.size())
        return fail("holds " + std::to_string(bytes.size()) + " bytes, the header announces " +
                    std::to_string(need));
    out.records.reserve(out.count);
    for (uint32_t i = 0; i < out.count; ++i)
        out.records.push_back(
            bytes.substr(out.headerLength + size_t(i) * out.recordLength, out.recordLength));
    return true;
}

TableComparison CompareWithDbf(const TruthTable& truth, const std::string& dbfPath,
                               CompareMode mode) {
    TableComparison c;
    const RecordLayout& l = *truth.layout;
    c.truthRecords = truth.images.size();
    DbfContents dbf;
    std::string error;
    if (!ReadDbf(dbfPath, dbf, &error)) {
        Note(c, error);
        return c;
    }
    c.tableRecords = dbf.count;

    // Where each field of the layout lies in this file.
    std::vector<int> at(l.fields.size(), -1);
    for (size_t i = 0; i < l.fields.size(); ++i) {
        const FieldLayout& f = l.fields[i];
        for (const DbfField& d : dbf.fields)
            if (d.name == f.name && d.type == f.dbfType && d.width == f.dbfWidth &&
                d.decimals == f.decimals)
                at[i] = d.offset;
        if (at[i] < 0) Note(c, std::string("field ") + f.name + " missing or defined differently");
    }
    if (!c.differences.empty()) return c;

    std::vector<std::string> images;
    images.reserve(dbf.records.size());
    for (const std::string& rec : dbf.records) {
        std::string image(l.dbfRecordLength, ' ');
        image[0] = rec[0];
        for (size_t i = 0; i < l.fields.size(); ++i)
            image.replace(l.fields[i].dbfOffset, l.fields[i].dbfWidth,
                          rec.substr(size_t(at[i]), l.fields[i].dbfWidth));
        images.push_back(std::move(image));
    }

    const bool keyed = mode == CompareMode::Converged && l.kind == TableKind::Declaration;
    if (!keyed) {
        if (images.size() != truth.images.size())
            Note(c, "record count: table " + std::to_string(images.size()) + " truth " +
                        std::to_string(truth.images.size()));
        for (size_t r = 0; r < std::min(images.size(), truth.images.size()); ++r)
            if (!SameRecord(l, images[r], truth.images[r], "record " + std::to_string(r), c))
                ++c.differingRecords;
        c.equal = images.size() == truth.images.size() && c.differingRecords == 0;
        return c;
    }

    // Declarations after faults: compare by key.
    const size_t status = StatusOffset(l);
    std::map<std::string, const std::string*> truthByKey, tableByKey;
    for (const std::string& image : truth.images) truthByKey[DeclarationKey(l, image)] = &image;
    for (const std::string& image : images) {
        const std::string key = DeclarationKey(l, image);
        if (tableByKey.count(key) != 0) {
            Note(c, "declaration " + Escape(key) + " appears twice");
            ++c.differingRecords;
        }
        tableByKey[key] = &image;
    }
    if (images.empty() || truth.images.empty()) {
        Note(c, "no special record");
        return c;
    }
    if (!SameRecord(l, images[0], truth.images[0], "special record", c)) ++c.differingRecords;
    for (const auto& [key, image] : truthByKey) {
        if ((*image)[status] != '1') continue;
        auto it = tableByKey.find(key);
        if (it == tableByKey.end()) {
            Note(c, "active declaration " + Escape(key) + " missing");
            ++c.differingRecords;
        } else if (!SameRecord(l, *it->second, *image, "declaration " + Escape(key), c)) {
            ++c.differingRecords;
        }
    }
    for (const auto& [key, image] : tableByKey) {
        auto it = truthByKey.find(key);
        if (it == truthByKey.end()) {
            Note(c, "declaration " + Escape(key) + " was never sent");
            ++c.differingRecords;
        } else if ((*image)[status] == '1' && (*it->second)[status] != '1') {
            Note(c, "declaration " + Escape(key) + " still active, withdrawn in truth");
            ++c.differingRecords;
        }
    }
    c.equal = c.differingRecords == 0;
    return c;
}

}  // namespace mastersim

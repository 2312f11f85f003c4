#pragma once
// Test helpers of the quote processing: a stand-in for the receive controller
// with real table objects, quote packets built the way the master station
// sends them, a watch on the file operations of one table, and an
// independent reader of the written tables (python3-dbfread).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "config/CRcvConf.h"
#include "controller/Packet.h"
#include "dbf/CDbf.h"
#include "platform/File.h"
#include "quotes/QuoteHost.h"
#include "quotes/QuoteRecords.h"
#include "quotes/QuoteTables.h"

namespace quotetest {

class TestQuoteHost : public QuoteHost {
  public:
    TestQuoteHost() {
        for (int id = 0; id < kQuoteTableCount; ++id) {
            tables[id] = std::make_unique<CDbf>(QuoteSchema(id));
        }
    }
    CDbf& quoteTable(QuoteTableId id) override { return *tables[id]; }
    const CRcvConf& config() const override { return conf; }
    int32_t GetVersionDate() override { return versionDate; }
    void ReportInvalidVersion() override { ++invalidVersionReports; }
    void SetNewVersionAvailable() override { ++newVersionReports; }
    void ReconnectTcp() override { ++reconnects; }

    CRcvConf conf;
    int32_t versionDate = 20170213;
    std::atomic<int> invalidVersionReports{0};
    std::atomic<int> newVersionReports{0};
    std::atomic<int> reconnects{0};
    std::unique_ptr<CDbf> tables[kQuoteTableCount];
};

// A decoded packet of the type with the payload.
inline Packet::Ptr MakePacket(int type, const std::string& payload) {
    Packet::Ptr p = Packet::Create(uint32_t(payload.size()));
    p->setType(int8_t(type));
    p->setPayloadLen(uint16_t(payload.size()));
    p->setPlainLen(uint16_t(payload.size()));
    p->setOrigLen(uint16_t(payload.size()));
    if (!payload.empty()) std::memcpy(p->payload(), payload.data(), payload.size());
    p->setReceivedLen(uint32_t(payload.size() + Packet::kHeaderSize));
    return p;
}

inline void PutI32(std::string& out, int32_t v) {
    for (int i = 0; i < 4; ++i) out += char(uint32_t(v) >> (8 * i));
}
inline void PutI16(std::string& out, int16_t v) {
    out += char(uint16_t(v));
    out += char(uint16_t(v) >> 8);
}

// The header length of a snapshot packet: totalCount, and 4 bytes not read
// except for NQHQ.DBF.
template <typename T>
constexpr size_t SnapshotHeaderBytes() {
    return std::is_same_v<T, SnapshotRec_t> ? 4 : 8;
}

template <typename T>
std::string SnapshotPayload(int32_t totalCount, const std::vector<std::pair<int32_t, T>>& entries) {
    std::string out;
    PutI32(out, totalCount);
    if (SnapshotHeaderBytes<T>() == 8) PutI32(out, 0x5A5A5A5A);
    for (const auto& [recordNo, rec] : entries) {
        PutI32(out, recordNo);
        out.append(reinterpret_cast<const char*>(&rec), sizeof rec);
    }
    return out;
}

template <size_t N>
void Text(char (&field)[N], const std::string& value) {
    std::memset(field, ' ', N);
    std::memcpy(field, value.data(), std::min(N, value.size()));
}

// Security i (i > 0) of NQHQ.DBF; `price` in thousandths.
inline SnapshotRec_t Security(int i, int32_t price) {
    SnapshotRec_t r{};
    char code[16];
    std::snprintf(code, sizeof code, "%06d", 430000 + i);
    Text(r.HQZQDM, code);
    Text(r.HQZQJC, "SEC" + std::to_string(i));
    r.HQZRSP = price;
    r.HQZJCJ = price + 10;
    r.HQCJSL = int64_t(i) * 100;
    r.HQCJBS = i;
    return r;
}

// The special record of NQHQ.DBF: time in HQCJBS; a volume ending in 1 is
// the market's close mark.
inline SnapshotRec_t HqSpecial(int32_t time, int64_t volume = 0) {
    SnapshotRec_t r{};
    Text(r.HQZQDM, "000000");
    Text(r.HQZQJC, "SPECIAL");
    r.HQCJBS = time;
    r.HQCJSL = volume;
    return r;
}

inline ZqxxRec_t Information(int i) {
    ZqxxRec_t r;
    std::memset(&r, ' ', sizeof r);
    char code[16];
    std::snprintf(code, sizeof code, "%06d", 430000 + i);
    Text(r.XXZQDM, code);
    Text(r.XXZQJC, "INF" + std::to_string(i));
    r.XXZRDW = 100;
    r.XXMGMZ = 100;
    r.XXZGB = int64_t(i) * 1000;
    r.XXFXSGB = 0;
    for (LeInt32* f : {&r.XXSNSY,   &r.XXBNSY,   &r.XXJSFL, &r.XXYHSL,  &r.XXGHFL, &r.XXGPRQ,
                       &r.XXZQQXR,  &r.XXDQR,    &r.XXMBXL, &r.XXBLDW,  &r.XXSLDW, &r.XXZXSBSL,
                       &r.XXJGDW,   &r.XXSBCS,   &r.XXHXCS, &r.XXXJXZ,  &r.XXZTJG, &r.XXDTJG,
                       &r.XXDZZTJG, &r.XXDZDTJG, &r.XXZHBL, &r.XXZSSSL, &r.XXGXSJ}) {
        *f = 0;
    }
    return r;
}

// The special record of NQXX.DBF: hhmmsscc in the first 8 characters of
// XXYWJC.
inline ZqxxRec_t XxSpecial(const std::string& time) {
    ZqxxRec_t r = Information(0);
    Text(r.XXZQDM, "000000");
    Text(r.XXYWJC, time);
    return r;
}

inline NQZSXX_OrderRec_t MarketMaking(int i) {
    NQZSXX_OrderRec_t r;
    std::memset(&r, ' ', sizeof r);
    char code[16];
    std::snprintf(code, sizeof code, "%06d", 430000 + i);
    Text(r.ZSZQDM, code);
    Text(r.ZSYWLB, "S1");
    r.ZSWTSL = int64_t(i) * 10;
    r.ZSWTJG = 1000 + i;
    r.ZSSJLX = '1';
    Text(r.ZSWTSJ, "093000");
    r.ZSBYZD = 0;
    return r;
}

inline NQZSXX_OrderRec_t ZsSpecial(const std::string& time) {
    NQZSXX_OrderRec_t r = MarketMaking(0);
    Text(r.ZSZQDM, "000000");
    Text(r.ZSWTSJ, time);
    return r;
}

// The file operations on paths containing a text, in order.
class FileOps {
  public:
    struct Op {
        platform::FileOp op;
        size_t bytes;
    };
    explicit FileOps(std::string pathPart) : part_(std::move(pathPart)) {
        platform::faults::SetFileObserver(
            [this](platform::FileOp op, const std::string& path, size_t bytes) {
                if (path.find(part_) == std::string::npos) return;
                std::lock_guard<std::mutex> g(lock_);
                ops_.push_back({op, bytes});
            });
    }
    ~FileOps() { platform::faults::SetFileObserver(nullptr); }
    FileOps(const FileOps&) = delete;
    FileOps& operator=(const FileOps&) = delete;

    // The byte counts of the writes since the last call.
    std::vector<size_t> takeWrites() {
        std::vector<size_t> out;
        for (const Op& op : take()) {
            if (op.op == platform::FileOp::Write) out.push_back(op.bytes);
        }
        return out;
    }
    std::vector<Op> take() {
        std::lock_guard<std::mutex> g(lock_);
        std::vector<Op> out;
        out.swap(ops_);
        return out;
    }
    void clear() { take(); }

  private:
    std::string part_;
    std::mutex lock_;
    std::vector<Op> ops_;
};

inline uint32_t LoadU32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(bytes[at + i])) << (8 * i);
    return v;
}

// The table file as a header count and record images.
struct TableFile {
    uint32_t count = 0;
    std::vector<std::string> records;  // as many as the file holds
};

inline TableFile ReadTable(const std::string& bytes, size_t recordLength) {
    TableFile t;
    if (bytes.size() < 32) return t;
    t.count = LoadU32(bytes, 4);
    const size_t header = uint8_t(bytes[8]) | uint8_t(bytes[9]) << 8;
    for (size_t at = header; at + recordLength <= bytes.size(); at += recordLength) {
        t.records.push_back(bytes.substr(at, recordLength));
    }
    return t;
}

inline bool HaveDbfRead() {
    return std::system("/usr/bin/python3 -c 'import dbfread' >/dev/null 2>&1") == 0;
}

// The named fields of every record, as the independent reader sees them:
// one line per record, values separated by '|' (text stripped of padding).
inline std::string DbfReadFields(const std::string& path, const std::string& fields) {
    const std::string script =
        "import sys, dbfread\n"
        "t = dbfread.DBF(sys.argv[1], raw=False, encoding='latin-1', "
        "char_decode_errors='replace')\n"
        "names = sys.argv[2].split(',')\n"
        "for r in t:\n"
        "    print('|'.join(str(r[n]).strip() for n in names))\n";
    const std::string command =
        "/usr/bin/python3 -c \"$TAVREL_SCRIPT\" '" + path + "' '" + fields + "' 2>&1";
    setenv("TAVREL_SCRIPT", script.c_str(), 1);
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    char buf[4096];
    size_t n;
    while (pipe && (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
    return out;
}

}  // namespace quotetest

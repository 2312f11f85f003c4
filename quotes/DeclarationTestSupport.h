#pragma once
// Shared pieces of the declaration and trade table tests: a quote host that
// records what the tables ask of the controller, packet and record builders,
// an independent reading of a table file's records, and a fixture with a fake
// clock, a log capture, a temporary directory, a box recorder and file
// faults.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/CRcvConf.h"
#include "controller/Packet.h"
#include "dbf/CDbf.h"
#include "dbf/DbfBytes.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/UiHost.h"
#include "quotes/DetailedQuota.h"
#include "quotes/QuoteHost.h"
#include "quotes/QuoteRecords.h"
#include "quotes/QuoteTables.h"
#include "tests/support/TestSupport.h"

namespace decltest {

class RecordingHost : public QuoteHost {
  public:
    RecordingHost() {
        for (int i = 0; i < kQuoteTableCount; ++i)
            tables[i] = std::make_unique<CDbf>(QuoteSchema(i));
    }
    CDbf& quoteTable(QuoteTableId id) override { return *tables[id]; }
    const CRcvConf& config() const override { return conf; }
    int32_t GetVersionDate() override { return 20170213; }
    void ReportInvalidVersion() override { ++invalidVersions; }
    void SetNewVersionAvailable() override { ++newVersions; }
    void ReconnectTcp() override { ++reconnects; }

    std::unique_ptr<CDbf> tables[kQuoteTableCount];
    CRcvConf conf;
    int reconnects = 0;
    int invalidVersions = 0;
    int newVersions = 0;
};

class RecordingUiHost : public platform::UiHost {
  public:
    RecordingUiHost() { platform::SetUiHost(this); }
    ~RecordingUiHost() override { platform::SetUiHost(nullptr); }
    platform::BoxResult messageBox(const platform::MessageBoxRequest& request) override {
        boxes.push_back(request);
        return request.defaultResult;
    }
    std::vector<platform::MessageBoxRequest> boxes;
};

// --- records -------------------------------------------------------------------

template <size_t N>
inline void Put(char (&field)[N], const std::string& text) {
    std::memset(field, ' ', N);
    std::memcpy(field, text.data(), std::min(N, text.size()));
}

inline NQXYXX_OrderRec_t Xyxx(const std::string& code, int32_t number, char status = '1',
                              int64_t quantity = 1000, int32_t price = 12345,
                              const std::string& time = "093000") {
    NQXYXX_OrderRec_t r;
    Put(r.XYZQDM, code);
    Put(r.XYJYDY, "A00001");
    Put(r.XYYWLB, "OB");
    r.XYWTSL = quantity;
    r.XYWTJG = price;
    r.XYYDH = number;
    Put(r.XYWTSJ, time);
    r.XYJLZT = status;
    r.XYBYBZ = ' ';
    return r;
}

// The special record of NQXYXX.DBF carrying the data time.
inline NQXYXX_OrderRec_t XyxxSpecial(const std::string& time = "093000") {
    NQXYXX_OrderRec_t r = Xyxx("000000", 0, ' ', 0, 0, time);
    return r;
}

inline NQFGKSBXX_OrderRec_t Fgksbxx(const std::string& code, int32_t number, char status = '1',
                                    int64_t quantity = 500, const std::string& time = "100000") {
    NQFGKSBXX_OrderRec_t r;
    Put(r.FGKZQDM, code);
    Put(r.FGKJYDY, "B00002");
    Put(r.FGKZQLB, "A0");
    Put(r.FGKSBLB, "1 ");
    r.FGKWTSL = quantity;
    r.FGKWTJG = 8800;
    r.FGKYDH = number;
    Put(r.FGKWTSJ, time);
    r.FGKJLZT = status;
    r.FGKBYBZ = ' ';
    return r;
}

inline NQFGKSBXX_OrderRec_t FgksbxxSpecial(const std::string& time = "100000") {
    return Fgksbxx("000000", 0, ' ', 0, time);
}

inline NQFGKCJXX_TradeRec_t Trade(int32_t number, const std::string& time = "103000") {
    NQFGKCJXX_TradeRec_t t;
    std::memset(&t, ' ', sizeof t);
    t.FGKCJXH = number;
    Put(t.FGKZQDM, number == 0 ? "000000" : "430001");
    Put(t.FGKZQJC, "NAME");
    Put(t.FGKZQLB, "A0");
    Put(t.FGKBJYDY, "B00001");
    Put(t.FGKSDJYDY, "S00001");
    t.FGKCJSL = int64_t(100) * number;
    t.FGKCJJG = uint32_t(1000 + number);
    Put(t.FGKCJSJ, time);
    t.FGKBYBZ = ' ';
    return t;
}

// --- packets -------------------------------------------------------------------

template <typename Rec>
struct Entry {
    int32_t entryNo;
    int16_t operation;
    Rec rec;
};

// A decoded declaration packet (payloadLen = plainLen = origLen = payload).
template <typename Rec>
inline Packet::Ptr DeclarationPacket(int8_t type, int16_t mode, int32_t round, int32_t delta,
                                     int32_t totalCount, const std::vector<Entry<Rec>>& entries) {
    const uint32_t length =
        uint32_t(sizeof(DeclarationHeader) + entries.size() * sizeof(DeclarationEntry<Rec>));
    Packet::Ptr p = Packet::Create(length);
    p->setType(type);
    p->setPayloadLen(uint16_t(length));
    p->setPlainLen(uint16_t(length));
    p->setOrigLen(uint16_t(length));
    DeclarationHeader h;
    std::memset(&h, 0, sizeof h);
    h.totalCount = totalCount;
    h.mode = mode;
    h.round = round;
    h.delta = delta;
    std::memcpy(p->payload(), &h, sizeof h);
    uint8_t* at = p->payload() + sizeof h;
    for (const Entry<Rec>& e : entries) {
        DeclarationEntry<Rec> wire;
        wire.entryNo = e.entryNo;
        wire.operation = e.operation;
        wire.rec = e.rec;
        std::memcpy(at, &wire, sizeof wire);
        at += sizeof wire;
    }
    return p;
}

inline Packet::Ptr TradePacket(const std::vector<NQFGKCJXX_TradeRec_t>& trades) {
    const uint32_t length = uint32_t(trades.size() * sizeof(NQFGKCJXX_TradeRec_t));
    Packet::Ptr p = Packet::Create(length);
    p->setType(27);
    p->setPayloadLen(uint16_t(length));
    p->setPlainLen(uint16_t(length));
    p->setOrigLen(uint16_t(length));
    if (length > 0) std::memcpy(p->payload(), trades.data(), length);
    return p;
}

// --- reading a table file on our own -------------------------------------------

// The records of a table file as the header counts them (each its full image).
inline std::vector<std::string> FileRecords(const std::string& path) {
    const std::string bytes = testsupport::ReadFile(path);
    std::vector<std::string> out;
    if (bytes.size() < 32) return out;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const uint32_t count = dbfbytes::LoadU32(p + 4);
    const uint16_t headerLength = dbfbytes::LoadU16(p + 8);
    const uint16_t recordLength = dbfbytes::LoadU16(p + 10);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = size_t(headerLength) + size_t(recordLength) * i;
        if (at + recordLength > bytes.size()) break;
        out.push_back(bytes.substr(at, recordLength));
    }
    return out;
}

inline std::string Field(QuoteTableId id, int field, const std::string& image) {
    return std::string(FieldText(id, field, image));
}

// One file operation as the observer saw it.
struct FileEvent {
    platform::FileOp op;
    size_t bytes;
};

class TableFixture : public ::testing::Test {
  protected:
    TableFixture() {
        tableWriteFailures = 0;
        platform::faults::SetFileObserver(
            [this](platform::FileOp op, const std::string& path, size_t bytes) {
                if (watching && path.find(".DBF") != std::string::npos)
                    events.push_back({op, bytes});
            });
    }
    ~TableFixture() override { tableWriteFailures = 0; }

    std::string Path(const std::string& name) const { return dir.file(name); }
    // Writes (with their byte counts) and flushes since the last call.
    std::vector<FileEvent> TakeWrites() {
        std::vector<FileEvent> out;
        for (const FileEvent& e : events) {
            if (e.op == platform::FileOp::Write || e.op == platform::FileOp::Flush)
                out.push_back(e);
        }
        events.clear();
        return out;
    }
    static std::string Describe(const std::vector<FileEvent>& writes) {
        std::string out;
        for (const FileEvent& e : writes) {
            out += e.op == platform::FileOp::Flush ? "F" : "W" + std::to_string(e.bytes);
            out += ' ';
        }
        if (!out.empty()) out.pop_back();
        return out;
    }
    void Watch() {
        events.clear();
        watching = true;
    }

    platform::ScopedFakeClock clock;
    testsupport::CaptureAppender log;
    testsupport::TempDir dir;
    RecordingUiHost ui;
    platform::faults::ScopedFileFaults faults;
    std::vector<FileEvent> events;
    bool watching = false;
};

}  // namespace decltest

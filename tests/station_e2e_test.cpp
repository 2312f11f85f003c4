// The station as an operator runs it: the real `tavrel --headless --dir DIR`
// in a program directory of its own, fed from this test with packets built
// byte by byte from their layouts on both multicast channels (loopback,
// bound to 127.0.0.1), stopped with SIGTERM.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/Ipv4Text.h"
#include "controller/DecodePacket.h"
#include "platform/Socket.h"
#include "platform/Text.h"
#include "tests/E2eStation.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kPrimary = 2000011;
constexpr uint32_t kBackup = 2100011;
constexpr const char* kKey = "7391739173917391";

void Put(Bytes& b, size_t at, uint64_t v, int width) {
    for (int i = 0; i < width; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
uint32_t Get32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | uint8_t(s[at + size_t(i)]);
    return v;
}

enum Method : uint8_t { kZlib = 0x01, kRc6 = 0x04, kCrc32 = 0x10, kAdler32 = 0x20 };

// One packet on the wire: compressed, enciphered, then checksummed as sent.
Bytes Wire(uint32_t channel, uint32_t seq, int8_t type, uint8_t flags, const Bytes& plain) {
    Bytes body = plain;
    if (flags & kZlib) {
        uLongf n = compressBound(uLong(plain.size()));
        body.resize(n);
        EXPECT_EQ(Z_OK, compress2(body.data(), &n, plain.data(), uLong(plain.size()), 6));
        body.resize(n);
    }
    const size_t plainLen = body.size();
    if (flags & kRc6) {
        body.resize((plainLen + 15) / 16 * 16, 0);
        EXPECT_EQ(int(body.size()), EncryptPayload(body.data(), body.size(), plainLen, kKey));
    }
    uint32_t sum = 0;
    if (flags & kCrc32) sum = uint32_t(crc32(0, body.data(), uInt(body.size())));
    if (flags & kAdler32) sum = uint32_t(adler32(1, body.data(), uInt(body.size())));
    Bytes w(20, 0);
    Put(w, 0, channel, 4);
    Put(w, 4, seq, 4);
    w[8] = uint8_t(type);
    w[9] = flags;
    Put(w, 10, body.size(), 2);
    Put(w, 12, plainLen, 2);
    Put(w, 14, plain.size(), 2);
    Put(w, 16, sum, 4);
    w.insert(w.end(), body.begin(), body.end());
    return w;
}

// Market state 40 with two trading periods (seven int16).
Bytes MarketState() {
    const int16_t v[7] = {40, 930, 1130, 1300, 1500, 0, 0};
    Bytes p(14);
    for (int i = 0; i < 7; ++i) Put(p, size_t(2 * i), uint16_t(v[i]), 2);
    return p;
}

struct Security {
    const char* code;
    const char* name;   // UTF-8; GBK on the wire
    int32_t lastPrice;  // thousandths
    int32_t quoteTime;  // the special record's time
};

// A security quotes snapshot: totalCount, then (recordNo, 198-byte record)
// entries; the special record (record 0) last, as it closes a round.
Bytes Snapshot(const std::vector<Security>& securities, int32_t quoteTime) {
    const uint32_t total = uint32_t(securities.size() + 1);
    Bytes p(4, 0);
    Put(p, 0, total, 4);
    auto entry = [&p](uint32_t recordNo, const std::string& code, const std::string& gbkName,
                      int32_t price, int32_t count) {
        Bytes e(4 + 198, 0);
        Put(e, 0, recordNo, 4);
        std::memset(e.data() + 4, ' ', 14);
        std::memcpy(e.data() + 4, code.data(), 6);
        std::memcpy(e.data() + 4 + 6, gbkName.data(), std::min<size_t>(8, gbkName.size()));
        Put(e, 4 + 14, uint32_t(price), 4);  // HQZRSP
        Put(e, 4 + 22, uint32_t(price), 4);  // HQZJCJ
        Put(e, 4 + 26, 1000, 8);             // HQCJSL
        Put(e, 4 + 42, uint32_t(count), 4);  // HQCJBS
        p.insert(p.end(), e.begin(), e.end());
    };
    uint32_t n = 1;
    for (const Security& s : securities)
        entry(n++, s.code, platform::Utf8ToGbk(s.name), s.lastPrice, 7);
    entry(0, "000000", "", 0, quoteTime);
    return p;
}

// NQHQ.DBF as its layout says: count at 4, header length at 8, record
// length at 10; fields at their offsets within a record.
struct Table {
    uint32_t count = 0;
    std::string bytes;
    uint16_t headerLength = 0;
    uint16_t recordLength = 0;
    static Table Read(const std::string& path) {
        Table t;
        t.bytes = testsupport::ReadFile(path);
        if (t.bytes.size() < 32) return t;
        t.count = Get32(t.bytes, 4);
        t.headerLength = uint16_t(uint8_t(t.bytes[8]) | uint8_t(t.bytes[9]) << 8);
        t.recordLength = uint16_t(uint8_t(t.bytes[10]) | uint8_t(t.bytes[11]) << 8);
        return t;
    }
    std::string field(uint32_t record, size_t offset, size_t width) const {
        const size_t at = size_t(headerLength) + size_t(record) * recordLength + offset;
        return at + width <= bytes.size() ? bytes.substr(at, width) : std::string();
    }
};

TEST(StationE2eTest, HeadlessStationWritesTheQuotesOfTheActiveChannelAndStopsCleanly) {
    testsupport::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const e2e::Channels channels = e2e::Channels::ForThisProcess(3);
    e2e::WriteStationConfig(dir.path(), channels);

    e2e::Child station;
    ASSERT_TRUE(station.start({e2e::StationProgram(), "--headless", "--dir", dir.path()},
                              dir.file("station.out")));
    auto log = [&] { return e2e::LogText(dir.path()); };
    ASSERT_TRUE(
        e2e::WaitFor([&] { return log().find("通信模块启动成功!") != std::string::npos; }, 10000))
        << log() << testsupport::ReadFile(dir.file("station.out"));

    const std::vector<Security> round1 = {{"430001", "测试一", 12345, 0},
                                          {"430002", "样本二号", 8000, 0}};
    std::vector<Security> round2 = round1;
    round2[1].lastPrice = 8125;
    const std::vector<std::pair<int8_t, std::pair<uint8_t, Bytes>>> packets = {
        {12, {kCrc32, MarketState()}},
        {22, {kRc6 | kAdler32, Snapshot(round1, 93005)}},
        {22, {kZlib | kCrc32, Snapshot(round2, 93010)}},
    };
    platform::SocketHandle s = platform::OpenMulticastSender(Ipv4FromOctets(127, 0, 0, 1), 1);
    ASSERT_NE(platform::kInvalidSocket, s);
    size_t bytesSent = 0;
    uint32_t seq = 1;
    for (const auto& [type, p] : packets) {
        // The same data on both channels, as the master station sends it;
        // the backup's copies are taken and counted, and dropped.
        for (uint32_t channel : {kPrimary, kBackup}) {
            const Bytes w = Wire(channel, seq, type, p.first, p.second);
            const bool primary = channel == kPrimary;
            ASSERT_TRUE(platform::SendDatagram(
                s, ParseIpv4(primary ? channels.group1 : channels.group2),
                uint16_t(primary ? channels.port1 : channels.port2), w.data(), w.size()));
            bytesSent += w.size();
        }
        ++seq;
    }
    platform::CloseSocket(s);

    const std::string nqhq = dir.file("data/NQHQ.DBF");
    Table table;
    const bool written = e2e::WaitFor(
        [&] {
            table = Table::Read(nqhq);
            return table.count == 3 && table.field(2, 33, 9) == "    8.125";
        },
        10000);
    EXPECT_TRUE(written) << log();
    EXPECT_EQ(356, table.recordLength);
    EXPECT_EQ(32 * 35 + 33, table.headerLength);
    EXPECT_EQ("000000", table.field(0, 1, 6));
    EXPECT_EQ("    93010", table.field(0, 71, 9));
    EXPECT_EQ("430001", table.field(1, 1, 6));
    EXPECT_EQ(platform::Utf8ToGbk("测试一") + "  ", table.field(1, 7, 8));
    EXPECT_EQ("   12.345", table.field(1, 33, 9));
    EXPECT_EQ("430002", table.field(2, 1, 6));
    EXPECT_EQ(platform::Utf8ToGbk("样本二号"), table.field(2, 7, 8));

    // The status summary shows the table (within one summary period of ten
    // seconds; at once, normally).
    std::string out;
    EXPECT_TRUE(e2e::WaitFor(
        [&] {
            out = testsupport::ReadFile(dir.file("station.out"));
            return out.find("NQHQ.DBF 3 条 09:30:10") != std::string::npos;
        },
        15000))
        << out;
    EXPECT_NE(std::string::npos, out.find("状态：组播 正常")) << out;
    station.signal(SIGTERM);
    ASSERT_EQ(0, station.wait(10000)) << testsupport::ReadFile(dir.file("station.out"));

    const std::string text = log();
    EXPECT_EQ(1, e2e::CountLines(text, "Tavrel:欢迎使用Tavrel，版本日期为 20170213。"));
    EXPECT_EQ(1, e2e::CountLines(text, "Tavrel:收到信号 SIGTERM，程序退出。"));
    EXPECT_EQ(1, e2e::CountLines(text, "TyQuotaHandler:股市开市时间：09:30-11:30, 13:00-15:00"))
        << text;
    EXPECT_EQ(1, e2e::CountLines(text, "RcvController:系统退出！"));
    EXPECT_EQ(0, e2e::CountLines(text, "现转由信道"));
    const e2e::Totals totals = e2e::ParseTotals(text);
    ASSERT_TRUE(totals.found) << text;
    EXPECT_EQ(6, totals.packets);
    EXPECT_EQ((long long)bytesSent, totals.bytes);
    EXPECT_EQ(0, totals.errors);
    EXPECT_EQ(0, totals.lost);
    EXPECT_EQ(0, totals.outOfOrder);
    // Every line of the file ends as a Windows text line.
    EXPECT_EQ(std::string::npos, text.find("\n\n\n\n")) << "CR LF, not bare line feeds";
}

TEST(StationE2eTest, AConfigurationToFixIsListedAndTheStationDoesNotStart) {
    testsupport::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const e2e::Channels channels = e2e::Channels::ForThisProcess(3);
    e2e::WriteStationConfig(dir.path(), channels);
    std::string cfg = testsupport::ReadFile(dir.file("Tavrel.cfg"));
    const size_t at = cfg.find("AuthID=TEST0000000001");
    ASSERT_NE(std::string::npos, at);
    cfg.replace(at, 21, "AuthID=SHORT");
    testsupport::WriteFile(dir.file("Tavrel.cfg"), cfg);

    e2e::Child station;
    ASSERT_TRUE(station.start({e2e::StationProgram(), "--headless", "--dir", dir.path()},
                              dir.file("station.out")));
    EXPECT_EQ(2, station.wait(10000));
    const std::string out = testsupport::ReadFile(dir.file("station.out"));
    EXPECT_NE(std::string::npos, out.find("中完成以下配置项后重新启动：\n  行情授权ID")) << out;
    EXPECT_EQ(cfg, testsupport::ReadFile(dir.file("Tavrel.cfg"))) << "nothing is written";
    EXPECT_FALSE(testsupport::Exists(dir.file("data")));
}

}  // namespace

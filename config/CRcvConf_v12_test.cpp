#include "config/CRcvConf_v12.h"

#include <gtest/gtest.h>

#include "config/CRcvConf.h"
#include "platform/Text.h"
#include "tests/support/TestSupport.h"

namespace {

// Builds an older configuration file byte by byte from its documented
// layout, independently of the reader.
class V12Writer {
  public:
    // The length prefix: the shortest that fits, or a chosen one.
    enum class Form { Auto, Byte, Word, DoubleWord };

    V12Writer& u16(uint16_t v) {
        for (int i = 0; i < 2; ++i) bytes_.push_back(char(v >> (8 * i)));
        return *this;
    }
    V12Writer& u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_.push_back(char(v >> (8 * i)));
        return *this;
    }
    V12Writer& addr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
        bytes_ += {char(a), char(b), char(c), char(d)};
        return *this;
    }
    // A UTF-8 text stored as GBK with its length prefix.
    V12Writer& text(const std::string& utf8, Form form = Form::Auto) {
        const std::string gbk = platform::Utf8ToGbk(utf8);
        if (form == Form::Auto)
            form = gbk.size() < 255      ? Form::Byte
                   : gbk.size() < 0xFFFE ? Form::Word
                                         : Form::DoubleWord;
        if (form == Form::Byte) {
            bytes_.push_back(char(gbk.size()));
        } else if (form == Form::Word) {
            bytes_.push_back(char(0xFF));
            u16(uint16_t(gbk.size()));
        } else {
            bytes_.push_back(char(0xFF));
            u16(0xFFFF);
            u32(uint32_t(gbk.size()));
        }
        bytes_ += gbk;
        return *this;
    }
    V12Writer& servers(const std::vector<ServerInfo>& list) {
        u32(uint32_t(list.size()));
        for (const ServerInfo& s : list)
            text(s.stationId).text(s.serverAddr).u32(uint32_t(s.port)).text(s.comment);
        return *this;
    }
    V12Writer& raw(const std::string& bytes) {
        bytes_ += bytes;
        return *this;
    }
    const std::string& bytes() const { return bytes_; }

  private:
    std::string bytes_;
};

const std::vector<ServerInfo> kCentreOne = {ServerInfo{"ST01", "10.0.0.1", 7006, "主机"},
                                            ServerInfo{"", "10.0.0.2", 7010, ""}};
const std::vector<ServerInfo> kCentreTwo = {ServerInfo{"", "10.9.0.1", 7006, "备份中心"}};

// Every field before the server lists; each has a distinct value so that a
// field read from the wrong place shows. The data path is 300 bytes long
// (the three-byte length form); the bulletin path uses the seven-byte form.
V12Writer Fields() {
    const std::string longDataPath = "/data/" + std::string(294, 'd');
    V12Writer w;
    w.u32(12)
        .text("0105")
        .u32(1)  // rcv_Mcast
        .u32(1)  // rcvZSXX
        .u32(0)  // rcvFGKSBXX
        .u32(1)  // rcvFGKCJXX
        .u16(4003)
        .u16(4004)
        .addr(239, 20, 0, 11)
        .addr(239, 21, 0, 11)
        .u32(1)  // enableQuerySupport
        .addr(127, 0, 0, 1)
        .u32(9001)
        .u32(0x1A0000)  // dwFlag
        .u32(15)        // dwKeepFileDays
        .addr(192, 168, 0, 5)
        .addr(192, 168, 1, 5)
        .text(longDataPath)
        .text("D:\\ignored\\Log")
        .text("/data/NQHQ.DBF")
        .text("/data/NQXYXX.DBF")
        .text("/data/NQZSXX.DBF")
        .text("/data/NQXX.DBF", V12Writer::Form::Word)  // a longer form than needed
        .text("/data/NQFGKSBXX.DBF")
        .text("/data/NQFGKCJXX.DBF")
        .text("/data/公告", V12Writer::Form::DoubleWord)
        .text("/data/OPENFLAG");
    return w;
}

std::string FullV12File() {
    return Fields().servers(kCentreOne).servers(kCentreTwo).bytes();
}

TEST(V12File, ReadsEveryFieldInFileOrder) {
    CRcvConf_v12 v;
    ASSERT_EQ(v.Parse(FullV12File()), 0) << v.failure();
    EXPECT_EQ(v.formatVersion, 12u);
    EXPECT_EQ(v.usrId, "0105");
    EXPECT_EQ(v.rcv_Mcast, 1);
    EXPECT_EQ(v.rcvZSXX, 1);
    EXPECT_EQ(v.rcvFGKSBXX, 0);
    EXPECT_EQ(v.rcvFGKCJXX, 1);
    EXPECT_EQ(v.mcRcvPort1, 4003);
    EXPECT_EQ(v.mcRcvPort2, 4004);
    EXPECT_EQ(FormatIpv4(v.mcRcvAddr1), "239.20.0.11");
    EXPECT_EQ(FormatIpv4(v.mcRcvAddr2), "239.21.0.11");
    EXPECT_EQ(v.enableQuerySupport, 1);
    EXPECT_EQ(FormatIpv4(v.queryLsnAddr), "127.0.0.1");
    EXPECT_EQ(v.queryLsnPort, 9001);
    EXPECT_EQ(v.dwFlag, 0x1A0000u);
    EXPECT_EQ(v.dwKeepFileDays, 15);
    EXPECT_EQ(FormatIpv4(v.mcNetCard1), "192.168.0.5");
    EXPECT_EQ(FormatIpv4(v.mcNetCard2), "192.168.1.5");
    EXPECT_EQ(v.szDefaultDataPath.size(), 300u);
    EXPECT_EQ(v.szLogPath, "D:\\ignored\\Log");
    EXPECT_EQ(v.NQHQ_File, "/data/NQHQ.DBF");
    EXPECT_EQ(v.NQXYXX_File, "/data/NQXYXX.DBF");
    EXPECT_EQ(v.NQZSXX_File, "/data/NQZSXX.DBF");
    EXPECT_EQ(v.NQXX_File, "/data/NQXX.DBF");
    EXPECT_EQ(v.NQFGKSBXX_File, "/data/NQFGKSBXX.DBF");
    EXPECT_EQ(v.NQFGKCJXX_File, "/data/NQFGKCJXX.DBF");
    EXPECT_EQ(v.szTYBulletinPath, "/data/公告");
    EXPECT_EQ(v.szTYOpenFlagFile, "/data/OPENFLAG");
    EXPECT_EQ(v.servers[0], kCentreOne);
    EXPECT_EQ(v.servers[1], kCentreTwo);
}

TEST(V12File, MigratesIntoTheRecordWithoutAuthId) {
    CRcvConf_v12 v;
    ASSERT_EQ(v.Parse(FullV12File()), 0);
    CRcvConf conf;
    conf.MigrateFrom(v, "/opt/tavrel");
    EXPECT_EQ(conf.CfgVersion, "V20160921");
    EXPECT_EQ(conf.AuthID, "");
    EXPECT_EQ(conf.usrId, "0105");
    EXPECT_EQ(conf.rcv_Mcast, 1);
    EXPECT_EQ(conf.rcvZSXX, 1);
    EXPECT_EQ(conf.rcvFGKSBXX, 0);
    EXPECT_EQ(conf.rcvFGKCJXX, 1);
    EXPECT_EQ(conf.mcRcvPort2, 4004);
    EXPECT_EQ(conf.mcRcvAddr2, v.mcRcvAddr2);
    EXPECT_EQ(conf.queryLsnAddr, 16777343);
    EXPECT_EQ(conf.dwFlag, 0x1A0000u);
    EXPECT_EQ(conf.dwKeepFileDays, 15);
    EXPECT_EQ(conf.mcNetCard2, v.mcNetCard2);
    EXPECT_EQ(conf.szLogPath, "/opt/tavrel/Log");
    // Cut to what Tavrel.cfg keeps of a path.
    EXPECT_EQ(conf.szDefaultDataPath, v.szDefaultDataPath.substr(0, 254));
    EXPECT_EQ(conf.NQXX_File, "/data/NQXX.DBF");
    EXPECT_EQ(conf.szTYBulletinPath, "/data/公告");
    EXPECT_EQ(conf.szTYOpenFlagFile, "/data/OPENFLAG");
    EXPECT_EQ(conf.serverInfos.list(0), kCentreOne);
    EXPECT_EQ(conf.serverInfos.list(1), kCentreTwo);
}

TEST(V12File, EveryTruncationIsACleanFailure) {
    const std::string full = FullV12File();
    for (size_t n = 0; n < full.size(); ++n) {
        CRcvConf_v12 v;
        ASSERT_EQ(v.Parse(std::string_view(full).substr(0, n)), -1) << n;
        ASSERT_FALSE(v.failure().empty()) << n;
        ASSERT_EQ(v.usrId, "") << "a failed read leaves the record as it was";
    }
}

TEST(V12File, LengthsAndCountsAreCheckedAgainstTheFile) {
    const std::string trailer(64, '\0');
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"32-bit length past the end",
         V12Writer().u32(12).raw("\xFF\xFF\xFF\xFF\xFF\xFF\xFF").bytes()},
        {"unknown 0xFFFE form", V12Writer()
                                    .u32(12)
                                    .raw("\xFF\xFE\xFF"
                                         "abc")
                                    .bytes()},
        {"16-bit length past the end",
         V12Writer().u32(12).raw(std::string("\xFF\x00\x10", 3) + "abc").bytes()},
        {"server count no file holds", Fields().u32(0xFFFFFFFF).raw(trailer).bytes()},
        {"server count beyond the bytes left", Fields().u32(10).raw(trailer).bytes()},
        {"centre-two count beyond the bytes left",
         Fields().servers(kCentreOne).u32(1u << 30).raw(trailer).bytes()},
    };
    for (const Case& c : cases) {
        CRcvConf_v12 v;
        EXPECT_EQ(v.Parse(c.bytes), -1) << c.name;
        EXPECT_FALSE(v.failure().empty()) << c.name;
    }
    // Bytes after the last list are not part of the record and do no harm.
    CRcvConf_v12 v;
    EXPECT_EQ(v.Parse(FullV12File() + "tail"), 0);
}

TEST(V12File, ReadsFromDiskWithinBounds) {
    testsupport::TempDir dir;
    CRcvConf_v12 v;
    EXPECT_EQ(v.ReadV12File(dir.file("NQHQ_v12.Cfg")), -1);
    EXPECT_EQ(v.fileError().cause, platform::FileCause::NotFound);

    testsupport::WriteFile(dir.file("NQHQ_v12.Cfg"), FullV12File());
    ASSERT_EQ(v.ReadV12File(dir.file("NQHQ_v12.Cfg")), 0);
    EXPECT_FALSE(v.fileError().failed());
    EXPECT_EQ(v.servers[1], kCentreTwo);

    testsupport::WriteFile(dir.file("big.Cfg"),
                           FullV12File() + std::string(CRcvConf_v12::kMaxFileSize, 'x'));
    EXPECT_EQ(v.ReadV12File(dir.file("big.Cfg")), -1);
    EXPECT_FALSE(v.fileError().failed());
    EXPECT_FALSE(v.failure().empty());

    platform::faults::ScopedFileFaults faults;
    faults.add({platform::FileOp::Read, 0, 1, platform::FileCause::NetworkLost, 0, "NQHQ_v12"});
    EXPECT_EQ(v.ReadV12File(dir.file("NQHQ_v12.Cfg")), -1);
    EXPECT_EQ(v.fileError().cause, platform::FileCause::NetworkLost);
}

}  // namespace

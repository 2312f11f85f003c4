#include "config/CRcvConf.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "config/ConfigTestSupport.h"
#include "platform/IniFile.h"
#include "platform/Text.h"
#include "tests/support/TestSupport.h"

using configtest::FullConf;
using configtest::RecordingUiHost;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const std::string kProgDir = "/opt/tavrel";

// The CONFIG section that FullConf() is written as, key by key in order.
const std::vector<std::pair<std::string, std::string>> kFullKeys = {
    {"CfgVersion", "V20160921"},
    {"usrId", "0105"},
    {"AuthID", "AB345678901234"},
    {"rcv_Mcast", "0"},
    {"rcvZSXX", "1"},
    {"rcvFGKCJXX", "1"},
    {"rcvFGKSBXX", "0"},
    {"mcRcvPort1", "4003"},
    {"mcRcvPort2", "4004"},
    {"mcRcvAddr1", "239.20.0.11"},
    {"mcRcvAddr2", "239.21.0.11"},
    {"enableQuerySupport", "1"},
    {"queryLsnAddr", "16777343"},
    {"queryLsnPort", "9001"},
    {"dwFlag", "1179648"},
    {"dwKeepFileDays", "30"},
    {"mcNetCard1", "127.0.0.1"},
    {"mcNetCard2", "192.168.1.200"},
    {"szDefaultDataPath", "/data/行情"},
    {"szLogPath", "/opt/tavrel/Log"},
    {"NQHQ_File", "/data/行情/NQInfo/NQHQ.DBF"},
    {"NQXYXX_File", "/data/行情/NQInfo/NQXYXX.DBF"},
    {"NQZSXX_File", "/data/行情/NQInfo/NQZSXX.DBF"},
    {"NQXX_File", "/data/行情/NQInfo/NQXX.DBF"},
    {"NQFGKSBXX_File", "/data/行情/NQInfo/NQFGKSBXX.DBF"},
    {"NQFGKCJXX_File", "/data/行情/NQInfo/NQFGKCJXX.DBF"},
    {"szTYBulletinPath", "/data/行情/公告"},
    {"szTYOpenFlagFile", "/data/行情/OPENFLAG"},
};

const std::string kFullLists =
    "[ServerInfoNUM]\r\nServers0=2\r\nServers1=1\r\n"
    "[ServerInfo0]\r\nStationId=|S2|\r\nServerAddr=127.0.0.1|127.0.0.2|\r\n"
    "Port=7006|7016|\r\nComment=中心一主机||\r\n"
    "[ServerInfo1]\r\nStationId=|\r\nServerAddr=127.0.1.1|\r\nPort=7006|\r\n"
    "Comment=备份|\r\n";

using Changes = std::vector<std::pair<std::string, std::optional<std::string>>>;

// The full configuration's text (UTF-8) with keys changed or, for nullopt,
// removed.
std::string ConfigText(const Changes& changes, bool withLists = true) {
    std::vector<std::pair<std::string, std::optional<std::string>>> keys(kFullKeys.begin(),
                                                                         kFullKeys.end());
    for (const auto& [key, value] : changes) {
        bool found = false;
        for (auto& k : keys) {
            if (k.first == key) {
                k.second = value;
                found = true;
            }
        }
        if (!found) keys.emplace_back(key, value);
    }
    std::string text = "[CONFIG]\r\n";
    for (const auto& [key, value] : keys)
        if (value) text += key + "=" + *value + "\r\n";
    return withLists ? text + kFullLists : text;
}

// Only the keys given.
std::string OnlyKeys(const Changes& keys) {
    std::string text = "[CONFIG]\r\n";
    for (const auto& [key, value] : keys) text += key + "=" + value.value_or("") + "\r\n";
    return text;
}

class ConfFileTest : public ::testing::Test {
  protected:
    std::string path() const { return dir_.file("Tavrel.cfg"); }
    void writeUtf8(const std::string& text) const { WriteFile(path(), platform::Utf8ToGbk(text)); }
    int read(CRcvConf& conf) { return conf.ReadFromIni(path(), kProgDir); }

    TempDir dir_;
    RecordingUiHost ui_;
};

TEST(CRcvConfRecord, NewRecordHoldsTheDefaults) {
    CRcvConf c;
    EXPECT_EQ(c.CfgVersion, "V20160921");
    EXPECT_EQ(c.mcRcvPort1, 4003);
    EXPECT_EQ(c.mcRcvPort2, 4003);
    EXPECT_EQ(FormatIpv4(c.mcRcvAddr1), "239.20.0.11");
    EXPECT_EQ(FormatIpv4(c.mcRcvAddr2), "239.21.0.11");
    EXPECT_EQ(c.dwFlag, 0u);
    EXPECT_EQ(c.rcv_Mcast | c.rcvZSXX | c.rcvFGKCJXX | c.rcvFGKSBXX | c.enableQuerySupport, 0);
    EXPECT_TRUE(c.usrId.empty() && c.AuthID.empty() && c.szLogPath.empty() && c.NQHQ_File.empty());
    EXPECT_TRUE(c.serverInfos.isCentreOneEmpty());
    EXPECT_TRUE(c.serverInfos.list(1).empty());
    EXPECT_FALSE(c.tcpInUse());
}

TEST(CRcvConfRecord, TcpIsInUseWhenAnyTableComesOverTcp) {
    struct Case {
        int32_t mcast, zsxx, fgksbxx, fgkcjxx;
        bool tcp;
    } cases[] = {{0, 0, 0, 0, false}, {1, 0, 0, 0, true},    {-1, 0, 0, 0, true},
                 {0, 1, 0, 0, true},  {0, 0, 1, 0, true},    {0, 0, 0, 1, true},
                 {0, 2, 2, 2, false}, {0, -1, -1, -1, false}};
    for (const Case& c : cases) {
        CRcvConf conf;
        conf.rcv_Mcast = c.mcast;
        conf.rcvZSXX = c.zsxx;
        conf.rcvFGKSBXX = c.fgksbxx;
        conf.rcvFGKCJXX = c.fgkcjxx;
        EXPECT_EQ(conf.tcpInUse(), c.tcp) << c.mcast << c.zsxx << c.fgksbxx << c.fgkcjxx;
    }
}

TEST(Ipv4Text, ReadsWhatTheAddressParserReads) {
    struct Case {
        const char* text;
        const char* expected;  // nullptr: the invalid address
    } cases[] = {
        {"1.2.3.4", "1.2.3.4"},
        {"0.0.0.0", "0.0.0.0"},
        {"224.0.0.1", "224.0.0.1"},
        {"127.1", "127.0.0.1"},
        {"10.1.2", "10.1.0.2"},
        {"0x7f.0.0.1", "127.0.0.1"},
        {"010.0.0.1", "8.0.0.1"},
        {"3232235777", "192.168.1.1"},
        {"255.255.255.255", nullptr},
        {"", nullptr},
        {"1.2.3.4.5", nullptr},
        {"256.1.1.1", nullptr},
        {"1.2.3.256", nullptr},
        {"1.2.3.", nullptr},
        {"1..2.3", nullptr},
        {"a.b.c.d", nullptr},
        {"09.1.1.1", nullptr},
        {"1.2.3.4x", nullptr},
        {"0x", nullptr},
        {"1.2.65536", nullptr},
        {"99999999999", nullptr},
    };
    for (const Case& c : cases) {
        uint32_t a = ParseIpv4(c.text);
        if (c.expected == nullptr)
            EXPECT_EQ(a, kInvalidAddr) << c.text;
        else
            EXPECT_EQ(FormatIpv4(a), c.expected) << c.text;
    }
    // Network byte order: the first octet in the lowest memory byte.
    EXPECT_EQ(ParseIpv4("127.0.0.1"), Ipv4FromOctets(127, 0, 0, 1));
    EXPECT_EQ(int32_t(ParseIpv4("127.0.0.1")), 16777343);
}

TEST_F(ConfFileTest, FullConfigurationWritesInOrderAndReadsBackEqual) {
    const CRcvConf full = FullConf(kProgDir);
    ASSERT_EQ(full.WriteToIni(path()), 0);
    EXPECT_EQ(platform::GbkToUtf8(ReadFile(path())), ConfigText({}));

    CRcvConf back;
    EXPECT_EQ(read(back), 0);
    EXPECT_TRUE(ui_.boxes.empty());
    EXPECT_TRUE(back == full);

    // Writing what was read changes nothing.
    const std::string first = ReadFile(path());
    ASSERT_EQ(back.WriteToIni(path()), 0);
    EXPECT_EQ(ReadFile(path()), first);
}

TEST_F(ConfFileTest, ItemErrorsAreGatheredInOneMessage) {
    const std::string all = "提示|读取“";
    const std::string tail = "”配置项出错，请重新配置！";
    struct Case {
        const char* name;
        std::string text;
        std::string errors;  // "" when the read succeeds
    } cases[] = {
        {"complete", ConfigText({}), ""},
        {"13-character AuthID and no dwKeepFileDays",
         ConfigText({{"AuthID", "AB34567890123"}, {"dwKeepFileDays", std::nullopt}}),
         "行情授权ID;文件保留天数;"},
        {"TCP snapshots: multicast address not needed",
         ConfigText({{"rcv_Mcast", "1"}, {"mcRcvAddr1", ""}, {"mcRcvAddr2", "300.1.1.1"}}), ""},
        {"multicast snapshots: the address is needed", ConfigText({{"mcRcvAddr1", ""}}),
         "主用组播地址;"},
        {"255.255.255.255 is the invalid address", ConfigText({{"mcRcvAddr2", "255.255.255.255"}}),
         "备用组播地址;"},
        {"missing rcv_Mcast reads as TCP",
         ConfigText(
             {{"rcv_Mcast", std::nullopt}, {"mcRcvPort1", std::nullopt}, {"mcRcvAddr1", "bad"}}),
         "接收方式;"},
        {"a value of -1 is missing", ConfigText({{"rcvZSXX", "-1"}, {"enableQuerySupport", ""}}),
         "是否接收做市委托;启用监控;"},
        {"monitor address read back as -1", ConfigText({{"queryLsnAddr", "-1"}}), "监控服务地址;"},
        {"monitor off: address not needed",
         ConfigText(
             {{"enableQuerySupport", "0"}, {"queryLsnAddr", "-1"}, {"queryLsnPort", std::nullopt}}),
         ""},
        {"missing dwFlag has every bit set",
         ConfigText(
             {{"dwFlag", std::nullopt}, {"mcNetCard1", "x"}, {"szTYOpenFlagFile", std::nullopt}}),
         "功能标志;主用组播网卡绑定;开市标志文件;"},
        {"interfaces not bound: addresses not needed",
         ConfigText({{"dwFlag", "0"}, {"mcNetCard1", ""}, {"mcNetCard2", ""}}), ""},
        {"station number only demanded by a value of 1",
         ConfigText({{"usrId", ""}, {"rcv_Mcast", "2"}, {"rcvZSXX", "0"}, {"rcvFGKCJXX", "0"}}),
         ""},
        {"station number for a table over TCP",
         ConfigText({{"usrId", ""}, {"rcvFGKSBXX", "1"}, {"NQFGKSBXX_File", ""}}),
         "小站号;非公开申报信息库;"},
        {"more servers than pieces",
         ConfigText({}, false) + "[ServerInfoNUM]\r\nServers0=4\r\nServers1=0\r\n[ServerInfo0]\r\n"
                                 "StationId=||\r\nServerAddr=a|b|\r\nPort=1|2|\r\nComment=||\r\n",
         "服务器组配置项;"},
        {"nothing but the version", OnlyKeys({{"CfgVersion", "V1"}}),
         "接收方式;是否接收做市委托;是否接收非公开成交信息;是否接收非公开申报信息;"
         "行情授权ID;启用监控;功能标志;文件保留天数;主用组播网卡绑定;备用组播网卡绑定;"
         "默认路径;系统日志路径;证券信息库NQXX.dbf;协议转让投资者申报信息文件NQXYXX.dbf;"
         "证券行情文件NQHQ.dbf;开市标志文件;公告文件路径;服务器组配置项;"},
        {"everything demanded and nothing there",
         OnlyKeys({{"CfgVersion", "V1"},
                   {"rcv_Mcast", "0"},
                   {"rcvZSXX", "1"},
                   {"rcvFGKCJXX", "1"},
                   {"rcvFGKSBXX", "1"},
                   {"enableQuerySupport", "1"},
                   {"dwFlag", "1179648"}}),
         "小站号;行情授权ID;主用组播端口;备用组播端口;主用组播地址;备用组播地址;监控服务地址;"
         "监控端口;文件保留天数;主用组播网卡绑定;备用组播网卡绑定;默认路径;系统日志路径;"
         "证券信息库NQXX.dbf;协议转让投资者申报信息文件NQXYXX.dbf;"
         "做市转让申报信息文件NQZSXX.dbf;证券行情文件NQHQ.dbf;非公开申报信息库;"
         "非公开成交信息库;开市标志文件;公告文件路径;服务器组配置项;"},
    };
    for (const Case& c : cases) {
        writeUtf8(c.text);
        ui_.boxes.clear();
        CRcvConf conf;
        std::vector<std::string> items;
        int result = conf.ReadFromIni(path(), kProgDir, &items);
        std::string joined;
        for (const std::string& item : items) joined += item + ";";
        EXPECT_EQ(joined, c.errors) << c.name;
        if (c.errors.empty()) {
            EXPECT_EQ(result, 0) << c.name;
            EXPECT_TRUE(ui_.boxes.empty()) << c.name;
        } else {
            EXPECT_EQ(result, -1) << c.name;
            EXPECT_EQ(ui_.shown(), std::vector<std::string>{all + c.errors + tail}) << c.name;
            EXPECT_EQ(ui_.boxes[0].icon, platform::BoxIcon::Information);
        }
    }
}

TEST_F(ConfFileTest, MissingVersionStopsTheRead) {
    for (const std::string& text : {ConfigText({{"CfgVersion", std::nullopt}}),
                                    ConfigText({{"CfgVersion", ""}}), std::string()}) {
        writeUtf8(text);
        ui_.boxes.clear();
        CRcvConf conf;
        std::vector<std::string> items;
        EXPECT_EQ(conf.ReadFromIni(path(), kProgDir, &items), -1);
        EXPECT_EQ(ui_.shown(), std::vector<std::string>{"提示|读取版本信息配置项出错"});
        EXPECT_EQ(items, std::vector<std::string>{"版本信息"});
        // Nothing else was read, and the record keeps a version to save.
        EXPECT_TRUE(conf == CRcvConf());
    }
}

TEST_F(ConfFileTest, ValuesReadKeepTheirLimits) {
    const std::string longPath = "/" + std::string(299, 'p');
    std::string chinesePath = "/";
    for (int i = 0; i < 200; ++i) chinesePath += "行";
    writeUtf8(ConfigText({{"usrId", std::string(60, 'u')},
                          {"NQHQ_File", longPath},
                          {"NQXX_File", chinesePath},
                          {"szLogPath", "/elsewhere/Log"},
                          {"mcRcvPort1", "70000"},
                          {"mcRcvPort2", "-2"},
                          {"dwFlag", "-1"},
                          {"queryLsnAddr", "-939524086"}}));
    CRcvConf conf;
    read(conf);
    EXPECT_EQ(conf.usrId, std::string(49, 'u'));
    EXPECT_EQ(conf.NQHQ_File, longPath.substr(0, 254));
    // 1 + 126 double-byte characters: the 127th would pass 254 bytes.
    EXPECT_EQ(platform::Utf8ToGbk(conf.NQXX_File).size(), 253u);
    EXPECT_EQ(conf.szLogPath, "/opt/tavrel/Log");
    EXPECT_EQ(conf.mcRcvPort1, 70000 & 0xFFFF);
    EXPECT_EQ(conf.mcRcvPort2, 0xFFFE);
    EXPECT_EQ(conf.dwFlag, 0xFFFFFFFFu);
    EXPECT_EQ(FormatIpv4(uint32_t(conf.queryLsnAddr)), "10.0.0.200");

    // Without a program directory, the ini file's own directory is taken.
    CRcvConf fromDir;
    fromDir.ReadFromIni(path());
    EXPECT_EQ(fromDir.szLogPath, dir_.path() + "/Log");
}

TEST_F(ConfFileTest, MonitorAddressIsStoredAsItsSignedValue) {
    struct Case {
        uint32_t addr;
        const char* written;
        int result;  // reading back with the monitor enabled
    } cases[] = {
        {Ipv4FromOctets(0, 0, 0, 0), "0", 0},
        {Ipv4FromOctets(127, 0, 0, 1), "16777343", 0},
        {Ipv4FromOctets(10, 0, 0, 200), "-939524086", 0},
        {Ipv4FromOctets(255, 255, 255, 255), "-1", -1},
    };
    for (const Case& c : cases) {
        CRcvConf conf = FullConf(kProgDir);
        conf.queryLsnAddr = int32_t(c.addr);
        ASSERT_EQ(conf.WriteToIni(path()), 0);
        platform::IniFile ini;
        ASSERT_TRUE(ini.load(path()));
        EXPECT_EQ(ini.value("CONFIG", "queryLsnAddr"), c.written);
        CRcvConf back;
        EXPECT_EQ(read(back), c.result) << c.written;
        EXPECT_EQ(uint32_t(back.queryLsnAddr), c.addr);
    }
}

TEST_F(ConfFileTest, WritesInPlaceKeepingEverythingElse) {
    writeUtf8(
        "; 本站配置\r\n"
        "[Vendor]\r\n"
        "tool=keep me\r\n"
        "\r\n"
        "[config]\r\n"
        "usrId = 9999\r\n"
        "ForeignKey=stays\r\n"
        "\r\n"
        "[ServerInfo1]\r\n"
        "Extra=also stays\r\n");
    ASSERT_EQ(FullConf(kProgDir).WriteToIni(path()), 0);
    const std::string text = platform::GbkToUtf8(ReadFile(path()));
    EXPECT_EQ(
        text.rfind("; 本站配置\r\n[Vendor]\r\ntool=keep me\r\n\r\n[config]\r\nusrId = 0105\r\n"
                   "ForeignKey=stays\r\nCfgVersion=V20160921\r\n",
                   0),
        0u)
        << text;
    EXPECT_NE(text.find("szTYOpenFlagFile=/data/行情/OPENFLAG\r\n\r\n[ServerInfo1]\r\n"
                        "Extra=also stays\r\nStationId=|\r\n"),
              std::string::npos)
        << text;
    CRcvConf back;
    EXPECT_EQ(read(back), 0);
    EXPECT_TRUE(back == FullConf(kProgDir));
}

TEST_F(ConfFileTest, FailedWritesLeaveTheFileAsItWas) {
    const std::string before = platform::Utf8ToGbk(ConfigText({{"usrId", "1111"}}));
    WriteFile(path(), before);

    CRcvConf longPath = FullConf(kProgDir);
    longPath.szTYBulletinPath = "/" + std::string(254, 'b');
    CRcvConf separator = FullConf(kProgDir);
    separator.serverInfos.setList(1, {ServerInfo{"", "1.1.1.1", 7006, "a|b"}});
    CRcvConf lineBreak = FullConf(kProgDir);
    lineBreak.usrId = "01\r\nAuthID=forged";
    for (const CRcvConf* conf : {&longPath, &separator, &lineBreak}) {
        EXPECT_EQ(conf->WriteToIni(path()), -1);
        EXPECT_EQ(ReadFile(path()), before);
    }

    using platform::FileOp;
    for (FileOp op : {FileOp::Open, FileOp::Write, FileOp::Rename}) {
        platform::faults::ScopedFileFaults faults;
        faults.add({op, 0, 1, platform::FileCause::AccessDenied, 0, "Tavrel.cfg"});
        EXPECT_EQ(FullConf(kProgDir).WriteToIni(path()), -1) << platform::FileOpName(op);
        EXPECT_EQ(ReadFile(path()), before);
    }
}

}  // namespace

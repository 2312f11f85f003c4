#include "config/AppConfig.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "config/ConfigTestSupport.h"
#include "platform/ErrorText.h"
#include "platform/IniFile.h"
#include "platform/Text.h"
#include "tests/support/TestSupport.h"

using configtest::FullConf;
using configtest::RecordingUiHost;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

// A minimal older file: every field zero or empty, one centre-one server.
std::string SmallV12File() {
    std::string b;
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(char(v >> (8 * i)));
    };
    auto text = [&](const std::string& s) {
        b.push_back(char(s.size()));
        b += s;
    };
    u32(12);
    text("0042");
    for (int i = 0; i < 4; ++i) u32(i == 3 ? 1 : 0);  // only rcvFGKCJXX = 1
    b += std::string("\xA3\x0F\xA3\x0F", 4);          // ports 4003, 4003
    b += std::string("\xEF\x14\x00\x0B\xEF\x15\x00\x0B", 8);
    for (int i = 0; i < 7; ++i) u32(0);
    for (int i = 0; i < 10; ++i) text(i == 0 ? "/data" : "");
    u32(1);
    text("");
    text("10.0.0.1");
    u32(7006);
    text("centre one");
    u32(0);
    return b;
}

class AppConfigTest : public ::testing::Test {
  protected:
    AppConfigTest() : paths_(ConfigPaths::ForProgramDir(dir_.path())) {}

    testsupport::TempDir dir_;
    ConfigPaths paths_;
    RecordingUiHost ui_;
};

TEST_F(AppConfigTest, PathsComeFromTheProgramDirectory) {
    ConfigPaths p = ConfigPaths::ForExecutable("/opt/tavrel/tavrel");
    EXPECT_EQ(p.exePath, "/opt/tavrel/tavrel");
    EXPECT_EQ(p.progDir, "/opt/tavrel");
    EXPECT_EQ(p.cfgPath, "/opt/tavrel/Tavrel.cfg");
    EXPECT_EQ(p.oldCfgPath, "/opt/tavrel/NQHQ_v12.Cfg");
}

TEST_F(AppConfigTest, NoConfigurationAtAllGivesTheDefaultsAndANewFile) {
    CRcvConf conf = FullConf(dir_.path());  // whatever was there is replaced
    int lastFileError = 0;
    EXPECT_EQ(LoadConfig(conf, paths_, lastFileError), 0);
    EXPECT_EQ(lastFileError, kFileNotFound);
    EXPECT_TRUE(conf == CRcvConf());
    EXPECT_EQ(ui_.shown(), std::vector<std::string>{"提示|配置文件 “ " + paths_.cfgPath +
                                                    " ” 不存在，创建新配置！"});

    ui_.boxes.clear();
    ASSERT_EQ(SaveConfig(conf, paths_), 0);
    EXPECT_EQ(ui_.shown(), std::vector<std::string>{"提示|配置参数已保存,重启程序后生效！"});
    platform::IniFile ini;
    ASSERT_TRUE(ini.load(paths_.cfgPath));
    for (const char* key : {"CfgVersion",        "usrId",          "AuthID",
                            "rcv_Mcast",         "rcvZSXX",        "rcvFGKCJXX",
                            "rcvFGKSBXX",        "mcRcvPort1",     "mcRcvPort2",
                            "mcRcvAddr1",        "mcRcvAddr2",     "enableQuerySupport",
                            "queryLsnAddr",      "queryLsnPort",   "dwFlag",
                            "dwKeepFileDays",    "mcNetCard1",     "mcNetCard2",
                            "szDefaultDataPath", "szLogPath",      "NQHQ_File",
                            "NQXYXX_File",       "NQZSXX_File",    "NQXX_File",
                            "NQFGKSBXX_File",    "NQFGKCJXX_File", "szTYBulletinPath",
                            "szTYOpenFlagFile"})
        EXPECT_TRUE(ini.value("CONFIG", key)) << key;
    EXPECT_EQ(ini.value("CONFIG", "mcRcvPort1"), "4003");
    EXPECT_EQ(ini.value("ServerInfoNUM", "Servers0"), "0");
    EXPECT_EQ(ini.value("ServerInfoNUM", "Servers1"), "0");
    for (const char* section : {"ServerInfo0", "ServerInfo1"})
        for (const char* key : {"StationId", "ServerAddr", "Port", "Comment"})
            EXPECT_EQ(ini.value(section, key), "") << section << key;
}

TEST_F(AppConfigTest, OnlyTheOlderFileIsMigratedOnce) {
    WriteFile(paths_.oldCfgPath, SmallV12File());
    CRcvConf conf;
    int lastFileError = -77;
    std::vector<std::string> items;
    EXPECT_EQ(LoadConfig(conf, paths_, lastFileError, &items), NeedsEditing);
    EXPECT_EQ(lastFileError, -77);
    EXPECT_EQ(ui_.shown(), std::vector<std::string>{"提示|授权ID不存在，请重新配置AuthID！"});
    EXPECT_EQ(items, std::vector<std::string>{"行情授权ID"});
    EXPECT_EQ(conf.usrId, "0042");
    EXPECT_EQ(conf.rcvFGKCJXX, 1);
    EXPECT_EQ(conf.AuthID, "");
    EXPECT_EQ(conf.CfgVersion, "V20160921");
    EXPECT_EQ(conf.szLogPath, dir_.path() + "/Log");
    EXPECT_EQ(conf.serverInfos.list(0).at(0).comment, "centre one");

    // The operator enters the AuthID; the save creates Tavrel.cfg, and from
    // then on only that file counts.
    conf.AuthID = "12345678901234";
    ASSERT_EQ(SaveConfig(conf, paths_), 0);
    const std::string oldBytes = ReadFile(paths_.oldCfgPath);
    WriteFile(paths_.oldCfgPath, "garbage");
    ui_.boxes.clear();
    CRcvConf again;
    items.clear();
    EXPECT_EQ(LoadConfig(again, paths_, lastFileError, &items), NeedsEditing);  // paths are empty
    EXPECT_EQ(items, (std::vector<std::string>{
                         "证券信息库NQXX.dbf", "协议转让投资者申报信息文件NQXYXX.dbf",
                         "证券行情文件NQHQ.dbf", "非公开成交信息库", "公告文件路径"}));
    EXPECT_EQ(again.AuthID, "12345678901234");
    EXPECT_EQ(again.usrId, "0042");
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_NE(ui_.boxes[0].text.find("证券信息库NQXX.dbf;"), std::string::npos);
    EXPECT_EQ(ui_.boxes[0].text.find("行情授权ID;"), std::string::npos);
    EXPECT_NE(oldBytes, "garbage");
}

TEST_F(AppConfigTest, CompleteIniLoadsWithoutAQuestion) {
    ASSERT_EQ(FullConf(dir_.path()).WriteToIni(paths_.cfgPath), 0);
    CRcvConf conf;
    int lastFileError = 0;
    EXPECT_EQ(LoadConfig(conf, paths_, lastFileError), 0);
    EXPECT_TRUE(ui_.boxes.empty());
    EXPECT_TRUE(conf == FullConf(dir_.path()));
}

TEST_F(AppConfigTest, DamagedOrUnreadableOlderFile) {
    // Damaged: nothing is taken from it, the operator configures afresh.
    WriteFile(paths_.oldCfgPath, SmallV12File().substr(0, 40));
    CRcvConf conf;
    int lastFileError = -77;
    EXPECT_EQ(LoadConfig(conf, paths_, lastFileError), NeedsEditing);
    EXPECT_EQ(lastFileError, -77);
    EXPECT_TRUE(conf == CRcvConf());
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].title, "提示");
    EXPECT_NE(ui_.boxes[0].text.find(paths_.oldCfgPath), std::string::npos);

    // Present but not readable: the platform's text, and the start ends.
    ui_.boxes.clear();
    platform::faults::ScopedFileFaults faults;
    faults.add(
        {platform::FileOp::Open, 0, 1, platform::FileCause::AccessDenied, EACCES, "NQHQ_v12"});
    EXPECT_EQ(LoadConfig(conf, paths_, lastFileError), -1);
    EXPECT_EQ(lastFileError, EACCES);
    ASSERT_EQ(ui_.boxes.size(), 1u);
    EXPECT_EQ(ui_.boxes[0].title, "严重错误");
    EXPECT_EQ(ui_.boxes[0].icon, platform::BoxIcon::Error);
    EXPECT_EQ(ui_.boxes[0].text, platform::OsErrorText(EACCES));
}

TEST_F(AppConfigTest, FailedSaveIsReported) {
    platform::faults::ScopedFileFaults faults;
    faults.add({platform::FileOp::Rename, 0, 1, platform::FileCause::AccessDenied, 0, ""});
    EXPECT_EQ(SaveConfig(FullConf(dir_.path()), paths_), -1);
    EXPECT_EQ(ui_.shown(), std::vector<std::string>{"严重错误|配置参数写入失败"});
    EXPECT_EQ(ui_.boxes[0].icon, platform::BoxIcon::Error);
    EXPECT_FALSE(testsupport::Exists(paths_.cfgPath));
}

TEST_F(AppConfigTest, TcpNeedsACentreOneServer) {
    const ServerInfo server{"", "127.0.0.1", 7006, ""};
    struct Case {
        const char* name;
        int32_t rcvMcast, rcvFgkcjxx;
        bool centreOne, centreTwo;
        int result;
    } cases[] = {
        {"multicast only, no servers", 0, 0, false, false, 0},
        {"one TCP table, no servers", 0, 1, false, false, -1},
        {"TCP snapshots, centre two only", 1, 0, false, true, -1},
        {"TCP snapshots, centre one", 1, 0, true, false, 0},
    };
    for (const Case& c : cases) {
        ui_.boxes.clear();
        CRcvConf conf;
        conf.rcv_Mcast = c.rcvMcast;
        conf.rcvFGKCJXX = c.rcvFgkcjxx;
        if (c.centreOne) conf.serverInfos.setList(0, {server});
        if (c.centreTwo) conf.serverInfos.setList(1, {server});
        EXPECT_EQ(CheckTcpServers(conf), c.result) << c.name;
        if (c.result == 0) {
            EXPECT_TRUE(ui_.boxes.empty()) << c.name;
        } else {
            EXPECT_EQ(ui_.shown(),
                      std::vector<std::string>{"严重错误|TCP行情没有配置通信中心一的任何服务器，"
                                               "请至少配置一个通信中心一的服务器！"})
                << c.name;
        }
    }
}

std::vector<std::string> SummaryOf(const CRcvConf& conf) {
    ConfigPaths paths = ConfigPaths::ForExecutable("/opt/tavrel/tavrel");
    paths.logFile = "/opt/tavrel/Log/NQHQ0213.Log";
    paths.listFile = "/opt/tavrel/Log/NQHQ0213.Lst";
    testsupport::CaptureAppender capture;
    LogConfig(conf, paths);
    std::vector<std::string> lines;
    for (const auto& e : capture.events()) {
        EXPECT_EQ(e.module, "Tavrel");
        EXPECT_EQ(e.level, 300);
        lines.push_back(e.text);
    }
    return lines;
}

TEST(LogConfigSummary, MulticastOnly) {
    CRcvConf conf;
    conf.usrId = "not shown";
    conf.AuthID = "AB345678901234";
    conf.szDefaultDataPath = "/data";
    conf.szLogPath = "/opt/tavrel/Log";
    conf.NQHQ_File = "/data/NQHQ.DBF";
    conf.NQXX_File = "/data/NQXX.DBF";
    conf.NQXYXX_File = "/data/NQXYXX.DBF";
    conf.szTYBulletinPath = "/data/公告";
    conf.szTYOpenFlagFile = "/data/OPENFLAG";
    conf.serverInfos.setList(0, {ServerInfo{"", "10.0.0.1", 7006, ""}});
    EXPECT_EQ(SummaryOf(conf), (std::vector<std::string>{
                                   "程序路径：/opt/tavrel/tavrel",
                                   "配置文件：/opt/tavrel/Tavrel.cfg",
                                   "日志文件：/opt/tavrel/Log/NQHQ0213.Log",
                                   "列表文件：/opt/tavrel/Log/NQHQ0213.Lst",
                                   "================以下为配置内容================",
                                   "  主用组播地址：239.20.0.11",
                                   "  主用组播端口：4003",
                                   "  备用组播地址：239.21.0.11",
                                   "  备用用组播端口：4003",
                                   "  网卡绑定：未设置",
                                   "不接收TCP",
                                   "  AuthID：AB345678901234",
                                   "  不启用监控",
                                   "  功能标志：0x00000000",
                                   "  缺省路径：/data",
                                   "  日志路径：/opt/tavrel/Log",
                                   "  开市标志：不创建",
                                   "  旧文件：不清除",
                                   "  自动升级：给出提示，确认后进行",
                                   "  时间校正：不进行",
                                   "  证券行情库：/data/NQHQ.DBF",
                                   "  证券信息库：/data/NQXX.DBF",
                                   "  协议转让投资者申报信息：/data/NQXYXX.DBF",
                                   "  公告路径：/data/公告",
                                   "  不接收做市转让申报信息",
                                   "  不接收非公开申报信息",
                                   "  不接收非公开成交信息",
                                   "=================配置内容结束=================",
                               }));
}

TEST(LogConfigSummary, TcpOnlyWithEveryOption) {
    CRcvConf conf = FullConf("/opt/tavrel");
    conf.rcv_Mcast = 1;
    conf.rcvFGKSBXX = 1;
    conf.mcRcvPort2 = 65535;
    conf.dwFlag = 0x1E0000;
    conf.queryLsnAddr = int32_t(Ipv4FromOctets(10, 0, 0, 200));
    EXPECT_EQ(SummaryOf(conf), (std::vector<std::string>{
                                   "程序路径：/opt/tavrel/tavrel",
                                   "配置文件：/opt/tavrel/Tavrel.cfg",
                                   "日志文件：/opt/tavrel/Log/NQHQ0213.Log",
                                   "列表文件：/opt/tavrel/Log/NQHQ0213.Lst",
                                   "================以下为配置内容================",
                                   " 不接收组播",
                                   "  小站号：0105",
                                   "  中心一的服务器：",
                                   "   127.0.0.1   7006",
                                   "   127.0.0.2   7016",
                                   "  中心二的服务器：",
                                   "   127.0.1.1   7006",
                                   "  AuthID：AB345678901234",
                                   "  监控地址：10.0.0.200",
                                   "  监控端口：9001",
                                   "  功能标志：0x001E0000",
                                   "  缺省路径：/data/行情",
                                   "  日志路径：/opt/tavrel/Log",
                                   "  开市标志：创建 /data/行情/OPENFLAG",
                                   "  旧文件：保留 30 天",
                                   "  自动升级：自动进行",
                                   "  时间校正：校准为股市时间",
                                   "  证券行情库：/data/行情/NQInfo/NQHQ.DBF",
                                   "  证券信息库：/data/行情/NQInfo/NQXX.DBF",
                                   "  协议转让投资者申报信息：/data/行情/NQInfo/NQXYXX.DBF",
                                   "  公告路径：/data/行情/公告",
                                   "  做市转让申报信息：/data/行情/NQInfo/NQZSXX.DBF",
                                   "  非公开申报信息：/data/行情/NQInfo/NQFGKSBXX.DBF",
                                   "  非公开成交信息：/data/行情/NQInfo/NQFGKCJXX.DBF",
                                   "=================配置内容结束=================",
                               }));
}

TEST(LogConfigSummary, MulticastWithBoundInterfacesAndOnlyOneTcpTable) {
    CRcvConf conf = FullConf("/opt/tavrel");
    conf.rcvZSXX = 0;
    conf.serverInfos.setList(1, {});
    const std::vector<std::string> lines = SummaryOf(conf);
    const std::vector<std::string> expected = {
        "  主用组播网卡绑定：从地址为 127.0.0.1 的网卡接收数据",
        "  备用组播网卡绑定：从地址为 192.168.1.200 的网卡接收数据",
        "  小站号：0105",
        "  中心一的服务器：",
        "   127.0.0.1   7006",
        "   127.0.0.2   7016",
        "  AuthID：AB345678901234",
    };
    ASSERT_GE(lines.size(), 16u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 9, lines.begin() + 16), expected);
}

}  // namespace

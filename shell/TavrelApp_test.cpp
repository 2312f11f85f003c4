#include "shell/TavrelApp.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/Text.h"
#include "runtime/RunParams.h"
#include "shell/ShellTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using shelltest::RecordingUiHost;

class TavrelAppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        velk::RunParams::instance().clear();
        ASSERT_EQ(0, app.FindProgramDirectory(dir.path())) << ui.boxes().size();
        app.conf = shelltest::LoopbackConfig(dir.path(), 47501, 47502);
    }
    void TearDown() override { velk::RunParams::instance().clear(); }

    testsupport::TempDir dir;
    RecordingUiHost ui;
    CTavrelApp app;
};

TEST_F(TavrelAppTest, ProgramDirectoryIsTheExecutablesOrTheOneNamed) {
    EXPECT_EQ(dir.path(), app.progDir);
    EXPECT_EQ(dir.file("Tavrel.cfg"), app.paths.cfgPath);
    EXPECT_EQ(dir.file("NQHQ_v12.Cfg"), app.paths.oldCfgPath);
    EXPECT_EQ(dir.file("runParams.Cfg"), app.RunParamsPath());

    CTavrelApp own;
    ASSERT_EQ(0, own.FindProgramDirectory(""));
    EXPECT_EQ(own.exePath.substr(0, own.exePath.rfind('/')), own.progDir);
    EXPECT_NE(std::string::npos, own.exePath.find("shell_tests"));

    CTavrelApp missing;
    EXPECT_EQ(-1, missing.FindProgramDirectory(dir.file("absent")));
    ASSERT_EQ(1u, ui.boxes().size());
    EXPECT_EQ("严重错误", ui.boxes()[0].title);
    EXPECT_EQ(platform::BoxIcon::Error, ui.boxes()[0].icon);
    EXPECT_EQ(1, ui.count("程序目录 " + dir.file("absent") + " 不存在或不能访问"));
}

TEST_F(TavrelAppTest, DirectoriesAndTheDaysLogFileAreMadeInOrder) {
    platform::ScopedFakeClock clock;  // 2017-02-13
    ASSERT_EQ(0, app.PrepareDirectories());
    EXPECT_TRUE(platform::IsDirectory(dir.file("data")));
    EXPECT_TRUE(platform::IsDirectory(dir.file("bulletin")));
    EXPECT_EQ(dir.file("Log/NQHQ0213.Log"), app.logFile);
    EXPECT_EQ(dir.file("Log/NQHQ0213.Lst"), app.listFile);
    EXPECT_EQ(app.logFile, app.paths.logFile);
    EXPECT_EQ(app.listFile, app.paths.listFile);
    EXPECT_TRUE(testsupport::Exists(app.logFile));
    EXPECT_FALSE(testsupport::Exists(app.listFile)) << "the list belongs to file reception";
    EXPECT_TRUE(ui.boxes().empty());

    // The log file takes its level from the run parameters and writes GBK.
    velk::RunParams::instance().fileLogLevel = 400;
    app.OpenLog();
    velk::log("Tavrel", 300, "不写入");
    velk::log("Tavrel", 400, "写入日志");
    const std::string text = platform::GbkToUtf8(testsupport::ReadFile(app.logFile));
    EXPECT_EQ(std::string::npos, text.find("不写入"));
    EXPECT_NE(std::string::npos, text.find("Tavrel:写入日志\r\n"));
}

TEST_F(TavrelAppTest, EachDirectoryOrLogFileFailureEndsStartUpWithItsMessage) {
    testsupport::WriteFile(dir.file("plain"), "a file, not a directory");
    const std::string underFile = dir.file("plain/sub");
    struct Case {
        const char* message;
        std::string CRcvConf::*member;  // the path made to fail
        bool logFileIsDirectory;
    };
    const Case cases[] = {
        {"创建缺省数据路径时出错，程序退出！", &CRcvConf::szDefaultDataPath, false},
        {"创建日志路径时出错，程序退出！", &CRcvConf::szLogPath, false},
        {"创建日志文件时出错，程序退出！", nullptr, true},
        {"创建公告路径时出错，程序退出！", &CRcvConf::szTYBulletinPath, false},
    };
    platform::ScopedFakeClock clock;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        testsupport::TempDir fresh;
        app.conf = shelltest::LoopbackConfig(fresh.path(), 47501, 47502);
        if (c.member != nullptr) app.conf.*(c.member) = underFile;
        if (c.logFileIsDirectory) {
            ASSERT_EQ(0, mkdir(fresh.file("Log").c_str(), 0755));
            ASSERT_EQ(0, mkdir(fresh.file("Log/NQHQ0213.Log").c_str(), 0755));
        }
        const size_t before = ui.boxes().size();
        EXPECT_EQ(-1, app.PrepareDirectories());
        const auto boxes = ui.boxes();
        ASSERT_EQ(before + 1, boxes.size());
        EXPECT_EQ(c.message, boxes.back().text);
        EXPECT_EQ("严重错误", boxes.back().title);
        EXPECT_EQ(platform::BoxIcon::Error, boxes.back().icon);
    }
}

TEST_F(TavrelAppTest, ConfigurationToFixIsListedAndNothingIsWritten) {
    // No configuration at all.
    EXPECT_EQ(CTavrelApp::kExitConfigure, app.LoadConfiguration());
    EXPECT_EQ(1, ui.count("请创建配置文件 " + dir.file("Tavrel.cfg")));
    EXPECT_FALSE(testsupport::Exists(dir.file("Tavrel.cfg")));

    // A configuration without its authorisation ID and ports.
    CRcvConf incomplete = shelltest::LoopbackConfig(dir.path(), 47501, 47502);
    incomplete.AuthID = "short";
    ASSERT_EQ(0, incomplete.WriteToIni(dir.file("Tavrel.cfg")));
    std::string text = testsupport::ReadFile(dir.file("Tavrel.cfg"));
    const size_t at = text.find("mcRcvPort1=");
    ASSERT_NE(std::string::npos, at);
    text.erase(at, text.find('\n', at) - at + 1);
    testsupport::WriteFile(dir.file("Tavrel.cfg"), text);

    EXPECT_EQ(CTavrelApp::kExitConfigure, app.LoadConfiguration());
    EXPECT_EQ((std::vector<std::string>{"行情授权ID", "主用组播端口"}), app.itemsToFix);
    const auto boxes = ui.boxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_NE(std::string::npos,
              boxes.back().text.find("中完成以下配置项后重新启动：\n  行情授权ID\n  主用组播端口"))
        << boxes.back().text;
    EXPECT_EQ(text, testsupport::ReadFile(dir.file("Tavrel.cfg")));

    // Complete: loaded, and the check of "/Cfg" passes.
    ASSERT_EQ(
        0, shelltest::LoopbackConfig(dir.path(), 47501, 47502).WriteToIni(dir.file("Tavrel.cfg")));
    EXPECT_EQ(0, app.LoadConfiguration());
    EXPECT_EQ(47501, app.conf.mcRcvPort1);
    EXPECT_EQ(CTavrelApp::kExitOk, app.CheckConfigurationOnly());
    EXPECT_EQ(1, ui.count("检查无误"));
}

TEST_F(TavrelAppTest, CheckOnlyRefusesTcpWithoutACentreOneServer) {
    CRcvConf c = shelltest::LoopbackConfig(dir.path(), 47501, 47502);
    c.rcvFGKCJXX = 1;
    ASSERT_EQ(0, c.WriteToIni(dir.file("Tavrel.cfg")));
    EXPECT_EQ(CTavrelApp::kExitConfigure, app.CheckConfigurationOnly());
    EXPECT_EQ(1, ui.count("TCP行情没有配置通信中心一的任何服务器"));
}

}  // namespace

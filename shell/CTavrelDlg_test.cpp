#include "shell/CTavrelDlg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "platform/Clock.h"
#include "platform/WindowMessages.h"
#include "quotes/TyQuotaHandler.h"
#include "runtime/RunParams.h"
#include "shell/ShellTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using shelltest::RecordingUiHost;

// Ports of this test process alone (each test case runs as a process of its
// own under CTest), so that runs side by side never hear each other.
uint16_t TestPort(int k) {
    return uint16_t(20000 + int(getpid()) % 997 * 10 + k);
}

class FakeView : public MainView {
  public:
    void openLogView(int level) override {
        logOpen = true;
        logLevel = level;
    }
    void setLogLevel(int level) override { logLevel = level; }
    void closeLogView() override { logOpen = false; }
    void showIndicator(const Indicator& i) override { indicators.push_back(i); }
    void showStatus(const StationStatus& s) override { statuses.push_back(s); }
    void alert() override { ++alerts; }
    bool askPassword(const std::string& stationId, std::string* password) override {
        askedFor.push_back(stationId);
        if (!answer) return false;
        *password = *answer;
        return true;
    }

    bool logOpen = false;
    int logLevel = -1;
    std::vector<Indicator> indicators;
    std::vector<StationStatus> statuses;
    int alerts = 0;
    std::vector<std::string> askedFor;
    const std::string* answer = nullptr;
};

class FakeLoop : public WindowLoop {
  public:
    bool startTimer(int id, uint32_t periodMs) override {
        if (failTimer == id) return false;
        timers[id] = periodMs;
        return true;
    }
    void stopTimers() override { timers.clear(); }
    void postClose() override { ++closePosted; }
    void closeMessageGate() override { gateClosed = true; }

    std::map<int, uint32_t> timers;
    int failTimer = 0;
    int closePosted = 0;
    bool gateClosed = false;
};

class RecordingAppender : public velk::SimpleLogger::ILogAppender {
  public:
    void append(const velk::LogEvent&) override {}
};

std::vector<uint8_t> WirePacket(uint32_t channelId, uint32_t seqNo, int8_t type,
                                const std::vector<uint8_t>& payload = {}) {
    std::vector<uint8_t> b(20 + payload.size(), 0);
    for (int i = 0; i < 4; ++i) {
        b[size_t(i)] = uint8_t(channelId >> (8 * i));
        b[4 + size_t(i)] = uint8_t(seqNo >> (8 * i));
    }
    b[8] = uint8_t(type);
    for (size_t at : {10u, 12u, 14u}) {
        b[at] = uint8_t(payload.size());
        b[at + 1] = uint8_t(payload.size() >> 8);
    }
    for (size_t i = 0; i < payload.size(); ++i) b[20 + i] = payload[i];
    return b;
}

// A market state packet: the state and two trading periods.
std::vector<uint8_t> MarketStatePacket(uint32_t seqNo, int16_t state) {
    const int16_t values[7] = {state, 930, 1130, 1300, 1500, 0, 0};
    std::vector<uint8_t> payload(14);
    for (int i = 0; i < 7; ++i) {
        payload[size_t(2 * i)] = uint8_t(values[i]);
        payload[size_t(2 * i + 1)] = uint8_t(uint16_t(values[i]) >> 8);
    }
    return WirePacket(kPrimaryChannelId, seqNo, 12, payload);
}

// Bounded real-time wait for a condition that another thread makes true.
template <typename F>
bool Eventually(F f) {
    for (int i = 0; i < 1000; ++i) {
        if (f()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return f();
}

class CTavrelDlgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        velk::RunParams::instance().clear();
        velk::RunParams::instance().viewLogLevel = 300;
        setup.conf = shelltest::LoopbackConfig(dir.path(), TestPort(1), TestPort(2));
        ASSERT_EQ(0, velk::util::EnsureDir(setup.conf.szDefaultDataPath));
        setup.paths = ConfigPaths::ForProgramDir(dir.path());
        setup.paths.exePath = dir.file("tavrel");
        setup.paths.logFile = dir.file("Log/NQHQ0213.Log");
        setup.runParamsPath = dir.file("runParams.Cfg");
        setup.fileAppender = &fileAppender;
    }
    void TearDown() override {
        if (window && !window->closed()) window->OnClose(false);
        window.reset();
        RcvController::ReleaseInstance();
        velk::RunParams::instance().clear();
    }
    CTavrelDlg& make() {
        window = std::make_unique<CTavrelDlg>(setup, view, loop);
        return *window;
    }
    CTavrelDlg& running() {
        make();
        EXPECT_EQ(CTavrelDlg::InitResult::Running, window->OnInitDialog()) << log.dump();
        return *window;
    }
    // The packet through the controller's queue; waits until it was taken.
    void deliver(const std::vector<uint8_t>& wire) {
        RcvController& c = *window->controller();
        const int64_t before = c.GetPacketsReceived();
        ASSERT_EQ(0, c.EnqueuePacket(Packet::FromBytes(wire.data(), wire.size())));
        ASSERT_TRUE(Eventually([&] { return c.GetPacketsReceived() > before; }));
    }

    testsupport::TempDir dir;
    testsupport::CaptureAppender log;
    RecordingUiHost ui;
    RecordingAppender fileAppender;
    FakeView view;
    FakeLoop loop;
    CTavrelDlg::Setup setup;
    std::unique_ptr<CTavrelDlg> window;
};

TEST_F(CTavrelDlgTest, InitialisationLogsStartsTheControllerAndBothTimers) {
    CTavrelDlg& w = running();
    EXPECT_TRUE(view.askedFor.empty()) << "multicast without TCP tables asks no password";
    EXPECT_TRUE(view.logOpen);
    EXPECT_EQ(300, view.logLevel);
    EXPECT_EQ(1, log.count("欢迎使用Tavrel，版本日期为 20170213。", "Tavrel", 300));
    EXPECT_EQ(1, log.count("================以下为配置内容================", "Tavrel", 300));
    EXPECT_EQ(1, log.count("通信模块启动成功!", "RcvController"));
    EXPECT_EQ((std::map<int, uint32_t>{{1, 250}, {2, 15000}}), loop.timers);
    EXPECT_TRUE(w.controller()->IsInitialised());
    EXPECT_FALSE(w.changePasswordEnabled());

    EXPECT_TRUE(w.OnClose(false));
    EXPECT_TRUE(w.closed());
    EXPECT_TRUE(loop.gateClosed);
    EXPECT_TRUE(loop.timers.empty());
    EXPECT_FALSE(view.logOpen);
    EXPECT_FALSE(w.controller());
    EXPECT_FALSE(RcvController::GetInstance());
    EXPECT_EQ(1, log.count("共收到 0 个包", "RcvController", 300));
    EXPECT_EQ(CTavrelDlg::kExitOk, w.exitStatus());
}

TEST_F(CTavrelDlgTest, StartUpStepsThatFailEndWithoutTimers) {
    struct Case {
        const char* name;
        void (*prepare)(CTavrelDlg::Setup&, FakeLoop&);
        CTavrelDlg::InitResult result;
        const char* logged;
    };
    const Case cases[] = {
        {"tables cannot be opened",
         [](CTavrelDlg::Setup& s, FakeLoop&) { s.conf.NQHQ_File = "/nonexistent/dir/NQHQ.DBF"; },
         CTavrelDlg::InitResult::InitFailed, "初始化失败！"},
        {"a receiver cannot join",
         [](CTavrelDlg::Setup& s, FakeLoop&) { s.conf.mcNetCard2 = Ipv4FromOctets(192, 0, 2, 77); },
         CTavrelDlg::InitResult::StartFailed, "启动失败！"},
        {"the display timer cannot be made",
         [](CTavrelDlg::Setup&, FakeLoop& l) { l.failTimer = 1; },
         CTavrelDlg::InitResult::TimerFailed, "不能创建定时器！"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTavrelDlg::Setup s = setup;
        FakeLoop l;
        c.prepare(s, l);
        log.clear();
        CTavrelDlg w(s, view, l);
        EXPECT_EQ(c.result, w.OnInitDialog());
        EXPECT_EQ(1, log.count(c.logged, "Tavrel", 500)) << log.dump();
        if (c.result != CTavrelDlg::InitResult::TimerFailed) {
            EXPECT_TRUE(l.timers.empty());
        }
        EXPECT_FALSE(l.timers.count(2)) << "timer 2 follows only a timer 1";
        EXPECT_EQ(CTavrelDlg::kExitStartFailed, w.exitStatus());
        EXPECT_TRUE(w.OnClose(false));
        EXPECT_EQ(1, log.count("系统退出！", "RcvController")) << "the stop runs in full";
        RcvController::ReleaseInstance();
    }
}

TEST_F(CTavrelDlgTest, TcpOnlyConfigurationIsRefusedBeforeAnyPasswordIsAskedFor) {
    setup.conf.rcv_Mcast = 1;
    setup.conf.usrId = "S0001";
    CTavrelDlg& w = make();
    EXPECT_EQ(CTavrelDlg::InitResult::TcpUnavailable, w.OnInitDialog());
    EXPECT_TRUE(view.askedFor.empty());
    ASSERT_EQ(1u, ui.boxes().size());
    EXPECT_EQ(platform::BoxIcon::Error, ui.boxes()[0].icon);
    EXPECT_NE(std::string::npos, ui.boxes()[0].text.find("不能以TCP方式接收行情（rcv_Mcast=1）"));
    EXPECT_EQ(0, log.count("欢迎使用"));
    EXPECT_FALSE(w.controller()->IsInitialised());
    EXPECT_EQ(CTavrelDlg::kExitStartFailed, w.exitStatus());
}

TEST_F(CTavrelDlgTest, LogOnStepTakesThePresetOrAskedPasswordOrRefusesToStart) {
    setup.conf.rcvFGKCJXX = 1;  // TCP in use beside multicast
    setup.conf.usrId = "S0042";

    // Nobody to ask: the station does not start.
    CTavrelDlg& refused = make();
    EXPECT_EQ(CTavrelDlg::InitResult::LogonRefused, refused.OnInitDialog());
    EXPECT_EQ(std::vector<std::string>{"S0042"}, view.askedFor);
    EXPECT_FALSE(refused.controller()->IsInitialised());
    refused.OnClose(false);
    RcvController::ReleaseInstance();

    // The "-p" password: nothing is asked.
    view.askedFor.clear();
    CTavrelDlg& preset = make();
    preset.SetPresetPassword("from-command-line");
    EXPECT_EQ(CTavrelDlg::InitResult::Running, preset.OnInitDialog()) << log.dump();
    EXPECT_TRUE(view.askedFor.empty());
    EXPECT_EQ("from-command-line", preset.controller()->GetPassword());
    preset.OnClose(false);
    RcvController::ReleaseInstance();

    // Asked for and given.
    const std::string typed = "typed";
    view.answer = &typed;
    CTavrelDlg& asked = make();
    EXPECT_EQ(CTavrelDlg::InitResult::Running, asked.OnInitDialog());
    EXPECT_EQ("typed", asked.controller()->GetPassword());
    // The password never reaches the log.
    EXPECT_EQ(0, log.count("typed"));
    EXPECT_EQ(0, log.count("from-command-line"));
}

TEST_F(CTavrelDlgTest, IndicatorShowsReceptionSilenceAndTheAlarmWhileTrading) {
    platform::ScopedFakeClock clock;
    CTavrelDlg& w = running();
    // Before any packet the indicator starts its silence from now.
    w.OnTimer(1);
    clock.advance(600);
    w.OnTimer(1);
    EXPECT_EQ("", w.indicator().text);

    deliver(MarketStatePacket(1, 40));
    ASSERT_TRUE(Eventually([&] { return w.controller()->IsTradingState(); }));
    clock.advance(100);
    w.OnTimer(1);  // tick 2: arrows "↑"
    EXPECT_EQ("↑↑　正在接收其他信息...↑↑", w.indicator().text);
    EXPECT_EQ((Colour{0, 32 * (4 + 1), 0}), w.indicator().colour);

    deliver(WirePacket(kPrimaryChannelId, 2, 22));
    w.OnTimer(1);  // tick 3
    EXPECT_EQ("↗↗　正在接收证券行情...↗↗", w.indicator().text);
    EXPECT_EQ((Colour{0, 32 * 4, 0}), w.indicator().colour);

    clock.advance(120000);
    w.OnTimer(1);
    EXPECT_EQ("", w.indicator().text) << "two minutes of silence are still no failure";
    clock.advance(1);
    w.OnTimer(1);  // tick 5
    EXPECT_EQ("↘↘　通信异常，收不到数据！↘↘", w.indicator().text);
    EXPECT_EQ((Colour{255, 0, 0}), w.indicator().colour);

    // Outside trading hours silence is normal.
    deliver(MarketStatePacket(3, 20));
    ASSERT_TRUE(Eventually([&] { return !w.controller()->IsTradingState(); }));
    clock.advance(121000);
    w.OnTimer(1);
    EXPECT_EQ("", w.indicator().text);
    EXPECT_EQ(w.tick(), uint32_t(view.indicators.size()));
}

TEST_F(CTavrelDlgTest, StatusIsRefreshedOnceASecondFromTheControllerAndTheQuoteHandler) {
    CTavrelDlg& w = running();
    deliver(MarketStatePacket(1, 40));
    deliver(WirePacket(kPrimaryChannelId, 5, 6));  // idle packet; 3 and 4 lost
    ASSERT_TRUE(Eventually([&] { return w.controller()->IsTradingState(); }));
    for (int i = 0; i < 9; ++i) w.OnTimer(1);
    ASSERT_EQ(3u, view.statuses.size());
    const StationStatus& s = view.statuses.back();
    EXPECT_EQ("20170213", s.versionDate);
    EXPECT_EQ(2, s.packets);
    EXPECT_EQ(34 + 20, s.bytes);
    EXPECT_EQ(3, s.lostPackets);
    EXPECT_EQ(0, s.errorPackets);
    EXPECT_EQ(40, s.marketState);
    EXPECT_EQ(w.controller()->GetQuoteHandler()->GetMarketStateText(), s.marketStateText);
    EXPECT_EQ("09:30-11:30, 13:00-15:00", s.openTimeText);
    EXPECT_EQ(1, s.mcastStatus);
    EXPECT_FALSE(s.tcpInUse);
    EXPECT_TRUE(s.tables[kNqhq].received);
    EXPECT_FALSE(s.tables[kNqfgkcjxx].received);
    EXPECT_STREQ("NQFGKCJXX.DBF", s.tables[kNqfgkcjxx].fileName);
}

TEST_F(CTavrelDlgTest, AtTwoInTheMorningTheProgramEndsByItself) {
    platform::ScopedFakeClock clock;
    clock.setWall(2017, 2, 14, 1, 59, 59, 900);
    CTavrelDlg& w = running();
    w.OnTimer(1);  // tick 0, 01:59:59
    EXPECT_EQ(0, loop.closePosted);
    clock.advance(250);
    for (int i = 0; i < 3; ++i) w.OnTimer(1);  // 02:00, but not a whole second yet
    EXPECT_EQ(0, loop.closePosted);
    w.OnTimer(1);  // tick 4
    EXPECT_EQ(1, loop.closePosted);
    EXPECT_EQ(1, log.count("程序自动退出！", "Tavrel", 300));
    EXPECT_EQ(CTavrelDlg::kExitOk, w.exitStatus());
}

TEST_F(CTavrelDlgTest, AlertsAreShownOnePerSecondUntilCountedDown) {
    CTavrelDlg& w = running();
    w.controller()->SetAlertCount(3);
    for (int i = 0; i < 16; ++i) w.OnTimer(1);
    EXPECT_EQ(3, view.alerts);
    EXPECT_EQ(0, w.controller()->GetAlertCount());
}

TEST_F(CTavrelDlgTest, RunParametersAreReadAgainAndBothLevelsFollow) {
    CTavrelDlg& w = running();
    testsupport::WriteFile(setup.runParamsPath, "viewLogLevel=200\nfileLogLevel=500\n");
    w.OnTimer(2);
    EXPECT_EQ(200, view.logLevel);
    EXPECT_EQ(500, fileAppender.level());
    EXPECT_EQ(0u, view.statuses.size()) << "timer 2 refreshes nothing else";
}

TEST_F(CTavrelDlgTest, ControllerMessagesAreHandledAndFatalOnesCloseWithoutAsking) {
    struct Case {
        int message;
        std::vector<std::string> boxes;
        platform::BoxIcon lastIcon;
        int exitStatus;
    };
    const Case cases[] = {
        {platform::kMsgInvalidVersion, {"无效版本，请更换程序"}, platform::BoxIcon::Information, 3},
        {platform::kMsgChangeInitialPassword,
         {"小站尚未修改原始密码,请重新设置新的密码!", "小站初次登陆时放弃修改密码，系统将要退出！"},
         platform::BoxIcon::Information,
         3},
        {platform::kMsgAuthorisationEnded,
         {"行情授权ID被禁用，程序退出"},
         platform::BoxIcon::Error,
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        RecordingUiHost boxes;
        FakeLoop l;
        CTavrelDlg w(setup, view, l);
        EXPECT_EQ(0, w.OnWindowMessage(c.message, ""));
        const auto shown = boxes.boxes();
        ASSERT_EQ(c.boxes.size(), shown.size());
        for (size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(c.boxes[i], shown[i].text);
            EXPECT_EQ("提示", shown[i].title);
        }
        EXPECT_EQ(c.lastIcon, shown.back().icon);
        EXPECT_EQ(1, l.closePosted) << "closed by a posted close, after the sender is answered";
        EXPECT_FALSE(w.closed());
        EXPECT_EQ(c.exitStatus, w.exitStatus());
        w.OnClose(false);
        RcvController::ReleaseInstance();
    }

    CTavrelDlg& w = make();
    EXPECT_EQ(0, w.OnWindowMessage(platform::kMsgOpenDocument, "/data/公告.txt"));
    EXPECT_EQ(1, log.count("没有桌面环境，文档未打开：/data/公告.txt", "Tavrel", 300));
    EXPECT_EQ(0, w.OnWindowMessage(platform::kMsgLogonAccepted, ""));
    EXPECT_TRUE(w.changePasswordEnabled());
    EXPECT_EQ(0, loop.closePosted);
    EXPECT_EQ(-1, w.OnWindowMessage(1125, ""));
}

TEST_F(CTavrelDlgTest, ClosingAsksAndTheHeadlessDefaultKeepsTheStationRunning) {
    CTavrelDlg& w = running();
    EXPECT_FALSE(w.OnClose(true));
    ASSERT_EQ(1u, ui.boxes().size());
    EXPECT_EQ("真的要退出本程序吗？", ui.boxes()[0].text);
    EXPECT_EQ("退出确认", ui.boxes()[0].title);
    EXPECT_EQ(platform::BoxResult::No, ui.boxes()[0].defaultResult);
    EXPECT_FALSE(w.closed());
    EXPECT_TRUE(w.controller()->IsInitialised());
    EXPECT_FALSE(w.controller()->IsExiting());
}

TEST_F(CTavrelDlgTest, UpgradeAtCloseIsAutomaticOnlyWithItsFlagAndStartsBeforeTheStop) {
    struct Case {
        uint32_t flags;
        bool started;
        int questions;
    };
    const Case cases[] = {{CRcvConf::kFlagAutoUpgrade, true, 0}, {0, false, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        RecordingUiHost boxes;
        setup.conf.dwFlag = CRcvConf::kFlagBindInterfaces | c.flags;
        CTavrelDlg& w = running();
        std::string program;
        std::vector<std::string> args;
        bool stoppedFirst = true;
        w.SetProcessStarter([&](const std::string& p, const std::vector<std::string>& a) {
            program = p;
            args = a;
            stoppedFirst = w.controller()->IsExiting();
            return true;
        });
        w.controller()->SetNewVersionAvailable();
        w.controller()->SetUpgradeReceived();
        EXPECT_TRUE(w.OnClose(false));
        EXPECT_EQ(c.questions, boxes.count("Tavrel有更新版本，现在要升级吗？"));
        EXPECT_EQ(c.started, !program.empty());
        if (c.started) {
            EXPECT_FALSE(stoppedFirst);
            EXPECT_EQ(dir.file("Update.exe"), program);
            EXPECT_EQ((std::vector<std::string>{"Tavrel", dir.file("Tavrel_Update.exe"),
                                                dir.file("tavrel"), dir.file("Log/NQHQ0213.Log")}),
                      args);
            EXPECT_EQ(1, log.count("启动升级程序：Update.exe \"Tavrel\" \"" +
                                   dir.file("Tavrel_Update.exe") + "\" \"" + dir.file("tavrel") +
                                   "\" \"" + dir.file("Log/NQHQ0213.Log") + "\" "))
                << log.dump();
        }
        EXPECT_EQ(1, log.count("系统退出！"));
        log.clear();
        window.reset();
        RcvController::ReleaseInstance();
    }
}

}  // namespace

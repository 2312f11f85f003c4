#include "shell/CTavrelDlg.h"

#include <cstdlib>

#include "platform/Clock.h"
#include "platform/Process.h"
#include "platform/UiHost.h"
#include "platform/WindowMessages.h"
#include "quotes/TyQuotaHandler.h"
#include "resources/Version.h"
#include "runtime/RunParams.h"
#include "runtime/Util.h"
#include "shell/ReadRunParams.h"

namespace {

constexpr const char* kModule = "Tavrel";
constexpr const char* kArrows[8] = {"←", "↖", "↑", "↗", "→", "↘", "↓", "↙"};
constexpr const char* kUpgradeProgram = "Update.exe";
constexpr const char* kUpgradeFile = "Tavrel_Update.exe";

// Published slot of each table's record count, indexed by QuoteTableId.
constexpr int kCountSlot[kQuoteTableCount] = {0, 1, 2, 3, 5, 4};

bool Received(const CRcvConf& conf, QuoteTableId id) {
    switch (id) {
        case kNqzsxx:
            return conf.rcvZSXX == 1;
        case kNqfgksbxx:
            return conf.rcvFGKSBXX == 1;
        case kNqfgkcjxx:
            return conf.rcvFGKCJXX == 1;
        default:
            return true;
    }
}

}  // namespace

CTavrelDlg::CTavrelDlg(Setup setup, MainView& view, WindowLoop& loop)
    : setup_(std::move(setup)),
      view_(view),
      loop_(loop),
      controller_(RcvController::GetInstance(setup_.conf)),
      startProcess_([](const std::string& program, const std::vector<std::string>& args) {
          return platform::StartDetachedProcess(program, args);
      }) {
    status_.versionDate = resources::kVersionDate;
    status_.marketStateText = "尚未开市";
    status_.tcpInUse = setup_.conf.tcpInUse();
    for (int i = 0; i < kQuoteTableCount; ++i) {
        status_.tables[i].fileName = kQuoteTables[i].fileName;
        status_.tables[i].received = Received(setup_.conf, QuoteTableId(i));
    }
}

CTavrelDlg::~CTavrelDlg() = default;

void CTavrelDlg::SetPresetPassword(const std::string& password) {
    passwordPreset_ = true;
    controller_->SetPassword(password);
}

CTavrelDlg::InitResult CTavrelDlg::OnInitDialog() {
    const CRcvConf& conf = setup_.conf;
    if (conf.rcv_Mcast != 0) {
        // Said before anything else, and before a password is asked for
        // that could never be used.
        platform::ShowMessageBox("本程序版本不含TCP通信模块，不能以TCP方式接收行情（rcv_Mcast=" +
                                     std::to_string(conf.rcv_Mcast) +
                                     "）。请在 Tavrel.cfg 中设置 rcv_Mcast=0，以组播方式接收。",
                                 "严重错误", platform::BoxIcon::Error);
        exitStatus_ = kExitStartFailed;
        return InitResult::TcpUnavailable;
    }
    if (!passwordPreset_ && conf.tcpInUse()) {
        std::string password;
        if (!view_.askPassword(conf.usrId, &password)) {
            exitStatus_ = kExitStartFailed;
            return InitResult::LogonRefused;
        }
        controller_->SetPassword(password);
    }

    view_.openLogView(velk::RunParams::instance().viewLogLevel.load());
    velk::log(kModule, velk::LevelInfo, "欢迎使用%s，版本日期为 %s。", resources::kProgramTitle,
              resources::kVersionDate);
    LogConfig(conf, setup_.paths);

    if (controller_->Init() != 0) {
        velk::log(kModule, velk::LevelError, "初始化失败！");
        exitStatus_ = kExitStartFailed;
        return InitResult::InitFailed;
    }
    if (controller_->Start() != 0) {
        velk::log(kModule, velk::LevelError, "启动失败！");
        exitStatus_ = kExitStartFailed;
        return InitResult::StartFailed;
    }
    if (!loop_.startTimer(kDisplayTimer, kDisplayPeriodMs) ||
        !loop_.startTimer(kRunParamsTimer, kRunParamsPeriodMs)) {
        velk::log(kModule, velk::LevelError, "不能创建定时器！");
        exitStatus_ = kExitStartFailed;
        return InitResult::TimerFailed;
    }
    return InitResult::Running;
}

void CTavrelDlg::OnTimer(int id) {
    if (closed_) return;
    if (id == kRunParamsTimer) {
        ReloadRunParams();
        return;
    }
    if (id != kDisplayTimer) return;
    UpdateIndicator();
    if (tick_ % 4 == 0) {
        RefreshStatus();
        const platform::WallTime now = platform::Now();
        if (now.hour == 2 && now.minute == 0) {
            velk::log(kModule, velk::LevelInfo, "程序自动退出！");
            loop_.postClose();
        }
        const int32_t alerts = controller_->GetAlertCount();
        if (alerts > 0) {
            view_.alert();
            controller_->SetAlertCount(alerts - 1);
        }
    }
    ++tick_;
}

void CTavrelDlg::UpdateIndicator() {
    const uint32_t age = controller_->ReceptionAge();
    const std::string a = kArrows[tick_ % 8];
    if (age <= kReceivingMs) {
        indicator_.text = a + a + "　正在接收" + controller_->GetLastTypeName() + "..." + a + a;
        const int t6 = int(tick_ % 6);
        indicator_.colour = Colour{0, uint8_t(32 * (4 + std::abs(t6 - 3))), 0};
    } else if (age <= kSilenceAlarmMs || !controller_->IsTradingState()) {
        indicator_.text.clear();
    } else {
        indicator_.text = a + a + "　通信异常，收不到数据！" + a + a;
        indicator_.colour = Colour{255, 0, 0};
    }
    view_.showIndicator(indicator_);
}

void CTavrelDlg::RefreshStatus() {
    const RcvController& c = *controller_;
    status_.bytes = c.GetBytesReceived();
    status_.packets = c.GetPacketsReceived();
    status_.errorPackets = c.GetErrorPackets();
    status_.lostPackets = c.GetLostPackets();
    status_.outOfOrderPackets = c.GetOutOfOrderPackets();
    status_.queueLength = c.GetQueueLength();
    status_.mcastStatus = c.GetMcastStatus();
    status_.tcpStatus = c.GetTcpStatus();
    status_.receivedFiles = c.GetReceivedFileCount();
    status_.noticeText = c.GetNoticeText();
    if (const TyQuotaHandler* q = c.GetQuoteHandler()) {
        status_.marketState = q->marketState();
        status_.marketStateText = q->GetMarketStateText();
        status_.openTimeText = q->openTimeText();
        for (int i = 0; i < kQuoteTableCount; ++i) {
            status_.tables[i].count = q->tableCount(kCountSlot[i]);
            status_.tables[i].time = q->quoteTimes().get(QuoteTableId(i));
        }
    }
    view_.showStatus(status_);
}

void CTavrelDlg::ReloadRunParams() {
    ReadRunParams(setup_.runParamsPath, setup_.fileAppender);
    view_.setLogLevel(velk::RunParams::instance().viewLogLevel.load());
}

long CTavrelDlg::OnWindowMessage(int message, const std::string& text) {
    switch (message) {
        case platform::kMsgOpenDocument:
            // Without a desktop there is nothing to open it with; the
            // operator finds it by its path.
            velk::log(kModule, velk::LevelInfo, "没有桌面环境，文档未打开：%s", text.c_str());
            return 0;
        case platform::kMsgInvalidVersion:
            EndWithMessage("无效版本，请更换程序", platform::BoxIcon::Information,
                           kExitEndedByMaster);
            return 0;
        case platform::kMsgLogonAccepted:
            status_.changePasswordEnabled = true;
            return 0;
        case platform::kMsgChangeInitialPassword:
            platform::ShowMessageBox("小站尚未修改原始密码,请重新设置新的密码!", "提示",
                                     platform::BoxIcon::Information);
            // No password dialog can open here: the change is given up, as
            // if the operator had cancelled it.
            EndWithMessage("小站初次登陆时放弃修改密码，系统将要退出！",
                           platform::BoxIcon::Information, kExitEndedByMaster);
            return 0;
        case platform::kMsgAuthorisationEnded:
            EndWithMessage("行情授权ID被禁用，程序退出", platform::BoxIcon::Error,
                           kExitEndedByMaster);
            return 0;
        default:
            return -1;
    }
}

void CTavrelDlg::EndWithMessage(const char* text, platform::BoxIcon icon, int status) {
    platform::ShowMessageBox(text, "提示", icon);
    exitStatus_ = status;
    loop_.postClose();
}

bool CTavrelDlg::OnClose(bool ask) {
    if (closed_) return true;
    if (ask && platform::ShowMessageBox("真的要退出本程序吗？", "退出确认",
                                        platform::BoxIcon::Question, platform::BoxButtons::YesNo,
                                        platform::BoxResult::No) != platform::BoxResult::Yes) {
        return false;
    }
    loop_.stopTimers();
    // A worker waiting in a send is answered now, so Stop can join it.
    loop_.closeMessageGate();

    if (controller_->IsInitialised() && controller_->IsUpgradeReady()) {
        const bool automatic = setup_.conf.hasFlag(CRcvConf::kFlagAutoUpgrade);
        if (automatic ||
            platform::ShowMessageBox("Tavrel有更新版本，现在要升级吗？", "升级确认",
                                     platform::BoxIcon::Question, platform::BoxButtons::YesNo,
                                     platform::BoxResult::No) == platform::BoxResult::Yes) {
            StartUpgrade();
        }
    }
    controller_->Stop();
    // The terminal outlives the window: the log view goes last, so the
    // stop and the totals are shown too.
    view_.closeLogView();
    controller_.reset();
    RcvController::ReleaseInstance();
    closed_ = true;
    return true;
}

std::string CTavrelDlg::UpgradeCommandLine() const {
    const std::string args[] = {resources::kProgramTitle,
                                velk::util::JoinPath(setup_.paths.progDir, kUpgradeFile),
                                setup_.paths.exePath, setup_.paths.logFile};
    std::string line = kUpgradeProgram;
    line += ' ';
    for (const std::string& a : args) line += "\"" + a + "\" ";
    return line;
}

void CTavrelDlg::StartUpgrade() {
    const std::string program = velk::util::JoinPath(setup_.paths.progDir, kUpgradeProgram);
    const std::vector<std::string> args = {resources::kProgramTitle,
                                           velk::util::JoinPath(setup_.paths.progDir, kUpgradeFile),
                                           setup_.paths.exePath, setup_.paths.logFile};
    velk::log(kModule, velk::LevelInfo, "启动升级程序：%s", UpgradeCommandLine().c_str());
    if (!startProcess_ || !startProcess_(program, args))
        velk::log(kModule, velk::LevelError, "升级程序 %s 未能启动！", program.c_str());
}

#pragma once
// The main window's logic, free of any toolkit: the log-on step, starting
// the receive controller, the reception indicator and the status refreshed
// once a second, the run-parameter reload, the 02:00 exit, the operator
// alerts, the controller's window messages and the close with the upgrade.
// A front-end (the terminal here) supplies the view and the loop and calls
// the On... handlers on its window thread, and nowhere else.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/AppConfig.h"
#include "config/CRcvConf.h"
#include "controller/RcvController.h"
#include "platform/UiHost.h"
#include "runtime/SimpleLogger.h"
#include "shell/MainView.h"

class CTavrelDlg : public WindowHandlers {
  public:
    static constexpr int kDisplayTimer = 1;
    static constexpr uint32_t kDisplayPeriodMs = 250;
    static constexpr int kRunParamsTimer = 2;
    static constexpr uint32_t kRunParamsPeriodMs = 15000;
    // The indicator turns silent half a second after the last packet and
    // reports a failure after two minutes while the market trades.
    static constexpr uint32_t kReceivingMs = 500;
    static constexpr uint32_t kSilenceAlarmMs = 120000;
    static constexpr size_t kPasswordChars = 20;

    // How the program ends after the window closed.
    static constexpr int kExitOk = 0;
    static constexpr int kExitStartFailed = 1;
    static constexpr int kExitEndedByMaster = 3;

    enum class InitResult {
        Running,
        TcpUnavailable,  // the configuration needs the TCP session this build lacks
        LogonRefused,    // no password for the TCP log-on
        InitFailed,
        StartFailed,
        TimerFailed,
    };

    // Everything the window takes from start-up.
    struct Setup {
        CRcvConf conf;
        ConfigPaths paths;  // with logFile and listFile named
        std::string runParamsPath;
        velk::SimpleLogger::ILogAppender* fileAppender = nullptr;  // not owned
    };

    // Starts the upgrade program; false when it could not be started.
    using ProcessStarter =
        std::function<bool(const std::string& program, const std::vector<std::string>& args)>;

    // Takes the process-wide receive controller (created here on first use).
    CTavrelDlg(Setup setup, MainView& view, WindowLoop& loop);
    ~CTavrelDlg() override;
    CTavrelDlg(const CTavrelDlg&) = delete;
    CTavrelDlg& operator=(const CTavrelDlg&) = delete;

    // The "-p" password: the controller takes it and no log-on is asked for.
    void SetPresetPassword(const std::string& password);
    void SetProcessStarter(ProcessStarter starter) { startProcess_ = std::move(starter); }

    InitResult OnInitDialog();
    void OnTimer(int id) override;
    // The controller's messages 1126 to 1130; the result goes back to the sender.
    long OnWindowMessage(int message, const std::string& text) override;
    // The system close command; ask = false closes without the question.
    // True once the window is closed (the controller stopped).
    bool OnClose(bool ask) override;

    bool closed() const override { return closed_; }
    int exitStatus() const { return exitStatus_; }
    uint32_t tick() const { return tick_; }
    const StationStatus& status() const { return status_; }
    const Indicator& indicator() const { return indicator_; }
    bool changePasswordEnabled() const { return status_.changePasswordEnabled; }
    const RcvController::Ptr& controller() const { return controller_; }
    // The upgrade program's command line as it is logged.
    std::string UpgradeCommandLine() const;

  private:
    void UpdateIndicator();
    void RefreshStatus();
    void ReloadRunParams();
    // Shows the message, then closes without asking and ends with status.
    void EndWithMessage(const char* text, platform::BoxIcon icon, int status);
    void StartUpgrade();

    Setup setup_;
    MainView& view_;
    WindowLoop& loop_;
    RcvController::Ptr controller_;
    ProcessStarter startProcess_;
    bool passwordPreset_ = false;
    bool closed_ = false;
    int exitStatus_ = kExitOk;
    uint32_t tick_ = 0;
    StationStatus status_;
    Indicator indicator_;
};

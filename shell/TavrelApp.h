#pragma once
// The application: finds the program directory and its files, reads the run
// parameters, loads the configuration, prepares the data, log and bulletin
// directories, opens the day's log file and runs the main window until it
// closes. Without a desktop, a configuration that needs editing cannot be
// fixed here: every item to fix is printed and the program ends, so no
// station is left waiting for a settings sheet that cannot open.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "config/AppConfig.h"
#include "config/CRcvConf.h"
#include "runtime/SimpleLogger.h"
#include "shell/CommandLine.h"

class TerminalView;

class CTavrelApp {
  public:
    // Exit statuses of the process.
    static constexpr int kExitOk = 0;
    static constexpr int kExitFailed = 1;     // start-up failed (message on stderr)
    static constexpr int kExitConfigure = 2;  // the configuration or the command line needs fixing
    static constexpr int kExitEndedByMaster = 3;  // the master station ended the run

    CTavrelApp();
    ~CTavrelApp();
    CTavrelApp(const CTavrelApp&) = delete;
    CTavrelApp& operator=(const CTavrelApp&) = delete;

    // The whole run; returns the exit status. The SIGINT/SIGTERM handler is
    // the caller's (main), which passes the flag it sets.
    int Run(int argc, const char* const* argv, const std::atomic<int>* signal);

    // --- the steps, in their order (tests call them one by one) ----------------
    // exePath from the system, progDir from it or from --dir. 0 or -1 after
    // the message.
    int FindProgramDirectory(const std::string& dirOption);
    // The run parameters' file: progDir/runParams.Cfg.
    std::string RunParamsPath() const;
    // LoadConfig, and without a settings sheet the refusal of a
    // configuration that needs editing. 0, or the exit status.
    int LoadConfiguration();
    // "/Cfg" without a desktop: load and check, list what to fix, write
    // nothing. The exit status.
    int CheckConfigurationOnly();
    // The directories and the day's log file; 0 or -1 after the message.
    int PrepareDirectories();
    // The log file's appender at fileLogLevel, registered with the logger.
    void OpenLog();

    // Set by the steps.
    std::string exePath;
    std::string progDir;
    ConfigPaths paths;
    CRcvConf conf;
    std::string logPath;
    std::string logFile;
    std::string listFile;
    std::unique_ptr<velk::SimpleLogger::FileAppender> fileAppender;
    // What the configuration's load said needs fixing.
    std::vector<std::string> itemsToFix;

  private:
    int RunMainWindow(const CommandLine& commandLine, const std::atomic<int>* signal,
                      TerminalView& view);
    void ReportItemsToFix(bool noFile);
};

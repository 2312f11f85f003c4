#pragma once
// The station's view on a terminal: one compact status line refreshed in
// place when the status goes to a terminal, a summary line every ten
// seconds otherwise (a service's log, a pipe); the log lines at the view's
// level on the error stream; the password asked for without echo; message
// boxes written to the log and, while no log view shows them, to the error
// stream, their default button taken.
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/Clock.h"
#include "platform/UiHost.h"
#include "runtime/SimpleLogger.h"
#include "shell/MainView.h"

class TerminalView : public MainView, public platform::UiHost {
  public:
    struct Options {
        FILE* statusOut = stdout;
        FILE* logOut = stderr;
        bool statusIsTerminal = false;  // refresh one line in place
        int inputFd = 0;                // where a password is read from
        bool inputIsTerminal = false;
        int summaryEvery = 10;  // status refreshes (seconds) between summary lines
    };
    // Options for the process's own standard streams.
    static Options ForStandardStreams();

    explicit TerminalView(const Options& options);
    ~TerminalView() override;
    TerminalView(const TerminalView&) = delete;
    TerminalView& operator=(const TerminalView&) = delete;

    // MainView
    void openLogView(int level) override;
    void setLogLevel(int level) override;
    void closeLogView() override;
    void showIndicator(const Indicator& indicator) override;
    void showStatus(const StationStatus& status) override;
    void alert() override;
    bool askPassword(const std::string& stationId, std::string* password) override;

    // UiHost
    platform::BoxResult messageBox(const platform::MessageBoxRequest& request) override;

    bool logViewOpen() const;
    int logLevel() const { return appender_.level(); }

    // The summary line of a non-terminal, and the compact line of a terminal.
    static std::string SummaryLine(const StationStatus& status, const platform::WallTime& now);
    static std::string CompactLine(const StationStatus& status, const Indicator& indicator);

  private:
    class LogAppender : public velk::SimpleLogger::ILogAppender {
      public:
        explicit LogAppender(TerminalView& view) : view_(view) {}
        void append(const velk::LogEvent& event) override;

      private:
        TerminalView& view_;
    };

    void writeLogLine(const velk::LogEvent& event);
    // With lock_ held.
    void drawStatusLine();
    void clearStatusLine();
    bool readPasswordLine(std::string* line);

    Options options_;
    LogAppender appender_;
    mutable std::mutex lock_;  // the two streams and what is drawn
    bool logOpen_ = false;
    bool statusDrawn_ = false;
    bool haveStatus_ = false;
    StationStatus status_;
    Indicator indicator_;
    int refreshes_ = 0;
};

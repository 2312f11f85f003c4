#pragma once
// What the main window's logic (CTavrelDlg) needs from a front-end: a view
// that shows the station's status and its log, asks for the password and
// alerts the operator; and a loop that runs the window's timers, delivers
// the controller's window messages on the window's own thread and closes
// the window when asked. The terminal front-end implements both; a desktop
// front-end would too.
#include <cstdint>
#include <string>

#include "quotes/QuoteTables.h"

struct Colour {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    bool operator==(const Colour&) const = default;
};

// The reception indicator: a line of text and its colour.
struct Indicator {
    std::string text;
    Colour colour;
};

// One table as the window shows it.
struct TableStatus {
    const char* fileName = "";
    bool received = false;  // false: switched off in the configuration
    int32_t count = 0;
    int32_t time = 0;  // hhmmss (hhmmsscc for NQXX.DBF); 0 before any data
};

// The values the window refreshes once a second.
struct StationStatus {
    std::string versionDate;
    int64_t bytes = 0;
    int64_t packets = 0;
    int64_t errorPackets = 0;
    int64_t lostPackets = 0;
    int64_t outOfOrderPackets = 0;
    int queueLength = 0;
    int32_t mcastStatus = 0;
    bool tcpInUse = false;
    int32_t tcpStatus = 0;
    int16_t marketState = 0;
    std::string marketStateText;
    std::string openTimeText;
    TableStatus tables[kQuoteTableCount];  // indexed by QuoteTableId
    int32_t receivedFiles = 0;
    std::string noticeText;
    bool changePasswordEnabled = false;
};

class MainView {
  public:
    virtual ~MainView() = default;
    // The log box: registered with the logger at a level, re-levelled when
    // the run parameters are read again, removed when the window closes.
    virtual void openLogView(int level) = 0;
    virtual void setLogLevel(int level) = 0;
    virtual void closeLogView() = 0;
    virtual void showIndicator(const Indicator& indicator) = 0;  // every 250 ms
    virtual void showStatus(const StationStatus& status) = 0;    // every second
    // Flash and beep once.
    virtual void alert() = 0;
    // The log-on step: the password for the station, at most 20 characters.
    // False when the operator cancels or no password can be asked for.
    virtual bool askPassword(const std::string& stationId, std::string* password) = 0;
};

class WindowLoop {
  public:
    virtual ~WindowLoop() = default;
    // Timer id fires every periodMs on the window's thread; false when it
    // cannot be created.
    virtual bool startTimer(int id, uint32_t periodMs) = 0;
    virtual void stopTimers() = 0;
    // Closes the window without asking, once the current message is done.
    virtual void postClose() = 0;
    // From now on, window messages are answered with -1 at once, also those
    // already waiting: the controller may be stopped without a worker stuck
    // in a send.
    virtual void closeMessageGate() = 0;
};

// The window's handlers, which the loop calls on the window's thread.
class WindowHandlers {
  public:
    virtual ~WindowHandlers() = default;
    virtual void OnTimer(int id) = 0;
    virtual long OnWindowMessage(int message, const std::string& text) = 0;
    // True once the window is closed.
    virtual bool OnClose(bool ask) = 0;
    virtual bool closed() const = 0;
};

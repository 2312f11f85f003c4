#include "shell/TerminalView.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cinttypes>

#include "runtime/Util.h"

namespace {

constexpr const char* kModule = "Tavrel";
constexpr const char* kClearLine = "\r\033[K";

std::string TimeText(const TableStatus& t, QuoteTableId id) {
    if (t.time == 0) return "--:--:--";
    return id == kNqxx ? velk::util::FormatHmsCs(t.time) : velk::util::FormatHms(t.time);
}

// Columns a UTF-8 text takes on a terminal: wide for everything outside
// ASCII, which covers the Chinese texts and the arrows well enough.
size_t Columns(const std::string& s, size_t* cutAt, size_t limit) {
    size_t cols = 0;
    size_t i = 0;
    *cutAt = s.size();
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        const size_t w = c < 0x80 ? 1 : 2;
        if (cols + w > limit && *cutAt == s.size()) *cutAt = i;
        cols += w;
        i += len;
    }
    return cols;
}

int TerminalColumns(FILE* out) {
    winsize ws{};
    if (ioctl(fileno(out), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 120;
}

int LevelOfIcon(platform::BoxIcon icon) {
    switch (icon) {
        case platform::BoxIcon::Error:
            return velk::LevelError;
        case platform::BoxIcon::Warning:
            return velk::LevelWarn;
        default:
            return velk::LevelInfo;
    }
}

}  // namespace

TerminalView::Options TerminalView::ForStandardStreams() {
    Options o;
    o.statusIsTerminal = isatty(fileno(stdout)) != 0;
    o.inputFd = STDIN_FILENO;
    o.inputIsTerminal = isatty(STDIN_FILENO) != 0;
    return o;
}

TerminalView::TerminalView(const Options& options) : options_(options), appender_(*this) {}

TerminalView::~TerminalView() {
    closeLogView();
    std::lock_guard<std::mutex> g(lock_);
    clearStatusLine();
}

// --- log view -----------------------------------------------------------------

void TerminalView::openLogView(int level) {
    appender_.setLevel(level);
    {
        std::lock_guard<std::mutex> g(lock_);
        if (logOpen_) return;
        logOpen_ = true;
    }
    velk::SimpleLogger::addAppender(&appender_);
}

void TerminalView::setLogLevel(int level) {
    appender_.setLevel(level);
}

void TerminalView::closeLogView() {
    {
        std::lock_guard<std::mutex> g(lock_);
        if (!logOpen_) return;
        logOpen_ = false;
    }
    velk::SimpleLogger::removeAppender(&appender_);
}

bool TerminalView::logViewOpen() const {
    std::lock_guard<std::mutex> g(lock_);
    return logOpen_;
}

void TerminalView::LogAppender::append(const velk::LogEvent& event) {
    if (accepts(event.level)) view_.writeLogLine(event);
}

void TerminalView::writeLogLine(const velk::LogEvent& event) {
    const platform::WallTime t = platform::ToLocal(event.seconds, event.millis);
    std::lock_guard<std::mutex> g(lock_);
    const bool redraw = statusDrawn_;
    clearStatusLine();
    std::fprintf(options_.logOut, "%02d:%02d:%02d.%03d %-6s %s: %s\n", t.hour, t.minute, t.second,
                 t.millis, velk::LevelLabel(event.level), event.module.c_str(), event.text.c_str());
    std::fflush(options_.logOut);
    if (redraw) drawStatusLine();
}

// --- status -------------------------------------------------------------------

void TerminalView::showIndicator(const Indicator& indicator) {
    std::lock_guard<std::mutex> g(lock_);
    indicator_ = indicator;
    if (options_.statusIsTerminal && haveStatus_) drawStatusLine();
}

void TerminalView::showStatus(const StationStatus& status) {
    std::lock_guard<std::mutex> g(lock_);
    status_ = status;
    haveStatus_ = true;
    if (options_.statusIsTerminal) {
        drawStatusLine();
        return;
    }
    if (refreshes_++ % options_.summaryEvery != 0) return;
    std::fprintf(options_.statusOut, "%s\n", SummaryLine(status_, platform::Now()).c_str());
    std::fflush(options_.statusOut);
}

void TerminalView::drawStatusLine() {
    if (!options_.statusIsTerminal) return;
    std::string line = CompactLine(status_, indicator_);
    size_t cut = 0;
    const size_t width = size_t(TerminalColumns(options_.statusOut));
    if (Columns(line, &cut, width > 1 ? width - 1 : width) >= width) line.resize(cut);
    std::fprintf(options_.statusOut, "%s%s", kClearLine, line.c_str());
    std::fflush(options_.statusOut);
    statusDrawn_ = true;
}

void TerminalView::clearStatusLine() {
    if (!statusDrawn_) return;
    std::fputs(kClearLine, options_.statusOut);
    std::fflush(options_.statusOut);
    statusDrawn_ = false;
}

std::string TerminalView::CompactLine(const StationStatus& s, const Indicator& indicator) {
    char head[256];
    std::snprintf(head, sizeof head,
                  "组播%s TCP%s 包 %" PRId64 " 错 %" PRId64 " 丢 %" PRId64 " 乱 %" PRId64
                  " 队 %d │ %s │ 行情 %d %s",
                  s.mcastStatus == 1 ? "●" : "○",
                  !s.tcpInUse        ? "-"
                  : s.tcpStatus == 1 ? "●"
                                     : "○",
                  s.packets, s.errorPackets, s.lostPackets, s.outOfOrderPackets, s.queueLength,
                  s.marketStateText.c_str(), int(s.tables[kNqhq].count),
                  TimeText(s.tables[kNqhq], kNqhq).c_str());
    std::string line = head;
    line += " 信息 " + std::to_string(s.tables[kNqxx].count);
    if (s.receivedFiles != 0) line += " 文件 " + std::to_string(s.receivedFiles);
    if (!indicator.text.empty()) line += " │ " + indicator.text;
    return line;
}

std::string TerminalView::SummaryLine(const StationStatus& s, const platform::WallTime& now) {
    char head[512];
    std::snprintf(head, sizeof head,
                  "%02d:%02d:%02d 状态：组播 %s，TCP %s | 包 %" PRId64 "，字节 %" PRId64
                  "，错包 %" PRId64 "，丢包 %" PRId64 "，乱序 %" PRId64 "，队列 %d | 股市 %s %s",
                  now.hour, now.minute, now.second, s.mcastStatus == 1 ? "正常" : "中断",
                  !s.tcpInUse        ? "不用"
                  : s.tcpStatus == 1 ? "正常"
                                     : "未连接",
                  s.packets, s.bytes, s.errorPackets, s.lostPackets, s.outOfOrderPackets,
                  s.queueLength, s.marketStateText.c_str(), s.openTimeText.c_str());
    std::string line = head;
    // The order of the window's table rows; tables switched off are left out.
    const QuoteTableId order[] = {kNqhq, kNqxx, kNqxyxx, kNqzsxx, kNqfgksbxx, kNqfgkcjxx};
    const char* separator = " | ";
    for (QuoteTableId id : order) {
        const TableStatus& t = s.tables[id];
        if (!t.received) continue;
        line += separator;
        line += t.fileName;
        line += " " + std::to_string(t.count) + " 条 " + TimeText(t, id);
        separator = "，";
    }
    line += " | 文件 " + std::to_string(s.receivedFiles);
    if (!s.noticeText.empty()) line += " | 特别提示：" + s.noticeText;
    return line;
}

void TerminalView::alert() {
    if (!options_.statusIsTerminal) return;
    std::lock_guard<std::mutex> g(lock_);
    std::fputs("\a", options_.statusOut);
    std::fflush(options_.statusOut);
}

// --- message boxes and the password ------------------------------------------

platform::BoxResult TerminalView::messageBox(const platform::MessageBoxRequest& request) {
    velk::log(kModule, LevelOfIcon(request.icon), "[%s] %s", request.title.c_str(),
              request.text.c_str());
    if (!logViewOpen()) {
        std::lock_guard<std::mutex> g(lock_);
        clearStatusLine();
        std::fprintf(options_.logOut, "[%s] %s\n", request.title.c_str(), request.text.c_str());
        std::fflush(options_.logOut);
    }
    return request.defaultResult;
}

bool TerminalView::readPasswordLine(std::string* line) {
    line->clear();
    termios saved{};
    const bool canHide = tcgetattr(options_.inputFd, &saved) == 0;
    if (canHide) {
        termios quiet = saved;
        quiet.c_lflag &= tcflag_t(~ECHO);
        tcsetattr(options_.inputFd, TCSAFLUSH, &quiet);
    }
    bool gotLine = false;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(options_.inputFd, &c, 1);
        if (n <= 0) break;
        if (c == '\n' || c == '\r') {
            gotLine = true;
            break;
        }
        // Kept short while typing, as the dialog's field allows no more.
        if (line->size() < 256) line->push_back(c);
    }
    if (canHide) tcsetattr(options_.inputFd, TCSAFLUSH, &saved);
    std::fputs("\n", options_.logOut);
    return gotLine;
}

bool TerminalView::askPassword(const std::string& stationId, std::string* password) {
    if (!options_.inputIsTerminal) {
        platform::ShowMessageBox(
            "TCP 接收需要系统密码：请用 -p 给出密码，或在终端上启动本程序以输入密码。程序不启动。",
            "提示", platform::BoxIcon::Error);
        return false;
    }
    for (;;) {
        std::fprintf(options_.logOut, "请输入系统密码（小站号：%s）：", stationId.c_str());
        std::fflush(options_.logOut);
        std::string line;
        if (!readPasswordLine(&line)) {
            platform::ShowMessageBox("请输入密码，系统中断!", "Tavrel",
                                     platform::BoxIcon::Information);
            return false;
        }
        if (line.empty()) {
            platform::ShowMessageBox("请输入系统密码！", "提示", platform::BoxIcon::Information);
            continue;
        }
        // At most 20 characters, as the log-on field takes.
        size_t i = 0;
        for (size_t chars = 0; i < line.size() && chars < 20; ++chars) {
            ++i;
            while (i < line.size() && (static_cast<unsigned char>(line[i]) & 0xC0) == 0x80) ++i;
        }
        *password = line.substr(0, i);
        return true;
    }
}

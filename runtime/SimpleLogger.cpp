#include "runtime/SimpleLogger.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/Clock.h"
#include "platform/Text.h"

namespace velk {
namespace {

struct Registry {
    concurrent::Mutex lock;
    std::vector<SimpleLogger::ILogAppender*> appenders;
};

Registry& TheRegistry() {
    static Registry* r = new Registry;  // outlives every static appender
    return *r;
}

// Rewrites the Windows 64-bit length prefix "I64" as "ll".
std::string TranslateFormat(const char* format) {
    std::string out;
    out.reserve(std::strlen(format) + 4);
    for (const char* p = format; *p != '\0'; ++p) {
        out.push_back(*p);
        if (*p != '%') continue;
        if (p[1] == '%') {
            out.push_back('%');
            ++p;
            continue;
        }
        // Copy flags, width and precision, then look for I64.
        const char* q = p + 1;
        while (*q != '\0' && std::strchr("-+ #0123456789.*", *q) != nullptr) out.push_back(*q++);
        if (q[0] == 'I' && q[1] == '6' && q[2] == '4') {
            out += "ll";
            q += 3;
        }
        p = q - 1;
    }
    return out;
}

}  // namespace

const char* LevelLabel(int32_t level) {
    switch (level) {
        case 500:
            return "Error";
        case 400:
            return "Warn";
        case 300:
            return "Info";
        case 200:
            return "Detail";
        default:
            return "Debug";
    }
}

std::string SimpleLogger::format(const char* format, va_list args) {
    if (format == nullptr) return std::string();
    std::string translated;
    if (std::strstr(format, "I64") != nullptr) {
        translated = TranslateFormat(format);
        format = translated.c_str();
    }
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (size_t(n) < sizeof small) return std::string(small, size_t(n));
    std::string big(size_t(n) + 1, '\0');
    va_copy(copy, args);
    std::vsnprintf(big.data(), big.size(), format, copy);
    va_end(copy);
    big.resize(size_t(n));
    return big;
}

void SimpleLogger::vlog(const char* module, int32_t level, const char* format, va_list args) {
    LogEvent e;
    e.module = module != nullptr ? module : "";
    e.level = level;
    e.text = SimpleLogger::format(format, args);
    int64_t ms = platform::NowMillis();
    e.seconds = ms / 1000;
    e.millis = int(ms % 1000);
    deliver(e);
}

void SimpleLogger::log(const char* module, int32_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vlog(module, level, format, args);
    va_end(args);
}

void SimpleLogger::deliver(const LogEvent& event) {
    Registry& r = TheRegistry();
    concurrent::MutexLock g(r.lock);
    for (ILogAppender* a : r.appenders) a->append(event);
}

void SimpleLogger::addAppender(ILogAppender* appender) {
    if (appender == nullptr) return;
    Registry& r = TheRegistry();
    concurrent::MutexLock g(r.lock);
    if (std::find(r.appenders.begin(), r.appenders.end(), appender) == r.appenders.end())
        r.appenders.push_back(appender);
}

void SimpleLogger::removeAppender(ILogAppender* appender) {
    Registry& r = TheRegistry();
    concurrent::MutexLock g(r.lock);
    r.appenders.erase(std::remove(r.appenders.begin(), r.appenders.end(), appender),
                      r.appenders.end());
}

void log(const char* module, int32_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    SimpleLogger::vlog(module, level, format, args);
    va_end(args);
}

SimpleLogger::FileAppender::FileAppender(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "ab");
}

SimpleLogger::FileAppender::~FileAppender() {
    if (file_ != nullptr) std::fclose(file_);
}

void SimpleLogger::FileAppender::append(const LogEvent& event) {
    if (file_ == nullptr || !accepts(event.level)) return;
    platform::WallTime t = platform::ToLocal(event.seconds, event.millis);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%d-%02d-%02d %02d:%02d:%02d.%03d ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millis);
    std::string line = stamp;
    line += platform::Utf8ToGbk(event.module);
    line += ':';
    line += platform::Utf8ToGbk(event.text);
    line += '\n';
    // The file is a text file in the Windows sense: every line feed, also
    // those inside a message, is written as CR LF.
    std::string out;
    out.reserve(line.size() + 8);
    for (char c : line) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    std::fwrite(out.data(), 1, out.size(), file_);
    std::fflush(file_);
}

void SimpleLogger::ConsoleAppender::append(const LogEvent& event) {
    if (out_ == nullptr || !accepts(event.level)) return;
    platform::WallTime t = platform::ToLocal(event.seconds, event.millis);
    std::fprintf(out_, "%02d:%02d:%02d.%03d %-6s %s: %s\n", t.hour, t.minute, t.second, t.millis,
                 LevelLabel(event.level), event.module.c_str(), event.text.c_str());
    std::fflush(out_);
}

}  // namespace velk

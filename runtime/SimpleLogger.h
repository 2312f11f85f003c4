#pragma once
// The process-wide logger. A call names its module, a level and a printf
// format (with %I64d accepted for 64-bit values); the event goes to every
// registered appender, under one registry lock held during the delivery so
// that lines from different threads never interleave.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "runtime/concurrent.h"

namespace velk {

enum LogLevel : int32_t {
    LevelError = 500,
    LevelWarn = 400,
    LevelInfo = 300,
    LevelDetail = 200,
    LevelDebug = 100,
};

// "Error", "Warn", "Info", "Detail"; any other level is "Debug".
const char* LevelLabel(int32_t level);

struct LogEvent {
    std::string module;
    int32_t level = 0;
    std::string text;     // UTF-8
    int64_t seconds = 0;  // since 1970
    int millis = 0;
};

class SimpleLogger {
  public:
    class ILogAppender {
      public:
        virtual ~ILogAppender() = default;
        virtual int getType() { return 0; }
        virtual void append(const LogEvent& event) = 0;
        virtual void setLevel(int32_t level) { minLevel_.store(level, std::memory_order_relaxed); }
        int32_t level() const { return minLevel_.load(std::memory_order_relaxed); }

      protected:
        bool accepts(int32_t level) const { return level >= this->level(); }

      private:
        std::atomic<int32_t> minLevel_{300};
    };

    // One line per event, "date time module:text" in GBK, CR LF, flushed at
    // once so the file is complete after every line.
    class FileAppender : public ILogAppender {
      public:
        explicit FileAppender(const std::string& path);
        ~FileAppender() override;
        int getType() override { return 0x10000; }
        void append(const LogEvent& event) override;
        bool isOpen() const { return file_ != nullptr; }
        const std::string& path() const { return path_; }

      private:
        std::string path_;
        FILE* file_ = nullptr;
    };

    // The terminal's view: "hh:mm:ss.mmm Label module: text" in UTF-8 on a
    // stream (stderr unless given).
    class ConsoleAppender : public ILogAppender {
      public:
        explicit ConsoleAppender(FILE* out = stderr) : out_(out) {}
        void append(const LogEvent& event) override;

      private:
        FILE* out_;
    };

    // Unchecked by the compiler, for the few messages that use %I64d; the
    // free function velk::log below lets the compiler check the arguments.
    static void log(const char* module, int32_t level, const char* format, ...);
    static void vlog(const char* module, int32_t level, const char* format, va_list args);
    static void addAppender(ILogAppender* appender);
    static void removeAppender(ILogAppender* appender);
    static void deliver(const LogEvent& event);

    // Formats like vsnprintf, into a string of the exact length; %I64d,
    // %I64u and %I64x are read as their 64-bit equivalents.
    static std::string format(const char* format, va_list args);
};

// log(module, level, format, ...): the call every part of the station uses.
void log(const char* module, int32_t level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace velk

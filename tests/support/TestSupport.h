#pragma once
// Test helpers: a temporary directory removed afterwards, a log appender
// that keeps every event for inspection, and small file helpers.
#include <string>
#include <vector>

#include "runtime/SimpleLogger.h"

namespace testsupport {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Registers itself with the logger for its lifetime and keeps every event
// (minimum level 0 unless set).
class CaptureAppender : public velk::SimpleLogger::ILogAppender {
  public:
    CaptureAppender();
    ~CaptureAppender() override;
    void append(const velk::LogEvent& event) override;

    std::vector<velk::LogEvent> events();
    // Number of events whose text contains the fragment (and, when given,
    // whose module and level match).
    int count(const std::string& fragment, const char* module = nullptr, int level = -1);
    bool contains(const std::string& fragment) { return count(fragment) > 0; }
    std::string dump();  // every event, one per line, for failure messages
    void clear();

  private:
    velk::concurrent::Mutex lock_;
    std::vector<velk::LogEvent> events_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);

}  // namespace testsupport

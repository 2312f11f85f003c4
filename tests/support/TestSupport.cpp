#include "tests/support/TestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace testsupport {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base != nullptr ? base : "/tmp") + "/tavrel-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) != nullptr) path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

CaptureAppender::CaptureAppender() {
    setLevel(0);
    velk::SimpleLogger::addAppender(this);
}

CaptureAppender::~CaptureAppender() {
    velk::SimpleLogger::removeAppender(this);
}

void CaptureAppender::append(const velk::LogEvent& event) {
    if (!accepts(event.level)) return;
    velk::concurrent::MutexLock g(lock_);
    events_.push_back(event);
}

std::vector<velk::LogEvent> CaptureAppender::events() {
    velk::concurrent::MutexLock g(lock_);
    return events_;
}

int CaptureAppender::count(const std::string& fragment, const char* module, int level) {
    velk::concurrent::MutexLock g(lock_);
    int n = 0;
    for (auto& e : events_) {
        if (e.text.find(fragment) == std::string::npos) continue;
        if (module != nullptr && e.module != module) continue;
        if (level >= 0 && e.level != level) continue;
        ++n;
    }
    return n;
}

std::string CaptureAppender::dump() {
    velk::concurrent::MutexLock g(lock_);
    std::ostringstream os;
    for (auto& e : events_) os << e.module << " [" << e.level << "] " << e.text << "\n";
    return os.str();
}

void CaptureAppender::clear() {
    velk::concurrent::MutexLock g(lock_);
    events_.clear();
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream os;
    os << in.rdbuf();
    return os.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace testsupport

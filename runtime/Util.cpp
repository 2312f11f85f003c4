#include "runtime/Util.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "platform/Clock.h"
#include "platform/ErrorText.h"
#include "platform/File.h"
#include "runtime/SimpleLogger.h"

namespace velk::util {

int SameTextNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return -1;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return -1;
    }
    return 0;
}

bool ParseSwitch(const std::string& text) {
    return SameTextNoCase(text, "1") == 0 || SameTextNoCase(text, "ON") == 0 ||
           SameTextNoCase(text, "YES") == 0;
}

uint32_t ElapsedSince(uint32_t& tick) {
    uint32_t now = platform::TickCount();
    if (tick == 0 || int32_t(now - tick) < 0) {
        tick = now;
        return 0;
    }
    return now - tick;
}

bool FileExists(const std::string& path) {
    platform::File f;
    if (f.open(path, false)) return true;
    return f.error().cause != platform::FileCause::NotFound;
}

int EnsureFile(const std::string& path) {
    if (FileExists(path)) return 0;
    platform::File f;
    if (!f.create(path)) return -1;
    f.close();
    return 0;
}

std::string TrimPath(const std::string& path) {
    size_t begin = 0;
    while (begin < path.size() && std::isspace(static_cast<unsigned char>(path[begin]))) ++begin;
    size_t end = path.size();
    auto trailing = [](char c) {
        return c == ' ' || c == '\n' || c == '\t' || c == '\v' || c == '\r' || c == '\f' ||
               c == '\\' || c == '/';
    };
    while (end > begin && trailing(path[end - 1])) --end;
    return path.substr(begin, end - begin);
}

int EnsureDir(const std::string& path) {
    std::string dir = TrimPath(path) + "/";
    if (platform::IsDirectory(dir)) return 0;
    return platform::MakeDirectory(dir) ? 0 : -1;
}

bool CopyFileKeepTimes(const std::string& from, const std::string& to) {
    platform::File src;
    if (!src.open(from, false)) return false;
    platform::File dst;
    if (!dst.create(to)) return false;
    std::vector<char> buf(16384);
    for (;;) {
        size_t got = 0;
        if (!src.read(buf.data(), buf.size(), &got)) return false;
        if (got == 0) break;
        if (!dst.write(buf.data(), got)) return false;
    }
    if (!dst.close()) return false;
    src.close();
    platform::FileStatus st;
    if (!platform::StatFile(from, &st)) return false;
    return platform::SetFileTimes(to, st.accessed, st.modified);
}

int DeleteOldFiles(const std::string& dir, int days) {
    int64_t now = platform::NowMillis() / 1000;
    std::vector<platform::DirEntry> entries;
    if (!platform::ListDirectory(TrimPath(dir), &entries)) return 0;
    for (const auto& e : entries) {
        if (e.isDirectory) continue;
        std::string full = JoinPath(TrimPath(dir), e.name);
        platform::FileStatus st;
        if (!platform::StatFile(full, &st) || st.isDirectory) continue;
        int64_t age = (now - st.modified) / 86400;
        if (age <= days) continue;
        if (platform::RemoveFile(full)) {
            log("Util", 200, "文件 %s 已删除！", full.c_str());
        } else {
            log("Util", 500, "删除文件 %s 失败！", full.c_str());
            return -1;
        }
    }
    return 0;
}

std::string ErrorText(int err) {
    return platform::OsErrorText(err);
}

std::string SocketErrorText() {
    return ErrorText(platform::LastSocketError());
}

int32_t TodayNumber() {
    platform::WallTime t = platform::Now();
    return t.year * 10000 + t.month * 100 + t.day;
}

std::string FormatHms(int32_t v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", v / 10000, v / 100 % 100, v % 100);
    return buf;
}

std::string FormatHmsCs(int32_t v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%02d", v / 1000000, v / 10000 % 100,
                  v / 100 % 100, v % 100);
    return buf;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

}  // namespace velk::util

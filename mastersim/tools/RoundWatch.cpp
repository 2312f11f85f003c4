// tavrel-roundwatch: for load runs, notes the moment each NQHQ.DBF round
// reaches the table on disk, and compares those moments with the send times
// that tavrel-master logged.
//
// The stand-in puts the round number into the special record's volume
// (HQCJSL = round * 10 + close mark), so a round is on disk once record 0
// shows its number; sent with --special-alone, record 0 is the last record
// of the round the station writes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::atomic<bool> g_stop{false};
void OnSignal(int) {
    g_stop = true;
}

int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Reads the round number from record 0 of the table; -1 when the table has
// no record yet or cannot be read.
class TableProbe {
  public:
    explicit TableProbe(std::string path) : path_(std::move(path)) {}
    ~TableProbe() { reset(); }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        headerLength_ = 0;
    }
    int64_t round() {
        if (fd_ < 0) fd_ = ::open(path_.c_str(), O_RDONLY);
        if (fd_ < 0) return -1;
        uint8_t head[32];
        if (::pread(fd_, head, sizeof head, 0) != ssize_t(sizeof head)) return -1;
        const uint32_t count = Le32(head + 4);
        const uint16_t headerLength = uint16_t(head[8] | head[9] << 8);
        if (count == 0 || headerLength < 65) return -1;
        if (headerLength != headerLength_ && !findField(headerLength)) return -1;
        char text[32] = {};
        if (::pread(fd_, text, width_, headerLength + offset_) != ssize_t(width_)) return -1;
        char* end = nullptr;
        const long long v = std::strtoll(text, &end, 10);
        if (end == text) return -1;
        return v / 10;
    }

  private:
    bool findField(uint16_t headerLength) {
        std::vector<uint8_t> h(headerLength);
        if (::pread(fd_, h.data(), h.size(), 0) != ssize_t(h.size())) return false;
        for (size_t at = 32; at + 32 <= h.size() && h[at] != 0x0D; at += 32) {
            if (std::strncmp(reinterpret_cast<const char*>(&h[at]), "HQCJSL", 11) != 0) continue;
            offset_ = Le32(&h[at + 12]);
            width_ = std::min<size_t>(h[at + 16], 31);
            headerLength_ = headerLength;
            return true;
        }
        return false;
    }
    std::string path_;
    int fd_ = -1;
    uint16_t headerLength_ = 0;
    uint32_t offset_ = 0;
    size_t width_ = 0;
};

int Watch(const std::string& table, const std::string& out, double seconds) {
    const size_t slash = table.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : table.substr(0, slash);
    const std::string name = slash == std::string::npos ? table : table.substr(slash + 1);
    const int in = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (in < 0 || inotify_add_watch(in, dir.c_str(),
                                    IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO) < 0) {
        std::fprintf(stderr, "tavrel-roundwatch: cannot watch %s: %s\n", dir.c_str(),
                     std::strerror(errno));
        return 2;
    }
    TableProbe probe(table);
    std::vector<std::pair<int64_t, int64_t>> seen;
    int64_t last = -1;
    const int64_t deadline = seconds > 0 ? MonotonicNs() + int64_t(seconds * 1e9) : INT64_MAX;
    alignas(inotify_event) char buf[64 * 1024];
    while (!g_stop && MonotonicNs() < deadline) {
        pollfd p{in, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        bool touched = false, recreated = false;
        for (;;) {
            const ssize_t n = ::read(in, buf, sizeof buf);
            if (n <= 0) break;
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                if (e->len > 0 && name == e->name) {
                    touched = true;
                    recreated = recreated || (e->mask & (IN_CREATE | IN_MOVED_TO)) != 0;
                }
                at += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
        if (!touched) continue;
        const int64_t now = MonotonicNs();
        if (recreated) probe.reset();
        const int64_t round = probe.round();
        if (round > last) {
            seen.push_back({round, now});
            last = round;
        }
    }
    std::ofstream o(out, std::ios::trunc);
    for (const auto& [round, ns] : seen) o << "round " << round << " " << ns << "\n";
    ::close(in);
    return o ? 0 : 1;
}

std::map<int64_t, int64_t> ReadLog(const std::string& path) {
    std::map<int64_t, int64_t> m;
    std::ifstream in(path);
    std::string word;
    int64_t round = 0, ns = 0;
    while (in >> word >> round >> ns)
        if (word == "round") m.emplace(round, ns);
    return m;
}

int Analyse(const std::string& sentPath, const std::string& seenPath, int64_t skipRounds) {
    const auto sent = ReadLog(sentPath);
    const auto seen = ReadLog(seenPath);
    std::vector<double> ms;
    for (const auto& [round, ns] : seen) {
        if (round <= skipRounds) continue;
        auto it = sent.find(round);
        if (it != sent.end()) ms.push_back(double(ns - it->second) / 1e6);
    }
    if (ms.empty()) {
        std::printf("rounds sent %zu, seen on disk 0\n", sent.size());
        return 1;
    }
    std::sort(ms.begin(), ms.end());
    auto pct = [&](double p) {
        return ms[std::min(ms.size() - 1, size_t(p / 100.0 * double(ms.size())))];
    };
    std::printf("rounds sent %zu, seen on disk %zu, measured %zu\n", sent.size(), seen.size(),
                ms.size());
    std::printf(
        "latency last datagram -> round on disk: p50 %.2f ms  p90 %.2f ms  p99 %.2f ms  max %.2f "
        "ms\n",
        pct(50), pct(90), pct(99), ms.back());
    return 0;
}

void Usage() {
    std::puts(
        "usage: tavrel-roundwatch --watch NQHQ.DBF --out FILE [--seconds S]\n"
        "       tavrel-roundwatch --analyse SENT_LOG SEEN_LOG [--skip N]");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() >= 4 && a[0] == "--watch" && a[2] == "--out") {
        double seconds = 0;
        if (a.size() == 6 && a[4] == "--seconds") seconds = std::atof(a[5].c_str());
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);
        return Watch(a[1], a[3], seconds);
    }
    if (a.size() >= 3 && a[0] == "--analyse") {
        const int64_t skip = a.size() == 5 && a[3] == "--skip" ? std::atoll(a[4].c_str()) : 0;
        return Analyse(a[1], a[2], skip);
    }
    Usage();
    return 2;
}

#pragma once
// End-to-end helpers: a program directory for the station bound to loopback
// multicast, the real programs started as child processes, and the station's
// log and totals read back. Header-only: every *_test.cpp of this folder is
// one test binary.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "mastersim/Truth.h"
#include "platform/File.h"
#include "platform/Text.h"
#include "tests/support/TestSupport.h"

extern char** environ;

namespace e2e {

inline std::string StationProgram() {
    return std::string(TAVREL_BUILD_DIR) + "/shell/tavrel";
}
inline std::string MasterProgram() {
    return std::string(TAVREL_BUILD_DIR) + "/mastersim/tavrel-master";
}

// Groups and ports of this test process alone, so that tests running side
// by side never hear each other (on Linux a socket bound to a port receives
// every group joined on the host for that port, so the ports must differ,
// not only the groups). salt (0..7) tells apart the runs of one process.
// Ports 40000-59999; the unit tests of the receivers use 20000-29999.
struct Channels {
    std::string group1, group2;
    int port1 = 0, port2 = 0;
    static Channels ForThisProcess(int salt = 0) {
        const int slot = (int(getpid()) * 8 + (salt & 7)) % 10000;
        Channels c;
        c.port1 = 40000 + slot * 2;
        c.port2 = c.port1 + 1;
        const std::string tail = std::to_string(slot / 250) + "." + std::to_string(1 + slot % 250);
        c.group1 = "239.201." + tail;
        c.group2 = "239.202." + tail;
        return c;
    }
    std::vector<std::string> masterArgs() const {
        return {"--group1", group1, "--port1", std::to_string(port1),
                "--group2", group2, "--port2", std::to_string(port2)};
    }
};

// A Tavrel.cfg for multicast reception bound to 127.0.0.1 (flag 0x100000),
// tables under dir/data, and run parameters that log everything to the file.
inline void WriteStationConfig(const std::string& dir, const Channels& c) {
    const std::string text =
        "[CONFIG]\n"
        "CfgVersion=V20160921\nusrId=\nAuthID=TEST0000000001\n"
        "rcv_Mcast=0\nrcvZSXX=0\nrcvFGKCJXX=0\nrcvFGKSBXX=0\n"
        "mcRcvPort1=" +
        std::to_string(c.port1) + "\nmcRcvPort2=" + std::to_string(c.port2) +
        "\nmcRcvAddr1=" + c.group1 + "\nmcRcvAddr2=" + c.group2 +
        "\nenableQuerySupport=0\nqueryLsnAddr=0\nqueryLsnPort=0\n"
        "dwFlag=1048576\ndwKeepFileDays=0\nmcNetCard1=127.0.0.1\nmcNetCard2=127.0.0.1\n"
        "szDefaultDataPath=" +
        dir + "/data\nszLogPath=" + dir +
        "/Log\n"
        "NQHQ_File=" +
        dir + "/data/NQHQ.DBF\nNQXYXX_File=" + dir +
        "/data/NQXYXX.DBF\n"
        "NQZSXX_File=\nNQXX_File=" +
        dir +
        "/data/NQXX.DBF\nNQFGKSBXX_File=\nNQFGKCJXX_File=\n"
        "szTYBulletinPath=" +
        dir + "/bulletin\nszTYOpenFlagFile=" + dir +
        "/data/open.flag\n"
        "[ServerInfoNUM]\nServers0=0\nServers1=0\n";
    testsupport::WriteFile(dir + "/Tavrel.cfg", text);
    testsupport::WriteFile(dir + "/runParams.Cfg", "fileLogLevel = 100\nviewLogLevel = 400\n");
}

// The day's log files of a program directory, as UTF-8.
inline std::string LogText(const std::string& dir) {
    std::string all;
    std::vector<platform::DirEntry> entries;
    platform::ListDirectory(dir + "/Log", &entries);
    for (const platform::DirEntry& e : entries) {
        const std::string& n = e.name;
        if (n.size() > 4 && n.substr(n.size() - 4) == ".Log")
            all += platform::GbkToUtf8(testsupport::ReadFile(dir + "/Log/" + n));
    }
    return all;
}

inline int CountLines(const std::string& text, const std::string& fragment,
                      const std::string& without = std::string()) {
    int n = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (line.find(fragment) != std::string::npos &&
            (without.empty() || line.find(without) == std::string::npos))
            ++n;
        start = end + 1;
    }
    return n;
}

// The counters of the station's totals line.
struct Totals {
    bool found = false;
    long long packets = 0, bytes = 0, errors = 0, outOfOrder = 0, lost = 0;
};
inline Totals ParseTotals(const std::string& log) {
    static const std::regex re(
        "共收到 (\\d+) 个包，合计 (\\d+) 字节。其中错包 (\\d+) 个，乱序包 (\\d+) "
        "个，可统计的丢失包 (\\d+) 个。");
    Totals t;
    std::smatch m;
    std::string::const_iterator from = log.begin();
    while (std::regex_search(from, log.end(), m, re)) {
        t.found = true;
        t.packets = std::stoll(m[1]);
        t.bytes = std::stoll(m[2]);
        t.errors = std::stoll(m[3]);
        t.outOfOrder = std::stoll(m[4]);
        t.lost = std::stoll(m[5]);
        from = m[0].second;
    }
    return t;
}

// A child process with its output in files; killed if still running at the end.
class Child {
  public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int st = 0;
            ::waitpid(pid_, &st, 0);
        }
    }
    bool start(const std::vector<std::string>& args, const std::string& outFile) {
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) pid_ = -1;
        return rc == 0;
    }
    bool running() const { return pid_ > 0; }
    void signal(int sig) {
        if (pid_ > 0) ::kill(pid_, sig);
    }
    // Waits up to timeoutMs for the exit; the exit status, or -1 on time-out
    // or death by a signal.
    int wait(int timeoutMs) {
        if (pid_ <= 0) return -1;
        for (int waited = 0;; waited += 10) {
            int st = 0;
            const pid_t r = ::waitpid(pid_, &st, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            }
            if (waited >= timeoutMs) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

  private:
    pid_t pid_ = -1;
};

// Waits until pred() holds, up to timeoutMs.
template <typename Pred>
bool WaitFor(Pred pred, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// Every truth table of the run against the station's tables.
struct TablesVersusTruth {
    bool equal = false;
    std::string report;
};
inline TablesVersusTruth CompareTables(const std::string& truthDir, const std::string& dataDir,
                                       mastersim::CompareMode mode) {
    TablesVersusTruth r;
    std::string error;
    const auto truth = mastersim::ReadTruthDir(truthDir, &error);
    if (truth.empty()) {
        r.report = "no truth: " + error;
        return r;
    }
    r.equal = true;
    for (const auto& t : truth) {
        const auto c = mastersim::CompareWithDbf(t, dataDir + "/" + t.layout->table, mode);
        r.report += std::string(t.layout->table) + (c.equal ? " equal" : " DIFFERS") + " (" +
                    std::to_string(c.tableRecords) + " records, truth " +
                    std::to_string(c.truthRecords) + ")\n";
        for (const std::string& d : c.differences) r.report += "    " + d + "\n";
        r.equal = r.equal && c.equal;
    }
    return r;
}

inline long long ExpectValue(const std::map<std::string, std::string>& kv, const std::string& key) {
    auto it = kv.find(key);
    return it == kv.end() ? -1 : std::stoll(it->second);
}

}  // namespace e2e

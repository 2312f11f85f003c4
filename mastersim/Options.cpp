#include "mastersim/Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace mastersim {

namespace {

bool ParseDouble(const std::string& text, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == nullptr || *end != '\0' || !std::isfinite(v)) return false;
    out = v;
    return true;
}

bool ParseInt(const std::string& text, int64_t lo, int64_t hi, int64_t& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0' || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool ParseTime(const std::string& text, int32_t& out) {
    int64_t v = 0;
    if (text.size() != 6 || !ParseInt("1" + text, 1000000, 1235959, v)) return false;
    v -= 1000000;
    if (v / 10000 > 23 || v / 100 % 100 > 59 || v % 100 > 59) return false;
    out = int32_t(v);
    return true;
}

bool ParseWindow(const std::string& text, Window& w) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    double a = 0, b = 0;
    if (!ParseDouble(text.substr(0, colon), a) || !ParseDouble(text.substr(colon + 1), b))
        return false;
    if (a < 0 || b <= 0) return false;
    w.at = a;
    w.length = b;
    return true;
}

bool ParseRate(const std::string& text, double& out) {
    return ParseDouble(text, out) && out >= 0 && out <= 1.0;
}

}  // namespace

bool ParseEncodingList(const std::string& text, std::vector<uint8_t>& out) {
    out.clear();
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) {
        int64_t v = 0;
        if (!ParseInt(item, 0, 255, v) || !ValidEncoding(uint8_t(v))) return false;
        out.push_back(uint8_t(v));
    }
    return !out.empty();
}

std::string HelpText() {
    return R"(tavrel-master: the stand-in master station. Sends a generated market on the
two multicast channels (2000011 and 2100011) over loopback, as the master
station does, and can write the tables the station should end up with.

Usage: tavrel-master [options]
       tavrel-master --compare TRUTHDIR TABLEDIR [--converged]

Network (traffic never leaves this machine):
  --group1 ADDR         primary channel's group (239.20.0.11)
  --port1 N             primary channel's port (4003)
  --group2 ADDR         backup channel's group (239.21.0.11)
  --port2 N             backup channel's port (4003)
  --interface ADDR      sending interface, a 127.x.x.x address (127.0.0.1)
  --ttl N               0 or 1 (1); multicast loop is always on

Market and schedule:
  --securities N        number of securities (8000)
  --seed N              makes a run repeatable (1)
  --round-interval S    seconds between NQHQ.DBF rounds, NQXYXX.DBF deltas and
                        NQZSXX.DBF rounds (3); 0 = rounds back to back
  --info-interval S     seconds between NQXX.DBF rounds (15)
  --base-interval S     seconds between NQXYXX.DBF base rounds (30)
  --status-interval S   seconds between system information and market
                        state packets (5); a new state goes out at once
  --day-speed X         market seconds per real second (180: a trading day
                        in about two minutes)
  --start-time HHMMSS   market time at the start (090000)
  --end-time HHMMSS     the day is over at this market time (153000)
  --date YYYYMMDD       trading date (today)
  --version NEWEST[,MINIMUM]  version pair of the system information
                        (20170213,20170213)
  --zsxx                also send NQZSXX.DBF (type 24)
  --duration S          stop after S seconds (0: when the day is over)

Sending:
  --rate N              packets per second on each channel (2000); 0 = as
                        fast as possible
  --encoding LIST       flags of the packets, used in turn, e.g. 0x25 or
                        0x00,0x10,0x24,0x25 (0x01 zlib, 0x04 RC6, 0x10 CRC-32,
                        0x20 Adler-32; default 0x00,0x10,0x20,0x24,0x25,0x21,
                        0x15,0x11)
  --zlib-level N        zlib compression level, 0-9 (6)
  --replay-rounds K     make K NQHQ.DBF rounds once and send them in turn
                        (load runs)
  --special-alone       send an NQHQ.DBF round's special record in a packet
                        of its own (always so with --replay-rounds)
  --first-seq N         first sequence number of each channel (1)

Faults:
  --loss R              probability that a datagram is lost (0..1)
  --duplicate R         ... that it is sent twice
  --reorder R           ... that it is sent after the next one
  --corrupt R           ... that it is damaged: a payload byte when it has a
                        checksum, else its last byte cut off
  --fault-window A:B    the rates apply from second A to second B (always)
  --fault-channel C     primary, backup or both (both)
  --silence-primary A:L the primary channel sends nothing from second A for
                        L seconds (its packets are not numbered either)
  --stop-both A:L       the master station stops both channels from second A
                        for L seconds (its schedule pauses too)

Output:
  --truth DIR           at the end, write DIR/<table>.truth (the records the
                        station should hold) and DIR/expect.txt (counters,
                        rounds, what the station should have counted)
  --round-log FILE      write "round N MONOTONIC_NS" for the last datagram
                        of every NQHQ.DBF round
  --progress S          a progress line every S seconds (5); 0 = none
  --help                this text

--compare reads TRUTHDIR/*.truth and compares each table with the file of
the same name in TABLEDIR, field by field; exit status 0 when all are
equal. --converged compares declaration tables by key (after faults).
SIGINT or SIGTERM ends a run: the rounds under way are completed, the truth
is written and a summary printed.
)";
}

Command ParseOptions(const std::vector<std::string>& args, MasterOptions& o, std::string& error) {
    Command command = Command::Run;
    auto bad = [&](const std::string& option, const std::string& value) {
        error = "invalid value '" + value + "' for " + option;
        return Command::Error;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto flag = [&](const char* name) { return a == name; };
        if (flag("--help") || flag("-h")) return Command::Help;
        if (flag("--zsxx")) {
            o.sim.zsxx = true;
            continue;
        }
        if (flag("--special-alone")) {
            o.sim.specialAlone = true;
            continue;
        }
        if (flag("--converged")) {
            o.converged = true;
            continue;
        }
        if (flag("--compare")) {
            if (i + 2 >= args.size()) {
                error = "--compare needs a truth directory and a table directory";
                return Command::Error;
            }
            o.compareTruth = args[++i];
            o.compareTables = args[++i];
            command = Command::Compare;
            continue;
        }
        if (a.rfind("--", 0) != 0) {
            error = "unexpected argument '" + a + "' (see --help)";
            return Command::Error;
        }
        if (i + 1 >= args.size()) {
            error = a + " needs a value (see --help)";
            return Command::Error;
        }
        const std::string v = args[++i];
        int64_t n = 0;
        double d = 0;
        if (flag("--group1")) {
            o.groups[0] = v;
        } else if (flag("--group2")) {
            o.groups[1] = v;
        } else if (flag("--port1") || flag("--port2")) {
            if (!ParseInt(v, 1, 65535, n)) return bad(a, v);
            o.ports[flag("--port1") ? 0 : 1] = uint16_t(n);
        } else if (flag("--interface")) {
            o.interfaceAddr = v;
        } else if (flag("--ttl")) {
            if (!ParseInt(v, 0, 1, n)) return bad(a, v);
            o.ttl = int(n);
        } else if (flag("--securities")) {
            if (!ParseInt(v, 1, 200000, n)) return bad(a, v);
            o.sim.securities = int(n);
        } else if (flag("--seed")) {
            if (!ParseInt(v, 0, INT64_MAX, n)) return bad(a, v);
            o.sim.seed = uint64_t(n);
            o.faults.seed = uint64_t(n);
        } else if (flag("--round-interval")) {
            if (!ParseDouble(v, d) || d < 0) return bad(a, v);
            o.sim.roundInterval = d;
        } else if (flag("--info-interval")) {
            if (!ParseDouble(v, d) || d <= 0) return bad(a, v);
            o.sim.infoInterval = d;
        } else if (flag("--base-interval")) {
            if (!ParseDouble(v, d) || d <= 0) return bad(a, v);
            o.sim.baseInterval = d;
        } else if (flag("--status-interval")) {
            if (!ParseDouble(v, d) || d <= 0) return bad(a, v);
            o.sim.statusInterval = d;
        } else if (flag("--day-speed")) {
            if (!ParseDouble(v, d) || d < 0 || d > 1e6) return bad(a, v);
            o.sim.daySpeed = d;
        } else if (flag("--start-time")) {
            if (!ParseTime(v, o.sim.startTime)) return bad(a, v);
        } else if (flag("--end-time")) {
            if (!ParseTime(v, o.sim.endTime)) return bad(a, v);
        } else if (flag("--date")) {
            if (!ParseInt(v, 19700101, 29991231, n) || n / 100 % 100 < 1 || n / 100 % 100 > 12 ||
                n % 100 < 1 || n % 100 > 31)
                return bad(a, v);
            o.sim.tradingDate = int32_t(n);
        } else if (flag("--version")) {
            const size_t comma = v.find(',');
            int64_t newest = 0, minimum = 0;
            if (!ParseInt(v.substr(0, comma), 0, 99999999, newest)) return bad(a, v);
            minimum = newest;
            if (comma != std::string::npos && !ParseInt(v.substr(comma + 1), 0, 99999999, minimum))
                return bad(a, v);
            o.sim.versionNewest = int32_t(newest);
            o.sim.versionMinimum = int32_t(minimum);
        } else if (flag("--duration")) {
            if (!ParseDouble(v, d) || d < 0) return bad(a, v);
            o.duration = d;
        } else if (flag("--rate")) {
            if (!ParseDouble(v, d) || d < 0 || d > 10e6) return bad(a, v);
            o.rate = d;
        } else if (flag("--encoding")) {
            if (!ParseEncodingList(v, o.sim.encodings)) return bad(a, v);
        } else if (flag("--zlib-level")) {
            if (!ParseInt(v, 0, 9, n)) return bad(a, v);
            o.sim.zlibLevel = int(n);
        } else if (flag("--replay-rounds")) {
            if (!ParseInt(v, 0, 1000, n)) return bad(a, v);
            o.sim.replayRounds = int(n);
        } else if (flag("--first-seq")) {
            if (!ParseInt(v, 1, UINT32_MAX, n)) return bad(a, v);
            o.firstSeq = uint32_t(n);
        } else if (flag("--loss")) {
            if (!ParseRate(v, o.faults.loss)) return bad(a, v);
        } else if (flag("--duplicate")) {
            if (!ParseRate(v, o.faults.duplicate)) return bad(a, v);
        } else if (flag("--reorder")) {
            if (!ParseRate(v, o.faults.reorder)) return bad(a, v);
        } else if (flag("--corrupt")) {
            if (!ParseRate(v, o.faults.corrupt)) return bad(a, v);
        } else if (flag("--fault-window")) {
            const size_t colon = v.find(':');
            double from = 0, until = 0;
            if (colon == std::string::npos || !ParseDouble(v.substr(0, colon), from) ||
                !ParseDouble(v.substr(colon + 1), until) || from < 0 || until <= from)
                return bad(a, v);
            o.faults.faults = Window{from, until - from};
        } else if (flag("--fault-channel")) {
            if (v == "primary") {
                o.faults.onPrimary = true;
                o.faults.onBackup = false;
            } else if (v == "backup") {
                o.faults.onPrimary = false;
                o.faults.onBackup = true;
            } else if (v == "both") {
                o.faults.onPrimary = o.faults.onBackup = true;
            } else {
                return bad(a, v);
            }
        } else if (flag("--silence-primary")) {
            if (!ParseWindow(v, o.faults.silencePrimary)) return bad(a, v);
        } else if (flag("--stop-both")) {
            if (!ParseWindow(v, o.stopBoth)) return bad(a, v);
        } else if (flag("--truth")) {
            o.truthDir = v;
        } else if (flag("--round-log")) {
            o.roundLog = v;
        } else if (flag("--progress")) {
            if (!ParseDouble(v, d) || d < 0) return bad(a, v);
            o.progressEvery = d;
        } else {
            error = "unknown option " + a + " (see --help)";
            return Command::Error;
        }
    }
    if (o.sim.endTime <= o.sim.startTime && o.duration == 0 && command == Command::Run) {
        error = "--end-time must be after --start-time, or give --duration";
        return Command::Error;
    }
    if (o.sim.daySpeed == 0 && o.duration == 0 && command == Command::Run) {
        error = "with --day-speed 0 the day never ends: give --duration";
        return Command::Error;
    }
    return command;
}

}  // namespace mastersim

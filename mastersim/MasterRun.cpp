#include "mastersim/MasterRun.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <deque>
#include <fstream>
#include <sstream>
#include <thread>

#include "runtime/Util.h"

namespace mastersim {

namespace {

// Packets made ahead of the sender at most; the schedule waits beyond.
constexpr size_t kMaxQueued = 200000;

int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void SleepSeconds(double s) {
    std::this_thread::sleep_for(std::chrono::duration<double>(s));
}

std::string Hms(int32_t t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t / 10000, t / 100 % 100, t % 100);
    return buf;
}

}  // namespace

RunResult RunMaster(const MasterOptions& o, DatagramSink& sink, const std::atomic<bool>& stop,
                    const std::atomic<bool>& stopNow, FILE* progress) {
    RunResult r;
    Simulator sim(o.sim);
    Channels channels(o.faults, sink, o.firstSeq);
    std::deque<OutPacket> queue;
    std::vector<OutPacket> made;

    const auto t0 = std::chrono::steady_clock::now();
    auto elapsedNow = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    const double burst = o.rate > 0 ? std::max(1.0, o.rate * 0.002) : 0;
    double tokens = burst, lastRefill = 0;
    double nextProgress = o.progressEvery;
    uint64_t sentPackets = 0, sentAtLastProgress = 0;
    double lastProgress = 0;
    bool finishing = false;

    for (;;) {
        if (stopNow.load()) break;
        const double el = elapsedNow();
        // While both channels are stopped the master station's schedule
        // stands still as well.
        const double paused =
            o.stopBoth.active() ? std::clamp(el - o.stopBoth.at, 0.0, o.stopBoth.length) : 0;
        const double scheduleTime = el - paused;
        if (!finishing) {
            const bool over =
                stop.load() || (o.duration > 0 ? el >= o.duration : sim.dayOver(scheduleTime));
            if (over) {
                made.clear();
                sim.finish(scheduleTime, made);
                for (OutPacket& p : made) queue.push_back(std::move(p));
                finishing = true;
            }
        }
        if (finishing && queue.empty()) break;
        if (o.stopBoth.contains(el)) {
            SleepSeconds(0.005);
            continue;
        }
        if (!finishing && queue.size() < kMaxQueued) {
            made.clear();
            sim.advance(scheduleTime, queue.empty(), made);
            for (OutPacket& p : made) queue.push_back(std::move(p));
        }
        r.maxQueued = std::max(r.maxQueued, queue.size());

        if (o.rate > 0) {
            tokens = std::min(burst, tokens + (el - lastRefill) * o.rate);
            lastRefill = el;
        }
        int sentNow = 0;
        while (!queue.empty() && (o.rate == 0 || tokens >= 1) && sentNow < 256) {
            OutPacket& p = queue.front();
            channels.send(p, el);
            if (p.nqhqRound > 0) r.roundTimes.push_back({p.nqhqRound, MonotonicNs()});
            queue.pop_front();
            if (o.rate > 0) tokens -= 1;
            ++sentNow;
            ++sentPackets;
        }

        if (progress != nullptr && o.progressEvery > 0 && el >= nextProgress) {
            const double rate = double(sentPackets - sentAtLastProgress) / (el - lastProgress);
            std::fprintf(progress,
                         "tavrel-master: %6.1f s  market %s state %d  packets %" PRIu64
                         " (%.0f/s)  NQHQ rounds %" PRId64 "  queued %zu\n",
                         el, Hms(sim.marketTime(scheduleTime)).c_str(), sim.stats().lastState,
                         sentPackets, rate, sim.stats().nqhqRounds, queue.size());
            std::fflush(progress);
            sentAtLastProgress = sentPackets;
            lastProgress = el;
            nextProgress = el + o.progressEvery;
        }

        if (queue.empty()) {
            // Back-to-back rounds are made at once; otherwise wait for the
            // schedule's next event.
            if (finishing || o.sim.roundInterval > 0) SleepSeconds(0.001);
        } else if (o.rate > 0 && tokens < 1) {
            SleepSeconds(std::clamp((1 - tokens) / o.rate, 0.00005, 0.002));
        }
    }
    channels.flush();
    r.complete = !stopNow.load();
    r.seconds = elapsedNow();
    r.sim = sim.stats();
    for (int ch = 0; ch < kChannels; ++ch) r.channels[ch] = channels.stats(ch);
    if (!o.truthDir.empty()) {
        std::string error;
        if (!WriteRunOutputs(o, r, sim.truth(), &error)) r.error = error;
    } else if (!o.roundLog.empty()) {
        std::string error;
        if (!WriteRunOutputs(o, r, {}, &error)) r.error = error;
    }
    return r;
}

std::vector<std::pair<std::string, std::string>> ExpectationLines(
    const MasterOptions& o, const RunResult& r, const std::vector<TruthTable>& truth) {
    std::vector<std::pair<std::string, std::string>> kv;
    auto add = [&](const std::string& k, auto v) {
        std::ostringstream os;
        os << v;
        kv.push_back({k, os.str()});
    };
    add("complete", r.complete ? 1 : 0);
    add("seconds", r.seconds);
    add("securities", o.sim.securities);
    add("seed", o.sim.seed);
    add("packets", r.sim.packets);
    for (int t : {11, 12, 21, 22, 23, 24})
        add("packets.type." + std::to_string(t), r.sim.packetsOfType[t]);
    add("rounds.NQHQ", r.sim.nqhqRounds);
    add("rounds.NQHQ.close", r.sim.nqhqCloseRounds);
    add("rounds.NQXX", r.sim.nqxxRounds);
    add("rounds.NQZSXX", r.sim.nqzsxxRounds);
    add("rounds.NQXYXX.base", r.sim.baseRounds);
    add("rounds.NQXYXX.delta", r.sim.deltas);
    add("market.state", r.sim.lastState);
    add("market.time", r.sim.lastTime);
    for (const TruthTable& t : truth) {
        add(std::string("records.") + t.layout->table, t.images.size());
        size_t count = t.images.size();
        if (t.layout->kind == TableKind::Declaration) {
            // The station counts the active declarations and the special record.
            const size_t at = t.layout->fields[size_t(t.layout->statusField)].dbfOffset;
            count = 1;
            for (const std::string& image : t.images) count += image[at] == '1' ? 1 : 0;
        }
        add(std::string("count.") + t.layout->table, count);
    }
    for (int ch = 0; ch < kChannels; ++ch) {
        const ChannelStats& s = r.channels[ch];
        const std::string p = "channel." + std::to_string(Channels::ChannelId(ch)) + ".";
        add(p + "numbered", s.numbered);
        add(p + "datagrams", s.datagrams);
        add(p + "bytes", s.bytes);
        add(p + "dropped", s.dropped);
        add(p + "duplicated", s.duplicated);
        add(p + "reordered", s.reordered);
        add(p + "corrupt.checksum", s.corruptChecksum);
        add(p + "corrupt.length", s.corruptLength);
        add(p + "silenced", s.silenced);
        add(p + "send_errors", s.sendErrors);
        add(p + "last_seq", s.lastSeq);
        // What the station counts and logs while this channel is active.
        add(p + "expect.lost", s.view.lost);
        add(p + "expect.out_of_order", s.view.outOfOrder);
        add(p + "expect.loss_lines.single", s.view.singleLossLines);
        add(p + "expect.loss_lines.range", s.view.rangeLossLines);
        add(p + "expect.errors", s.corruptChecksum + s.corruptLength);
    }
    return kv;
}

bool WriteRunOutputs(const MasterOptions& o, const RunResult& r,
                     const std::vector<TruthTable>& truth, std::string* error) {
    if (!o.truthDir.empty()) {
        if (velk::util::EnsureDir(o.truthDir) != 0) {
            if (error) *error = "cannot create " + o.truthDir;
            return false;
        }
        for (const TruthTable& t : truth)
            if (!WriteTruthTable(o.truthDir, t, error)) return false;
        if (!WriteKeyValues(o.truthDir + "/expect.txt", ExpectationLines(o, r, truth))) {
            if (error) *error = "cannot write " + o.truthDir + "/expect.txt";
            return false;
        }
    }
    if (!o.roundLog.empty()) {
        std::ofstream out(o.roundLog, std::ios::trunc);
        for (const auto& [round, ns] : r.roundTimes) out << "round " << round << " " << ns << "\n";
        if (!out) {
            if (error) *error = "cannot write " + o.roundLog;
            return false;
        }
    }
    return true;
}

std::string SummaryText(const RunResult& r) {
    std::ostringstream os;
    os << "tavrel-master: " << (r.complete ? "finished" : "stopped") << " after " << r.seconds
       << " s, market " << Hms(r.sim.lastTime) << " state " << r.sim.lastState << "\n";
    os << "  packets " << r.sim.packets << " (" << r.sim.bytes << " bytes): system information "
       << r.sim.packetsOfType[11] << ", market state " << r.sim.packetsOfType[12] << ", NQXX "
       << r.sim.packetsOfType[21] << ", NQHQ " << r.sim.packetsOfType[22] << ", NQXYXX "
       << r.sim.packetsOfType[23] << ", NQZSXX " << r.sim.packetsOfType[24] << "\n";
    os << "  rounds: NQHQ " << r.sim.nqhqRounds << " (" << r.sim.nqhqCloseRounds
       << " after the close), NQXX " << r.sim.nqxxRounds << ", NQXYXX " << r.sim.baseRounds
       << " base + " << r.sim.deltas << " deltas, NQZSXX " << r.sim.nqzsxxRounds << "\n";
    for (int ch = 0; ch < kChannels; ++ch) {
        const ChannelStats& s = r.channels[ch];
        os << "  channel " << Channels::ChannelId(ch) << ": " << s.datagrams
           << " datagrams, seq 1.." << s.lastSeq << "; dropped " << s.dropped << ", duplicated "
           << s.duplicated << ", reordered " << s.reordered << ", corrupted "
           << s.corruptChecksum + s.corruptLength << ", silenced " << s.silenced << ", send errors "
           << s.sendErrors << "\n";
    }
    if (!r.error.empty()) os << "  error: " << r.error << "\n";
    return os.str();
}

int CompareTables(const std::string& truthDir, const std::string& tableDir, bool converged,
                  FILE* out) {
    std::string error;
    const std::vector<TruthTable> truth = ReadTruthDir(truthDir, &error);
    if (truth.empty()) {
        std::fprintf(out, "no truth in %s%s%s\n", truthDir.c_str(), error.empty() ? "" : ": ",
                     error.c_str());
        return 2;
    }
    int status = 0;
    for (const TruthTable& t : truth) {
        const TableComparison c =
            CompareWithDbf(t, tableDir + "/" + t.layout->table,
                           converged ? CompareMode::Converged : CompareMode::Exact);
        if (c.equal) {
            std::fprintf(out, "%-11s equal to the truth (%zu records)\n", t.layout->table,
                         c.tableRecords);
            continue;
        }
        status = 1;
        std::fprintf(out, "%-11s DIFFERS: %zu records, truth %zu, %zu records differ\n",
                     t.layout->table, c.tableRecords, c.truthRecords, c.differingRecords);
        for (const std::string& d : c.differences) std::fprintf(out, "    %s\n", d.c_str());
    }
    return status;
}

}  // namespace mastersim

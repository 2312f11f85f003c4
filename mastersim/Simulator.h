#pragma once
// The master station's schedule over a compressed trading day: system
// information and market states, NQXX.DBF rounds, NQHQ.DBF rounds with the
// close mark after the afternoon close, NQXYXX.DBF base rounds and deltas,
// and (for stations that ask) NQZSXX.DBF rounds, each turned into packets.
// It also keeps what the station should have written once it has taken
// every packet handed out so far (the truth).
#include <cstdint>
#include <memory>
#include <vector>

#include "mastersim/Market.h"
#include "mastersim/PacketEncoder.h"
#include "mastersim/Truth.h"

namespace mastersim {

// Market states and the opening hours the master station announces.
constexpr int kStateNotOpen = 10;
constexpr int kStateOrders = 20;
constexpr int kStateMorning = 30;
constexpr int kStateMorningClosed = 35;
constexpr int kStateAfternoon = 40;
constexpr int kStateAfternoonClosed = 50;
constexpr int kStateDone = 60;
int StateAt(int32_t hhmmss);

struct SimOptions {
    int securities = 8000;
    uint64_t seed = 1;
    double roundInterval = 3.0;   // NQHQ rounds, NQXYXX deltas, NQZSXX rounds; 0 = back to back
    double infoInterval = 15.0;   // NQXX rounds
    double baseInterval = 30.0;   // NQXYXX base rounds
    double statusInterval = 5.0;  // market state and system information
    double daySpeed = 180.0;      // market seconds per real second
    int32_t startTime = 90000;    // hhmmss of market time at the start
    int32_t endTime = 153000;     // the day is over at this market time
    int32_t tradingDate = 0;      // yyyymmdd; 0 = today
    bool zsxx = false;
    std::vector<uint8_t> encodings{0x00, 0x10, 0x20, 0x24, 0x25, 0x21, 0x15, 0x11};
    int zlibLevel = -1;  // zlib's default
    int32_t versionNewest = 20170213;
    int32_t versionMinimum = 20170213;
    // > 0: make this many NQHQ rounds once and send them in turn (for load
    // runs, where building every round would limit the rate).
    int replayRounds = 0;
    // The special record of an NQHQ.DBF round in a packet of its own, so the
    // round is complete on disk once the special record is.
    bool specialAlone = false;
};

struct OutPacket {
    Wire wire;
    int8_t type = 0;
    // On the last packet of an NQHQ.DBF round: the round's number.
    int64_t nqhqRound = 0;
};

struct SimStats {
    uint64_t packets = 0;
    uint64_t packetsOfType[128] = {};
    uint64_t bytes = 0;
    int64_t nqhqRounds = 0;
    int64_t nqhqCloseRounds = 0;  // rounds carrying the close mark
    int64_t nqxxRounds = 0;
    int64_t nqzsxxRounds = 0;
    int64_t baseRounds = 0;
    int64_t deltas = 0;
    int lastState = 0;
    int32_t lastTime = 0;
};

class Simulator {
  public:
    explicit Simulator(const SimOptions& options);
    ~Simulator();

    // Runs every event due `elapsed` real seconds after the start and
    // appends the packets it made. idle: the sender has nothing queued,
    // which is when back-to-back rounds are made.
    void advance(double elapsed, bool idle, std::vector<OutPacket>& out);
    // The end of a run: the market state, and a last complete round of
    // every table (two NQHQ.DBF rounds after the close mark at least, as the
    // station rewrites the whole table only once a whole round has arrived
    // after the mark).
    void finish(double elapsed, std::vector<OutPacket>& out);

    int32_t marketTime(double elapsed) const;  // hhmmss
    bool dayOver(double elapsed) const { return marketTime(elapsed) >= options_.endTime; }
    const SimStats& stats() const { return stats_; }
    const Market& market() const { return market_; }
    const SimOptions& options() const { return options_; }

    // What the station should hold after every packet handed out so far.
    std::vector<TruthTable> truth() const;

  private:
    struct Snapshot;
    void emit(int8_t type, const std::vector<Wire>& wires, std::vector<OutPacket>& out,
              int64_t nqhqRound = 0);
    void sendStatus(int32_t t, std::vector<OutPacket>& out);
    void sendInfoRound(double elapsed, std::vector<OutPacket>& out);
    void sendQuoteRound(int32_t t, std::vector<OutPacket>& out);
    void sendMakerRound(int32_t t, std::vector<OutPacket>& out);
    void sendBaseRound(int32_t t, std::vector<OutPacket>& out);
    void sendDelta(int32_t t, std::vector<OutPacket>& out);
    void sendDeclarationPart(int32_t t, int16_t mode, int32_t delta,
                             const std::vector<std::pair<int16_t, std::vector<uint8_t>>>& entries,
                             std::vector<OutPacket>& out);
    void buildReplayRounds(int32_t t);
    TruthTable snapshotTruth(const RecordLayout& l, const std::vector<uint8_t>& records) const;

    SimOptions options_;
    Market market_;
    PacketEncoder encoder_;
    EncodingMix mix_;
    RoundPacker packer_;
    SimStats stats_;

    double nextStatus_ = 0, nextInfo_ = 0, nextQuote_ = 0, nextMaker_ = 0, nextBase_ = 0,
           nextDelta_ = 0;
    int lastState_ = -1;
    int32_t round_ = 0;  // NQXYXX round number
    int32_t delta_ = 0;

    // The last round of each snapshot table, as binary records (record 0
    // first), formatted only when the truth is asked for.
    std::vector<uint8_t> lastQuote_, lastInfo_, lastMaker_;
    DeclarationTruth declarations_;
    bool declarationsSent_ = false;

    struct ReplayRound {
        std::vector<Wire> packets;     // every packet but the special record's
        std::vector<uint8_t> records;  // records 1..N, for the truth
    };
    std::vector<ReplayRound> replay_;
};

// Payload of the system information (type 11) and the market state
// (type 12), in the documented layouts.
std::vector<uint8_t> SystemInfoPayload(int32_t newest, int32_t minimum, int64_t marketTime);
std::vector<uint8_t> MarketStatePayload(int state);

}  // namespace mastersim

#include "mastersim/Simulator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/Clock.h"

namespace mastersim {

namespace {

constexpr size_t kQuoteEntry = 4 + 198;
constexpr size_t kInfoEntry = 4 + 186;
constexpr size_t kMakerEntry = 4 + 31;
constexpr size_t kDeclarationEntry = 4 + 2 + 38;
constexpr size_t kDeclarationHeader = 18;

// Operations of a delta entry.
constexpr int16_t kOpAdd = 1;
constexpr int16_t kOpWithdraw = 2;
constexpr int16_t kOpChange = 3;

bool OpenState(int s) {
    return s == kStateMorning || s == kStateAfternoon;
}
bool OrdersAllowed(int s) {
    return s >= kStateOrders && s <= kStateAfternoon;
}

int32_t Today() {
    const platform::WallTime now = platform::Now();
    return now.year * 10000 + now.month * 100 + now.day;
}

// Moves a periodic event on; true when it is due now.
bool Due(double& next, double interval, double elapsed) {
    if (elapsed < next) return false;
    next += interval;
    if (next <= elapsed) next = elapsed + interval;
    return true;
}

void PutEntry(uint8_t* at, int32_t recordNo) {
    PutLe32(at, uint32_t(recordNo));
}

}  // namespace

int StateAt(int32_t t) {
    if (t < 91500) return kStateNotOpen;
    if (t < 93000) return kStateOrders;
    if (t < 113000) return kStateMorning;
    if (t < 130000) return kStateMorningClosed;
    if (t < 150000) return kStateAfternoon;
    if (t < 153000) return kStateAfternoonClosed;
    return kStateDone;
}

std::vector<uint8_t> SystemInfoPayload(int32_t newest, int32_t minimum, int64_t marketTime) {
    std::vector<uint8_t> p(12);
    PutLe32(p.data(), uint32_t(newest));
    PutLe32(p.data() + 4, uint32_t(minimum));
    PutLe32(p.data() + 8, uint32_t(int32_t(marketTime)));
    return p;
}

std::vector<uint8_t> MarketStatePayload(int state) {
    const int16_t v[7] = {int16_t(state), 930, 1130, 1300, 1500, 0, 0};
    std::vector<uint8_t> p(14);
    for (int i = 0; i < 7; ++i) PutLe16(p.data() + 2 * i, uint16_t(v[i]));
    return p;
}

Simulator::Simulator(const SimOptions& options)
    : options_(options),
      market_(options.securities, options.seed,
              options.tradingDate != 0 ? options.tradingDate : Today()),
      encoder_(options.zlibLevel),
      mix_(options.encodings),
      packer_(encoder_, mix_),
      declarations_(NqxyxxLayout()) {
    if (options_.replayRounds > 0) options_.specialAlone = true;
}

Simulator::~Simulator() = default;

int32_t Simulator::marketTime(double elapsed) const {
    const double s = double(SecondsOfDay(options_.startTime)) + elapsed * options_.daySpeed;
    return HhmmssOf(int64_t(std::floor(s)));
}

void Simulator::emit(int8_t type, const std::vector<Wire>& wires, std::vector<OutPacket>& out,
                     int64_t nqhqRound) {
    for (size_t i = 0; i < wires.size(); ++i) {
        OutPacket p{wires[i], type, i + 1 == wires.size() ? nqhqRound : 0};
        stats_.packets += 1;
        stats_.packetsOfType[uint8_t(type) & 0x7F] += 1;
        stats_.bytes += wires[i]->size();
        out.push_back(std::move(p));
    }
}

void Simulator::advance(double elapsed, bool idle, std::vector<OutPacket>& out) {
    const int32_t t = marketTime(elapsed);
    const int state = StateAt(t);
    market_.step(t, OpenState(state), OrdersAllowed(state));
    stats_.lastTime = t;

    if (Due(nextStatus_, options_.statusInterval, elapsed) || state != lastState_)
        sendStatus(t, out);
    if (Due(nextInfo_, options_.infoInterval, elapsed)) sendInfoRound(elapsed, out);

    const double deltaInterval =
        options_.roundInterval > 0 ? options_.roundInterval : options_.statusInterval;
    if (!declarationsSent_ || Due(nextBase_, options_.baseInterval, elapsed)) {
        if (!declarationsSent_) nextBase_ = elapsed + options_.baseInterval;
        sendBaseRound(t, out);
        nextDelta_ = elapsed + deltaInterval;
    } else if (Due(nextDelta_, deltaInterval, elapsed)) {
        sendDelta(t, out);
    }

    const bool quoteDue =
        options_.roundInterval > 0 ? Due(nextQuote_, options_.roundInterval, elapsed) : idle;
    if (quoteDue) sendQuoteRound(t, out);
    if (options_.zsxx && Due(nextMaker_, deltaInterval, elapsed)) sendMakerRound(t, out);
}

void Simulator::finish(double elapsed, std::vector<OutPacket>& out) {
    const int32_t t = marketTime(elapsed);
    stats_.lastTime = t;
    sendStatus(t, out);
    sendInfoRound(elapsed, out);
    if (declarationsSent_) sendDelta(t, out);
    sendQuoteRound(t, out);
    if (stats_.nqhqCloseRounds == 1) sendQuoteRound(t, out);
    if (options_.zsxx) sendMakerRound(t, out);
}

void Simulator::sendStatus(int32_t t, std::vector<OutPacket>& out) {
    const int state = StateAt(t);
    lastState_ = state;
    stats_.lastState = state;
    const int32_t date = market_.tradingDate();
    const int64_t when = platform::FromLocal(date / 10000, date / 100 % 100, date % 100, t / 10000,
                                             t / 100 % 100, t % 100);
    const auto info = SystemInfoPayload(options_.versionNewest, options_.versionMinimum, when);
    const auto st = MarketStatePayload(state);
    emit(11, {encoder_.encode(11, mix_.next(), info.data(), info.size())}, out);
    emit(12, {encoder_.encode(12, mix_.next(), st.data(), st.size())}, out);
}

void Simulator::sendInfoRound(double elapsed, std::vector<OutPacket>& out) {
    const int n = market_.size();
    const double s = double(SecondsOfDay(options_.startTime)) + elapsed * options_.daySpeed;
    const int32_t t = marketTime(elapsed);
    const int32_t cc = int32_t(std::fmod(s, 1.0) * 100);
    std::vector<uint8_t> prefix(8, 0);
    PutLe32(prefix.data(), uint32_t(n + 1));
    std::vector<uint8_t> entries(size_t(n + 1) * kInfoEntry);
    lastInfo_.assign(size_t(n + 1) * 186, 0);
    for (int i = 0; i < n; ++i) {
        uint8_t* e = entries.data() + size_t(i) * kInfoEntry;
        PutEntry(e, i + 1);
        market_.infoRecord(i, e + 4);
        std::memcpy(lastInfo_.data() + size_t(i + 1) * 186, e + 4, 186);
    }
    uint8_t* special = entries.data() + size_t(n) * kInfoEntry;
    PutEntry(special, 0);
    market_.infoSpecial(t * 100 + std::clamp(cc, 0, 99), special + 4);
    std::memcpy(lastInfo_.data(), special + 4, 186);
    std::vector<Wire> wires;
    packer_.pack(21, prefix, entries.data(), kInfoEntry, size_t(n + 1), wires);
    emit(21, wires, out);
    ++stats_.nqxxRounds;
}

void Simulator::buildReplayRounds(int32_t t) {
    const int n = market_.size();
    std::vector<uint8_t> prefix(4);
    PutLe32(prefix.data(), uint32_t(n + 1));
    std::vector<uint8_t> entries(size_t(n) * kQuoteEntry);
    for (int r = 0; r < options_.replayRounds; ++r) {
        if (r > 0) market_.evolve(1.0, t, true, true);
        ReplayRound rr;
        rr.records.resize(size_t(n) * 198);
        for (int i = 0; i < n; ++i) {
            uint8_t* e = entries.data() + size_t(i) * kQuoteEntry;
            PutEntry(e, i + 1);
            market_.quoteRecord(i, e + 4);
            std::memcpy(rr.records.data() + size_t(i) * 198, e + 4, 198);
        }
        packer_.pack(22, prefix, entries.data(), kQuoteEntry, size_t(n), rr.packets);
        replay_.push_back(std::move(rr));
    }
}

void Simulator::sendQuoteRound(int32_t t, std::vector<OutPacket>& out) {
    const int n = market_.size();
    const int64_t round = ++stats_.nqhqRounds;
    const bool closeMark = StateAt(t) >= kStateAfternoonClosed;
    if (closeMark) ++stats_.nqhqCloseRounds;

    std::vector<uint8_t> prefix(4);
    PutLe32(prefix.data(), uint32_t(n + 1));
    uint8_t specialEntry[kQuoteEntry];
    PutEntry(specialEntry, 0);
    // The round number in the special record's volume lets a watcher tell
    // the rounds apart on disk; its last digit is the close mark.
    market_.quoteSpecial(t, round * 10 + (closeMark ? 1 : 0), specialEntry + 4);

    std::vector<Wire> wires;
    lastQuote_.resize(size_t(n + 1) * 198);
    std::memcpy(lastQuote_.data(), specialEntry + 4, 198);
    if (options_.replayRounds > 0) {
        if (replay_.empty()) buildReplayRounds(t);
        const ReplayRound& rr = replay_[size_t(round - 1) % replay_.size()];
        wires = rr.packets;
        std::memcpy(lastQuote_.data() + 198, rr.records.data(), rr.records.size());
    } else {
        std::vector<uint8_t> entries(size_t(n + 1) * kQuoteEntry);
        for (int i = 0; i < n; ++i) {
            uint8_t* e = entries.data() + size_t(i) * kQuoteEntry;
            PutEntry(e, i + 1);
            market_.quoteRecord(i, e + 4);
            std::memcpy(lastQuote_.data() + size_t(i + 1) * 198, e + 4, 198);
        }
        if (options_.specialAlone) {
            packer_.pack(22, prefix, entries.data(), kQuoteEntry, size_t(n), wires);
        } else {
            // The special record ends the round, after the last security.
            std::memcpy(entries.data() + size_t(n) * kQuoteEntry, specialEntry, kQuoteEntry);
            packer_.pack(22, prefix, entries.data(), kQuoteEntry, size_t(n + 1), wires);
        }
    }
    if (options_.specialAlone) packer_.pack(22, prefix, specialEntry, kQuoteEntry, 1, wires);
    emit(22, wires, out, round);
}

void Simulator::sendMakerRound(int32_t t, std::vector<OutPacket>& out) {
    const int n = market_.makerQuoteCount();
    std::vector<uint8_t> prefix(8, 0);
    PutLe32(prefix.data(), uint32_t(n + 1));
    std::vector<uint8_t> entries(size_t(n + 1) * kMakerEntry);
    lastMaker_.assign(size_t(n + 1) * 31, 0);
    for (int k = 0; k < n; ++k) {
        uint8_t* e = entries.data() + size_t(k) * kMakerEntry;
        PutEntry(e, k + 1);
        market_.makerQuoteRecord(k, e + 4);
        std::memcpy(lastMaker_.data() + size_t(k + 1) * 31, e + 4, 31);
    }
    uint8_t* special = entries.data() + size_t(n) * kMakerEntry;
    PutEntry(special, 0);
    market_.makerSpecial(t, special + 4);
    std::memcpy(lastMaker_.data(), special + 4, 31);
    std::vector<Wire> wires;
    packer_.pack(24, prefix, entries.data(), kMakerEntry, size_t(n + 1), wires);
    emit(24, wires, out);
    ++stats_.nqzsxxRounds;
}

void Simulator::sendBaseRound(int32_t t, std::vector<OutPacket>& out) {
    ++round_;
    delta_ = 0;
    declarationsSent_ = true;
    declarations_.beginBase();
    std::vector<std::pair<int16_t, std::vector<uint8_t>>> entries;
    std::vector<uint8_t> rec(38);
    Market::declarationSpecial(t, rec.data());
    entries.push_back({0, rec});
    for (const auto& [key, d] : market_.activeDeclarations()) {
        market_.declarationRecord(d, '1', rec.data());
        entries.push_back({0, rec});
    }
    sendDeclarationPart(t, 0, 0, entries, out);
    ++stats_.baseRounds;
}

void Simulator::sendDelta(int32_t t, std::vector<OutPacket>& out) {
    ++delta_;
    std::vector<std::pair<int16_t, std::vector<uint8_t>>> entries;
    std::vector<uint8_t> rec(38);
    Market::declarationSpecial(t, rec.data());
    entries.push_back({0, rec});
    for (const Market::DeclarationChange& c : market_.moveDeclarations(t)) {
        const bool withdraw = c.kind == Market::DeclarationChange::Withdraw;
        market_.declarationRecord(c.declaration, withdraw ? '0' : '1', rec.data());
        entries.push_back({withdraw                                   ? kOpWithdraw
                           : c.kind == Market::DeclarationChange::Add ? kOpAdd
                                                                      : kOpChange,
                           rec});
    }
    sendDeclarationPart(t, 1, delta_, entries, out);
    ++stats_.deltas;
}

void Simulator::sendDeclarationPart(
    int32_t, int16_t mode, int32_t delta,
    const std::vector<std::pair<int16_t, std::vector<uint8_t>>>& entries,
    std::vector<OutPacket>& out) {
    std::vector<uint8_t> prefix(kDeclarationHeader, 0);
    PutLe32(prefix.data(), uint32_t(entries.size()));
    PutLe16(prefix.data() + 8, uint16_t(mode));
    PutLe32(prefix.data() + 10, uint32_t(round_));
    PutLe32(prefix.data() + 14, uint32_t(delta));
    std::vector<uint8_t> bytes(entries.size() * kDeclarationEntry);
    for (size_t i = 0; i < entries.size(); ++i) {
        uint8_t* e = bytes.data() + i * kDeclarationEntry;
        PutLe32(e, uint32_t(i));  // 0: the special record
        PutLe16(e + 4, uint16_t(entries[i].first));
        std::memcpy(e + 6, entries[i].second.data(), 38);
        declarations_.apply(entries[i].second.data(), i == 0, mode != 0, entries[i].first);
    }
    std::vector<Wire> wires;
    packer_.pack(23, prefix, bytes.data(), kDeclarationEntry, entries.size(), wires);
    emit(23, wires, out);
}

TruthTable Simulator::snapshotTruth(const RecordLayout& l,
                                    const std::vector<uint8_t>& records) const {
    TruthTable t{&l, {}};
    const size_t n = records.size() / l.recordSize;
    t.images.reserve(n);
    for (size_t i = 0; i < n; ++i)
        t.images.push_back(FormatImage(l, records.data() + i * l.recordSize, i == 0));
    return t;
}

std::vector<TruthTable> Simulator::truth() const {
    std::vector<TruthTable> tables;
    if (!lastQuote_.empty()) tables.push_back(snapshotTruth(NqhqLayout(), lastQuote_));
    if (!lastInfo_.empty()) tables.push_back(snapshotTruth(NqxxLayout(), lastInfo_));
    if (!lastMaker_.empty()) tables.push_back(snapshotTruth(NqzsxxLayout(), lastMaker_));
    if (declarationsSent_) tables.push_back(declarations_.table());
    return tables;
}

}  // namespace mastersim

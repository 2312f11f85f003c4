#include "mastersim/Simulator.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "controller/DecodePacket.h"
#include "mastersim/Channels.h"
#include "platform/Clock.h"

namespace mastersim {
namespace {

// A packet as the station sees it after decoding (its own decoder).
struct Decoded {
    int8_t type;
    std::vector<uint8_t> payload;
    int64_t nqhqRound;
};

class Decoder {
  public:
    Decoder() { ctx_.createChannels(); }
    Decoded operator()(const OutPacket& p) {
        std::vector<uint8_t> bytes = *p.wire;
        SetChannelAndSeq(bytes.data(), kPrimaryChannel, seq_++);
        Packet::Ptr packet = Packet::FromBytes(bytes.data(), bytes.size());
        EXPECT_TRUE(packet);
        EXPECT_EQ(DecodePacket(ctx_, *packet), 0);
        return {packet->type(),
                std::vector<uint8_t>(packet->payload(), packet->payload() + packet->payloadLen()),
                p.nqhqRound};
    }

  private:
    DecodeContext ctx_;
    uint32_t seq_ = 1;
};

std::vector<Decoded> RunDay(const SimOptions& o, double until, double step, Simulator& sim,
                            bool finish = true) {
    std::vector<OutPacket> out;
    for (double t = 0; t <= until; t += step) sim.advance(t, true, out);
    if (finish) sim.finish(until, out);
    Decoder decode;
    std::vector<Decoded> all;
    for (const OutPacket& p : out) all.push_back(decode(p));
    (void)o;
    return all;
}

int16_t Le16s(const uint8_t* p) {
    return int16_t(GetLe16(p));
}
int32_t Le32s(const uint8_t* p) {
    return int32_t(GetLe32(p));
}

SimOptions SmallDay() {
    SimOptions o;
    o.securities = 60;
    o.seed = 4;
    o.roundInterval = 2;
    o.infoInterval = 10;
    o.baseInterval = 20;
    o.statusInterval = 5;
    o.daySpeed = 180;
    o.tradingDate = 20170213;
    return o;
}

TEST(SimulatorTest, ATradingDayWalksThroughEveryMarketState) {
    SimOptions o = SmallDay();
    Simulator sim(o);
    const auto packets = RunDay(o, 131, 0.5, sim);
    std::vector<int> states;
    int infos = 0;
    for (const Decoded& d : packets) {
        if (d.type == 12) {
            ASSERT_EQ(d.payload.size(), 14u);
            const int state = Le16s(d.payload.data());
            if (states.empty() || states.back() != state) states.push_back(state);
            EXPECT_EQ(Le16s(d.payload.data() + 2), 930);
            EXPECT_EQ(Le16s(d.payload.data() + 4), 1130);
            EXPECT_EQ(Le16s(d.payload.data() + 6), 1300);
            EXPECT_EQ(Le16s(d.payload.data() + 8), 1500);
            EXPECT_EQ(Le16s(d.payload.data() + 10), 0);
        } else if (d.type == 11) {
            ASSERT_EQ(d.payload.size(), 12u);
            EXPECT_EQ(Le32s(d.payload.data()), 20170213);
            EXPECT_EQ(Le32s(d.payload.data() + 4), 20170213);
            const int64_t when = Le32s(d.payload.data() + 8);
            EXPECT_GE(when, platform::FromLocal(2017, 2, 13, 9, 0, 0));
            EXPECT_LE(when, platform::FromLocal(2017, 2, 13, 16, 0, 0));
            ++infos;
        }
    }
    EXPECT_EQ(states, (std::vector<int>{10, 20, 30, 35, 40, 50, 60}));
    EXPECT_GT(infos, 20);
    EXPECT_EQ(sim.stats().lastState, 60);
    EXPECT_TRUE(sim.dayOver(131));
}

TEST(SimulatorTest, QuoteRoundsEndWithTheSpecialRecordAndTheCloseMarkAfterTheClose) {
    SimOptions o = SmallDay();
    Simulator sim(o);
    const auto packets = RunDay(o, 131, 0.5, sim);
    const FieldLayout& volume = NqhqLayout().field("HQCJSL");
    const FieldLayout& time = NqhqLayout().field("HQCJBS");
    std::set<int32_t> seen;
    int rounds = 0, closeRounds = 0;
    int32_t lastTime = 0;
    std::vector<uint8_t> special;
    for (const Decoded& d : packets) {
        if (d.type != 22) continue;
        ASSERT_EQ((d.payload.size() - 4) % 202, 0u);
        ASSERT_EQ(Le32s(d.payload.data()), o.securities + 1);
        for (size_t at = 4; at < d.payload.size(); at += 202) {
            const int32_t recordNo = Le32s(d.payload.data() + at);
            const uint8_t* rec = d.payload.data() + at + 4;
            ASSERT_GE(recordNo, 0);
            ASSERT_LE(recordNo, o.securities);
            if (recordNo != 0) {
                EXPECT_TRUE(seen.insert(recordNo).second)
                    << "record " << recordNo << " twice in a round";
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec), 6),
                          sim.market().security(recordNo - 1).code);
                continue;
            }
            // The special record closes the round: every security came before it.
            EXPECT_EQ(seen.size(), size_t(o.securities));
            EXPECT_EQ(at + 202, d.payload.size());
            EXPECT_GT(d.nqhqRound, 0);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec), 6), "000000");
            const int32_t t = int32_t(ReadNumber(time, rec));
            const int64_t mark = ReadNumber(volume, rec);
            EXPECT_GE(t, lastTime);
            lastTime = t;
            ++rounds;
            EXPECT_EQ(mark / 10, rounds);
            EXPECT_EQ(mark % 10 == 1, t >= 150000) << t;
            closeRounds += mark % 10 == 1 ? 1 : 0;
            seen.clear();
            special.assign(rec, rec + 198);
        }
    }
    EXPECT_EQ(rounds, sim.stats().nqhqRounds);
    EXPECT_GE(closeRounds, 2);
    // The truth's NQHQ.DBF is the last round, special record first.
    const auto truth = sim.truth();
    ASSERT_EQ(truth[0].layout, &NqhqLayout());
    ASSERT_EQ(truth[0].images.size(), size_t(o.securities + 1));
    EXPECT_EQ(truth[0].images[0], FormatImage(NqhqLayout(), special.data(), true));
}

TEST(SimulatorTest, DeclarationPartsAnnounceTheirSizeAndCarryTheSpecialRecordFirst) {
    SimOptions o = SmallDay();
    o.securities = 400;
    o.roundInterval = 0.5;
    Simulator sim(o);
    const auto packets = RunDay(o, 60, 0.25, sim);
    struct Part {
        int32_t total = 0;
        int32_t received = 0;
        int16_t mode = 0;
    };
    std::map<std::pair<int32_t, int32_t>, Part> parts;
    std::map<std::string, char> status;  // key -> status as the station keeps it
    int32_t lastRound = 0;
    for (const Decoded& d : packets) {
        if (d.type != 23) continue;
        ASSERT_GE(d.payload.size(), 18u);
        ASSERT_EQ((d.payload.size() - 18) % 44, 0u);
        const int32_t total = Le32s(d.payload.data());
        const int16_t mode = Le16s(d.payload.data() + 8);
        const int32_t round = Le32s(d.payload.data() + 10);
        const int32_t delta = Le32s(d.payload.data() + 14);
        EXPECT_GE(round, lastRound);
        lastRound = round;
        EXPECT_EQ(mode == 0, delta == 0);
        Part& part = parts[{round, delta}];
        if (part.received == 0) {
            part.total = total;
            part.mode = mode;
            if (mode == 0)
                for (auto& [k, s] : status) s = '0';
        }
        EXPECT_EQ(part.total, total);
        for (size_t at = 18; at < d.payload.size(); at += 44) {
            const int32_t entryNo = Le32s(d.payload.data() + at);
            const int16_t op = Le16s(d.payload.data() + at + 4);
            const std::string rec(reinterpret_cast<const char*>(d.payload.data() + at + 6), 38);
            if (part.received == 0) {
                EXPECT_EQ(entryNo, 0);
                EXPECT_EQ(rec.substr(0, 6), "000000");
                EXPECT_EQ(rec[36], ' ');
            } else {
                EXPECT_NE(entryNo, 0);
                EXPECT_NE(rec.substr(0, 6), "000000");
                const std::string key =
                    rec.substr(0, 6) + "/" +
                    std::to_string(Le32s(reinterpret_cast<const uint8_t*>(rec.data()) + 26));
                status[key] = mode == 0 ? rec[36] : (op == 2 ? '0' : '1');
            }
            ++part.received;
        }
    }
    ASSERT_GE(parts.size(), 10u);
    int bases = 0;
    for (const auto& [id, part] : parts) {
        EXPECT_EQ(part.received, part.total) << "round " << id.first << " delta " << id.second;
        bases += part.mode == 0 ? 1 : 0;
    }
    EXPECT_EQ(bases, sim.stats().baseRounds);
    EXPECT_GE(bases, 3);
    // The truth holds every declaration ever sent, active ones with "1".
    const auto truth = sim.truth();
    const TruthTable& xy = truth.back();
    ASSERT_EQ(xy.layout, &NqxyxxLayout());
    ASSERT_EQ(xy.images.size(), status.size() + 1);
    size_t active = 0;
    for (size_t r = 1; r < xy.images.size(); ++r) {
        const std::string key =
            xy.images[r].substr(1, 6) + "/" + std::to_string(std::stoi(xy.images[r].substr(36, 8)));
        ASSERT_EQ(status.count(key), 1u) << key;
        EXPECT_EQ(xy.images[r][50], status[key]) << key;
        active += status[key] == '1';
    }
    EXPECT_EQ(active, sim.market().activeDeclarations().size());
}

TEST(SimulatorTest, ReplayedRoundsCycleAndSendTheSpecialRecordAlone) {
    SimOptions o = SmallDay();
    o.securities = 500;
    o.roundInterval = 0;
    o.replayRounds = 3;
    o.encodings = {0x25};
    o.startTime = 100000;
    o.daySpeed = 1;
    Simulator sim(o);
    std::vector<OutPacket> out;
    for (int i = 0; i < 7; ++i) sim.advance(0.001 * i, true, out);
    Decoder decode;
    std::vector<std::vector<uint8_t>> roundBodies(1);
    int64_t round = 0;
    for (const OutPacket& p : out) {
        if (p.type != 22) continue;
        const Decoded d = decode(p);
        if (p.nqhqRound > 0) {
            EXPECT_EQ(p.nqhqRound, ++round);
            ASSERT_EQ(d.payload.size(), 4u + 202u);  // the special record alone
            EXPECT_EQ(Le32s(d.payload.data() + 4), 0);
            roundBodies.emplace_back();
        } else {
            roundBodies.back().insert(roundBodies.back().end(), d.payload.begin() + 4,
                                      d.payload.end());
        }
    }
    ASSERT_EQ(round, 7);
    roundBodies.pop_back();
    ASSERT_EQ(roundBodies.size(), 7u);
    EXPECT_NE(roundBodies[0], roundBodies[1]);
    EXPECT_EQ(roundBodies[0], roundBodies[3]);
    EXPECT_EQ(roundBodies[0], roundBodies[6]);
    // The truth follows the round sent last (the first of the cycle).
    const auto truth = sim.truth();
    for (int i = 0; i < o.securities; ++i)
        ASSERT_EQ(truth[0].images[size_t(i + 1)],
                  FormatImage(NqhqLayout(), roundBodies[6].data() + size_t(i) * 202 + 4, false));
}

TEST(SimulatorTest, MarketMakingRoundsOnlyWhenAsked) {
    for (bool zsxx : {false, true}) {
        SimOptions o = SmallDay();
        o.securities = 300;
        o.zsxx = zsxx;
        Simulator sim(o);
        const auto packets = RunDay(o, 10, 0.5, sim);
        size_t entries = 0;
        for (const Decoded& d : packets) {
            if (d.type != 24) continue;
            ASSERT_EQ((d.payload.size() - 8) % 35, 0u);
            EXPECT_EQ(Le32s(d.payload.data()), sim.market().makerQuoteCount() + 1);
            entries += (d.payload.size() - 8) / 35;
        }
        EXPECT_EQ(entries > 0, zsxx);
        EXPECT_EQ(entries,
                  size_t(sim.stats().nqzsxxRounds) * size_t(sim.market().makerQuoteCount() + 1));
    }
}

}  // namespace
}  // namespace mastersim

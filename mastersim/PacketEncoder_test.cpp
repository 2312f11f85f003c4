#include "mastersim/PacketEncoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "controller/DecodePacket.h"
#include "mastersim/Channels.h"
#include "mastersim/Rng.h"

namespace mastersim {
namespace {

std::vector<uint8_t> QuoteLikeBytes(size_t n, uint64_t seed) {
    // Records of mostly spaces, digits and small integers compress as
    // real quote payloads do.
    Rng rng(seed);
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = i % 7 == 0 ? uint8_t(rng.below(256)) : uint8_t(i % 202 < 14 ? ' ' : 0);
    return v;
}

// Decodes the packet with the station's own decoder, as channel 2000011.
int Decode(const std::vector<uint8_t>& wire, uint32_t seq, std::vector<uint8_t>& payload,
           DecodeContext& ctx) {
    std::vector<uint8_t> bytes = wire;
    SetChannelAndSeq(bytes.data(), kPrimaryChannel, seq);
    Packet::Ptr p = Packet::FromBytes(bytes.data(), bytes.size());
    if (!p) return -1000;
    const int rc = DecodePacket(ctx, *p);
    if (rc == 0) payload.assign(p->payload(), p->payload() + p->payloadLen());
    return rc;
}

TEST(PacketEncoderTest, EveryEncodingFollowsTheHeaderRulesAndDecodes) {
    DecodeContext ctx;
    ctx.createChannels();
    PacketEncoder enc;
    uint32_t seq = 1;
    for (uint8_t flags : {0x00, 0x10, 0x20, 0x04, 0x14, 0x24, 0x01, 0x11, 0x21, 0x05, 0x15, 0x25}) {
        for (size_t n : {size_t(0), size_t(7), size_t(16), size_t(1000), size_t(8160)}) {
            SCOPED_TRACE("flags " + std::to_string(flags) + " length " + std::to_string(n));
            const std::vector<uint8_t> plain = QuoteLikeBytes(n, n + flags);
            const Wire w = enc.encode(22, flags, plain.data(), plain.size());
            ASSERT_NE(w, nullptr);
            const Header h = ReadHeader(w->data());
            EXPECT_EQ(h.type, 22);
            EXPECT_EQ(h.flags, flags);
            EXPECT_EQ(w->size(), kHeaderSize + h.payloadLen);
            EXPECT_LE(h.payloadLen, kMaxPayload);
            EXPECT_EQ(h.origLen, n);
            if (flags & kRc6) {
                EXPECT_EQ(h.payloadLen % 16, 0);
                EXPECT_EQ(h.payloadLen, (h.plainLen + 15) / 16 * 16);
            } else {
                EXPECT_EQ(h.payloadLen, h.plainLen);
            }
            if (!(flags & kZlib)) {
                EXPECT_EQ(h.plainLen, n);
            }
            const uint8_t* payload = w->data() + kHeaderSize;
            uint32_t checksum = 0;
            if (flags & kCrc32) checksum = uint32_t(crc32(0, payload, h.payloadLen));
            if (flags & kAdler32) checksum = uint32_t(adler32(1, payload, h.payloadLen));
            EXPECT_EQ(h.checksum, checksum);
            if (flags & kZlib && !(flags & kRc6)) {
                std::vector<uint8_t> out(kMaxInflated);
                uLongf len = out.size();
                ASSERT_EQ(uncompress(out.data(), &len, payload, h.payloadLen), Z_OK);
                EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + long(len)), plain);
            }
            std::vector<uint8_t> decoded;
            ASSERT_EQ(Decode(*w, seq++, decoded, ctx), 0);
            EXPECT_EQ(decoded, plain);
        }
    }
    EXPECT_EQ(ctx.errorPackets.get(), 0);
    EXPECT_EQ(ctx.lostPackets.get(), 0);
}

TEST(PacketEncoderTest, RefusesWhatDoesNotFit) {
    PacketEncoder enc;
    const std::vector<uint8_t> big(kMaxInflated + 1, 0);
    EXPECT_EQ(enc.encode(22, 0x00, big.data(), kMaxPayload + 1), nullptr);
    EXPECT_EQ(enc.encode(22, 0x04, big.data(), kMaxPayload + 1), nullptr);
    EXPECT_EQ(enc.encode(22, 0x01, big.data(), kMaxInflated + 1), nullptr);
    // Random bytes do not shrink: a full inflated buffer cannot be sent.
    Rng rng(1);
    std::vector<uint8_t> noise(kMaxInflated);
    for (auto& b : noise) b = uint8_t(rng.next());
    EXPECT_EQ(enc.encode(22, 0x01, noise.data(), noise.size()), nullptr);
    EXPECT_FALSE(ValidEncoding(0x02));
    EXPECT_FALSE(ValidEncoding(0x08));
    EXPECT_FALSE(ValidEncoding(0x30));
    EXPECT_FALSE(ValidEncoding(0x40));
    EXPECT_TRUE(ValidEncoding(0x25));
}

TEST(RoundPackerTest, FillsPacketsAndKeepsEveryEntryInOrder) {
    DecodeContext ctx;
    ctx.createChannels();
    PacketEncoder enc;
    uint32_t seq = 1;
    for (const std::vector<uint8_t>& mix : {std::vector<uint8_t>{0x00}, std::vector<uint8_t>{0x25},
                                            std::vector<uint8_t>{0x00, 0x15, 0x24, 0x01}}) {
        EncodingMix m(mix);
        RoundPacker packer(enc, m);
        const size_t entry = 202, count = 3001;
        std::vector<uint8_t> entries = QuoteLikeBytes(entry * count, 3);
        for (size_t i = 0; i < count; ++i) PutLe32(entries.data() + i * entry, uint32_t(i + 1));
        const std::vector<uint8_t> prefix{0xB9, 0x0B, 0, 0};
        std::vector<Wire> wires;
        const int packets = packer.pack(22, prefix, entries.data(), entry, count, wires);
        ASSERT_EQ(packets, int(wires.size()));
        std::vector<uint8_t> joined;
        size_t inflatedPastLimit = 0;
        for (size_t k = 0; k < wires.size(); ++k) {
            ASSERT_LE(wires[k]->size(), kHeaderSize + kMaxPayload);
            const Header h = ReadHeader(wires[k]->data());
            if (h.origLen > kMaxPayload) ++inflatedPastLimit;
            std::vector<uint8_t> payload;
            ASSERT_EQ(Decode(*wires[k], seq++, payload, ctx), 0);
            ASSERT_EQ(std::vector<uint8_t>(payload.begin(), payload.begin() + 4), prefix);
            ASSERT_EQ((payload.size() - 4) % entry, 0u);
            // Every packet but the last is full: no room for another entry.
            if (k + 1 < wires.size() && !(h.flags & kZlib)) {
                EXPECT_GT(payload.size() + entry, kMaxPayload);
            }
            joined.insert(joined.end(), payload.begin() + 4, payload.end());
        }
        EXPECT_EQ(joined, entries);
        if (mix == std::vector<uint8_t>{0x25}) {
            // Compressed packets carry far more than one plain packet's worth.
            EXPECT_GE(inflatedPastLimit + 1, wires.size());
            EXPECT_LT(wires.size(), count * entry / kMaxPayload / 2);
        }
    }
}

}  // namespace
}  // namespace mastersim

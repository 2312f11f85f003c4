#include "controller/DecodePacket.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "controller/PacketTypes.h"
#include "platform/Clock.h"
#include "tests/support/TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr const char* kModule = "RcvController";

void Put16(Bytes& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// Quote-like text: compresses about three to one.
Bytes Payload(size_t n, uint32_t seed = 1) {
    Bytes out(n);
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245 + 12345;
        out[i] = (i % 16 < 6) ? uint8_t('0' + (x >> 16) % 10) : uint8_t(" 000123.45"[i % 10]);
    }
    return out;
}

Bytes Deflate(const Bytes& plain) {
    uLongf size = compressBound(uLong(plain.size()));
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, plain.data(), uLong(plain.size()), 6), Z_OK);
    out.resize(size);
    return out;
}

// A packet on the wire as the master station sends it: compressed, then
// enciphered, then the checksum over what is sent. The header is written out
// byte by byte here, not through Packet.
struct Wire {
    uint32_t channelId = kPrimaryChannelId;
    uint32_t seqNo = 0;
    int8_t type = PacketType::kSecurityQuotes;
    uint8_t flags = 0;
    std::string key = kDefaultChannelKey;

    Bytes encode(const Bytes& plain) const {
        Bytes body = (flags & Packet::kCompressMask) == Packet::kZlib ? Deflate(plain) : plain;
        const size_t plainLen = body.size();
        if ((flags & Packet::kEncryptMask) == Packet::kRc6) {
            body.resize((plainLen + 15) / 16 * 16, 0);
            EXPECT_EQ(EncryptPayload(body.data(), body.size(), plainLen, key), int(body.size()));
        }
        uint32_t sum = 0;
        if ((flags & Packet::kChecksumMask) == Packet::kCrc32)
            sum = uint32_t(crc32(0, body.data(), uInt(body.size())));
        if ((flags & Packet::kChecksumMask) == Packet::kAdler32)
            sum = uint32_t(adler32(1, body.data(), uInt(body.size())));
        Bytes wire(20);
        Put32(wire, 0, channelId);
        Put32(wire, 4, seqNo);
        wire[8] = uint8_t(type);
        wire[9] = flags;
        Put16(wire, 10, uint32_t(body.size()));
        Put16(wire, 12, uint32_t(plainLen));
        Put16(wire, 14, uint32_t(plain.size()));
        Put32(wire, 16, sum);
        wire.insert(wire.end(), body.begin(), body.end());
        return wire;
    }
};

Packet::Ptr Make(const Bytes& wire) {
    Packet::Ptr p = Packet::FromBytes(wire.data(), wire.size());
    EXPECT_TRUE(p);
    return p;
}

Packet::Ptr Numbered(uint32_t seq, uint32_t channel = kPrimaryChannelId, uint8_t flags = 0) {
    Wire w;
    w.channelId = channel;
    w.seqNo = seq;
    w.flags = flags;
    return Make(w.encode(Payload(40)));
}

Bytes PayloadOf(const Packet& p) {
    return Bytes(p.payload(), p.payload() + p.payloadLen());
}

class DecodeTest : public testing::Test {
  protected:
    DecodeTest() { context.createChannels(); }

    int decode(const Packet::Ptr& p) { return DecodePacket(context, *p); }
    int decode(const Bytes& wire) { return decode(Make(wire)); }
    ChannelState& primary() { return *context.findChannel(kPrimaryChannelId); }
    ChannelState& backup() { return *context.findChannel(kBackupChannelId); }
    int errors(const std::string& text) { return log.count(text, kModule, velk::LevelError); }

    platform::ScopedFakeClock clock;
    testsupport::CaptureAppender log;
    DecodeContext context;
};

// Every method combination, with payload lengths around the block size and up
// to the largest packet and the largest inflated payload, comes back intact.
TEST_F(DecodeTest, EveryMethodCombinationRoundTrips) {
    const uint8_t checksums[] = {0, Packet::kCrc32, Packet::kAdler32};
    const uint8_t ciphers[] = {0, Packet::kRc6};
    const uint8_t compressions[] = {0, Packet::kZlib};
    const size_t lengths[] = {0, 1, 7, 15, 16, 17, 100, 8144, 8160, 24540};
    for (uint8_t sum : checksums) {
        for (uint8_t cipher : ciphers) {
            for (uint8_t zip : compressions) {
                for (size_t n : lengths) {
                    const uint8_t flags = uint8_t(sum | cipher | zip | Packet::kStationMark);
                    Wire w;
                    w.flags = flags;
                    const Bytes plain = Payload(n, uint32_t(n));
                    const Bytes wire = w.encode(plain);
                    if (wire.size() > Packet::kMaxSize) continue;  // cannot be sent
                    SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << int(flags)
                                                    << std::dec << " length " << n);
                    Packet::Ptr p = Make(wire);
                    ASSERT_EQ(decode(p), kDecodeOk) << log.dump();
                    EXPECT_EQ(PayloadOf(*p), plain);
                    EXPECT_EQ(p->flags(), flags & ~(Packet::kEncryptMask | Packet::kCompressMask));
                    EXPECT_EQ(p->plainLen(), n);
                    EXPECT_EQ(p->origLen(), n);
                }
            }
        }
    }
    EXPECT_EQ(context.errorPackets.get(), 0);
    EXPECT_EQ(log.events().size(), 0u) << log.dump();
}

TEST_F(DecodeTest, BookkeepingForEveryPacket) {
    clock.setTick(123456);
    Wire w;
    w.type = PacketType::kMarketState;
    const Bytes wire = w.encode(Payload(30));
    ASSERT_EQ(decode(wire), kDecodeOk);
    EXPECT_EQ(context.packetsReceived.get(), 1);
    EXPECT_EQ(context.bytesReceived.get(), 50);
    EXPECT_EQ(context.lastChannelId.get(), kPrimaryChannelId);
    EXPECT_EQ(context.lastType.get(), PacketType::kMarketState);
    EXPECT_EQ(context.lastRecvTick.get(), 123456u);
    EXPECT_EQ(primary().lastRecvTick, 123456u);

    // A bad packet is counted the same way.
    clock.advance(5);
    w.channelId = 7;
    w.type = -3;
    EXPECT_EQ(decode(w.encode(Payload(10))), kDecodeBadPacket);
    EXPECT_EQ(context.packetsReceived.get(), 2);
    EXPECT_EQ(context.bytesReceived.get(), 80);
    EXPECT_EQ(context.lastChannelId.get(), 7u);
    EXPECT_EQ(context.lastType.get(), -3);
    EXPECT_EQ(context.lastRecvTick.get(), 123461u);
}

TEST_F(DecodeTest, UnnumberedPacketIsNeverTrackedAndExpectsOneNext) {
    ASSERT_EQ(decode(Numbered(0)), kDecodeOk);
    EXPECT_EQ(primary().nextSeq, 1u);
    primary().nextSeq = 40;
    ASSERT_EQ(decode(Numbered(0)), kDecodeOk);
    EXPECT_EQ(primary().nextSeq, 1u);
    EXPECT_EQ(log.events().size(), 0u) << log.dump();
    EXPECT_EQ(context.lostPackets.get(), 0);
    EXPECT_EQ(context.outOfOrderPackets.get(), 0);
}

TEST_F(DecodeTest, LatePacketMovesTheExpectedNumberBackwards) {
    for (uint32_t seq : {10u, 11u}) ASSERT_EQ(decode(Numbered(seq)), kDecodeOk);
    EXPECT_EQ(log.events().size(), 0u) << log.dump();

    ASSERT_EQ(decode(Numbered(5)), kDecodeOk);
    EXPECT_EQ(
        log.count("乱序（信道 2000011）：应收序号 12，收到序号 5 ！", kModule, velk::LevelInfo), 1)
        << log.dump();
    EXPECT_EQ(context.outOfOrderPackets.get(), 1);
    EXPECT_EQ(primary().nextSeq, 6u);

    ASSERT_EQ(decode(Numbered(12)), kDecodeOk);
    EXPECT_EQ(log.count("丢包（信道 2000011）：序号 6 至 11 的包丢失！", kModule, velk::LevelInfo),
              1)
        << log.dump();
    EXPECT_EQ(context.lostPackets.get(), 6);

    ASSERT_EQ(decode(Numbered(14)), kDecodeOk);
    EXPECT_EQ(log.count("丢包（信道 2000011）：序号 13 的包丢失！", kModule, velk::LevelInfo), 1)
        << log.dump();
    EXPECT_EQ(context.lostPackets.get(), 7);
    EXPECT_EQ(context.errorPackets.get(), 0);
    EXPECT_EQ(primary().nextSeq, 15u);
}

// Sequence tracking comes before the other checks: a packet that turns out
// bad still moves the expected number on and is not reported lost later.
TEST_F(DecodeTest, BadPacketStillMovesTheSequenceOn) {
    ASSERT_EQ(decode(Numbered(1)), kDecodeOk);
    Bytes wire = Wire{kPrimaryChannelId, 2, 22, Packet::kCrc32}.encode(Payload(40));
    wire[30] ^= 1;
    EXPECT_EQ(decode(wire), kDecodeBadPacket);
    ASSERT_EQ(decode(Numbered(3)), kDecodeOk);
    EXPECT_EQ(context.lostPackets.get(), 0);
    EXPECT_EQ(primary().nextSeq, 4u);
}

TEST_F(DecodeTest, BackupPacketWhilePrimaryActiveIsDroppedSilentlyButKeepsBackupAlive) {
    clock.advance(20000);
    const Packet::Ptr p = Numbered(77, kBackupChannelId, Packet::kAdler32);
    EXPECT_EQ(decode(p), kDecodeInactiveChannel);
    EXPECT_EQ(log.events().size(), 0u) << log.dump();
    EXPECT_EQ(context.errorPackets.get(), 0);
    EXPECT_EQ(context.packetsReceived.get(), 1);
    EXPECT_EQ(context.bytesReceived.get(), 60);
    EXPECT_EQ(backup().lastRecvTick, clock.tick());
    EXPECT_EQ(backup().nextSeq, 0u);
    EXPECT_EQ(p->flags(), Packet::kAdler32);  // untouched

    // After a switch it is the primary's turn to be dropped.
    context.activeIndex.set(context.backupIndex.get());
    EXPECT_EQ(decode(Numbered(1)), kDecodeInactiveChannel);
    EXPECT_EQ(decode(Numbered(78, kBackupChannelId)), kDecodeOk);
}

TEST_F(DecodeTest, TcpPacketIsTakenOnAnyChannelAndNeverSequenceTracked) {
    context.activeIndex.set(context.backupIndex.get());
    primary().nextSeq = 50;
    const uint32_t tick = primary().lastRecvTick;
    clock.advance(1000);
    ASSERT_EQ(decode(Numbered(3, kPrimaryChannelId, Packet::kFromTcp)), kDecodeOk) << log.dump();
    EXPECT_EQ(primary().nextSeq, 50u);
    EXPECT_EQ(primary().lastRecvTick, tick);
    EXPECT_EQ(context.outOfOrderPackets.get(), 0);
    EXPECT_EQ(log.events().size(), 0u) << log.dump();
}

TEST_F(DecodeTest, UnknownChannelIsAnErrorThatTouchesNoChannel) {
    const Packet::Ptr p = Numbered(9, 2000012);
    EXPECT_EQ(decode(p), kDecodeBadPacket);
    EXPECT_EQ(errors("错包（信道 2000012）：该信道不在处理范围内！"), 1) << log.dump();
    EXPECT_EQ(context.errorPackets.get(), 1);
    EXPECT_EQ(primary().nextSeq, 0u);
    EXPECT_EQ(backup().nextSeq, 0u);

    // Channel ids print as the unsigned numbers they are.
    EXPECT_EQ(decode(Numbered(9, 0xFFFFFFF0u)), kDecodeBadPacket);
    EXPECT_EQ(errors("错包（信道 4294967280）"), 1) << log.dump();
}

TEST_F(DecodeTest, LengthMustMatchTheHeader) {
    Bytes wire = Wire{kPrimaryChannelId, 4}.encode(Payload(40));
    wire.push_back(0);
    EXPECT_EQ(decode(wire), kDecodeLengthMismatch);
    EXPECT_EQ(errors("错包（信道 2000011）：包长 61 与包头指示的长度 60 不符！"), 1) << log.dump();
    EXPECT_EQ(context.errorPackets.get(), 1);
    EXPECT_EQ(primary().nextSeq, 5u);

    wire.resize(59);
    EXPECT_EQ(decode(wire), kDecodeLengthMismatch);
    EXPECT_EQ(errors("包长 59 与包头指示的长度 60 不符！"), 1) << log.dump();
}

// A runt or overlong receive never reaches the header.
TEST_F(DecodeTest, ReceivedLengthOutsideAPacketsBoundsIsRejectedUnread) {
    Packet::Ptr runt = Packet::FromBytes("\x8B\x84\x1E\x00\x05", 5);
    EXPECT_EQ(decode(runt), kDecodeLengthMismatch);
    EXPECT_EQ(errors("错包：包长 5 字节，不在 20 至 8180 字节之间！"), 1) << log.dump();

    Packet::Ptr big = Packet::Create(Packet::kWorkBufferSize);
    big->setChannelId(kPrimaryChannelId);
    big->setPayloadLen(8161);
    big->setReceivedLen(8181);
    EXPECT_EQ(decode(big), kDecodeLengthMismatch);
    EXPECT_EQ(errors("包长 8181 字节，不在 20 至 8180 字节之间！"), 1) << log.dump();

    // More received than the buffer holds.
    Packet::Ptr lying = Packet::Create(10);
    lying->setChannelId(kPrimaryChannelId);
    lying->setPayloadLen(100);
    lying->setReceivedLen(120);
    EXPECT_EQ(decode(lying), kDecodeLengthMismatch);

    EXPECT_EQ(context.errorPackets.get(), 3);
    EXPECT_EQ(context.packetsReceived.get(), 3);
    EXPECT_EQ(context.bytesReceived.get(), 5 + 8181 + 120);
    EXPECT_EQ(context.lastChannelId.get(), 0u);
    EXPECT_EQ(primary().nextSeq, 0u);
}

TEST_F(DecodeTest, EmptyPayloadWithCrc32ChecksAgainstZero) {
    Wire w;
    w.flags = Packet::kCrc32;
    Bytes wire = w.encode({});
    ASSERT_EQ(wire.size(), 20u);
    EXPECT_EQ(decode(wire), kDecodeOk) << log.dump();

    Put32(wire, 16, 1);
    EXPECT_EQ(decode(wire), kDecodeBadPacket);
    EXPECT_EQ(errors("错包（信道 2000011）：校验值 0x0 与包头指示的校验值 0x1 不符！"), 1)
        << log.dump();
}

TEST_F(DecodeTest, ChecksumCoversThePayloadAsSent) {
    for (uint8_t method : {Packet::kCrc32, Packet::kAdler32}) {
        Wire w;
        w.flags = uint8_t(method | Packet::kRc6 | Packet::kZlib);
        Bytes wire = w.encode(Payload(3000));
        const uint32_t sum =
            uint32_t(wire[16] | wire[17] << 8 | wire[18] << 16 | uint32_t(wire[19]) << 24);
        wire[25] ^= 0x40;
        const Bytes damaged(wire.begin() + 20, wire.end());
        const uint32_t computed = method == Packet::kCrc32
                                      ? uint32_t(crc32(0, damaged.data(), uInt(damaged.size())))
                                      : uint32_t(adler32(1, damaged.data(), uInt(damaged.size())));
        char expected[128];
        std::snprintf(expected, sizeof expected, "校验值 0x%X 与包头指示的校验值 0x%X 不符！",
                      computed, sum);
        EXPECT_EQ(decode(wire), kDecodeBadPacket);
        EXPECT_EQ(errors(expected), 1) << log.dump();
    }
    EXPECT_EQ(context.errorPackets.get(), 2);
}

TEST_F(DecodeTest, UnknownMethodsAreErrors) {
    struct Case {
        uint8_t flags;
        const char* message;
    } cases[] = {
        {0x30, "错包（信道 2000011）：未知的校验方式 0x30 ！"},
        {0x08, "错包（信道 2000011）：未知的加密方式 0x8 ！"},
        {0x0C, "错包（信道 2000011）：未知的加密方式 0xC ！"},
        {0x02, "错包（信道 2000011）：未知的压缩方式 0x2 ！"},
        {0x03, "错包（信道 2000011）：未知的压缩方式 0x3 ！"},
        {0x1B, "错包（信道 2000011）：未知的加密方式 0x8 ！"},  // checked before compression
    };
    int64_t n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Bytes wire = Wire{}.encode(Payload(32));
        wire[9] = c.flags;
        if ((c.flags & Packet::kChecksumMask) == Packet::kCrc32)
            Put32(wire, 16, uint32_t(crc32(0, wire.data() + 20, 32)));
        EXPECT_EQ(decode(wire), kDecodeBadPacket);
        EXPECT_EQ(errors(c.message), 1) << log.dump();
        EXPECT_EQ(context.errorPackets.get(), ++n);
        log.clear();
    }
}

TEST_F(DecodeTest, SevenBytePayloadPassesThroughDecryptionUnchanged) {
    Wire w;
    w.flags = Packet::kRc6;
    Bytes wire = w.encode(Payload(16));
    const Bytes seven = {1, 2, 3, 4, 5, 6, 7};
    wire.resize(20);
    Put16(wire, 10, 7);
    Put16(wire, 12, 7);
    wire.insert(wire.end(), seven.begin(), seven.end());
    Packet::Ptr p = Make(wire);
    ASSERT_EQ(decode(p), kDecodeOk) << log.dump();
    EXPECT_EQ(PayloadOf(*p), seven);
    EXPECT_EQ(p->flags(), 0);
}

// The tail after the last whole block is not enciphered and stays as sent;
// plainLen cuts the result.
TEST_F(DecodeTest, DecryptionKeepsTheTailAndCutsToPlainLength) {
    Bytes block = Payload(16);
    const Bytes plain = block;
    ASSERT_EQ(EncryptPayload(block.data(), block.size(), 16, kDefaultChannelKey), 16);
    Bytes wire(20);
    Put32(wire, 0, kPrimaryChannelId);
    wire[9] = Packet::kRc6;
    Put16(wire, 10, 21);
    Put16(wire, 12, 19);
    wire.insert(wire.end(), block.begin(), block.end());
    for (uint8_t b : {'a', 'b', 'c', 'd', 'e'}) wire.push_back(b);
    Packet::Ptr p = Make(wire);
    ASSERT_EQ(decode(p), kDecodeOk) << log.dump();
    Bytes expected = plain;
    for (uint8_t b : {'a', 'b', 'c'}) expected.push_back(b);
    EXPECT_EQ(PayloadOf(*p), expected);
    EXPECT_EQ(p->payloadLen(), 19);
}

TEST_F(DecodeTest, PlainLengthBeyondThePayloadIsAnError) {
    Wire w;
    w.flags = Packet::kRc6;
    Bytes wire = w.encode(Payload(32));
    Put16(wire, 12, 33);
    EXPECT_EQ(decode(wire), kDecodeBadPacket);
    EXPECT_EQ(errors("错包（信道 2000011）：解密后包长 33 字节，超过包长 32 字节！"), 1)
        << log.dump();
}

TEST_F(DecodeTest, EachKeyDecipheresItsOwnChannel) {
    backup().key = "abc";
    context.activeIndex.set(context.backupIndex.get());
    for (int round = 0; round < 2; ++round) {
        Wire w;
        w.flags = Packet::kRc6 | Packet::kZlib;
        w.channelId = kBackupChannelId;
        w.key = "abc";
        Packet::Ptr p = Make(w.encode(Payload(500)));
        ASSERT_EQ(decode(p), kDecodeOk) << log.dump();
        EXPECT_EQ(PayloadOf(*p), Payload(500));
        // The built-in key again, by TCP on the primary channel.
        w.channelId = kPrimaryChannelId;
        w.key = kDefaultChannelKey;
        w.flags |= Packet::kFromTcp;
        p = Make(w.encode(Payload(300)));
        ASSERT_EQ(decode(p), kDecodeOk) << log.dump();
        EXPECT_EQ(PayloadOf(*p), Payload(300));
    }
}

TEST_F(DecodeTest, CompressedAndEncipheredPacketIsDecipheredThenInflated) {
    Wire w;
    w.flags = Packet::kZlib | Packet::kRc6 | Packet::kAdler32;
    const Bytes plain = Payload(20000);
    const Bytes wire = w.encode(plain);
    const size_t compressed = Deflate(plain).size();
    Packet::Ptr p = Make(wire);
    ASSERT_EQ(p->plainLen(), compressed);
    ASSERT_EQ(p->payloadLen(), (compressed + 15) / 16 * 16);
    ASSERT_EQ(p->origLen(), 20000);
    ASSERT_EQ(decode(p), kDecodeOk) << log.dump();
    EXPECT_EQ(PayloadOf(*p), plain);
    EXPECT_EQ(p->totalLength(), 20020u);
    EXPECT_EQ(p->flags(), Packet::kAdler32);
}

class FailingInflater : public Inflater {
  public:
    explicit FailingInflater(int result) : result_(result) {}
    int uncompress(uint8_t*, size_t* destLen, const uint8_t*, size_t) override {
        *destLen = 0;
        return result_;
    }

  private:
    int result_;
};

TEST_F(DecodeTest, EveryInflationFailureHasItsMessage) {
    Wire w;
    w.flags = Packet::kZlib;
    const Bytes good = w.encode(Payload(1000));  // 1000 bytes inflated
    const int length = int(good.size()) - 20;
    auto text = [&](const char* format, auto... args) {
        char buf[256];
        std::snprintf(buf, sizeof buf, format, args...);
        return std::string(buf);
    };

    Bytes wrongLength = good;
    Put16(wrongLength, 14, 999);
    Bytes tooBig = w.encode(Bytes(30000, 'x'));
    Bytes corrupt = good;
    corrupt[20] = 0x00;  // not a zlib header
    Bytes cut = good;
    cut.resize(cut.size() - 10);
    Put16(cut, 10, uint32_t(cut.size() - 20));

    struct Case {
        std::string name;
        Bytes wire;
        std::string message;
    } cases[] = {
        {"wrong length", wrongLength,
         text("错包（信道 2000011）：包长 %d 字节，解压后包长 1000 字节，与包头中的原始包长 999 "
              "字节不符！",
              length)},
        {"too big", tooBig,
         text("错包（信道 2000011）：包长 %d 字节，解压缓冲区太小（24540 字节）！",
              int(tooBig.size()) - 20)},
        {"corrupt", corrupt,
         text("错包（信道 2000011）：包长 %d 字节，不是合法的压缩数据！", length)},
        // A stream cut short is corrupt data to zlib, as uncompress() says.
        {"cut short", cut,
         text("错包（信道 2000011）：包长 %d 字节，不是合法的压缩数据！", length - 10)},
    };
    int64_t n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decode(c.wire), kDecodeBadPacket);
        EXPECT_EQ(errors(c.message), 1) << log.dump();
        EXPECT_EQ(context.errorPackets.get(), ++n);
    }

    struct Failure {
        int result;
        std::string message;
    } failures[] = {
        {Z_MEM_ERROR, text("错包（信道 2000011）：包长 %d，解压缩时内存不够！", length)},
        {Z_STREAM_ERROR, text("错包（信道 2000011）：包长 %d 字节，解压时发生未知错误！", length)},
        {Z_VERSION_ERROR, text("错包（信道 2000011）：包长 %d 字节，解压时发生未知错误！", length)},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.result);
        DecodeContext failing(std::make_unique<FailingInflater>(f.result));
        failing.createChannels();
        log.clear();
        EXPECT_EQ(DecodePacket(failing, *Make(good)), kDecodeBadPacket);
        EXPECT_EQ(errors(f.message), 1) << log.dump();
        EXPECT_EQ(failing.errorPackets.get(), 1);
    }
}

voidpf NoMemory(voidpf, uInt, uInt) {
    return Z_NULL;
}
void NoFree(voidpf, voidpf) {}

TEST_F(DecodeTest, ZlibOutOfMemoryIsReported) {
    DecodeContext starved(std::make_unique<Inflater>(NoMemory, NoFree, nullptr));
    starved.createChannels();
    Wire w;
    w.flags = Packet::kZlib;
    const Bytes wire = w.encode(Payload(100));
    EXPECT_EQ(DecodePacket(starved, *Make(wire)), kDecodeBadPacket);
    EXPECT_EQ(errors(std::string("错包（信道 2000011）：包长 ") + std::to_string(wire.size() - 20) +
                     "，解压缩时内存不够！"),
              1)
        << log.dump();
}

// A packet made with less room than its header announces cannot take the
// inflated data: rejected, nothing written past its buffer.
TEST_F(DecodeTest, InflatedPayloadBeyondThePacketsRoomIsAnError) {
    Wire w;
    w.flags = Packet::kZlib;
    const Bytes wire = w.encode(Payload(9000));
    Packet::Ptr p = Packet::Create(uint32_t(wire.size() - 20));
    std::memcpy(p->data(), wire.data(), wire.size());
    p->setReceivedLen(uint32_t(wire.size()));
    EXPECT_EQ(decode(p), kDecodeBadPacket);
    EXPECT_EQ(errors(std::string("错包（信道 2000011）：解压后包长 9000 字节，超出包缓冲区（") +
                     std::to_string(wire.size() - 20) + " 字节）！"),
              1)
        << log.dump();
}

TEST(EncryptPayload, RoundsUpToWholeBlocksAndStaysInsideTheBuffer) {
    struct Case {
        size_t length, capacity;
        int result;
    } cases[] = {
        {0, 0, 0},    {1, 16, 16},        {15, 16, 16}, {16, 16, 16},
        {17, 32, 32}, {8160, 8160, 8160}, {17, 31, -1}, {1, 15, -1},
    };
    const Bytes plain = Payload(8200);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << " in " << c.capacity);
        Bytes buf(c.capacity + 16, 0);
        std::copy(plain.begin(), plain.begin() + long(c.length), buf.begin());
        const Bytes before = buf;
        EXPECT_EQ(EncryptPayload(buf.data(), c.capacity, c.length, kDefaultChannelKey), c.result);
        if (c.result < 0) {
            EXPECT_EQ(buf, before);
            continue;
        }
        // Bytes after the rounded length are untouched; the blocks decipher back.
        EXPECT_TRUE(std::equal(buf.begin() + c.result, buf.end(), before.begin() + c.result));
        uint8_t key[Rc6::kKeySize];
        Rc6::KeyFromText(kDefaultChannelKey, key);
        Rc6(key).decryptBlocks(buf.data(), buf.data(), size_t(c.result) / 16);
        EXPECT_EQ(buf, before);
    }
}

class RecordingReceivers : public PacketReceivers {
  public:
    void dealSessionMessage(const Packet::Ptr& p) override { session.push_back(p); }
    void queueQuotePacket(const Packet::Ptr& p) override { quotes.push_back(p); }
    void queueFilePacket(const Packet::Ptr& p) override { files.push_back(p); }
    std::vector<Packet::Ptr> session, quotes, files;
};

TEST_F(DecodeTest, DealPacketHandsGoodPacketsToTheirReceivers) {
    RecordingReceivers receivers;
    auto deal = [&](int8_t type, uint8_t flags = 0, bool dispatch = true) {
        Wire w;
        w.type = type;
        w.flags = flags;
        Packet::Ptr p = Make(w.encode(Payload(64)));
        EXPECT_EQ(DealPacket(context, p, dispatch, &receivers), 0);
        return p;
    };
    Packet::Ptr quote = deal(PacketType::kSecurityQuotes, Packet::kZlib | Packet::kRc6);
    Packet::Ptr session = deal(PacketType::kLogonResult);
    Packet::Ptr file = deal(PacketType::kFileData);
    ASSERT_EQ(receivers.quotes.size(), 1u);
    EXPECT_TRUE(receivers.quotes[0] == quote);  // the shared packet itself
    EXPECT_EQ(PayloadOf(*receivers.quotes[0]), Payload(64));
    ASSERT_EQ(receivers.session.size(), 1u);
    EXPECT_TRUE(receivers.session[0] == session);
    ASSERT_EQ(receivers.files.size(), 1u);
    EXPECT_TRUE(receivers.files[0] == file);

    // Condition A: a TCP quote packet in multicast mode goes nowhere, quietly.
    deal(PacketType::kSecurityQuotes, Packet::kFromTcp);
    deal(PacketType::kIdle);
    // Dispatch off: decoded and counted only.
    deal(PacketType::kSecurityQuotes, 0, false);
    EXPECT_EQ(receivers.quotes.size(), 1u);
    EXPECT_EQ(log.events().size(), 0u) << log.dump();
    EXPECT_EQ(context.packetsReceived.get(), 6);
    EXPECT_EQ(context.errorPackets.get(), 0);
}

TEST_F(DecodeTest, DealPacketLogsFailuresAndUnknownTypes) {
    RecordingReceivers receivers;
    Wire w;
    w.type = 99;
    ASSERT_EQ(DealPacket(context, Make(w.encode(Payload(8))), true, &receivers), 0);
    EXPECT_EQ(log.count("错包（信道 2000011）：未知包类型 99！", kModule, velk::LevelWarn), 1)
        << log.dump();
    EXPECT_EQ(context.errorPackets.get(), 1);
    EXPECT_EQ(log.count("encode packet failed!"), 0);

    // Unknown types are a matter of dispatch.
    ASSERT_EQ(DealPacket(context, Make(w.encode(Payload(8))), false, &receivers), 0);
    EXPECT_EQ(context.errorPackets.get(), 1);

    Bytes bad = Wire{}.encode(Payload(8));
    bad.pop_back();
    ASSERT_EQ(DealPacket(context, Make(bad), true, &receivers), 0);
    EXPECT_EQ(log.count("encode packet failed!", kModule, velk::LevelError), 1) << log.dump();
    EXPECT_EQ(context.errorPackets.get(), 2);

    // The inactive channel is no failure.
    log.clear();
    ASSERT_EQ(DealPacket(context, Numbered(1, kBackupChannelId), true, &receivers), 0);
    EXPECT_EQ(log.events().size(), 0u) << log.dump();
    EXPECT_TRUE(receivers.session.empty() && receivers.quotes.empty() && receivers.files.empty());
    EXPECT_EQ(DealPacket(context, Packet::Ptr(), true, &receivers), 0);
}

}  // namespace

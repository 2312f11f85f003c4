#include "controller/DecodePacket.h"

#include <zlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "controller/PacketTypes.h"
#include "platform/Clock.h"
#include "runtime/SimpleLogger.h"

namespace {

constexpr const char* kModule = "RcvController";

// Logs a rejected packet at error level, counts it and gives the result.
__attribute__((format(printf, 3, 4))) int Reject(DecodeContext& context, int result,
                                                 const char* format, ...) {
    va_list args;
    va_start(args, format);
    velk::SimpleLogger::vlog(kModule, velk::LevelError, format, args);
    va_end(args);
    context.errorPackets.add(1);
    return result;
}

// Multicast packets only: keeps the channel alive, filters the inactive
// channel and follows the sequence numbers. False when the packet is to be
// dropped silently.
bool TrackMulticast(DecodeContext& context, ChannelState& channel, const Packet& packet,
                    uint32_t now) {
    channel.lastRecvTick = now;
    const uint32_t id = channel.channelId;
    if ((id == kPrimaryChannelId || id == kBackupChannelId) && context.activeChannel() != &channel)
        return false;

    const uint32_t expected = channel.nextSeq;
    const uint32_t seq = packet.seqNo();
    if (expected != 0 && seq != 0 && expected != seq) {
        if (expected < seq) {
            const uint32_t lost = seq - expected;
            if (lost == 1) {
                velk::log(kModule, velk::LevelInfo, "丢包（信道 %u）：序号 %u 的包丢失！", id,
                          expected);
            } else {
                velk::log(kModule, velk::LevelInfo, "丢包（信道 %u）：序号 %u 至 %u 的包丢失！", id,
                          expected, seq - 1);
            }
            context.lostPackets.add(lost);
        } else {
            velk::log(kModule, velk::LevelInfo, "乱序（信道 %u）：应收序号 %u，收到序号 %u ！", id,
                      expected, seq);
            context.outOfOrderPackets.add(1);
        }
    }
    // Also after a late packet, so the expected number can move backwards.
    channel.nextSeq = seq + 1;
    return true;
}

int CheckChecksum(DecodeContext& context, const Packet& packet) {
    const uint32_t id = packet.channelId();
    const uint8_t method = packet.flags() & Packet::kChecksumMask;
    const uInt length = packet.payloadLen();
    uint32_t computed;
    switch (method) {
        case 0:
            return kDecodeOk;
        case Packet::kCrc32:
            computed = uint32_t(crc32(crc32(0, Z_NULL, 0), packet.payload(), length));
            break;
        case Packet::kAdler32:
            computed = uint32_t(adler32(adler32(0, Z_NULL, 0), packet.payload(), length));
            break;
        default:
            return Reject(context, kDecodeBadPacket, "错包（信道 %u）：未知的校验方式 0x%X ！", id,
                          unsigned(method));
    }
    if (computed != packet.checksum()) {
        return Reject(context, kDecodeBadPacket,
                      "错包（信道 %u）：校验值 0x%X 与包头指示的校验值 0x%X 不符！", id, computed,
                      packet.checksum());
    }
    return kDecodeOk;
}

int Decrypt(DecodeContext& context, const ChannelState& channel, Packet& packet) {
    const uint32_t id = packet.channelId();
    const uint8_t method = packet.flags() & Packet::kEncryptMask;
    if (method == 0) return kDecodeOk;
    if (method != Packet::kRc6) {
        return Reject(context, kDecodeBadPacket, "错包（信道 %u）：未知的加密方式 0x%X ！", id,
                      unsigned(method));
    }
    const uint16_t length = packet.payloadLen();
    const uint16_t plain = packet.plainLen();
    // Deciphering never lengthens a payload; a longer plain length is a lie.
    if (plain > length) {
        return Reject(context, kDecodeBadPacket,
                      "错包（信道 %u）：解密后包长 %d 字节，超过包长 %d 字节！", id, int(plain),
                      int(length));
    }
    // Whole blocks only: the tail of fewer than 16 bytes travels as it is.
    context.cipherFor(channel.key)
        .decryptBlocks(packet.payload(), packet.payload(), length / Rc6::kBlockSize);
    packet.setFlags(packet.flags() & ~Packet::kEncryptMask);
    packet.setPayloadLen(plain);
    return kDecodeOk;
}

int Inflate(DecodeContext& context, Packet& packet) {
    const uint32_t id = packet.channelId();
    const uint8_t method = packet.flags() & Packet::kCompressMask;
    if (method == 0) return kDecodeOk;
    if (method != Packet::kZlib) {
        return Reject(context, kDecodeBadPacket, "错包（信道 %u）：未知的压缩方式 0x%X ！", id,
                      unsigned(method));
    }
    const int length = packet.payloadLen();
    const int expected = packet.origLen();
    size_t inflated = Packet::kWorkBufferSize;
    const int err = context.inflater().uncompress(context.workBuffer(), &inflated, packet.payload(),
                                                  size_t(length));
    switch (err) {
        case Z_OK:
            break;
        case Z_BUF_ERROR:
            return Reject(context, kDecodeBadPacket,
                          "错包（信道 %u）：包长 %d 字节，解压缓冲区太小（%d 字节）！", id, length,
                          int(Packet::kWorkBufferSize));
        case Z_MEM_ERROR:
            return Reject(context, kDecodeBadPacket, "错包（信道 %u）：包长 %d，解压缩时内存不够！",
                          id, length);
        case Z_DATA_ERROR:
            return Reject(context, kDecodeBadPacket,
                          "错包（信道 %u）：包长 %d 字节，不是合法的压缩数据！", id, length);
        default:
            return Reject(context, kDecodeBadPacket,
                          "错包（信道 %u）：包长 %d 字节，解压时发生未知错误！", id, length);
    }
    if (int(inflated) != expected) {
        return Reject(context, kDecodeBadPacket,
                      "错包（信道 %u）：包长 %d 字节，解压后包长 %d 字节，与包头中的原始包长 %d "
                      "字节不符！",
                      id, length, int(inflated), expected);
    }
    // Packets get room for their announced inflated length when they are
    // made; one built smaller than its header says cannot take the data.
    if (inflated > packet.payloadRoom()) {
        return Reject(context, kDecodeBadPacket,
                      "错包（信道 %u）：解压后包长 %d 字节，超出包缓冲区（%d 字节）！", id,
                      int(inflated), int(packet.payloadRoom()));
    }
    std::memcpy(packet.payload(), context.workBuffer(), inflated);
    packet.setFlags(packet.flags() & ~Packet::kCompressMask);
    packet.setPayloadLen(uint16_t(inflated));
    return kDecodeOk;
}

}  // namespace

int DecodePacket(DecodeContext& context, Packet& packet) {
    const uint32_t now = platform::TickCount();
    const uint32_t received = packet.receivedLen();
    context.lastRecvTick.set(now);
    context.bytesReceived.add(received);
    context.packetsReceived.add(1);

    // A runt or an overlong packet has no header to trust: nothing of it is
    // read, not even the channel.
    if (received < Packet::kHeaderSize ||
        received > std::min(Packet::kMaxSize, packet.capacity())) {
        return Reject(context, kDecodeLengthMismatch,
                      "错包：包长 %u 字节，不在 %u 至 %u 字节之间！", received, Packet::kHeaderSize,
                      Packet::kMaxSize);
    }
    const uint32_t id = packet.channelId();
    context.lastChannelId.set(id);
    context.lastType.set(packet.type());

    ChannelState* channel = context.findChannel(id);
    if (channel == nullptr)
        return Reject(context, kDecodeBadPacket, "错包（信道 %u）：该信道不在处理范围内！", id);

    if ((packet.flags() & Packet::kFromTcp) == 0 && !TrackMulticast(context, *channel, packet, now))
        return kDecodeInactiveChannel;

    if (received != packet.totalLength()) {
        return Reject(context, kDecodeLengthMismatch,
                      "错包（信道 %u）：包长 %u 与包头指示的长度 %u 不符！", id, received,
                      packet.totalLength());
    }
    int result = CheckChecksum(context, packet);
    if (result == kDecodeOk) result = Decrypt(context, *channel, packet);
    if (result == kDecodeOk) result = Inflate(context, packet);
    if (result != kDecodeOk) return result;

    const uint16_t decoded = packet.payloadLen();
    packet.setPlainLen(decoded);
    packet.setOrigLen(decoded);
    return kDecodeOk;
}

int DealPacket(DecodeContext& context, const Packet::Ptr& packet, bool dispatch,
               PacketReceivers* receivers) {
    if (!packet) return 0;
    const int result = DecodePacket(context, *packet);
    if (result < 0) {
        if (result != kDecodeInactiveChannel)
            velk::log(kModule, velk::LevelError, "encode packet failed!");
        return 0;
    }
    if (!dispatch) return 0;
    switch (RoutePacket(packet->type(), packet->flags(), context.options)) {
        case PacketRoute::Session:
            if (receivers != nullptr) receivers->dealSessionMessage(packet);
            break;
        case PacketRoute::Quote:
            if (receivers != nullptr) receivers->queueQuotePacket(packet);
            break;
        case PacketRoute::File:
            if (receivers != nullptr) receivers->queueFilePacket(packet);
            break;
        case PacketRoute::NoAction:
        case PacketRoute::Dropped:
            break;
        case PacketRoute::Unknown:
            velk::log(kModule, velk::LevelWarn, "错包（信道 %u）：未知包类型 %d！",
                      packet->channelId(), int(packet->type()));
            context.errorPackets.add(1);
            break;
    }
    return 0;
}

int EncryptPayload(uint8_t* buffer, size_t capacity, size_t length, std::string_view key) {
    const size_t blocks = (length + Rc6::kBlockSize - 1) / Rc6::kBlockSize;
    const size_t rounded = blocks * Rc6::kBlockSize;
    if (rounded > capacity || rounded > size_t(INT32_MAX)) return -1;
    if (blocks == 0) return 0;
    uint8_t padded[Rc6::kKeySize];
    Rc6::KeyFromText(key, padded);
    Rc6(padded).encryptBlocks(buffer, buffer, blocks);
    return int(rounded);
}

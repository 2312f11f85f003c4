// DecodePacket and DealPacket on arbitrary bytes. The first input byte
// chooses how the rest is used:
//   bit 0x01  encode: the rest is a payload that is compressed, enciphered
//             and checksummed as the master station would (methods from the
//             next byte), so that the deep paths (RC6, inflation) see valid
//             and, with bit 0x02, slightly damaged input;
//   bit 0x02  raw input: make payloadLen agree with the input length;
//   bit 0x04  raw input: make the checksum agree with the payload;
//   bit 0x08  TCP receive mode;   bit 0x10  backup channel active;
//   bit 0x20  dispatch;           bit 0x40  received length off by the second byte;
//   bit 0x80  the channels expect the second byte as their next sequence number.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "controller/DecodePacket.h"
#include "controller/PacketTypes.h"

namespace {

// Touches every byte a receiver may read, so that the sanitizer sees any
// payload that reaches past its buffer.
class TouchingReceivers : public PacketReceivers {
  public:
    void dealSessionMessage(const Packet::Ptr& p) override { touch(*p); }
    void queueQuotePacket(const Packet::Ptr& p) override { touch(*p); }
    void queueFilePacket(const Packet::Ptr& p) override { touch(*p); }
    uint32_t sum = 0;

  private:
    void touch(const Packet& p) {
        for (uint32_t i = 0; i < p.payloadLen(); ++i) sum += p.payload()[i];
    }
};

uint32_t Checksum(uint8_t flags, const uint8_t* p, size_t n) {
    if ((flags & Packet::kChecksumMask) == Packet::kCrc32) return uint32_t(crc32(0, p, uInt(n)));
    if ((flags & Packet::kChecksumMask) == Packet::kAdler32)
        return uint32_t(adler32(1, p, uInt(n)));
    return 0;
}

std::vector<uint8_t> Encode(const uint8_t* data, size_t size, bool damaged) {
    if (size < 4) return {};
    const uint8_t flags = data[0];
    const uint16_t damageAt = uint16_t(data[1] | data[2] << 8);
    const uint8_t damage = data[3];
    std::vector<uint8_t> plain(data + 4, data + size);
    if (plain.size() > Packet::kWorkBufferSize) plain.resize(Packet::kWorkBufferSize);
    std::vector<uint8_t> body = plain;
    if ((flags & Packet::kCompressMask) == Packet::kZlib) {
        uLongf n = compressBound(uLong(plain.size()));
        body.resize(n);
        compress2(body.data(), &n, plain.data(), uLong(plain.size()), 1);
        body.resize(n);
    }
    if (body.size() > Packet::kMaxPayload) body.resize(Packet::kMaxPayload);
    const size_t plainLen = body.size();
    if ((flags & Packet::kEncryptMask) == Packet::kRc6) {
        body.resize((plainLen + 15) / 16 * 16, 0);
        EncryptPayload(body.data(), body.size(), plainLen, kDefaultChannelKey);
    }
    std::vector<uint8_t> wire(Packet::kHeaderSize, 0);
    wire[0] = uint8_t(kPrimaryChannelId);
    wire[1] = uint8_t(kPrimaryChannelId >> 8);
    wire[2] = uint8_t(kPrimaryChannelId >> 16);
    wire[8] = uint8_t(PacketType::kSecurityQuotes);
    wire[9] = flags;
    wire[10] = uint8_t(body.size());
    wire[11] = uint8_t(body.size() >> 8);
    wire[12] = uint8_t(plainLen);
    wire[13] = uint8_t(plainLen >> 8);
    wire[14] = uint8_t(plain.size());
    wire[15] = uint8_t(plain.size() >> 8);
    const uint32_t sum = Checksum(flags, body.data(), body.size());
    for (int i = 0; i < 4; ++i) wire[size_t(16 + i)] = uint8_t(sum >> (8 * i));
    wire.insert(wire.end(), body.begin(), body.end());
    if (damaged) wire[damageAt % wire.size()] ^= damage;
    return wire;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t control = data[0];
    const uint8_t extra = data[1];
    data += 2;
    size -= 2;

    std::vector<uint8_t> wire = (control & 0x01) ? Encode(data, size, (control & 0x02) != 0)
                                                 : std::vector<uint8_t>(data, data + size);
    if (wire.size() > Packet::kMaxSize) wire.resize(Packet::kMaxSize);
    if (!(control & 0x01) && wire.size() >= Packet::kHeaderSize) {
        const size_t payload = wire.size() - Packet::kHeaderSize;
        if (control & 0x02) {
            wire[10] = uint8_t(payload);
            wire[11] = uint8_t(payload >> 8);
        }
        if (control & 0x04) {
            const uint32_t sum = Checksum(wire[9], wire.data() + Packet::kHeaderSize, payload);
            for (int i = 0; i < 4; ++i) wire[size_t(16 + i)] = uint8_t(sum >> (8 * i));
        }
    }
    Packet::Ptr packet = Packet::FromBytes(wire.data(), wire.size());
    if (!packet) return 0;
    if (control & 0x40) packet->setReceivedLen(packet->receivedLen() + extra);

    DecodeContext context;
    context.createChannels();
    context.options.rcvMcast = (control & 0x08) ? 1 : 0;
    context.options.rcvZSXX = extra & 1;
    if (control & 0x10) context.activeIndex.set(context.backupIndex.get());
    if (control & 0x80) {
        for (auto& channel : context.channels) channel->nextSeq = extra;
    }

    TouchingReceivers receivers;
    if (control & 0x20) {
        DealPacket(context, packet, true, &receivers);
    } else {
        const int result = DecodePacket(context, *packet);
        if (result == kDecodeOk) {
            // What a good decode promises its receivers.
            if ((packet->flags() & (Packet::kEncryptMask | Packet::kCompressMask)) != 0 ||
                packet->payloadLen() > packet->payloadRoom() ||
                packet->plainLen() != packet->payloadLen() ||
                packet->origLen() != packet->payloadLen())
                __builtin_trap();
            receivers.queueQuotePacket(packet);
        }
    }
    return 0;
}

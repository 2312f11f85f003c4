#pragma once
// One packet as it travels through the station: the 20-byte little-endian
// header followed by the payload, in a single allocation that also has room
// for the payload once it is deciphered and inflated.
#include <cstddef>
#include <cstdint>

#include "runtime/concurrent.h"

class Packet {
  public:
    using Ptr = velk::concurrent::SharedPtr<Packet>;

    static constexpr uint32_t kHeaderSize = 20;
    // A packet on the wire, header included, and its largest payload.
    static constexpr uint32_t kMaxSize = 8180;
    static constexpr uint32_t kMaxPayload = kMaxSize - kHeaderSize;
    // Inflation works in a buffer three times the largest packet, so an
    // inflated payload can be that long.
    static constexpr uint32_t kWorkBufferSize = 3 * kMaxSize;

    // Method bits of the flags byte.
    static constexpr uint8_t kCompressMask = 0x03;
    static constexpr uint8_t kZlib = 0x01;
    static constexpr uint8_t kEncryptMask = 0x0C;
    static constexpr uint8_t kRc6 = 0x04;
    static constexpr uint8_t kChecksumMask = 0x30;
    static constexpr uint8_t kCrc32 = 0x10;
    static constexpr uint8_t kAdler32 = 0x20;
    static constexpr uint8_t kFromTcp = 0x40;
    static constexpr uint8_t kStationMark = 0x80;

    // A zero-filled packet with room for payloadRoom payload bytes (at most
    // kWorkBufferSize), for building a packet to send or to read into.
    // Null when memory runs out.
    static Ptr Create(uint32_t payloadRoom = kMaxPayload);

    // A copy of length received bytes with receivedLen = length. The room
    // for the payload follows from the header: the received payload, or the
    // inflated length the header announces for a zlib payload (at most
    // kWorkBufferSize). Null when length exceeds kMaxSize or memory runs out.
    static Ptr FromBytes(const void* bytes, size_t length);

    // The payload room FromBytes gives to a packet of length bytes that
    // starts with header (which may be shorter than a header when length is).
    static uint32_t PayloadRoomFor(const uint8_t* header, size_t length);

    ~Packet() = default;
    Packet(const Packet&) = delete;
    Packet& operator=(const Packet&) = delete;
    static void operator delete(void* p);

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(this + 1); }
    uint8_t* payload() { return data() + kHeaderSize; }
    const uint8_t* payload() const { return data() + kHeaderSize; }
    // Bytes in the buffer, header included; at least kHeaderSize.
    uint32_t capacity() const { return capacity_; }
    uint32_t payloadRoom() const { return capacity_ - kHeaderSize; }

    // Bytes received for this packet (set by the receiver that built it).
    uint32_t receivedLen() const { return receivedLen_; }
    void setReceivedLen(uint32_t n) { receivedLen_ = n; }

    uint32_t channelId() const { return Load32(0); }
    uint32_t seqNo() const { return Load32(4); }
    int8_t type() const { return static_cast<int8_t>(data()[8]); }
    uint8_t flags() const { return data()[9]; }
    uint16_t payloadLen() const { return Load16(10); }
    uint16_t plainLen() const { return Load16(12); }
    uint16_t origLen() const { return Load16(14); }
    uint32_t checksum() const { return Load32(16); }
    // Header and payload as the header describes them.
    uint32_t totalLength() const { return payloadLen() + kHeaderSize; }

    void setChannelId(uint32_t v) { Store32(0, v); }
    void setSeqNo(uint32_t v) { Store32(4, v); }
    void setType(int8_t v) { data()[8] = static_cast<uint8_t>(v); }
    void setFlags(uint8_t v) { data()[9] = v; }
    void setPayloadLen(uint16_t v) { Store16(10, v); }
    void setPlainLen(uint16_t v) { Store16(12, v); }
    void setOrigLen(uint16_t v) { Store16(14, v); }
    void setChecksum(uint32_t v) { Store32(16, v); }

  private:
    explicit Packet(uint32_t capacity) : capacity_(capacity) {}
    static void* operator new(size_t, void* where) noexcept { return where; }
    static Ptr Allocate(uint32_t payloadRoom);

    uint16_t Load16(size_t at) const { return uint16_t(data()[at] | data()[at + 1] << 8); }
    uint32_t Load32(size_t at) const {
        const uint8_t* p = data() + at;
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    void Store16(size_t at, uint16_t v) {
        data()[at] = uint8_t(v);
        data()[at + 1] = uint8_t(v >> 8);
    }
    void Store32(size_t at, uint32_t v) {
        uint8_t* p = data() + at;
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
        p[3] = uint8_t(v >> 24);
    }

    // The buffer follows the object in the same allocation; 16 bytes keep it
    // aligned for the cipher's block loads.
    alignas(16) uint32_t capacity_;
    uint32_t receivedLen_ = 0;
};

static_assert(sizeof(Packet) == 16, "the packet's buffer starts right after its 16-byte object");

#pragma once
// Builds the master station's packets: the 20-byte header and the payload
// compressed (zlib), enciphered (RC6, the station's own sender-side code)
// and checksummed (CRC-32 or Adler-32) as the flags ask, and splits a round's
// entries over as many packets as it takes, each filled up to the largest
// payload.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <zlib.h>

namespace mastersim {

constexpr size_t kHeaderSize = 20;
constexpr size_t kMaxPayload = 8160;
// The receiver inflates into a buffer of three largest packets, so a
// compressed payload may inflate to this many bytes.
constexpr size_t kMaxInflated = 24540;
constexpr const char* kChannelKey = "7391739173917391";

// Method bits of the flags byte.
constexpr uint8_t kZlib = 0x01;
constexpr uint8_t kRc6 = 0x04;
constexpr uint8_t kCrc32 = 0x10;
constexpr uint8_t kAdler32 = 0x20;

// True for the flags the master station sends: no compression or zlib, no
// cipher or RC6, no checksum, CRC-32 or Adler-32, and no other bit.
bool ValidEncoding(uint8_t flags);

// Bytes of one packet as sent; channel id and sequence number are set when
// it goes out on a channel.
using Wire = std::shared_ptr<const std::vector<uint8_t>>;

// Header fields (little-endian).
struct Header {
    uint32_t channelId = 0;
    uint32_t seqNo = 0;
    int8_t type = 0;
    uint8_t flags = 0;
    uint16_t payloadLen = 0;
    uint16_t plainLen = 0;
    uint16_t origLen = 0;
    uint32_t checksum = 0;
};
Header ReadHeader(const uint8_t* bytes);
void WriteHeader(const Header& h, uint8_t* bytes);
void SetChannelAndSeq(uint8_t* bytes, uint32_t channelId, uint32_t seqNo);

class PacketEncoder {
  public:
    explicit PacketEncoder(int zlibLevel = Z_DEFAULT_COMPRESSION);
    ~PacketEncoder();
    PacketEncoder(const PacketEncoder&) = delete;
    PacketEncoder& operator=(const PacketEncoder&) = delete;

    // One packet of the given type from a plain payload. Null when the
    // encoded payload would not fit in a packet (a compressed payload that
    // does not shrink enough, or a plain one above the limits).
    Wire encode(int8_t type, uint8_t flags, const uint8_t* plain, size_t length);

    // The largest plain payload the flags allow.
    static size_t MaxPlain(uint8_t flags) {
        return (flags & kZlib) != 0 ? kMaxInflated : kMaxPayload;
    }

  private:
    int level_;
    z_stream zs_{};
    bool zsReady_ = false;
    std::vector<uint8_t> work_;
};

// Chooses each packet's flags from a list, in turn.
class EncodingMix {
  public:
    explicit EncodingMix(std::vector<uint8_t> flags) : flags_(std::move(flags)) {
        if (flags_.empty()) flags_.push_back(0);
    }
    uint8_t next() { return flags_[next_++ % flags_.size()]; }
    const std::vector<uint8_t>& flags() const { return flags_; }

  private:
    std::vector<uint8_t> flags_;
    size_t next_ = 0;
};

// Splits a round part into packets. Every packet carries `prefix` (the
// payload header, the same in every packet of the part) followed by as many
// whole entries as fit.
class RoundPacker {
  public:
    RoundPacker(PacketEncoder& encoder, EncodingMix& mix) : encoder_(encoder), mix_(mix) {}
    // entries: count entries of entrySize bytes back to back. Appends the
    // packets to out; returns the number of packets, -1 when an entry
    // cannot be sent at all.
    int pack(int8_t type, const std::vector<uint8_t>& prefix, const uint8_t* entries,
             size_t entrySize, size_t count, std::vector<Wire>& out);

  private:
    PacketEncoder& encoder_;
    EncodingMix& mix_;
    // Compressed bytes per plain byte seen so far, per packet type.
    double ratio_[128] = {};
    std::vector<uint8_t> plain_;
};

}  // namespace mastersim

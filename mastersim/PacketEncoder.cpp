#include "mastersim/PacketEncoder.h"

#include <algorithm>
#include <cstring>

#include "controller/DecodePacket.h"
#include "mastersim/Layout.h"

namespace mastersim {

bool ValidEncoding(uint8_t flags) {
    if ((flags & ~uint8_t(kZlib | kRc6 | kCrc32 | kAdler32)) != 0) return false;
    return (flags & (kCrc32 | kAdler32)) != (kCrc32 | kAdler32);
}

Header ReadHeader(const uint8_t* b) {
    Header h;
    h.channelId = GetLe32(b);
    h.seqNo = GetLe32(b + 4);
    h.type = int8_t(b[8]);
    h.flags = b[9];
    h.payloadLen = GetLe16(b + 10);
    h.plainLen = GetLe16(b + 12);
    h.origLen = GetLe16(b + 14);
    h.checksum = GetLe32(b + 16);
    return h;
}

void WriteHeader(const Header& h, uint8_t* b) {
    PutLe32(b, h.channelId);
    PutLe32(b + 4, h.seqNo);
    b[8] = uint8_t(h.type);
    b[9] = h.flags;
    PutLe16(b + 10, h.payloadLen);
    PutLe16(b + 12, h.plainLen);
    PutLe16(b + 14, h.origLen);
    PutLe32(b + 16, h.checksum);
}

void SetChannelAndSeq(uint8_t* b, uint32_t channelId, uint32_t seqNo) {
    PutLe32(b, channelId);
    PutLe32(b + 4, seqNo);
}

PacketEncoder::PacketEncoder(int zlibLevel) : level_(zlibLevel), work_(kMaxPayload + 16) {}

PacketEncoder::~PacketEncoder() {
    if (zsReady_) deflateEnd(&zs_);
}

Wire PacketEncoder::encode(int8_t type, uint8_t flags, const uint8_t* plain, size_t length) {
    if (!ValidEncoding(flags) || length > MaxPlain(flags)) return nullptr;
    const uint8_t* data = plain;
    size_t n = length;
    if ((flags & kZlib) != 0) {
        if (!zsReady_) {
            if (deflateInit(&zs_, level_) != Z_OK) return nullptr;
            zsReady_ = true;
        } else {
            deflateReset(&zs_);
        }
        zs_.next_in = const_cast<Bytef*>(plain);
        zs_.avail_in = uInt(length);
        zs_.next_out = work_.data();
        // Room for exactly one largest payload: a stream that needs more
        // stops early, which is also the cheapest way to find out.
        zs_.avail_out = uInt(kMaxPayload);
        if (deflate(&zs_, Z_FINISH) != Z_STREAM_END) return nullptr;
        data = work_.data();
        n = kMaxPayload - zs_.avail_out;
    }

    const size_t sent = (flags & kRc6) != 0 ? (n + 15) / 16 * 16 : n;
    if (sent > kMaxPayload) return nullptr;
    auto bytes = std::make_shared<std::vector<uint8_t>>(kHeaderSize + sent, 0);
    uint8_t* payload = bytes->data() + kHeaderSize;
    if (n > 0) std::memcpy(payload, data, n);
    if ((flags & kRc6) != 0) {
        // The bytes after the plaintext up to the block boundary are zero
        // (the vector was cleared) and are enciphered with the last block.
        if (EncryptPayload(payload, sent, n, kChannelKey) != int(sent)) return nullptr;
    }

    Header h;
    h.type = type;
    h.flags = flags;
    h.payloadLen = uint16_t(sent);
    h.plainLen = uint16_t(n);
    h.origLen = uint16_t(length);
    if ((flags & kCrc32) != 0) h.checksum = uint32_t(crc32(0L, payload, uInt(sent)));
    if ((flags & kAdler32) != 0) h.checksum = uint32_t(adler32(1L, payload, uInt(sent)));
    WriteHeader(h, bytes->data());
    return bytes;
}

int RoundPacker::pack(int8_t type, const std::vector<uint8_t>& prefix, const uint8_t* entries,
                      size_t entrySize, size_t count, std::vector<Wire>& out) {
    size_t done = 0;
    int packets = 0;
    double& ratio = ratio_[uint8_t(type) & 0x7F];
    while (done < count) {
        const uint8_t flags = mix_.next();
        const size_t maxPlain = PacketEncoder::MaxPlain(flags);
        if (prefix.size() + entrySize > maxPlain) return -1;
        size_t n = std::min((maxPlain - prefix.size()) / entrySize, count - done);
        if ((flags & kZlib) != 0) {
            // Aim a little below the largest payload with the ratio seen so
            // far, so that the first try nearly always fits.
            const double r = ratio > 0 ? ratio : 0.4;
            const double budget = double(kMaxPayload) * 0.97 / r - double(prefix.size());
            n = std::min(n, std::max<size_t>(1, size_t(std::max(budget, 0.0)) / entrySize));
        }
        Wire wire;
        for (;;) {
            plain_.assign(prefix.begin(), prefix.end());
            plain_.insert(plain_.end(), entries + done * entrySize,
                          entries + (done + n) * entrySize);
            wire = encoder_.encode(type, flags, plain_.data(), plain_.size());
            if (wire != nullptr || n == 1) break;
            n = std::max<size_t>(1, n * 4 / 5);
        }
        if (wire == nullptr) return -1;
        if ((flags & kZlib) != 0) {
            const Header h = ReadHeader(wire->data());
            ratio = double(h.plainLen) / double(plain_.size());
        }
        out.push_back(std::move(wire));
        done += n;
        ++packets;
    }
    return packets;
}

}  // namespace mastersim

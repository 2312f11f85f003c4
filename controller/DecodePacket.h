#pragma once
// The check-and-decode step that every received packet passes on the
// controller's worker thread, the per-packet step around it, and the sending
// side's encipherment.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "controller/DecodeContext.h"
#include "controller/Packet.h"

// Results of DecodePacket.
constexpr int kDecodeOk = 0;
constexpr int kDecodeBadPacket = -1;
constexpr int kDecodeLengthMismatch = -3;
constexpr int kDecodeInactiveChannel = -99;

// Checks a received packet and decodes it in place: bookkeeping, channel,
// active-channel filter, sequence tracking, length, checksum, RC6, zlib.
// On kDecodeOk the method bits are clear and payloadLen, plainLen and origLen
// all hold the decoded payload's length. Worker thread only.
int DecodePacket(DecodeContext& context, Packet& packet);

// The receivers a decoded packet is handed to; the controller provides them.
class PacketReceivers {
  public:
    virtual ~PacketReceivers() = default;
    // Session messages, handled at once on the worker thread.
    virtual void dealSessionMessage(const Packet::Ptr& packet) = 0;
    // Quote and file packets are queued by their receivers.
    virtual void queueQuotePacket(const Packet::Ptr& packet) = 0;
    virtual void queueFilePacket(const Packet::Ptr& packet) = 0;
};

// The controller's per-packet step: decode, log a failed decode, and, when
// dispatch is on, hand a good packet to its receiver by type. Always 0.
int DealPacket(DecodeContext& context, const Packet::Ptr& packet, bool dispatch,
               PacketReceivers* receivers);

// Enciphers the first length bytes of buffer for sending, block by block, the
// last block including the bytes after them up to the next multiple of 16
// (the sender clears its buffer beforehand). Returns that rounded length, for
// payloadLen, or -1 when it would not fit in the capacity bytes of buffer.
int EncryptPayload(uint8_t* buffer, size_t capacity, size_t length, std::string_view key);

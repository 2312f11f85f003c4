#include "controller/Packet.h"

#include <algorithm>
#include <cstring>
#include <new>

Packet::Ptr Packet::Allocate(uint32_t payloadRoom) {
    const uint32_t capacity = kHeaderSize + std::min(payloadRoom, kWorkBufferSize);
    void* memory = ::operator new(sizeof(Packet) + capacity, std::nothrow);
    if (memory == nullptr) return Ptr();
    return Ptr(new (memory) Packet(capacity));
}

void Packet::operator delete(void* p) {
    ::operator delete(p);
}

Packet::Ptr Packet::Create(uint32_t payloadRoom) {
    Ptr packet = Allocate(payloadRoom);
    if (packet) std::memset(packet->data(), 0, packet->capacity());
    return packet;
}

uint32_t Packet::PayloadRoomFor(const uint8_t* header, size_t length) {
    if (length <= kHeaderSize) return 0;
    uint32_t room = uint32_t(std::min<size_t>(length, kMaxSize)) - kHeaderSize;
    if ((header[9] & kCompressMask) == kZlib) {
        const uint32_t inflated = uint32_t(header[14] | header[15] << 8);
        room = std::max(room, std::min(inflated, kWorkBufferSize));
    }
    return room;
}

Packet::Ptr Packet::FromBytes(const void* bytes, size_t length) {
    if (length > kMaxSize || (length > 0 && bytes == nullptr)) return Ptr();
    const uint8_t* in = static_cast<const uint8_t*>(bytes);
    Ptr packet = Allocate(PayloadRoomFor(in, length));
    if (!packet) return packet;
    // A runt keeps a defined (zero) header; DecodePacket rejects it anyway.
    if (length < kHeaderSize) std::memset(packet->data(), 0, kHeaderSize);
    if (length > 0) std::memcpy(packet->data(), in, length);
    packet->setReceivedLen(uint32_t(length));
    return packet;
}

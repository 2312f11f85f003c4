// Decoding a good packet allocates nothing: the packet is the only
// allocation a received packet costs. This binary counts every C++
// allocation (and zlib's, through the inflater's allocator) while decoding.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "controller/DecodePacket.h"
#include "controller/PacketTypes.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<int> allocations{0};

void* Allocate(std::size_t n) {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1);
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
}  // namespace

void* operator new(std::size_t n) {
    return Allocate(n);
}
void* operator new[](std::size_t n) {
    return Allocate(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept {
    return operator new(n, t);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

voidpf CountingAlloc(voidpf, uInt items, uInt size) {
    if (counting.load()) allocations.fetch_add(1);
    return std::calloc(items, size);
}
void CountingFree(voidpf, voidpf p) {
    std::free(p);
}

std::vector<uint8_t> Encoded(uint8_t flags, size_t n) {
    std::vector<uint8_t> plain(n);
    for (size_t i = 0; i < n; ++i) plain[i] = uint8_t("0123456789.  "[(i * 31 + i / 7) % 13]);
    std::vector<uint8_t> body = plain;
    if (flags & Packet::kZlib) {
        uLongf size = compressBound(uLong(n));
        body.resize(size);
        compress2(body.data(), &size, plain.data(), uLong(n), 6);
        body.resize(size);
    }
    const size_t plainLen = body.size();
    if (flags & Packet::kRc6) {
        body.resize((plainLen + 15) / 16 * 16);
        EncryptPayload(body.data(), body.size(), plainLen, kDefaultChannelKey);
    }
    Packet::Ptr p = Packet::Create(uint32_t(n));
    p->setChannelId(kPrimaryChannelId);
    p->setType(PacketType::kSecurityQuotes);
    p->setFlags(flags);
    p->setPayloadLen(uint16_t(body.size()));
    p->setPlainLen(uint16_t(plainLen));
    p->setOrigLen(uint16_t(n));
    p->setChecksum(uint32_t(adler32(1, body.data(), uInt(body.size()))));
    std::copy(body.begin(), body.end(), p->payload());
    return std::vector<uint8_t>(p->data(), p->data() + 20 + body.size());
}

TEST(DecodeAllocation, GoodPacketsDecodeWithoutAllocating) {
    DecodeContext context(std::make_unique<Inflater>(CountingAlloc, CountingFree, nullptr));
    context.createChannels();
    const std::vector<std::vector<uint8_t>> wires = {Encoded(0x20, 8000), Encoded(0x24, 8000),
                                                     Encoded(0x25, 24000), Encoded(0x21, 3000)};
    std::vector<Packet::Ptr> packets;
    for (int round = 0; round < 3; ++round)
        for (const auto& w : wires) packets.push_back(Packet::FromBytes(w.data(), w.size()));
    // The first compressed packet makes zlib's state, once for the context.
    ASSERT_EQ(DecodePacket(context, *packets[2]), kDecodeOk);

    allocations = 0;
    counting = true;
    int bad = 0;
    for (size_t i = 4; i < packets.size(); ++i)
        bad += DecodePacket(context, *packets[i]) != kDecodeOk;
    counting = false;
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(allocations.load(), 0);
}

}  // namespace

#include "controller/Packet.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The header as bytes on the wire, written out by hand.
TEST(Packet, ReadsAndWritesTheLittleEndianHeaderByteByByte) {
    const std::vector<uint8_t> wire = {
        0x8B, 0x84, 0x1E, 0x00,  // channelId 2000011
        0x04, 0x03, 0x02, 0x81,  // seqNo 0x81020304
        0xE2,                    // type -30
        0x25,                    // flags
        0x10, 0x00,              // payloadLen 16
        0x0F, 0x00,              // plainLen 15
        0x34, 0x12,              // origLen 0x1234
        0xEF, 0xBE, 0xAD, 0xDE,  // checksum
        1,    2,    3,    4,    5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
    };
    Packet::Ptr p = Packet::FromBytes(wire.data(), wire.size());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->receivedLen(), 36u);
    EXPECT_EQ(p->channelId(), 2000011u);
    EXPECT_EQ(p->seqNo(), 0x81020304u);
    EXPECT_EQ(p->type(), -30);
    EXPECT_EQ(p->flags(), 0x25);
    EXPECT_EQ(p->payloadLen(), 16);
    EXPECT_EQ(p->plainLen(), 15);
    EXPECT_EQ(p->origLen(), 0x1234);
    EXPECT_EQ(p->checksum(), 0xDEADBEEFu);
    EXPECT_EQ(p->totalLength(), 36u);
    EXPECT_EQ(p->payload()[0], 1);
    EXPECT_EQ(p->payload()[15], 16);

    Packet::Ptr q = Packet::Create(16);
    ASSERT_TRUE(q);
    q->setChannelId(2000011);
    q->setSeqNo(0x81020304);
    q->setType(-30);
    q->setFlags(0x25);
    q->setPayloadLen(16);
    q->setPlainLen(15);
    q->setOrigLen(0x1234);
    q->setChecksum(0xDEADBEEF);
    for (int i = 0; i < 16; ++i) q->payload()[i] = uint8_t(i + 1);
    EXPECT_EQ(std::vector<uint8_t>(q->data(), q->data() + 36), wire);
}

TEST(Packet, CreateIsZeroFilledWithTheRoomAskedForUpToTheWorkBuffer) {
    Packet::Ptr p = Packet::Create();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->capacity(), Packet::kMaxSize);
    EXPECT_EQ(p->receivedLen(), 0u);
    for (uint32_t i = 0; i < p->capacity(); ++i) ASSERT_EQ(p->data()[i], 0) << i;
    EXPECT_EQ(Packet::Create(0)->capacity(), Packet::kHeaderSize);
    EXPECT_EQ(Packet::Create(100000)->payloadRoom(), Packet::kWorkBufferSize);
}

// Room follows the header: the received payload, or the announced inflated
// length of a zlib payload, never more than the work buffer.
TEST(Packet, FromBytesGivesRoomForTheDecodedPayload) {
    struct Case {
        uint8_t flags;
        uint16_t origLen;
        size_t length;
        uint32_t room;
    } cases[] = {
        {0x00, 60000, 100, 80},      // not compressed: origLen does not count
        {0x25, 20000, 100, 20000},   // compressed: room for the inflated payload
        {0x01, 10, 100, 80},         // never less than what arrived
        {0x01, 65535, 8180, 24540},  // capped at the work buffer
        {0x02, 20000, 100, 80},      // unknown method: no inflation will happen
        {0x00, 0, 20, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << int(c.flags) << " length " << c.length);
        std::vector<uint8_t> wire(c.length, 0xAB);
        wire[9] = c.flags;
        wire[14] = uint8_t(c.origLen);
        wire[15] = uint8_t(c.origLen >> 8);
        Packet::Ptr p = Packet::FromBytes(wire.data(), wire.size());
        ASSERT_TRUE(p);
        EXPECT_EQ(p->payloadRoom(), c.room);
        EXPECT_EQ(std::vector<uint8_t>(p->data(), p->data() + c.length), wire);
    }
}

TEST(Packet, FromBytesRefusesOverlongInputAndZeroesARuntsHeader) {
    std::vector<uint8_t> big(Packet::kMaxSize + 1, 1);
    EXPECT_FALSE(Packet::FromBytes(big.data(), big.size()));
    EXPECT_TRUE(Packet::FromBytes(big.data(), Packet::kMaxSize));

    const uint8_t runt[5] = {0x8B, 0x84, 0x1E, 0x00, 0x07};
    Packet::Ptr p = Packet::FromBytes(runt, sizeof runt);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->receivedLen(), 5u);
    EXPECT_EQ(p->capacity(), Packet::kHeaderSize);
    EXPECT_EQ(p->channelId(), 2000011u);
    EXPECT_EQ(p->seqNo(), 7u);
    EXPECT_EQ(p->checksum(), 0u);

    Packet::Ptr empty = Packet::FromBytes(nullptr, 0);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->receivedLen(), 0u);
}

}  // namespace

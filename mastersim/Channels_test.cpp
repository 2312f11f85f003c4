#include "mastersim/Channels.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "controller/DecodePacket.h"

namespace mastersim {
namespace {

class CollectingSink : public DatagramSink {
  public:
    bool send(int channel, const uint8_t* data, size_t length) override {
        sent[channel].emplace_back(data, data + length);
        return true;
    }
    std::vector<std::vector<uint8_t>> sent[kChannels];
};

std::vector<OutPacket> SomePackets(int n) {
    PacketEncoder enc;
    std::vector<OutPacket> v;
    const uint8_t flags[] = {0x00, 0x10, 0x20, 0x25, 0x04};
    for (int i = 0; i < n; ++i) {
        std::vector<uint8_t> payload(40 + i % 50, uint8_t(i));
        v.push_back({enc.encode(22, flags[i % 5], payload.data(), payload.size()), 22, 0});
    }
    return v;
}

TEST(SequenceViewTest, FollowsTheStationsSequenceRules) {
    SequenceView v;
    for (uint32_t s : {10u, 11u, 5u, 12u}) v.see(s);
    EXPECT_EQ(v.outOfOrder, 1u);
    EXPECT_EQ(v.lost, 6u);  // 6 to 11, after the late 5 moved the expectation back
    EXPECT_EQ(v.rangeLossLines, 1u);
    EXPECT_EQ(v.next, 13u);

    SequenceView w;
    for (uint32_t s : {1u, 0u, 1u, 3u}) w.see(s);
    // An unnumbered packet reports nothing and expects 1 next.
    EXPECT_EQ(w.lost, 1u);
    EXPECT_EQ(w.singleLossLines, 1u);
    EXPECT_EQ(w.outOfOrder, 0u);
}

TEST(ChannelsTest, CleanChannelsNumberEveryPacketOnBoth) {
    CollectingSink sink;
    Channels ch(FaultOptions{}, sink, 41);
    for (const OutPacket& p : SomePackets(10)) ch.send(p, 1.0);
    for (int c = 0; c < kChannels; ++c) {
        ASSERT_EQ(sink.sent[c].size(), 10u);
        for (size_t i = 0; i < 10; ++i) {
            const Header h = ReadHeader(sink.sent[c][i].data());
            EXPECT_EQ(h.channelId, Channels::ChannelId(c));
            EXPECT_EQ(h.seqNo, 41 + i);
        }
        EXPECT_EQ(ch.stats(c).view.lost + ch.stats(c).view.outOfOrder, 0u);
    }
}

// The expectation the stand-in writes must be what the station's decoder
// really counts for the same datagrams.
TEST(ChannelsTest, ExpectedCountersMatchTheStationsDecoder) {
    for (uint64_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        FaultOptions f;
        f.loss = 0.05;
        f.duplicate = 0.05;
        f.reorder = 0.05;
        f.corrupt = 0.05;
        f.seed = seed;
        CollectingSink sink;
        Channels ch(f, sink);
        for (const OutPacket& p : SomePackets(2000)) ch.send(p, 1.0);
        ch.flush();
        for (int c = 0; c < kChannels; ++c) {
            const ChannelStats& s = ch.stats(c);
            EXPECT_GT(s.dropped, 50u);
            EXPECT_GT(s.duplicated, 50u);
            EXPECT_GT(s.reordered, 50u);
            EXPECT_GT(s.corruptChecksum, 20u);
            EXPECT_GT(s.corruptLength, 10u);
            EXPECT_EQ(s.datagrams, s.numbered - s.dropped + s.duplicated);
            EXPECT_EQ(sink.sent[c].size(), s.datagrams);

            DecodeContext ctx;
            ctx.createChannels();
            ctx.activeIndex.set(c == 0 ? ctx.primaryIndex.get() : ctx.backupIndex.get());
            for (const auto& d : sink.sent[c]) {
                Packet::Ptr p = Packet::FromBytes(d.data(), d.size());
                ASSERT_TRUE(p);
                DecodePacket(ctx, *p);
            }
            EXPECT_EQ(uint64_t(ctx.lostPackets.get()), s.view.lost);
            EXPECT_EQ(uint64_t(ctx.outOfOrderPackets.get()), s.view.outOfOrder);
            EXPECT_EQ(uint64_t(ctx.errorPackets.get()), s.corruptChecksum + s.corruptLength);
            EXPECT_EQ(uint64_t(ctx.packetsReceived.get()), s.datagrams);
        }
    }
}

TEST(ChannelsTest, FaultsStayInTheirWindowAndOnTheirChannel) {
    FaultOptions f;
    f.loss = 0.5;
    f.faults = Window{10, 5};
    f.onBackup = false;
    f.silencePrimary = Window{20, 5};
    CollectingSink sink;
    Channels ch(f, sink);
    const auto packets = SomePackets(300);
    for (size_t i = 0; i < packets.size(); ++i) ch.send(packets[i], double(i) / 10);
    // Seconds 10-15: loss on the primary only; seconds 20-25: primary silent.
    EXPECT_GT(ch.stats(0).dropped, 10u);
    EXPECT_LT(ch.stats(0).dropped, 40u);
    EXPECT_EQ(ch.stats(1).dropped, 0u);
    EXPECT_EQ(ch.stats(0).silenced, 50u);
    EXPECT_EQ(ch.stats(1).silenced, 0u);
    EXPECT_EQ(ch.stats(0).numbered, 250u);
    EXPECT_EQ(ch.stats(1).numbered, 300u);
    EXPECT_EQ(sink.sent[1].size(), 300u);
    // Silence does not use up sequence numbers: no loss is reported for it.
    EXPECT_EQ(ch.stats(0).view.lost, ch.stats(0).dropped);
    EXPECT_EQ(ReadHeader(sink.sent[0].back().data()).seqNo, 250u);
}

TEST(MulticastSinkTest, RefusesAnythingThatCouldLeaveThisMachine) {
    const std::string groups[] = {"239.20.0.11", "239.21.0.11"};
    const std::string badGroups[] = {"10.0.0.1", "239.21.0.11"};
    const uint16_t ports[] = {4003, 4003};
    struct Case {
        const std::string* groups;
        const char* nic;
        int ttl;
    };
    for (const Case& c :
         {Case{groups, "192.168.1.5", 1}, Case{groups, "0.0.0.0", 1}, Case{groups, "eth0", 1},
          Case{groups, "127.0.0.1", 2}, Case{badGroups, "127.0.0.1", 1}}) {
        MulticastSink sink;
        std::string error;
        EXPECT_FALSE(sink.open(c.groups, ports, c.nic, c.ttl, &error)) << c.nic << " ttl " << c.ttl;
        EXPECT_FALSE(error.empty());
    }
}

TEST(MulticastSinkTest, DeliversOverLoopbackMulticast) {
    // A receiver joined on 127.0.0.1 to a group and port of its own.
    const uint16_t port = uint16_t(20000 + getpid() % 20000);
    const std::string group = "239.77." + std::to_string(getpid() % 250) + ".9";
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    ip_mreq mreq{};
    inet_pton(AF_INET, group.c_str(), &mreq.imr_multiaddr);
    inet_pton(AF_INET, "127.0.0.1", &mreq.imr_interface);
    ASSERT_EQ(setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq), 0);

    MulticastSink sink;
    const std::string groups[] = {group, "239.78.0.9"};
    const uint16_t ports[] = {port, uint16_t(port + 1)};
    std::string error;
    ASSERT_TRUE(sink.open(groups, ports, "127.0.0.1", 1, &error)) << error;
    const uint8_t datagram[] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(sink.send(0, datagram, sizeof datagram));
    pollfd pfd{fd, POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 2000), 1);
    uint8_t buf[64];
    EXPECT_EQ(recv(fd, buf, sizeof buf, 0), 5);
    EXPECT_EQ(buf[4], 5);
    close(fd);
}

}  // namespace
}  // namespace mastersim

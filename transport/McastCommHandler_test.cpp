#include "transport/McastCommHandler.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

using velk::concurrent::SharedPtr;

uint32_t Addr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const uint8_t bytes[4] = {a, b, c, d};
    uint32_t v;
    std::memcpy(&v, bytes, 4);
    return v;
}

const uint32_t kLoopback = Addr(127, 0, 0, 1);

// Ports of this test process alone (each test case runs as a process of its
// own under CTest), so that runs side by side never hear each other.
uint16_t TestPort(int k) {
    return uint16_t(20000 + int(getpid()) % 997 * 10 + k);
}

// Records what the receiver hands over.
class RecordingSink : public PacketSink {
  public:
    int EnqueuePacket(const Packet::Ptr& packet) override {
        std::lock_guard<std::mutex> g(m_);
        packets_.push_back(packet);
        cv_.notify_all();
        return 0;
    }
    // Waits (real time, bounded) until n packets arrived.
    bool waitFor(size_t n) {
        std::unique_lock<std::mutex> g(m_);
        return cv_.wait_for(g, std::chrono::seconds(5), [&] { return packets_.size() >= n; });
    }
    std::vector<Packet::Ptr> packets() {
        std::lock_guard<std::mutex> g(m_);
        return packets_;
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<Packet::Ptr> packets_;
};

ChannelState MakeChannel(uint32_t id, uint32_t group, uint16_t port, uint32_t nic = kLoopback) {
    ChannelState c;
    c.channelId = id;
    c.groupAddr = group;
    c.port = port;
    c.nicAddr = nic;
    return c;
}

// A datagram of n bytes whose first four hold the channel id.
std::vector<uint8_t> Datagram(size_t n, uint32_t channelId, uint8_t fill = 0x5A) {
    std::vector<uint8_t> d(n, fill);
    for (size_t i = 0; i < 4 && i < n; ++i) d[i] = uint8_t(channelId >> (8 * i));
    return d;
}

class Sender {
  public:
    Sender() : sock_(platform::OpenMulticastSender(kLoopback, 1)) {}
    ~Sender() { platform::CloseSocket(sock_); }
    bool send(const ChannelState& c, const std::vector<uint8_t>& d) {
        return platform::SendDatagram(sock_, c.groupAddr, c.port, d.data(), d.size());
    }
    bool ok() const { return sock_ != platform::kInvalidSocket; }

  private:
    platform::SocketHandle sock_;
};

// Polls the log (real time, bounded) until the fragment appears.
bool WaitForLog(testsupport::CaptureAppender& log, const std::string& fragment, int times = 1) {
    for (int i = 0; i < 500; ++i) {
        if (log.count(fragment) >= times) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

struct Receiver {
    explicit Receiver(const ChannelState& c)
        : channel(c), sink(new RecordingSink), handler(SharedPtr<PacketSink>(sink)) {}
    ChannelState channel;
    RecordingSink* sink;
    McastCommHandler handler;
};

TEST(McastCommHandler, AcceptsHeaderOnlyAndFullSizeDatagramsWithTheirBytes) {
    testsupport::CaptureAppender log;
    Receiver r(MakeChannel(kPrimaryChannelId, Addr(239, 255, 8, 1), TestPort(1)));
    ASSERT_EQ(0, r.handler.Init(&r.channel, true)) << log.dump();
    ASSERT_EQ(0, r.handler.Start());
    Sender s;
    ASSERT_TRUE(s.ok());
    const auto smallest = Datagram(20, kPrimaryChannelId, 0x11);
    const auto largest = Datagram(8180, kPrimaryChannelId, 0x22);
    ASSERT_TRUE(s.send(r.channel, smallest));
    ASSERT_TRUE(s.send(r.channel, largest));
    ASSERT_TRUE(r.sink->waitFor(2)) << log.dump();
    r.handler.Stop();

    auto got = r.sink->packets();
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(20u, got[0]->receivedLen());
    EXPECT_EQ(0, std::memcmp(got[0]->data(), smallest.data(), 20));
    EXPECT_EQ(8180u, got[1]->receivedLen());
    EXPECT_EQ(0, std::memcmp(got[1]->data(), largest.data(), 8180));
    EXPECT_EQ(1, log.count("信道 2000011 的接收线程启动！", "McastCommHandler", 300));
    EXPECT_EQ(1, log.count("信道 2000011 的接收线程正常退出！", "McastCommHandler", 300));
}

TEST(McastCommHandler, DropsDatagramsThatCannotBePacketsOfItsChannelAndGoesOn) {
    struct Case {
        size_t length;
        uint32_t headerId;
        const char* warning;
    };
    const Case cases[] = {
        {1, kPrimaryChannelId, "警告（信道 2000011）：收到一个极小包，长度为 1，已丢弃！"},
        {19, kPrimaryChannelId, "警告（信道 2000011）：收到一个极小包，长度为 19，已丢弃！"},
        {8181, kPrimaryChannelId,
         "警告（信道 2000011）：收到一个超长包，长度为 8181，超过 8180，已丢弃！"},
        {9000, kPrimaryChannelId,
         "警告（信道 2000011）：收到一个超长包，长度为 9000，超过 8180，已丢弃！"},
        {100, kBackupChannelId,
         "警告（信道 2000011）：收到一个信道标识不对的包，包头信道标识为 2100011，已丢弃！"},
        {20, 12345,
         "警告（信道 2000011）：收到一个信道标识不对的包，包头信道标识为 12345，已丢弃！"},
    };
    testsupport::CaptureAppender log;
    Receiver r(MakeChannel(kPrimaryChannelId, Addr(239, 255, 8, 2), TestPort(2)));
    ASSERT_EQ(0, r.handler.Init(&r.channel, true)) << log.dump();
    ASSERT_EQ(0, r.handler.Start());
    Sender s;
    size_t good = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.warning);
        ASSERT_TRUE(s.send(r.channel, Datagram(c.length, c.headerId)));
        EXPECT_TRUE(WaitForLog(log, c.warning)) << log.dump();
        EXPECT_EQ(1, log.count(c.warning, "McastCommHandler", 500));
        // Reception goes on after the bad datagram.
        ASSERT_TRUE(s.send(r.channel, Datagram(64, kPrimaryChannelId)));
        ASSERT_TRUE(r.sink->waitFor(++good));
    }
    r.handler.Stop();
    EXPECT_EQ(good, r.sink->packets().size());
}

TEST(McastCommHandler, ChannelsSharingAPortEachKeepOnlyTheirOwnPackets) {
    testsupport::CaptureAppender log;
    const uint16_t port = TestPort(3);
    Receiver primary(MakeChannel(kPrimaryChannelId, Addr(239, 255, 8, 3), port));
    Receiver backup(MakeChannel(kBackupChannelId, Addr(239, 255, 8, 4), port));
    ASSERT_EQ(0, primary.handler.Init(&primary.channel, true)) << log.dump();
    ASSERT_EQ(0, backup.handler.Init(&backup.channel, true)) << log.dump();
    ASSERT_EQ(0, primary.handler.Start());
    ASSERT_EQ(0, backup.handler.Start());
    Sender s;
    ASSERT_TRUE(s.send(primary.channel, Datagram(40, kPrimaryChannelId)));
    ASSERT_TRUE(s.send(backup.channel, Datagram(40, kBackupChannelId)));
    ASSERT_TRUE(primary.sink->waitFor(1));
    ASSERT_TRUE(backup.sink->waitFor(1));
    // A socket hears only the group it joined, even on a shared port: the
    // other channel's traffic is neither delivered nor warned about.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    primary.handler.Stop();
    backup.handler.Stop();
    ASSERT_EQ(1u, primary.sink->packets().size());
    ASSERT_EQ(1u, backup.sink->packets().size());
    EXPECT_EQ(0, log.count("收到一个信道标识不对的包")) << log.dump();
    EXPECT_EQ(kPrimaryChannelId, primary.sink->packets()[0]->channelId());
    EXPECT_EQ(kBackupChannelId, backup.sink->packets()[0]->channelId());
}

TEST(McastCommHandler, StopEndsAnIdleReceiverWithinAFewPollIntervals) {
    testsupport::CaptureAppender log;
    Receiver r(MakeChannel(kBackupChannelId, Addr(239, 255, 8, 5), TestPort(4)));
    ASSERT_EQ(0, r.handler.Init(&r.channel, true));
    ASSERT_EQ(0, r.handler.Start());
    ASSERT_TRUE(WaitForLog(log, "信道 2100011 的接收线程启动！"));
    const auto begin = std::chrono::steady_clock::now();
    r.handler.Stop();
    const auto took = std::chrono::steady_clock::now() - begin;
    // The loop waits 10 ms at a time; the bound leaves room for a loaded
    // machine, not for a loop that ignores the flag.
    EXPECT_LT(took, std::chrono::milliseconds(500));
    EXPECT_FALSE(r.handler.running());
    EXPECT_EQ(1, log.count("信道 2100011 的接收线程正常退出！", "McastCommHandler", 300));
    // A stopped receiver has closed its socket and cannot be started again
    // without a new set-up.
    EXPECT_EQ(-1, r.handler.Start());
}

TEST(McastCommHandler, SetUpFailuresAreLoggedWithTheirStepAndLeaveNoThread) {
    testsupport::CaptureAppender log;
    // An interface address that no interface of this host has: the join on
    // the configured interface must fail (nothing is sent).
    Receiver r(
        MakeChannel(kPrimaryChannelId, Addr(239, 255, 8, 6), TestPort(5), Addr(192, 0, 2, 77)));
    EXPECT_EQ(-1, r.handler.Init(&r.channel, true));
    EXPECT_EQ(1, log.count("MulticastThreadFunc()::setsockopt(IP_ADD_MEMBERSHIP)（信道 2000011）",
                           "McastCommHandler", 500))
        << log.dump();
    EXPECT_EQ(-1, r.handler.Start());
    EXPECT_FALSE(r.handler.running());

    McastCommHandler noChannel((SharedPtr<PacketSink>()));
    EXPECT_EQ(-1, noChannel.Init(nullptr, true));
}

TEST(McastCommHandler, WithoutAControllerDatagramsAreDroppedWithTheMessage) {
    testsupport::CaptureAppender log;
    ChannelState c = MakeChannel(kPrimaryChannelId, Addr(239, 255, 8, 7), TestPort(6));
    McastCommHandler handler((SharedPtr<PacketSink>()));
    ASSERT_EQ(0, handler.Init(&c, true));
    ASSERT_EQ(0, handler.Start());
    Sender s;
    ASSERT_TRUE(s.send(c, Datagram(20, kPrimaryChannelId)));
    EXPECT_TRUE(WaitForLog(log, "please set rcv controller first!"));
    handler.Stop();
}

// In a private network namespace (root only): lo up and a multicast route
// over it, so a join on "any interface" has somewhere to go without
// touching a real network.
bool EnterPrivateLoopbackNetwork(std::string* why) {
    if (unshare(CLONE_NEWNET) != 0) {
        *why = std::string("unshare: ") + std::strerror(errno);
        return false;
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr{};
    std::strcpy(ifr.ifr_name, "lo");
    bool ok = ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags |= IFF_UP | IFF_RUNNING;
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    rtentry rt{};
    auto* dst = reinterpret_cast<sockaddr_in*>(&rt.rt_dst);
    dst->sin_family = AF_INET;
    dst->sin_addr.s_addr = Addr(224, 0, 0, 0);
    auto* mask = reinterpret_cast<sockaddr_in*>(&rt.rt_genmask);
    mask->sin_family = AF_INET;
    mask->sin_addr.s_addr = Addr(240, 0, 0, 0);
    rt.rt_flags = RTF_UP;
    char dev[] = "lo";
    rt.rt_dev = dev;
    ok = ok && ioctl(fd, SIOCADDRT, &rt) == 0;
    if (!ok) *why = std::string("lo/route: ") + std::strerror(errno);
    close(fd);
    return ok;
}

TEST(McastCommHandler, WithoutTheBindFlagTheGroupIsJoinedOnAnyInterface) {
    // The namespace belongs to the thread that enters it; the receiver's
    // socket is made there.
    std::string skipped;
    std::thread t([&] {
        if (!EnterPrivateLoopbackNetwork(&skipped)) return;
        testsupport::CaptureAppender log;
        // A configured interface that does not exist: taken, the join would fail.
        Receiver r(
            MakeChannel(kPrimaryChannelId, Addr(239, 255, 8, 8), TestPort(7), Addr(192, 0, 2, 77)));
        ASSERT_EQ(0, r.handler.Init(&r.channel, false)) << log.dump();
        ASSERT_EQ(0, r.handler.Start());
        Sender s;
        ASSERT_TRUE(s.send(r.channel, Datagram(20, kPrimaryChannelId)));
        EXPECT_TRUE(r.sink->waitFor(1)) << log.dump();
        r.handler.Stop();
    });
    t.join();
    if (!skipped.empty()) GTEST_SKIP() << "no private network namespace: " << skipped;
}

}  // namespace

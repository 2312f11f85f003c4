#include "controller/RcvController.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "config/Ipv4Text.h"
#include "controller/PacketTypes.h"
#include "platform/Clock.h"
#include "platform/Socket.h"
#include "platform/WindowMessages.h"
#include "quotes/TyQuotaHandler.h"
#include "runtime/RunParams.h"
#include "runtime/Timer.h"
#include "tests/support/TestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr const char* kModule = "RcvController";

// Ports of this test process alone (each test case runs as a process of its
// own under CTest), so that runs side by side never hear each other.
uint16_t TestPort(int k) {
    return uint16_t(20000 + int(getpid()) % 997 * 10 + k);
}

// A packet as the master station sends it, header written byte by byte:
// no checksum, no cipher, no compression.
Bytes WirePacket(uint32_t channelId, uint32_t seqNo, int8_t type, const Bytes& payload = {}) {
    Bytes b(20 + payload.size(), 0);
    auto put32 = [&b](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    auto put16 = [&b](size_t at, uint32_t v) {
        b[at] = uint8_t(v);
        b[at + 1] = uint8_t(v >> 8);
    };
    put32(0, channelId);
    put32(4, seqNo);
    b[8] = uint8_t(type);
    b[9] = 0;
    put16(10, uint32_t(payload.size()));
    put16(12, uint32_t(payload.size()));
    put16(14, uint32_t(payload.size()));
    for (size_t i = 0; i < payload.size(); ++i) b[20 + i] = payload[i];
    return b;
}

Packet::Ptr MakePacket(uint32_t channelId, uint32_t seqNo, int8_t type = 22) {
    Bytes b = WirePacket(channelId, seqNo, type);
    return Packet::FromBytes(b.data(), b.size());
}

// Records the window messages the controller sends.
class RecordingWindow : public platform::WindowMessageTarget {
  public:
    RecordingWindow() { platform::SetMainWindow(this); }
    ~RecordingWindow() override { platform::SetMainWindow(nullptr); }
    long sendMessage(int message, const std::string& text) override {
        std::lock_guard<std::mutex> g(m_);
        messages_.emplace_back(message, text);
        return 0;
    }
    std::vector<std::pair<int, std::string>> messages() {
        std::lock_guard<std::mutex> g(m_);
        return messages_;
    }

  private:
    std::mutex m_;
    std::vector<std::pair<int, std::string>> messages_;
};

class RcvControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        velk::RunParams::instance().clear();
        velk::RunParams::instance().checkTraffic = 1;
        conf.NQHQ_File = dir.file("NQHQ.DBF");
        conf.NQXX_File = dir.file("NQXX.DBF");
        conf.NQXYXX_File = dir.file("NQXYXX.DBF");
        conf.NQZSXX_File = dir.file("NQZSXX.DBF");
        conf.NQFGKSBXX_File = dir.file("NQFGKSBXX.DBF");
        conf.NQFGKCJXX_File = dir.file("NQFGKCJXX.DBF");
        conf.szTYBulletinPath = dir.path();
        conf.szDefaultDataPath = dir.path();
        conf.dwFlag = CRcvConf::kFlagBindInterfaces;
        conf.mcNetCard1 = conf.mcNetCard2 = Ipv4FromOctets(127, 0, 0, 1);
        conf.mcRcvAddr1 = Ipv4FromOctets(239, 255, 9, 1);
        conf.mcRcvAddr2 = Ipv4FromOctets(239, 255, 9, 2);
    }
    void TearDown() override {
        if (controller) controller->Stop();
        velk::RunParams::instance().clear();
    }

    RcvController& make() {
        controller = RcvController::Create(conf);
        return *controller;
    }
    RcvController& initialised() {
        make();
        EXPECT_EQ(0, controller->Init()) << log.dump();
        return *controller;
    }
    // One packet through the queue and the worker's step.
    void feed(uint32_t channelId, uint32_t seqNo, int8_t type = 22) {
        ASSERT_EQ(0, controller->EnqueuePacket(MakePacket(channelId, seqNo, type)));
        ASSERT_EQ(1, controller->TakePacket());
    }

    testsupport::TempDir dir;
    testsupport::CaptureAppender log;
    CRcvConf conf;
    RcvController::Ptr controller;
};

TEST_F(RcvControllerTest, FullQueueHoldsProducersUntilATakeAndReleasesThemOnStop) {
    RcvController& c = initialised();
    for (size_t i = 0; i < RcvController::kQueueLimit; ++i)
        ASSERT_EQ(0, c.EnqueuePacket(MakePacket(kPrimaryChannelId, uint32_t(i + 1))));
    EXPECT_EQ(int(RcvController::kQueueLimit), c.GetQueueLength());

    std::atomic<int> first{99};
    std::thread producer([&] { first = c.EnqueuePacket(MakePacket(kPrimaryChannelId, 5000)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(99, first.load()) << "a producer must wait while 2048 packets are queued";
    ASSERT_EQ(1, c.TakePacket());
    producer.join();
    EXPECT_EQ(0, first.load());
    EXPECT_EQ(int(RcvController::kQueueLimit), c.GetQueueLength());

    // Two producers wait on the full queue; stopping must not hang on them.
    std::atomic<int> waiting[2] = {99, 99};
    for (size_t i = 0; i < RcvController::kQueueLimit; ++i)
        ASSERT_EQ(0, c.PostCommand({RcvController::kCheckChannels, 0}));
    std::thread a([&] { waiting[0] = c.EnqueuePacket(MakePacket(kPrimaryChannelId, 6000)); });
    std::thread cmd([&] { waiting[1] = c.PostCommand({RcvController::kCheckChannels, 0}); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    c.Stop();
    a.join();
    cmd.join();
    EXPECT_EQ(-1, waiting[0].load());
    EXPECT_EQ(-1, waiting[1].load());
    // Once stopping, nothing more is taken in.
    EXPECT_EQ(-1, c.EnqueuePacket(MakePacket(kPrimaryChannelId, 7000)));
    EXPECT_EQ(0, c.GetQueueLength());
}

TEST_F(RcvControllerTest, DrainOfAFullQueueCountsEveryPacketAndDispatchesNone) {
    struct Case {
        int queued;
        int16_t checkTraffic;
        bool drained;
    };
    const Case cases[] = {{2044, 1, true}, {2043, 1, false}, {2048, 0, false}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.queued << " queued, checkTraffic " << k.checkTraffic);
        velk::RunParams::instance().checkTraffic = k.checkTraffic;
        log.clear();
        if (controller) controller->Stop();
        RcvController& c = initialised();
        for (int i = 0; i < k.queued; ++i)
            ASSERT_EQ(0, c.EnqueuePacket(MakePacket(kPrimaryChannelId, uint32_t(i + 1))));

        EXPECT_EQ(k.drained, c.DrainIfFull());
        EXPECT_EQ(k.drained ? 1 : 0, log.count("数据队列满，请检查!", kModule, 200));
        EXPECT_EQ(k.drained ? 0 : k.queued, c.GetQueueLength());
        EXPECT_EQ(k.drained ? k.queued : 0, c.GetPacketsReceived());
        EXPECT_EQ(0, c.GetErrorPackets());
        EXPECT_EQ(0, c.GetLostPackets());
        EXPECT_EQ(0, c.GetQuoteHandler()->queueLength()) << "a drained packet is never dispatched";
    }
    // Sequence tracking went on through the drain: the next packet in
    // sequence is no loss, and a normal take dispatches it.
    velk::RunParams::instance().checkTraffic = 1;
    controller->Stop();
    RcvController& c = initialised();
    for (int i = 0; i < 2044; ++i) c.EnqueuePacket(MakePacket(kPrimaryChannelId, uint32_t(i + 1)));
    ASSERT_TRUE(c.DrainIfFull());
    feed(kPrimaryChannelId, 2045);
    EXPECT_EQ(0, c.GetLostPackets());
    EXPECT_EQ(1, c.GetQuoteHandler()->queueLength());
}

TEST_F(RcvControllerTest, SilentPrimaryIsReplacedOnceAndNotTakenBackWhileTheBackupDelivers) {
    platform::ScopedFakeClock clock;
    RcvController& c = initialised();
    ASSERT_EQ(c.GetPrimaryIndex(), c.GetActiveIndex());
    uint32_t backupSeq = 1;
    // 31 seconds: the backup delivers every second, the primary is silent.
    for (int s = 0; s < 31; ++s) {
        clock.advance(1000);
        feed(kBackupChannelId, backupSeq++);
        if (s % 3 == 2) c.CheckChannels();
    }
    c.CheckChannels();
    EXPECT_EQ(c.GetBackupIndex(), c.GetActiveIndex());
    EXPECT_EQ(1,
              log.count("信道 2000011 接收行情不正常，现转由信道 2100011 继续接收", kModule, 400))
        << log.dump();
    EXPECT_EQ(0u, c.GetChannel(c.GetBackupIndex())->nextSeq);
    // The new channel's next packet starts a sequence: no loss counted.
    feed(kBackupChannelId, backupSeq + 500);
    EXPECT_EQ(0, c.GetLostPackets());

    // The primary comes back; both deliver for a minute: nothing switches.
    uint32_t primarySeq = 1;
    for (int s = 0; s < 60; ++s) {
        clock.advance(1000);
        feed(kPrimaryChannelId, primarySeq++);
        feed(kBackupChannelId, backupSeq++ + 500);
        if (s % 3 == 2) c.CheckChannels();
    }
    EXPECT_EQ(c.GetBackupIndex(), c.GetActiveIndex());
    EXPECT_EQ(1, log.count("现转由信道", kModule));
    EXPECT_EQ(1, c.GetMcastStatus());
}

TEST_F(RcvControllerTest, BothChannelsSilentKeepTheActiveOneAndMulticastFallsToZeroAfterAMinute) {
    platform::ScopedFakeClock clock;
    RcvController& c = initialised();
    clock.advance(31000);
    c.CheckChannels();
    EXPECT_EQ(c.GetPrimaryIndex(), c.GetActiveIndex());
    EXPECT_EQ(1, c.GetMcastStatus());
    clock.advance(29000);  // 60 s: still within the minute
    c.CheckChannels();
    EXPECT_EQ(1, c.GetMcastStatus());
    clock.advance(1);
    c.CheckChannels();
    EXPECT_EQ(0, c.GetMcastStatus());
    EXPECT_EQ(0, log.count("现转由信道", kModule));
    // The backup speaks again: multicast is alive, and the silent primary
    // gives way to it.
    feed(kBackupChannelId, 1);
    c.CheckChannels();
    EXPECT_EQ(1, c.GetMcastStatus());
    EXPECT_EQ(c.GetBackupIndex(), c.GetActiveIndex());
}

TEST_F(RcvControllerTest, ChannelSilenceIsMeasuredAcrossTheTickWrap) {
    platform::ScopedFakeClock clock;
    clock.setTick(0xFFFFFFFFu - 5000);
    RcvController& c = initialised();
    clock.advance(10000);  // the tick wrapped; 10 s of silence, not 4 billion ms
    c.CheckChannels();
    EXPECT_EQ(1, c.GetMcastStatus());
    EXPECT_EQ(c.GetPrimaryIndex(), c.GetActiveIndex());
}

TEST_F(RcvControllerTest, FailoverTimerPostsTheCheckEveryThreeSecondsUntilStopped) {
    platform::ScopedFakeClock clock;
    conf.mcRcvPort1 = conf.mcRcvPort2 = TestPort(1);
    RcvController& c = initialised();
    ASSERT_EQ(0, c.Start()) << log.dump();
    int32_t id = c.GetFailoverTimerId();
    ASSERT_NE(velk::util::Timer::invalidId, id);
    // 21 periods of silence on both channels (63 s): each period the timer
    // posts the check and registers itself anew.
    for (int period = 0; period < 21; ++period) {
        clock.advance(3000);
        bool rescheduled = false;
        for (int i = 0; i < 500 && !rescheduled; ++i) {
            rescheduled = c.GetFailoverTimerId() != id;
            if (!rescheduled) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_TRUE(rescheduled) << "period " << period;
        id = c.GetFailoverTimerId();
    }
    for (int i = 0; i < 500 && c.GetMcastStatus() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(0, c.GetMcastStatus());
    c.Stop();
    EXPECT_EQ(velk::util::Timer::invalidId, c.GetFailoverTimerId());
    clock.advance(3000);  // nothing fires into a stopped controller
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

TEST_F(RcvControllerTest, TcpModeHasNoMulticastStatusNoTimerAndRefusesToStart) {
    conf.rcv_Mcast = 1;
    RcvController& c = initialised();
    EXPECT_EQ(1, log.count("本程序版本不含TCP通信模块，不能以TCP方式接收行情（rcv_Mcast=1）！",
                           kModule, 500));
    c.CheckChannels();
    EXPECT_EQ(0, c.GetMcastStatus());
    EXPECT_EQ(-1, c.Start());
    EXPECT_EQ(velk::util::Timer::invalidId, c.GetFailoverTimerId());
    EXPECT_EQ(1, log.count("TCP通信模块初始化失败", kModule, 500));
    EXPECT_EQ(1, log.count("通信初始化失败", kModule, 500));
}

TEST_F(RcvControllerTest, OptionalTcpTablesInMulticastModeAreNamedAsUnavailable) {
    conf.rcvZSXX = 1;
    conf.rcvFGKCJXX = 1;
    initialised();
    EXPECT_EQ(1, log.count("以下经TCP接收的表将收不到数据：做市转让申报信息（NQZSXX.DBF）、非公开"
                           "成交信息（NQFGKCJXX.DBF）",
                           kModule, 400))
        << log.dump();
}

TEST_F(RcvControllerTest, CommandsOtherThanTheChannelCheckAreLoggedAndIgnored) {
    RcvController& c = make();
    EXPECT_EQ(0, c.TakeCommand());
    ASSERT_EQ(0, c.PostCommand({11, 0}));
    EXPECT_EQ(1, c.TakeCommand());
    EXPECT_EQ(1, log.count("unkown command type 11", kModule, 300));
}

TEST_F(RcvControllerTest, SessionAndFilePacketsAreCountedAndDroppedUnknownTypesAreErrors) {
    RcvController& c = initialised();
    feed(kPrimaryChannelId, 1, PacketType::kSpecialNotice);
    feed(kPrimaryChannelId, 2, PacketType::kSpecialNotice);
    feed(kPrimaryChannelId, 3, PacketType::kFileData);
    feed(kPrimaryChannelId, 4, 99);
    EXPECT_EQ(4, c.GetPacketsReceived());
    EXPECT_EQ(3, c.GetUnhandledPackets());
    EXPECT_EQ(1, c.GetErrorPackets());
    EXPECT_EQ(1, log.count("不处理类型为 4 的包", kModule, 300));
    EXPECT_EQ(1, log.count("不处理类型为 41 的包", kModule, 300));
    EXPECT_EQ(0, c.GetQuoteHandler()->queueLength());
    // A quote packet goes to the quote handler's queue.
    feed(kPrimaryChannelId, 5, PacketType::kSecurityQuotes);
    EXPECT_EQ(1, c.GetQuoteHandler()->queueLength());
    EXPECT_STREQ("证券行情", c.GetLastTypeName());
}

TEST_F(RcvControllerTest, FatalEventsReachTheWindowOnceAndDocumentsOnlyWhileRunning) {
    RecordingWindow window;
    RcvController& c = initialised();
    c.OpenDocument("/data/notice.txt");
    c.ReportInvalidVersion();
    c.ReportInvalidVersion();
    c.OpenDocument("/data/late.txt");
    EXPECT_TRUE(c.IsExiting());
    auto m = window.messages();
    ASSERT_EQ(2u, m.size());
    EXPECT_EQ(platform::kMsgOpenDocument, m[0].first);
    EXPECT_EQ("/data/notice.txt", m[0].second);
    EXPECT_EQ(platform::kMsgInvalidVersion, m[1].first);
}

TEST_F(RcvControllerTest, ReceivesOverLoopbackMulticastAndStopsInOrderWithTheTotals) {
    conf.mcRcvPort1 = TestPort(2);
    conf.mcRcvPort2 = TestPort(3);
    RcvController& c = initialised();
    ASSERT_EQ(0, c.Start()) << log.dump();
    EXPECT_EQ(1, log.count("频道2000011组播启动成功", kModule, 200));
    EXPECT_EQ(1, log.count("频道2100011组播启动成功", kModule, 200));
    EXPECT_EQ(1, log.count("通信模块启动成功!", kModule, 300));

    platform::SocketHandle s = platform::OpenMulticastSender(Ipv4FromOctets(127, 0, 0, 1), 1);
    ASSERT_NE(platform::kInvalidSocket, s);
    for (uint32_t seq = 1; seq <= 3; ++seq) {
        Bytes p = WirePacket(kPrimaryChannelId, seq, PacketType::kIdle);
        ASSERT_TRUE(
            platform::SendDatagram(s, conf.mcRcvAddr1, conf.mcRcvPort1, p.data(), p.size()));
        Bytes q = WirePacket(kBackupChannelId, seq, PacketType::kIdle);
        ASSERT_TRUE(
            platform::SendDatagram(s, conf.mcRcvAddr2, conf.mcRcvPort2, q.data(), q.size()));
    }
    platform::CloseSocket(s);
    for (int i = 0; i < 500 && c.GetPacketsReceived() < 6; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(6, c.GetPacketsReceived());
    EXPECT_EQ(6 * 20, c.GetBytesReceived());
    c.Stop();

    // The worker ends as soon as the stop begins; the rest comes in order.
    EXPECT_EQ(1, log.count("主控制器退出", kModule, 300));
    const char* order[] = {
        "停止通信模块成功!", "停止行情处理器!", "停止主工作线程!",
        "共收到 6 个包，合计 120 字节。其中错包 0 个，乱序包 0 个，可统计的丢失包 "
        "0 个。",
        "系统退出！"};
    size_t at = 0;
    auto events = log.events();
    for (const char* text : order) {
        while (at < events.size() && events[at].text.find(text) == std::string::npos) ++at;
        EXPECT_LT(at, events.size()) << "missing or out of order: " << text << "\n" << log.dump();
    }
    c.Stop();  // a second Stop does nothing
    EXPECT_EQ(1, log.count("系统退出！"));
}

TEST_F(RcvControllerTest, ProcessWideInstanceIsSharedUntilReleased) {
    RcvController::Ptr a = RcvController::GetInstance(conf);
    CRcvConf other = conf;
    other.usrId = "other";
    RcvController::Ptr b = RcvController::GetInstance(other);
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(RcvController::GetInstance() == a);
    RcvController::ReleaseInstance();
    EXPECT_FALSE(RcvController::GetInstance());
    EXPECT_EQ(20170213, RcvController::GetVersionDate());
    a->SetPassword("secret");
    EXPECT_EQ("secret", a->GetPassword());
}

}  // namespace

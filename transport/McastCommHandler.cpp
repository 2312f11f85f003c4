#include "transport/McastCommHandler.h"

#include <cerrno>
#include <memory>

#include "platform/ErrorText.h"
#include "runtime/SimpleLogger.h"

namespace {

constexpr const char* kModule = "McastCommHandler";

uint32_t HeaderChannelId(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

McastCommHandler::McastCommHandler(velk::concurrent::SharedPtr<PacketSink> controller)
    : controller(std::move(controller)) {}

McastCommHandler::~McastCommHandler() {
    Stop();
    // Set up but never started: the thread did not get to close it.
    platform::CloseSocket(sock);
}

int McastCommHandler::Init(const ChannelState* channel, bool bindInterface) {
    channel_ = channel;
    bindInterface_ = bindInterface;
    if (channel_ == nullptr) return -1;
    platform::CloseSocket(sock);
    sock = MulticastThreadFunc();
    return sock == platform::kInvalidSocket ? -1 : 0;
}

platform::SocketHandle McastCommHandler::MulticastThreadFunc() {
    const int id = int(channel_->channelId);
    auto fail = [id](const char* message, platform::SocketHandle s) {
        const int err = errno;
        velk::log(kModule, velk::LevelError, message, id);
        velk::log(kModule, velk::LevelError, "  系统错误（信道 %d）：%s", id,
                  platform::OsErrorText(err).c_str());
        platform::CloseSocket(s);
        return platform::kInvalidSocket;
    };
    platform::SocketHandle s = platform::OpenUdpSocket();
    if (s == platform::kInvalidSocket) return fail("MulticastThreadFunc()::socket()（信道 %d）", s);
    // The two channels may share a UDP port; both sockets bind it.
    if (!platform::SetReuseAddress(s, true))
        return fail("MulticastThreadFunc()::setsockopt(SO_REUSEADDR)（信道 %d）", s);
    if (!platform::BindAnyAddress(s, channel_->port))
        return fail("MulticastThreadFunc()::bind()（信道 %d）", s);
    const uint32_t iface = bindInterface_ ? channel_->nicAddr : 0;
    if (!platform::JoinMulticastGroup(s, channel_->groupAddr, iface))
        return fail("MulticastThreadFunc()::setsockopt(IP_ADD_MEMBERSHIP)（信道 %d）", s);
    // Both channels usually share one port; each socket must hear only its
    // own group. Where the system cannot restrict it, the channel-id check
    // below still drops the other channel's packets.
    if (!platform::ReceiveOwnGroupsOnly(s)) {
        velk::log(kModule, velk::LevelWarn,
                  "MulticastThreadFunc()::setsockopt(IP_MULTICAST_ALL)（信道 %d）：%s", id,
                  platform::OsErrorText(errno).c_str());
    }
    if (!platform::SetReceiveBufferSize(s, kReceiveBufferBytes))
        return fail("MulticastThreadFunc()::setsockopt(SO_RCVBUF)（信道 %d）", s);
    return s;
}

int McastCommHandler::Start() {
    Join();
    if (sock == platform::kInvalidSocket) return -1;
    stopFlag.store(false);
    running_.store(true);
    thread.reset(new velk::concurrent::Thread(this, &McastCommHandler::ReceiveLoop, ""));
    return 0;
}

void McastCommHandler::Join() {
    if (!thread) return;
    thread->join();
    thread.reset();
}

void McastCommHandler::ReceiveLoop() {
    const int id = int(channelId());
    velk::log(kModule, velk::LevelInfo, "信道 %d 的接收线程启动！", id);
    // One buffer per thread for the whole run: a packet is copied out of it
    // into its own allocation before it is handed on.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBufferSize]);
    bool stopped = false;
    for (;;) {
        if (stopFlag.load()) {
            stopped = true;
            break;
        }
        const int ready = platform::PollReadable(sock, kPollIntervalMs);
        if (ready < 0) {
            velk::log(kModule, velk::LevelError, "select failed!（信道 %d）(errstr=%s)", id,
                      platform::OsErrorText(platform::LastSocketError()).c_str());
            break;
        }
        if (ready == 0) continue;
        const long n = platform::ReceiveDatagram(sock, buffer.get(), kBufferSize);
        if (n < 0) {
            velk::log(kModule, velk::LevelError, "recvfrom failed（信道 %d）", id);
            break;
        }
        if (n == 0) {
            velk::log(kModule, velk::LevelError, "读取数据返回 0，信道 %d 的线路异常关闭！", id);
            break;
        }
        Accept(buffer.get(), n);
    }
    if (stopped) velk::log(kModule, velk::LevelInfo, "信道 %d 的接收线程正常退出！", id);
    platform::CloseSocket(sock);
    sock = platform::kInvalidSocket;
    running_.store(false);
}

void McastCommHandler::Accept(const uint8_t* data, long length) {
    const int id = int(channelId());
    if (length < long(kMinDatagram)) {
        velk::log(kModule, velk::LevelError, "警告（信道 %d）：收到一个极小包，长度为 %d，已丢弃！",
                  id, int(length));
        return;
    }
    if (length > long(kBufferSize)) {
        velk::log(kModule, velk::LevelError,
                  "警告（信道 %d）：收到一个超长包，长度为 %d，超过 %d，已丢弃！", id, int(length),
                  int(kBufferSize));
        return;
    }
    const uint32_t headerId = HeaderChannelId(data);
    if (headerId != channelId()) {
        velk::log(kModule, velk::LevelError,
                  "警告（信道 %d）：收到一个信道标识不对的包，包头信道标识为 %d，已丢弃！", id,
                  int(headerId));
        return;
    }
    if (!controller) {
        velk::log(kModule, velk::LevelError, "please set rcv controller first!");
        return;
    }
    Packet::Ptr packet = Packet::FromBytes(data, size_t(length));
    if (!packet) {
        velk::log(kModule, velk::LevelError, "内存不足，丢弃一个包（信道 %d）！", id);
        return;
    }
    controller->EnqueuePacket(packet);
}

#pragma once
// The receiver of one multicast channel: joins the channel's group, reads
// datagrams on a thread of its own, drops those that cannot be packets of
// this channel, and hands every other one to the receive controller's queue.
// The controller creates one per channel and stops it (flag, then join)
// before anything else when the station stops.
#include <atomic>
#include <cstdint>

#include "controller/DecodeContext.h"
#include "platform/Socket.h"
#include "runtime/concurrent.h"
#include "transport/PacketSink.h"

class McastCommHandler {
  public:
    // A datagram is read into a buffer of this size; shorter than a header
    // or longer than the buffer, it cannot be a packet.
    static constexpr uint32_t kBufferSize = Packet::kMaxSize;
    static constexpr uint32_t kMinDatagram = Packet::kHeaderSize;
    static constexpr int kReceiveBufferBytes = 0x200000;
    // How long the thread waits for data before it looks at its stop flag.
    static constexpr int kPollIntervalMs = 10;

    explicit McastCommHandler(velk::concurrent::SharedPtr<PacketSink> controller);
    ~McastCommHandler();
    McastCommHandler(const McastCommHandler&) = delete;
    McastCommHandler& operator=(const McastCommHandler&) = delete;

    // Remembers the channel (not owned; it must outlive the handler) and
    // sets the socket up; bindInterface joins the group on the channel's
    // configured interface instead of any. 0 or -1.
    int Init(const ChannelState* channel, bool bindInterface);
    // Starts the receive thread (after joining a previous one). -1 when no
    // socket is set up.
    int Start();
    // Asks the thread to end; it notices within one poll interval.
    void RequestStop() { stopFlag.store(true); }
    // Waits for the thread and drops it.
    void Join();
    void Stop() {
        RequestStop();
        Join();
    }

    // The socket set-up: the socket, or kInvalidSocket after logging the
    // step that failed.
    platform::SocketHandle MulticastThreadFunc();

    uint32_t channelId() const { return channel_ != nullptr ? channel_->channelId : 0; }
    bool running() const { return running_.load(); }

  private:
    void ReceiveLoop();
    // One datagram of length bytes (its full length, possibly more than the
    // buffer holds) checked and handed on.
    void Accept(const uint8_t* data, long length);

    std::atomic<bool> stopFlag{false};
    platform::SocketHandle sock = platform::kInvalidSocket;
    const ChannelState* channel_ = nullptr;
    velk::concurrent::SharedPtr<PacketSink> controller;
    velk::concurrent::SharedPtr<velk::concurrent::Thread> thread;
    bool bindInterface_ = false;
    std::atomic<bool> running_{false};
};

#pragma once
// What decoding reads and changes besides the packet: the counters, the
// channel states with the active channel, the receive options that decide
// where a packet goes, and the scratch space of the decode step. The receive
// controller owns one; its worker thread is the only writer.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "controller/Inflater.h"
#include "controller/Rc6.h"

// A value that the worker thread alone writes and other threads (the main
// window, the monitor) read without a lock: relaxed atomic loads and stores,
// so readers see whole values and the writer pays for no locked instruction.
template <typename T>
class Published {
  public:
    Published() = default;
    explicit Published(T initial) : value_(initial) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    T get() const { return value_.load(std::memory_order_relaxed); }
    void set(T v) { value_.store(v, std::memory_order_relaxed); }
    // Single writer: a plain read-modify-write is enough.
    void add(T delta) { set(T(get() + delta)); }

  private:
    std::atomic<T> value_{};
};

constexpr uint32_t kPrimaryChannelId = 2000011;
constexpr uint32_t kBackupChannelId = 2100011;
// Every channel deciphers with this key; nothing changes it.
constexpr const char* kDefaultChannelKey = "7391739173917391";

struct ChannelState {
    uint32_t channelId = 0;
    // Sequence number expected next on this channel; 0 = none expected.
    uint32_t nextSeq = 0;
    std::string key = kDefaultChannelKey;
    // Directory for the files received on this channel.
    std::string fileDir;
    // Tick of the last multicast packet seen on this channel.
    uint32_t lastRecvTick = 0;
    // The files being received on this channel belong here; file reception
    // adds that list together with its file type.
    // Multicast group, UDP port and local interface of the channel (IPv4
    // addresses in network byte order, as the configuration holds them).
    uint32_t groupAddr = 0;
    uint16_t port = 0;
    uint32_t nicAddr = 0;
};

// The configuration switches that decide which packet types are taken.
struct ReceiveOptions {
    int32_t rcvMcast = 0;  // 0: quote snapshots by multicast; otherwise by TCP
    int32_t rcvZSXX = 0;
    int32_t rcvFGKSBXX = 0;
    int32_t rcvFGKCJXX = 0;

    bool tcpMode() const { return rcvMcast != 0; }
};

class DecodeContext {
  public:
    DecodeContext();
    // With an inflater of the caller's (tests give one that runs out of memory).
    explicit DecodeContext(std::unique_ptr<Inflater> inflater);
    ~DecodeContext();
    DecodeContext(const DecodeContext&) = delete;
    DecodeContext& operator=(const DecodeContext&) = delete;

    // Creates the two multicast channels, primary then backup, each with the
    // built-in key and the current tick as its last receive time, and makes
    // the primary channel active. Any channels made before are dropped.
    void createChannels();
    ChannelState* findChannel(uint32_t channelId);
    ChannelState* channel(int32_t index);
    ChannelState* activeChannel() { return channel(activeIndex.get()); }

    // Counters, all since start.
    Published<int64_t> packetsReceived;
    Published<int64_t> bytesReceived;
    Published<int64_t> errorPackets;
    Published<int64_t> outOfOrderPackets;
    Published<int64_t> lostPackets;

    // The last packet taken by the worker; the tick stays 0 until then.
    Published<uint32_t> lastChannelId;
    Published<int8_t> lastType;
    Published<uint32_t> lastRecvTick;

    std::vector<std::unique_ptr<ChannelState>> channels;
    Published<int32_t> primaryIndex{-1};
    Published<int32_t> backupIndex{-1};
    Published<int32_t> activeIndex{-1};

    ReceiveOptions options;

    // Scratch space of DecodePacket, made once so that decoding a packet
    // allocates nothing.
    uint8_t* workBuffer() { return workBuffer_.get(); }
    Inflater& inflater() { return *inflater_; }
    // The cipher keyed with a channel's text key; the key schedule is kept
    // until a packet needs another key.
    const Rc6& cipherFor(const std::string& key);

  private:
    std::unique_ptr<uint8_t[]> workBuffer_;
    std::unique_ptr<Inflater> inflater_;
    Rc6 cipher_;
    uint8_t cipherKey_[Rc6::kKeySize] = {};
    bool cipherKeyed_ = false;
};

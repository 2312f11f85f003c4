#pragma once
// The two multicast channels: every packet goes out on both, numbered per
// channel, through the faults asked for (loss, duplicates, reordering,
// corrupted bytes, a silent primary channel). Each channel also works out
// what the station's counters and log lines should say if that channel is
// the active one, by following the station's sequence rules over exactly
// the datagrams that went out.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mastersim/Rng.h"
#include "mastersim/Simulator.h"

namespace mastersim {

constexpr uint32_t kPrimaryChannel = 2000011;
constexpr uint32_t kBackupChannel = 2100011;
constexpr int kChannels = 2;

class DatagramSink {
  public:
    virtual ~DatagramSink() = default;
    // channel 0 = primary, 1 = backup. False when the datagram did not go out.
    virtual bool send(int channel, const uint8_t* data, size_t length) = 0;
};

// A period of real time after the start, in seconds.
struct Window {
    double at = -1;
    double length = 0;
    bool active() const { return at >= 0 && length > 0; }
    bool contains(double t) const { return active() && t >= at && t < at + length; }
};

struct FaultOptions {
    double loss = 0;         // probability that a datagram is lost
    double duplicate = 0;    // ... sent twice
    double reorder = 0;      // ... held back and sent after the next one
    double corrupt = 0;      // ... damaged (a payload byte, or its length)
    Window faults{0, 1e18};  // the rates apply only in this window
    bool onPrimary = true;
    bool onBackup = true;
    Window silencePrimary;  // the primary channel sends nothing
    uint64_t seed = 1;
};

// The station's sequence tracking over the datagrams of one channel.
struct SequenceView {
    uint32_t next = 0;  // 0 = none expected yet
    uint64_t lost = 0;
    uint64_t outOfOrder = 0;
    uint64_t singleLossLines = 0;  // "the packet with number n is lost"
    uint64_t rangeLossLines = 0;   // "the packets n to m are lost"
    void see(uint32_t seq);
};

struct ChannelStats {
    uint64_t numbered = 0;   // packets given a sequence number
    uint64_t datagrams = 0;  // datagrams that went out
    uint64_t bytes = 0;
    uint64_t dropped = 0;
    uint64_t duplicated = 0;
    uint64_t reordered = 0;
    uint64_t corruptChecksum = 0;  // datagrams out with a damaged payload byte
    uint64_t corruptLength = 0;    // datagrams out one byte short
    uint64_t silenced = 0;
    uint64_t sendErrors = 0;
    uint32_t lastSeq = 0;
    SequenceView view;
};

class Channels {
  public:
    Channels(const FaultOptions& faults, DatagramSink& sink, uint32_t firstSeq = 1);
    // Sends one packet on both channels; elapsed decides which faults apply.
    void send(const OutPacket& packet, double elapsed);
    // Sends the datagrams still held back for reordering.
    void flush();
    const ChannelStats& stats(int channel) const { return state_[channel].stats; }
    static uint32_t ChannelId(int channel) {
        return channel == 0 ? kPrimaryChannel : kBackupChannel;
    }

  private:
    struct State {
        uint32_t nextSeq = 1;
        ChannelStats stats;
        std::optional<std::vector<uint8_t>> held;
        std::vector<uint8_t> buffer;
    };
    void sendOne(int channel, const OutPacket& packet, double elapsed);
    void emit(int channel, const std::vector<uint8_t>& bytes);

    FaultOptions faults_;
    DatagramSink& sink_;
    Rng rng_;
    State state_[kChannels];
};

// Sends on loopback multicast: IP_MULTICAST_IF on a 127.x.x.x address,
// TTL 1 at most, loop on. Any other interface is refused, so that nothing
// ever leaves this machine.
class MulticastSink : public DatagramSink {
  public:
    MulticastSink() = default;
    ~MulticastSink() override;
    MulticastSink(const MulticastSink&) = delete;
    MulticastSink& operator=(const MulticastSink&) = delete;

    // Addresses in dotted form. False with a message when an address is not
    // acceptable or the socket cannot be set up.
    bool open(const std::string groups[kChannels], const uint16_t ports[kChannels],
              const std::string& interfaceAddr, int ttl, std::string* error);
    bool send(int channel, const uint8_t* data, size_t length) override;
    int lastError() const { return lastError_; }

  private:
    int fd_ = -1;
    uint32_t groups_[kChannels] = {};  // network byte order
    uint16_t ports_[kChannels] = {};
    int lastError_ = 0;
};

// 127.0.0.0/8 and 224.0.0.0/4 checks on dotted addresses; false for text
// that is not an IPv4 address.
bool ParseIpv4(const std::string& text, uint32_t& hostOrder);
bool IsLoopback(uint32_t hostOrder);
bool IsMulticast(uint32_t hostOrder);

}  // namespace mastersim

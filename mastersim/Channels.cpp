#include "mastersim/Channels.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mastersim {

void SequenceView::see(uint32_t seq) {
    if (next != 0 && seq != 0 && seq != next) {
        if (next < seq) {
            lost += seq - next;
            if (seq - next == 1)
                ++singleLossLines;
            else
                ++rangeLossLines;
        } else {
            ++outOfOrder;
        }
    }
    next = seq + 1;
}

Channels::Channels(const FaultOptions& faults, DatagramSink& sink, uint32_t firstSeq)
    : faults_(faults), sink_(sink), rng_(faults.seed * 0x2545F4914F6CDD1Dull + 7) {
    for (State& s : state_) s.nextSeq = firstSeq == 0 ? 1 : firstSeq;
}

void Channels::send(const OutPacket& packet, double elapsed) {
    for (int ch = 0; ch < kChannels; ++ch) sendOne(ch, packet, elapsed);
}

void Channels::sendOne(int ch, const OutPacket& packet, double elapsed) {
    State& s = state_[ch];
    if (ch == 0 && faults_.silencePrimary.contains(elapsed)) {
        ++s.stats.silenced;
        return;
    }
    const uint32_t seq = s.nextSeq++;
    if (s.nextSeq == 0) s.nextSeq = 1;  // 0 would mean "not numbered"
    ++s.stats.numbered;
    s.stats.lastSeq = seq;
    s.buffer.assign(packet.wire->begin(), packet.wire->end());
    SetChannelAndSeq(s.buffer.data(), ChannelId(ch), seq);

    const bool faulty =
        faults_.faults.contains(elapsed) && (ch == 0 ? faults_.onPrimary : faults_.onBackup);
    if (faulty && rng_.chance(faults_.loss)) {
        ++s.stats.dropped;
        return;
    }
    int damage = 0;  // 1: payload byte, 2: one byte short
    if (faulty && rng_.chance(faults_.corrupt)) {
        const Header h = ReadHeader(s.buffer.data());
        if ((h.flags & (kCrc32 | kAdler32)) != 0 && h.payloadLen > 0) {
            s.buffer[kHeaderSize + rng_.below(h.payloadLen)] ^= 0x5A;
            damage = 1;
        } else if (s.buffer.size() > kHeaderSize + 1) {
            s.buffer.pop_back();
            damage = 2;
        }
    }
    const int copies = faulty && rng_.chance(faults_.duplicate) ? 2 : 1;
    if (copies == 2) ++s.stats.duplicated;
    if (faulty && !s.held && rng_.chance(faults_.reorder)) {
        // Held back until the next datagram of this channel has gone out.
        ++s.stats.reordered;
        s.held = s.buffer;
        if (copies == 2) --s.stats.duplicated;  // a held datagram goes out once
        if (damage == 1) ++s.stats.corruptChecksum;
        if (damage == 2) ++s.stats.corruptLength;
        return;
    }
    if (damage == 1) s.stats.corruptChecksum += uint64_t(copies);
    if (damage == 2) s.stats.corruptLength += uint64_t(copies);
    for (int c = 0; c < copies; ++c) emit(ch, s.buffer);
    if (s.held) {
        emit(ch, *s.held);
        s.held.reset();
    }
}

void Channels::flush() {
    for (int ch = 0; ch < kChannels; ++ch) {
        State& s = state_[ch];
        if (!s.held) continue;
        emit(ch, *s.held);
        s.held.reset();
    }
}

void Channels::emit(int ch, const std::vector<uint8_t>& bytes) {
    ChannelStats& st = state_[ch].stats;
    if (!sink_.send(ch, bytes.data(), bytes.size())) {
        ++st.sendErrors;
        return;
    }
    ++st.datagrams;
    st.bytes += bytes.size();
    st.view.see(ReadHeader(bytes.data()).seqNo);
}

bool ParseIpv4(const std::string& text, uint32_t& hostOrder) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    hostOrder = ntohl(a.s_addr);
    return true;
}

bool IsLoopback(uint32_t a) {
    return (a >> 24) == 127;
}
bool IsMulticast(uint32_t a) {
    return (a >> 28) == 0xE;
}

MulticastSink::~MulticastSink() {
    if (fd_ >= 0) ::close(fd_);
}

bool MulticastSink::open(const std::string groups[kChannels], const uint16_t ports[kChannels],
                         const std::string& interfaceAddr, int ttl, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        return false;
    };
    uint32_t nic = 0;
    if (!ParseIpv4(interfaceAddr, nic))
        return fail("interface '" + interfaceAddr + "' is not an IPv4 address");
    if (!IsLoopback(nic))
        return fail("interface " + interfaceAddr +
                    " refused: the stand-in sends only on the loopback interface (127.0.0.0/8)");
    if (ttl < 0 || ttl > 1) return fail("TTL must be 0 or 1: multicast never leaves this machine");
    for (int ch = 0; ch < kChannels; ++ch) {
        uint32_t g = 0;
        if (!ParseIpv4(groups[ch], g) || !IsMulticast(g))
            return fail("group '" + groups[ch] + "' is not a multicast address (224.0.0.0/4)");
        if (ports[ch] == 0) return fail("port 0 is not a port");
        groups_[ch] = htonl(g);
        ports_[ch] = htons(ports[ch]);
    }
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd_ < 0) return fail(std::string("socket: ") + std::strerror(errno));
    in_addr ifaddr{};
    ifaddr.s_addr = htonl(nic);
    const unsigned char ttlByte = static_cast<unsigned char>(ttl);
    const unsigned char loop = 1;
    const int sndbuf = 4 << 20;
    if (setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &ifaddr, sizeof ifaddr) != 0)
        return fail(std::string("IP_MULTICAST_IF: ") + std::strerror(errno));
    if (setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttlByte, sizeof ttlByte) != 0)
        return fail(std::string("IP_MULTICAST_TTL: ") + std::strerror(errno));
    if (setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0)
        return fail(std::string("IP_MULTICAST_LOOP: ") + std::strerror(errno));
    setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
    // Bound to the loopback address too, so the datagrams' source is local.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(nic);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return fail(std::string("bind: ") + std::strerror(errno));
    return true;
}

bool MulticastSink::send(int ch, const uint8_t* data, size_t length) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = groups_[ch];
    to.sin_port = ports_[ch];
    for (int attempt = 0;; ++attempt) {
        const ssize_t n =
            ::sendto(fd_, data, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        if (n == ssize_t(length)) return true;
        if (n < 0 && errno == EINTR) continue;
        // A full send queue: wait a little for it to drain rather than lose
        // the datagram on our side (a second at most).
        if (n < 0 && (errno == ENOBUFS || errno == EAGAIN) && attempt < 10000) {
            usleep(100);
            continue;
        }
        lastError_ = n < 0 ? errno : EMSGSIZE;
        return false;
    }
}

}  // namespace mastersim

#include "platform/Socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

SocketHandle OpenUdpSocket() {
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    return s < 0 ? kInvalidSocket : s;
}

void CloseSocket(SocketHandle sock) {
    if (sock != kInvalidSocket) ::close(sock);
}

bool SetReuseAddress(SocketHandle sock, bool on) {
    int v = on ? 1 : 0;
    return ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &v, sizeof v) == 0;
}

bool BindAnyAddress(SocketHandle sock, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(port);
    return ::bind(sock, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

bool JoinMulticastGroup(SocketHandle sock, uint32_t groupAddr, uint32_t interfaceAddr) {
    ip_mreq m{};
    m.imr_multiaddr.s_addr = groupAddr;
    m.imr_interface.s_addr = interfaceAddr;
    return ::setsockopt(sock, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) == 0;
}

bool ReceiveOwnGroupsOnly(SocketHandle sock) {
    int off = 0;
    return ::setsockopt(sock, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) == 0;
}

bool SetReceiveBufferSize(SocketHandle sock, int bytes) {
    return ::setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

int PollReadable(SocketHandle sock, int timeoutMs) {
    pollfd p{};
    p.fd = sock;
    p.events = POLLIN;
    int n = ::poll(&p, 1, timeoutMs);
    if (n < 0) return errno == EINTR ? 0 : -1;
    if (n == 0) return 0;
    if ((p.revents & POLLNVAL) != 0) {
        errno = EBADF;
        return -1;
    }
    return 1;
}

long ReceiveDatagram(SocketHandle sock, void* buffer, size_t capacity) {
    for (;;) {
        // MSG_TRUNC makes the call report the datagram's real length, so an
        // oversized datagram is recognised instead of being taken cut short.
        ssize_t n = ::recv(sock, buffer, capacity, MSG_TRUNC);
        if (n < 0 && errno == EINTR) continue;
        return long(n);
    }
}

SocketHandle OpenMulticastSender(uint32_t interfaceAddr, int ttl) {
    // The wildcard would let the system pick the default interface.
    if (interfaceAddr == 0) {
        errno = EINVAL;
        return kInvalidSocket;
    }
    SocketHandle s = OpenUdpSocket();
    if (s == kInvalidSocket) return s;
    in_addr iface{};
    iface.s_addr = interfaceAddr;
    unsigned char t = static_cast<unsigned char>(ttl);
    unsigned char loop = 1;
    if (::setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface) != 0 ||
        ::setsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, &t, sizeof t) != 0 ||
        ::setsockopt(s, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0) {
        int saved = errno;
        CloseSocket(s);
        errno = saved;
        return kInvalidSocket;
    }
    return s;
}

bool SendDatagram(SocketHandle sock, uint32_t groupAddr, uint16_t port, const void* data,
                  size_t length) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = groupAddr;
    a.sin_port = htons(port);
    ssize_t n = ::sendto(sock, data, length, 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    return n >= 0 && size_t(n) == length;
}

}  // namespace platform

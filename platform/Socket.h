#pragma once
// UDP sockets as the station's transport uses them: a multicast receiver
// bound to a port and joined to a group, a readiness poll and a datagram
// read that reports the true length of a datagram too long for the buffer.
// A sender for loopback multicast serves the tests and the stand-in master
// station; it always names its outgoing interface, so nothing is ever sent
// on the default one by accident.
//
// Addresses are IPv4 values in network byte order (the first octet in the
// lowest memory byte), as the configuration holds them. Every call that can
// fail returns false (or -1) and leaves errno set.
#include <cstddef>
#include <cstdint>

namespace platform {

using SocketHandle = int;
constexpr SocketHandle kInvalidSocket = -1;

// A new IPv4 UDP socket, or kInvalidSocket.
SocketHandle OpenUdpSocket();
void CloseSocket(SocketHandle sock);

bool SetReuseAddress(SocketHandle sock, bool on);
// Binds the wildcard address and the port (host byte order).
bool BindAnyAddress(SocketHandle sock, uint16_t port);
// Joins the group on the interface with that local address; 0 (the
// wildcard) lets the system choose.
bool JoinMulticastGroup(SocketHandle sock, uint32_t groupAddr, uint32_t interfaceAddr);
// Limits the socket to the groups it joined itself. Without it Linux hands a
// socket every datagram sent to its port for any group some socket of the
// machine joined, so two channels sharing a port would each see the other's
// traffic.
bool ReceiveOwnGroupsOnly(SocketHandle sock);
bool SetReceiveBufferSize(SocketHandle sock, int bytes);

// 1 when a datagram can be read, 0 when none came within timeoutMs, -1 on
// failure (errno set). A signal that interrupts the wait counts as 0.
int PollReadable(SocketHandle sock, int timeoutMs);

// Reads one datagram into buffer. Returns its full length, which is larger
// than capacity when the datagram was cut short (the rest is discarded), or
// -1 on failure. A zero-length datagram gives 0.
long ReceiveDatagram(SocketHandle sock, void* buffer, size_t capacity);

// A socket that sends multicast from the interface with the given local
// address (127.0.0.1 in tests), with the given TTL, looping its datagrams
// back to receivers on this host. The wildcard address is refused (EINVAL).
SocketHandle OpenMulticastSender(uint32_t interfaceAddr, int ttl);
// Sends one datagram to group:port; false unless all of it went out.
bool SendDatagram(SocketHandle sock, uint32_t groupAddr, uint16_t port, const void* data,
                  size_t length);

}  // namespace platform

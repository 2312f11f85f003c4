#pragma once
// Where the receivers hand every packet they read: the receive controller's
// bounded queue. The receivers know only this, so transport stays below the
// controller.
#include "controller/Packet.h"

class PacketSink {
  public:
    virtual ~PacketSink() = default;
    // Queues the packet; blocks while the queue is full. -1 when the packet
    // was dropped because the station is stopping.
    virtual int EnqueuePacket(const Packet::Ptr& packet) = 0;
};

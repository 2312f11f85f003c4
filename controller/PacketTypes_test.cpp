#include "controller/PacketTypes.h"

#include <gtest/gtest.h>

#include "controller/Packet.h"

namespace {

using R = PacketRoute;

// Every type's route, for a multicast packet and a TCP packet, in multicast
// mode and in TCP mode, with the three optional tables off and on.
TEST(PacketTypes, RouteOfEveryTypeUnderConditionAAndTheTableSwitches) {
    struct Row {
        int type;
        R mcastInMcastMode, tcpInMcastMode, tcpInTcpMode, tcpWithTablesOff;
    } rows[] = {
        // type  mcast/mcast     tcp/mcast      tcp/tcp        tcp, switches off
        {2, R::Session, R::Session, R::Session, R::Session},
        {4, R::Session, R::Dropped, R::Session, R::Session},
        {5, R::NoAction, R::NoAction, R::NoAction, R::NoAction},
        {6, R::NoAction, R::NoAction, R::NoAction, R::NoAction},
        {8, R::Session, R::Session, R::Session, R::Session},
        {11, R::Quote, R::Dropped, R::Quote, R::Quote},
        {12, R::Quote, R::Dropped, R::Quote, R::Quote},
        {21, R::Quote, R::Dropped, R::Quote, R::Quote},
        {22, R::Quote, R::Dropped, R::Quote, R::Quote},
        {23, R::Quote, R::Dropped, R::Quote, R::Quote},
        {24, R::Quote, R::Quote, R::Quote, R::Dropped},
        {26, R::Quote, R::Quote, R::Quote, R::Dropped},
        {27, R::Quote, R::Quote, R::Quote, R::Dropped},
        {28, R::Session, R::Session, R::Session, R::Session},
        {41, R::File, R::Dropped, R::File, R::File},
        {42, R::File, R::Dropped, R::File, R::File},
        {52, R::Session, R::Session, R::Session, R::Session},
        {62, R::Session, R::Session, R::Session, R::Session},
        // Types only the station sends.
        {1, R::NoAction, R::NoAction, R::NoAction, R::NoAction},
        {7, R::NoAction, R::NoAction, R::NoAction, R::NoAction},
        {43, R::NoAction, R::NoAction, R::NoAction, R::NoAction},
        {51, R::NoAction, R::NoAction, R::NoAction, R::NoAction},
        {61, R::NoAction, R::NoAction, R::NoAction, R::NoAction},
        // Not packet types.
        {0, R::Unknown, R::Unknown, R::Unknown, R::Unknown},
        {3, R::Unknown, R::Unknown, R::Unknown, R::Unknown},
        {25, R::Unknown, R::Unknown, R::Unknown, R::Unknown},
        {63, R::Unknown, R::Unknown, R::Unknown, R::Unknown},
        {127, R::Unknown, R::Unknown, R::Unknown, R::Unknown},
        {-1, R::Unknown, R::Unknown, R::Unknown, R::Unknown},
    };
    ReceiveOptions mcast;
    mcast.rcvZSXX = mcast.rcvFGKSBXX = mcast.rcvFGKCJXX = 1;
    ReceiveOptions tcp = mcast;
    tcp.rcvMcast = 1;
    ReceiveOptions tcpTablesOff;
    tcpTablesOff.rcvMcast = 2;  // any non-zero value means TCP
    const uint8_t kTcp = Packet::kFromTcp | Packet::kAdler32;
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "type " << r.type);
        const int8_t type = int8_t(r.type);
        EXPECT_EQ(RoutePacket(type, Packet::kCrc32, mcast), r.mcastInMcastMode);
        EXPECT_EQ(RoutePacket(type, kTcp, mcast), r.tcpInMcastMode);
        EXPECT_EQ(RoutePacket(type, kTcp, tcp), r.tcpInTcpMode);
        EXPECT_EQ(RoutePacket(type, kTcp, tcpTablesOff), r.tcpWithTablesOff);
    }
}

TEST(PacketTypes, DisplayNames) {
    struct Row {
        int type;
        const char* fileKind;
        const char* name;
    } rows[] = {
        {11, nullptr, "系统信息"},
        {21, nullptr, "证券信息"},
        {22, nullptr, "证券行情"},
        {23, nullptr, "协议转让投资者申报信息"},
        {24, nullptr, "做市转让申报信息"},
        {26, nullptr, "非公开转让申报信息"},
        {27, nullptr, "非公开转让成交信息"},
        {41, nullptr, "文件"},
        {41, "", "文件"},
        {41, "公告", "公告"},
        {22, "公告", "证券行情"},
        {12, nullptr, "其他信息"},
        {2, nullptr, "其他信息"},
        {0, nullptr, "其他信息"},
        {-5, nullptr, "其他信息"},
    };
    for (const Row& r : rows)
        EXPECT_STREQ(PacketTypeName(int8_t(r.type), r.fileKind), r.name) << r.type;
}

}  // namespace

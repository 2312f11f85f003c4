#include "controller/PacketTypes.h"

#include "controller/Packet.h"

bool MeetsConditionA(uint8_t flags, const ReceiveOptions& options) {
    return options.tcpMode() || (flags & Packet::kFromTcp) == 0;
}

PacketRoute RoutePacket(int8_t type, uint8_t flags, const ReceiveOptions& options) {
    using namespace PacketType;
    const bool a = MeetsConditionA(flags, options);
    auto when = [](bool taken, PacketRoute route) { return taken ? route : PacketRoute::Dropped; };
    switch (type) {
        case kLogonResult:
        case kPasswordResult:
        case kDisabledIds:
        case kVersionQuery:
        case kExitNotice:
            return PacketRoute::Session;
        case kSpecialNotice:
            return when(a, PacketRoute::Session);
        case kSystemInfo:
        case kMarketState:
        case kSecurityInfo:
        case kSecurityQuotes:
        case kAgreementDeclarations:
            return when(a, PacketRoute::Quote);
        // These three tables come over TCP whatever the receive mode.
        case kMarketMakingDeclarations:
            return when(options.rcvZSXX != 0, PacketRoute::Quote);
        case kNonPublicDeclarations:
            return when(options.rcvFGKSBXX != 0, PacketRoute::Quote);
        case kNonPublicTrades:
            return when(options.rcvFGKCJXX != 0, PacketRoute::Quote);
        case kFileData:
        case kFileRequest:
            return when(a, PacketRoute::File);
        case kNone:
        case kIdle:
        // Packets the station itself sends have nothing to do when one comes back.
        case kLogonRequest:
        case kPasswordChange:
        case kFileRefusal:
        case kVersionReport:
        case kTableSubscription:
            return PacketRoute::NoAction;
        default:
            return PacketRoute::Unknown;
    }
}

const char* PacketTypeName(int8_t type, const char* fileKind) {
    using namespace PacketType;
    switch (type) {
        case kSystemInfo:
            return "系统信息";
        case kSecurityInfo:
            return "证券信息";
        case kSecurityQuotes:
            return "证券行情";
        case kAgreementDeclarations:
            return "协议转让投资者申报信息";
        case kMarketMakingDeclarations:
            return "做市转让申报信息";
        case kNonPublicDeclarations:
            return "非公开转让申报信息";
        case kNonPublicTrades:
            return "非公开转让成交信息";
        case kFileData:
            return fileKind != nullptr && fileKind[0] != '\0' ? fileKind : "文件";
        default:
            return "其他信息";
    }
}

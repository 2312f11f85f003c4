#pragma once
// The packet types, where a received packet of each type goes, and the names
// the main window shows for the type of the last packet.
#include <cstdint>

#include "controller/DecodeContext.h"

namespace PacketType {
constexpr int8_t kLogonRequest = 1;
constexpr int8_t kLogonResult = 2;
constexpr int8_t kSpecialNotice = 4;
constexpr int8_t kNone = 5;
constexpr int8_t kIdle = 6;
constexpr int8_t kPasswordChange = 7;
constexpr int8_t kPasswordResult = 8;
constexpr int8_t kSystemInfo = 11;
constexpr int8_t kMarketState = 12;
constexpr int8_t kSecurityInfo = 21;
constexpr int8_t kSecurityQuotes = 22;
constexpr int8_t kAgreementDeclarations = 23;
constexpr int8_t kMarketMakingDeclarations = 24;
constexpr int8_t kNonPublicDeclarations = 26;
constexpr int8_t kNonPublicTrades = 27;
constexpr int8_t kDisabledIds = 28;
constexpr int8_t kFileData = 41;
constexpr int8_t kFileRequest = 42;
constexpr int8_t kFileRefusal = 43;
constexpr int8_t kVersionReport = 51;
constexpr int8_t kVersionQuery = 52;
constexpr int8_t kTableSubscription = 61;
constexpr int8_t kExitNotice = 62;
}  // namespace PacketType

enum class PacketRoute {
    Session,   // handled at once on the worker thread
    Quote,     // to the quote handler's queue
    File,      // to file reception's queue
    NoAction,  // accepted and done with (also the types only the station sends)
    Dropped,   // not taken in this configuration; dropped without a message
    Unknown,   // not a packet type: logged and counted as an error
};

// Condition A: the quote snapshots come by TCP, or the packet did not come
// over the TCP session.
bool MeetsConditionA(uint8_t flags, const ReceiveOptions& options);

// Where a decoded packet of this type and flags goes.
PacketRoute RoutePacket(int8_t type, uint8_t flags, const ReceiveOptions& options);

// The name of a packet type for the operator. For file data it is the kind of
// file now being received when file reception names one, "文件" otherwise.
const char* PacketTypeName(int8_t type, const char* fileKind = nullptr);

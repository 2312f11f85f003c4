#pragma once
// The station's configuration record: every setting of Tavrel.cfg, read once
// at start-up and written only when the operator saves the settings.
#include <cstdint>
#include <string>
#include <vector>

#include "config/Ipv4Text.h"
#include "config/ServerInfos.h"

namespace platform {
class IniFile;
}
struct CRcvConf_v12;

class CRcvConf {
  public:
    // dwFlag bits; no other bit has a meaning.
    static constexpr uint32_t kFlagOpenFlagFile = 0x20000;
    static constexpr uint32_t kFlagAutoUpgrade = 0x40000;
    static constexpr uint32_t kFlagClockCorrection = 0x80000;
    static constexpr uint32_t kFlagBindInterfaces = 0x100000;

    // Bytes kept of a value when it is read: short texts and addresses went
    // into 50-byte buffers, paths into 255-byte ones.
    static constexpr size_t kShortTextMaxBytes = 49;
    static constexpr size_t kPathMaxBytes = 254;
    static constexpr size_t kAuthIdLength = 14;

    static constexpr const char* kSection = "CONFIG";
    static constexpr const char* kCurrentVersion = "V20160921";

    std::string CfgVersion = kCurrentVersion;
    std::string usrId;
    std::string AuthID;
    int32_t rcv_Mcast = 0;  // 0 = snapshot tables by multicast, else by TCP
    int32_t rcvZSXX = 0;
    int32_t rcvFGKCJXX = 0;
    int32_t rcvFGKSBXX = 0;
    uint16_t mcRcvPort1 = 4003;
    uint16_t mcRcvPort2 = 4003;
    // Addresses in network byte order.
    uint32_t mcRcvAddr1 = Ipv4FromOctets(239, 20, 0, 11);  // channel 2000011
    uint32_t mcRcvAddr2 = Ipv4FromOctets(239, 21, 0, 11);  // channel 2100011
    uint32_t mcNetCard1 = 0;
    uint32_t mcNetCard2 = 0;
    int32_t enableQuerySupport = 0;
    int32_t queryLsnAddr = 0;  // network byte order, held as a signed value
    int32_t queryLsnPort = 0;
    uint32_t dwFlag = 0;
    int32_t dwKeepFileDays = 0;
    std::string szDefaultDataPath;
    std::string szLogPath;
    std::string NQHQ_File;
    std::string NQXYXX_File;
    std::string NQZSXX_File;
    std::string NQXX_File;
    std::string NQFGKSBXX_File;
    std::string NQFGKCJXX_File;
    std::string szTYBulletinPath;
    std::string szTYOpenFlagFile;
    ServerInfos serverInfos;

    bool operator==(const CRcvConf&) const = default;

    // True when any table is received over TCP.
    bool tcpInUse() const;
    bool hasFlag(uint32_t bit) const { return (dwFlag & bit) != 0; }

    // Fills the record from the ini file. 0 when every item was read; -1
    // after the operator was shown what to fix (and, when itemsToFix is
    // given, those items are added to it one by one). What was read stays
    // in the record either way. szLogPath always ends up as progDir + "/Log";
    // an empty progDir means the ini file's own directory.
    int ReadFromIni(const std::string& iniPath, const std::string& progDir = std::string(),
                    std::vector<std::string>* itemsToFix = nullptr);
    int ReadFromIni(const platform::IniFile& ini, const std::string& progDir,
                    std::vector<std::string>* itemsToFix = nullptr);
    // Writes section CONFIG and the server lists into the file, keeping the
    // rest of it. 0 when everything was written; -1 with the file as it was.
    int WriteToIni(const std::string& iniPath) const;
    int WriteToIni(platform::IniFile& ini) const;
    // Takes over the settings of an older binary configuration; the version
    // tag and AuthID are not part of it and stay as they are.
    void MigrateFrom(const CRcvConf_v12& old, const std::string& progDir);

    // progDir + "/Log", the only log directory the station uses.
    static std::string LogPathFor(const std::string& progDir);
};

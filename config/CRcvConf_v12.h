#pragma once
// The older binary configuration NQHQ_v12.Cfg, read once to migrate a
// station to Tavrel.cfg and never written. The file is a flat little-endian
// stream without header; strings carry a length prefix of one, three or
// seven bytes. Every length and count is checked against what the file
// really holds, so a truncated or damaged file is a clean failure.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/ServerInfos.h"
#include "platform/File.h"

struct CRcvConf_v12 {
    // Older files are a few kilobytes; anything far larger is not one.
    static constexpr int64_t kMaxFileSize = 1024 * 1024;

    uint32_t formatVersion = 0;  // not used
    std::string usrId;           // UTF-8, as every string below
    int32_t rcv_Mcast = 0;
    int32_t rcvZSXX = 0;
    int32_t rcvFGKSBXX = 0;
    int32_t rcvFGKCJXX = 0;
    uint16_t mcRcvPort1 = 0;
    uint16_t mcRcvPort2 = 0;
    uint32_t mcRcvAddr1 = 0;  // network byte order
    uint32_t mcRcvAddr2 = 0;
    int32_t enableQuerySupport = 0;
    uint32_t queryLsnAddr = 0;  // network byte order
    int32_t queryLsnPort = 0;
    uint32_t dwFlag = 0;
    int32_t dwKeepFileDays = 0;
    uint32_t mcNetCard1 = 0;
    uint32_t mcNetCard2 = 0;
    std::string szDefaultDataPath;
    std::string szLogPath;  // not used
    std::string NQHQ_File;
    std::string NQXYXX_File;
    std::string NQZSXX_File;
    std::string NQXX_File;
    std::string NQFGKSBXX_File;
    std::string NQFGKCJXX_File;
    std::string szTYBulletinPath;
    std::string szTYOpenFlagFile;
    std::vector<ServerInfo> servers[2];  // centre one, centre two

    // Reads the file. 0 on success; -1 on failure, with fileError() set when
    // the file could not be opened or read and failure() telling what was
    // wrong with its content otherwise.
    int ReadV12File(const std::string& path);
    // Reads the record from the file's bytes; -1 when they are not a whole
    // record.
    int Parse(std::string_view bytes);

    const platform::FileError& fileError() const { return fileError_; }
    const std::string& failure() const { return failure_; }

  private:
    platform::FileError fileError_;
    std::string failure_;
};

#pragma once
// Helpers shared by the configuration's tests: a UI host that records the
// message boxes instead of showing them, and a complete configuration.
#include <string>
#include <vector>

#include "config/CRcvConf.h"
#include "platform/UiHost.h"

namespace configtest {

// Installed for its lifetime; answers every box with its default button.
class RecordingUiHost : public platform::UiHost {
  public:
    RecordingUiHost() { platform::SetUiHost(this); }
    ~RecordingUiHost() override { platform::SetUiHost(nullptr); }
    RecordingUiHost(const RecordingUiHost&) = delete;
    RecordingUiHost& operator=(const RecordingUiHost&) = delete;

    platform::BoxResult messageBox(const platform::MessageBoxRequest& request) override {
        boxes.push_back(request);
        return request.defaultResult;
    }
    // "title|text" of every box, in order.
    std::vector<std::string> shown() const {
        std::vector<std::string> out;
        for (const auto& b : boxes) out.push_back(b.title + "|" + b.text);
        return out;
    }

    std::vector<platform::MessageBoxRequest> boxes;
};

// A configuration in which every item is set and valid, with Chinese text
// in names and paths and servers in both centres.
inline CRcvConf FullConf(const std::string& progDir) {
    CRcvConf c;
    c.CfgVersion = "V20160921";
    c.usrId = "0105";
    c.AuthID = "AB345678901234";
    c.rcv_Mcast = 0;
    c.rcvZSXX = 1;
    c.rcvFGKCJXX = 1;
    c.rcvFGKSBXX = 0;
    c.mcRcvPort1 = 4003;
    c.mcRcvPort2 = 4004;
    c.mcRcvAddr1 = Ipv4FromOctets(239, 20, 0, 11);
    c.mcRcvAddr2 = Ipv4FromOctets(239, 21, 0, 11);
    c.mcNetCard1 = Ipv4FromOctets(127, 0, 0, 1);
    c.mcNetCard2 = Ipv4FromOctets(192, 168, 1, 200);
    c.enableQuerySupport = 1;
    c.queryLsnAddr = int32_t(Ipv4FromOctets(127, 0, 0, 1));
    c.queryLsnPort = 9001;
    c.dwFlag = CRcvConf::kFlagOpenFlagFile | CRcvConf::kFlagBindInterfaces;
    c.dwKeepFileDays = 30;
    c.szDefaultDataPath = "/data/行情";
    c.szLogPath = CRcvConf::LogPathFor(progDir);
    c.NQHQ_File = "/data/行情/NQInfo/NQHQ.DBF";
    c.NQXYXX_File = "/data/行情/NQInfo/NQXYXX.DBF";
    c.NQZSXX_File = "/data/行情/NQInfo/NQZSXX.DBF";
    c.NQXX_File = "/data/行情/NQInfo/NQXX.DBF";
    c.NQFGKSBXX_File = "/data/行情/NQInfo/NQFGKSBXX.DBF";
    c.NQFGKCJXX_File = "/data/行情/NQInfo/NQFGKCJXX.DBF";
    c.szTYBulletinPath = "/data/行情/公告";
    c.szTYOpenFlagFile = "/data/行情/OPENFLAG";
    c.serverInfos.setList(ServerInfos::kCentreOne, {ServerInfo{"", "127.0.0.1", 7006, "中心一主机"},
                                                    ServerInfo{"S2", "127.0.0.2", 7016, ""}});
    c.serverInfos.setList(ServerInfos::kCentreTwo, {ServerInfo{"", "127.0.1.1", 7006, "备份"}});
    return c;
}

}  // namespace configtest

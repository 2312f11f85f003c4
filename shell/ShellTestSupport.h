#pragma once
// Test helpers of the station's start-up: a complete configuration whose
// multicast channels are joined on the loopback interface, and a message-box
// host that records what the operator would have seen.
#include <mutex>
#include <string>
#include <vector>

#include "config/CRcvConf.h"
#include "config/Ipv4Text.h"
#include "platform/UiHost.h"
#include "runtime/Util.h"

namespace shelltest {

// Every item set, multicast only, both channels bound to 127.0.0.1 (flag
// 0x100000), the tables and directories below dir.
inline CRcvConf LoopbackConfig(const std::string& dir, uint16_t port1, uint16_t port2) {
    CRcvConf c;
    c.usrId = "S0001";
    c.AuthID = "AUTH0123456789";
    c.mcRcvPort1 = port1;
    c.mcRcvPort2 = port2;
    c.mcRcvAddr1 = Ipv4FromOctets(239, 255, 11, 1);
    c.mcRcvAddr2 = Ipv4FromOctets(239, 255, 11, 2);
    c.mcNetCard1 = c.mcNetCard2 = Ipv4FromOctets(127, 0, 0, 1);
    c.dwFlag = CRcvConf::kFlagBindInterfaces;
    const std::string data = velk::util::JoinPath(dir, "data");
    c.szDefaultDataPath = data;
    c.szLogPath = velk::util::JoinPath(dir, "Log");
    c.szTYBulletinPath = velk::util::JoinPath(dir, "bulletin");
    c.szTYOpenFlagFile = velk::util::JoinPath(data, "OPENFLAG");
    c.NQHQ_File = velk::util::JoinPath(data, "NQHQ.DBF");
    c.NQXX_File = velk::util::JoinPath(data, "NQXX.DBF");
    c.NQXYXX_File = velk::util::JoinPath(data, "NQXYXX.DBF");
    c.NQZSXX_File = velk::util::JoinPath(data, "NQZSXX.DBF");
    c.NQFGKSBXX_File = velk::util::JoinPath(data, "NQFGKSBXX.DBF");
    c.NQFGKCJXX_File = velk::util::JoinPath(data, "NQFGKCJXX.DBF");
    return c;
}

struct Box {
    std::string text;
    std::string title;
    platform::BoxIcon icon;
    platform::BoxButtons buttons;
    platform::BoxResult defaultResult;
};

// Installed for its lifetime; answers every box with its default.
class RecordingUiHost : public platform::UiHost {
  public:
    RecordingUiHost() { platform::SetUiHost(this); }
    ~RecordingUiHost() override { platform::SetUiHost(nullptr); }
    platform::BoxResult messageBox(const platform::MessageBoxRequest& r) override {
        std::lock_guard<std::mutex> g(m_);
        boxes_.push_back(Box{r.text, r.title, r.icon, r.buttons, r.defaultResult});
        return r.defaultResult;
    }
    std::vector<Box> boxes() {
        std::lock_guard<std::mutex> g(m_);
        return boxes_;
    }
    // The number of boxes whose text contains the fragment.
    int count(const std::string& fragment) {
        std::lock_guard<std::mutex> g(m_);
        int n = 0;
        for (const Box& b : boxes_) n += b.text.find(fragment) != std::string::npos ? 1 : 0;
        return n;
    }

  private:
    std::mutex m_;
    std::vector<Box> boxes_;
};

}  // namespace shelltest

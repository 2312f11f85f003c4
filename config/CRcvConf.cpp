#include "config/CRcvConf.h"

#include "config/CRcvConf_v12.h"
#include "platform/IniFile.h"
#include "platform/Text.h"
#include "platform/UiHost.h"
#include "runtime/SimpleLogger.h"
#include "runtime/Util.h"

namespace {

constexpr const char* kModule = "Tavrel";
constexpr const char* kSection = CRcvConf::kSection;

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string Cut(const std::string& utf8, size_t maxBytes) {
    std::string gbk = platform::Utf8ToGbk(utf8);
    if (gbk.size() <= maxBytes) return utf8;
    return platform::GbkToUtf8(platform::IniFile::CutGbk(gbk, maxBytes));
}

// One CONFIG value to write, in the order the file keeps them.
struct Item {
    const char* key;
    std::string value;
    size_t maxBytes;  // what the reader keeps; longer values are refused
};

}  // namespace

bool CRcvConf::tcpInUse() const {
    return rcv_Mcast != 0 || rcvZSXX == 1 || rcvFGKSBXX == 1 || rcvFGKCJXX == 1;
}

std::string CRcvConf::LogPathFor(const std::string& progDir) {
    return velk::util::JoinPath(progDir, "Log");
}

int CRcvConf::ReadFromIni(const std::string& iniPath, const std::string& progDir,
                          std::vector<std::string>* itemsToFix) {
    platform::IniFile ini;
    if (!ini.load(iniPath)) {
        // Read as the profile functions would: as if every key were absent.
        velk::log(kModule, velk::LevelError, "读取配置文件“%s”失败：%s", iniPath.c_str(),
                  velk::util::ErrorText(ini.error().osError).c_str());
    }
    return ReadFromIni(ini, progDir.empty() ? DirectoryOf(iniPath) : progDir, itemsToFix);
}

int CRcvConf::ReadFromIni(const platform::IniFile& ini, const std::string& progDir,
                          std::vector<std::string>* itemsToFix) {
    const std::string version = ini.getString(kSection, "CfgVersion", "", kShortTextMaxBytes);
    if (version.empty()) {
        // The record keeps its own version, so that the next save writes one.
        platform::ShowMessageBox("读取版本信息配置项出错", "提示", platform::BoxIcon::Information);
        if (itemsToFix != nullptr) itemsToFix->push_back("版本信息");
        return -1;
    }
    CfgVersion = version;

    std::string errors;
    auto note = [&](bool failed, const char* item) {
        if (!failed) return;
        errors += item;
        if (itemsToFix != nullptr) {
            std::string name(item);
            name.pop_back();  // the ";" that separates items in the message
            itemsToFix->push_back(name);
        }
    };
    auto number = [&](const char* key) { return ini.getInt(kSection, key, -1); };
    auto text = [&](const char* key, size_t maxBytes) {
        return ini.getString(kSection, key, "", maxBytes);
    };
    auto address = [&](const char* key) { return ParseIpv4(text(key, kShortTextMaxBytes)); };
    auto missing = [](int32_t v) { return v == -1; };

    rcv_Mcast = number("rcv_Mcast");
    note(missing(rcv_Mcast), "接收方式;");
    rcvZSXX = number("rcvZSXX");
    note(missing(rcvZSXX), "是否接收做市委托;");
    rcvFGKCJXX = number("rcvFGKCJXX");
    note(missing(rcvFGKCJXX), "是否接收非公开成交信息;");
    rcvFGKSBXX = number("rcvFGKSBXX");
    note(missing(rcvFGKSBXX), "是否接收非公开申报信息;");
    usrId = text("usrId", kShortTextMaxBytes);
    note(usrId.empty() && (rcv_Mcast == 1 || rcvZSXX == 1 || rcvFGKCJXX == 1 || rcvFGKSBXX == 1),
         "小站号;");
    AuthID = text("AuthID", kShortTextMaxBytes);
    note(platform::Utf8ToGbk(AuthID).size() != kAuthIdLength, "行情授权ID;");

    const bool multicast = rcv_Mcast == 0;
    const int32_t port1 = number("mcRcvPort1");
    mcRcvPort1 = uint16_t(port1);
    note(missing(port1) && multicast, "主用组播端口;");
    const int32_t port2 = number("mcRcvPort2");
    mcRcvPort2 = uint16_t(port2);
    note(missing(port2) && multicast, "备用组播端口;");
    mcRcvAddr1 = address("mcRcvAddr1");
    note(mcRcvAddr1 == kInvalidAddr && multicast, "主用组播地址;");
    mcRcvAddr2 = address("mcRcvAddr2");
    note(mcRcvAddr2 == kInvalidAddr && multicast, "备用组播地址;");

    enableQuerySupport = number("enableQuerySupport");
    note(missing(enableQuerySupport), "启用监控;");
    queryLsnAddr = number("queryLsnAddr");
    note(missing(queryLsnAddr) && enableQuerySupport == 1, "监控服务地址;");
    queryLsnPort = number("queryLsnPort");
    note(missing(queryLsnPort) && enableQuerySupport == 1, "监控端口;");
    const int32_t flag = number("dwFlag");
    dwFlag = uint32_t(flag);
    note(missing(flag), "功能标志;");
    dwKeepFileDays = number("dwKeepFileDays");
    note(missing(dwKeepFileDays), "文件保留天数;");
    mcNetCard1 = address("mcNetCard1");
    note(mcNetCard1 == kInvalidAddr && hasFlag(kFlagBindInterfaces), "主用组播网卡绑定;");
    mcNetCard2 = address("mcNetCard2");
    note(mcNetCard2 == kInvalidAddr && hasFlag(kFlagBindInterfaces), "备用组播网卡绑定;");

    szDefaultDataPath = text("szDefaultDataPath", kPathMaxBytes);
    note(szDefaultDataPath.empty(), "默认路径;");
    szLogPath = text("szLogPath", kPathMaxBytes);
    note(szLogPath.empty(), "系统日志路径;");
    NQXX_File = text("NQXX_File", kPathMaxBytes);
    note(NQXX_File.empty(), "证券信息库NQXX.dbf;");
    NQXYXX_File = text("NQXYXX_File", kPathMaxBytes);
    note(NQXYXX_File.empty(), "协议转让投资者申报信息文件NQXYXX.dbf;");
    NQZSXX_File = text("NQZSXX_File", kPathMaxBytes);
    note(NQZSXX_File.empty() && rcvZSXX == 1, "做市转让申报信息文件NQZSXX.dbf;");
    NQHQ_File = text("NQHQ_File", kPathMaxBytes);
    note(NQHQ_File.empty(), "证券行情文件NQHQ.dbf;");
    NQFGKSBXX_File = text("NQFGKSBXX_File", kPathMaxBytes);
    note(NQFGKSBXX_File.empty() && rcvFGKSBXX == 1, "非公开申报信息库;");
    NQFGKCJXX_File = text("NQFGKCJXX_File", kPathMaxBytes);
    note(NQFGKCJXX_File.empty() && rcvFGKCJXX == 1, "非公开成交信息库;");
    szTYOpenFlagFile = text("szTYOpenFlagFile", kPathMaxBytes);
    note(szTYOpenFlagFile.empty() && hasFlag(kFlagOpenFlagFile), "开市标志文件;");
    szTYBulletinPath = text("szTYBulletinPath", kPathMaxBytes);
    note(szTYBulletinPath.empty(), "公告文件路径;");
    note(serverInfos.ReadServerLists(ini) != 0, "服务器组配置项;");

    szLogPath = LogPathFor(progDir);

    if (!errors.empty()) {
        platform::ShowMessageBox("读取“" + errors + "”配置项出错，请重新配置！", "提示",
                                 platform::BoxIcon::Information);
        return -1;
    }
    return 0;
}

int CRcvConf::WriteToIni(const std::string& iniPath) const {
    // The whole file is read first and replaced in one step: a file that
    // cannot be read is never overwritten (its other sections would be
    // lost), and a failure leaves it as it was.
    platform::IniFile ini;
    if (!ini.load(iniPath)) {
        velk::log(kModule, velk::LevelError, "读取配置文件“%s”失败：%s", iniPath.c_str(),
                  velk::util::ErrorText(ini.error().osError).c_str());
        return -1;
    }
    if (WriteToIni(ini) != 0) return -1;
    if (!ini.save(iniPath)) {
        velk::log(kModule, velk::LevelError, "写配置文件“%s”失败：%s", iniPath.c_str(),
                  velk::util::ErrorText(ini.error().osError).c_str());
        return -1;
    }
    return 0;
}

int CRcvConf::WriteToIni(platform::IniFile& ini) const {
    auto number = [](int64_t v) { return std::to_string(v); };
    const size_t kAny = platform::IniFile::kNoLimit;
    const Item items[] = {
        {"CfgVersion", CfgVersion, kShortTextMaxBytes},
        {"usrId", usrId, kShortTextMaxBytes},
        {"AuthID", AuthID, kShortTextMaxBytes},
        {"rcv_Mcast", number(rcv_Mcast), kAny},
        {"rcvZSXX", number(rcvZSXX), kAny},
        {"rcvFGKCJXX", number(rcvFGKCJXX), kAny},
        {"rcvFGKSBXX", number(rcvFGKSBXX), kAny},
        {"mcRcvPort1", number(mcRcvPort1), kAny},
        {"mcRcvPort2", number(mcRcvPort2), kAny},
        {"mcRcvAddr1", FormatIpv4(mcRcvAddr1), kAny},
        {"mcRcvAddr2", FormatIpv4(mcRcvAddr2), kAny},
        {"enableQuerySupport", number(enableQuerySupport), kAny},
        {"queryLsnAddr", number(queryLsnAddr), kAny},
        {"queryLsnPort", number(queryLsnPort), kAny},
        {"dwFlag", number(int32_t(dwFlag)), kAny},
        {"dwKeepFileDays", number(dwKeepFileDays), kAny},
        {"mcNetCard1", FormatIpv4(mcNetCard1), kAny},
        {"mcNetCard2", FormatIpv4(mcNetCard2), kAny},
        {"szDefaultDataPath", szDefaultDataPath, kPathMaxBytes},
        {"szLogPath", szLogPath, kPathMaxBytes},
        {"NQHQ_File", NQHQ_File, kPathMaxBytes},
        {"NQXYXX_File", NQXYXX_File, kPathMaxBytes},
        {"NQZSXX_File", NQZSXX_File, kPathMaxBytes},
        {"NQXX_File", NQXX_File, kPathMaxBytes},
        {"NQFGKSBXX_File", NQFGKSBXX_File, kPathMaxBytes},
        {"NQFGKCJXX_File", NQFGKCJXX_File, kPathMaxBytes},
        {"szTYBulletinPath", szTYBulletinPath, kPathMaxBytes},
        {"szTYOpenFlagFile", szTYOpenFlagFile, kPathMaxBytes},
    };
    for (const Item& item : items) {
        // A value the reader would cut short is refused rather than stored:
        // the next start would otherwise use a different path or name.
        if (item.maxBytes != kAny && platform::Utf8ToGbk(item.value).size() > item.maxBytes) {
            velk::log(kModule, velk::LevelError, "配置项%s超过%d字节，不能保存", item.key,
                      int(item.maxBytes));
            return -1;
        }
    }
    for (const Item& item : items) {
        if (!ini.setString(kSection, item.key, item.value)) {
            velk::log(kModule, velk::LevelError, "配置项%s含有换行，不能保存", item.key);
            return -1;
        }
    }
    return serverInfos.WriteServerLists(ini);
}

void CRcvConf::MigrateFrom(const CRcvConf_v12& old, const std::string& progDir) {
    // Values are cut to what Tavrel.cfg keeps, so that the operator sees now
    // what the station will read after the next start.
    usrId = Cut(old.usrId, kShortTextMaxBytes);
    rcv_Mcast = old.rcv_Mcast;
    rcvZSXX = old.rcvZSXX;
    rcvFGKSBXX = old.rcvFGKSBXX;
    rcvFGKCJXX = old.rcvFGKCJXX;
    mcRcvPort1 = old.mcRcvPort1;
    mcRcvPort2 = old.mcRcvPort2;
    mcRcvAddr1 = old.mcRcvAddr1;
    mcRcvAddr2 = old.mcRcvAddr2;
    enableQuerySupport = old.enableQuerySupport;
    queryLsnAddr = int32_t(old.queryLsnAddr);
    queryLsnPort = old.queryLsnPort;
    dwFlag = old.dwFlag;
    dwKeepFileDays = old.dwKeepFileDays;
    mcNetCard1 = old.mcNetCard1;
    mcNetCard2 = old.mcNetCard2;
    szDefaultDataPath = Cut(old.szDefaultDataPath, kPathMaxBytes);
    NQHQ_File = Cut(old.NQHQ_File, kPathMaxBytes);
    NQXYXX_File = Cut(old.NQXYXX_File, kPathMaxBytes);
    NQZSXX_File = Cut(old.NQZSXX_File, kPathMaxBytes);
    NQXX_File = Cut(old.NQXX_File, kPathMaxBytes);
    NQFGKSBXX_File = Cut(old.NQFGKSBXX_File, kPathMaxBytes);
    NQFGKCJXX_File = Cut(old.NQFGKCJXX_File, kPathMaxBytes);
    szTYBulletinPath = Cut(old.szTYBulletinPath, kPathMaxBytes);
    szTYOpenFlagFile = Cut(old.szTYOpenFlagFile, kPathMaxBytes);
    serverInfos.setList(ServerInfos::kCentreOne, old.servers[0]);
    serverInfos.setList(ServerInfos::kCentreTwo, old.servers[1]);
    szLogPath = LogPathFor(progDir);
}

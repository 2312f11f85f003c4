#include "config/AppConfig.h"

#include "config/CRcvConf_v12.h"
#include "platform/ErrorText.h"
#include "platform/UiHost.h"
#include "runtime/SimpleLogger.h"
#include "runtime/Util.h"

namespace {

constexpr const char* kModule = "Tavrel";

void Info(const std::string& text, const char* title = "提示") {
    platform::ShowMessageBox(text, title, platform::BoxIcon::Information);
}

void Fatal(const std::string& text) {
    platform::ShowMessageBox(text, "严重错误", platform::BoxIcon::Error);
}

void LogServers(const CRcvConf& conf, int which, const char* heading) {
    const std::vector<ServerInfo> servers = conf.serverInfos.list(which);
    if (servers.empty()) return;
    velk::log(kModule, velk::LevelInfo, "%s", heading);
    for (const ServerInfo& s : servers)
        velk::log(kModule, velk::LevelInfo, "   %s   %d", s.serverAddr.c_str(), int(s.port));
}

}  // namespace

ConfigPaths ConfigPaths::ForProgramDir(const std::string& progDir) {
    ConfigPaths p;
    p.progDir = progDir;
    p.cfgPath = velk::util::JoinPath(progDir, "Tavrel.cfg");
    p.oldCfgPath = velk::util::JoinPath(progDir, "NQHQ_v12.Cfg");
    return p;
}

ConfigPaths ConfigPaths::ForExecutable(const std::string& exePath) {
    size_t slash = exePath.find_last_of('/');
    ConfigPaths p =
        ForProgramDir(slash == std::string::npos ? std::string() : exePath.substr(0, slash));
    p.exePath = exePath;
    return p;
}

int LoadConfig(CRcvConf& conf, const ConfigPaths& paths, int& lastFileError,
               std::vector<std::string>* itemsToFix) {
    conf = CRcvConf();
    if (velk::util::FileExists(paths.cfgPath))
        return conf.ReadFromIni(paths.cfgPath, paths.progDir, itemsToFix) == 0 ? 0 : NeedsEditing;

    CRcvConf_v12 old;
    if (old.ReadV12File(paths.oldCfgPath) == 0) {
        conf.MigrateFrom(old, paths.progDir);
        Info("授权ID不存在，请重新配置AuthID！");
        if (itemsToFix != nullptr) itemsToFix->push_back("行情授权ID");
        return NeedsEditing;
    }
    const platform::FileError& error = old.fileError();
    if (!error.failed()) {
        // The older file is there but is not a whole record: nothing of it
        // is taken, and the operator configures the station afresh.
        velk::log(kModule, velk::LevelError, "旧配置文件“%s”已损坏：%s", paths.oldCfgPath.c_str(),
                  old.failure().c_str());
        Info("旧配置文件 “ " + paths.oldCfgPath + " ” 已损坏，无法迁移，请重新配置！");
        return NeedsEditing;
    }
    if (error.cause == platform::FileCause::NotFound) {
        lastFileError = kFileNotFound;
        Info("配置文件 “ " + paths.cfgPath + " ” 不存在，创建新配置！");
        return 0;
    }
    lastFileError = error.osError;
    Fatal(platform::OsErrorText(error.osError));
    return -1;
}

int SaveConfig(const CRcvConf& conf, const ConfigPaths& paths) {
    if (conf.WriteToIni(paths.cfgPath) != 0) {
        Fatal("配置参数写入失败");
        return -1;
    }
    Info("配置参数已保存,重启程序后生效！");
    return 0;
}

int CheckTcpServers(const CRcvConf& conf) {
    if (conf.tcpInUse() && conf.serverInfos.isCentreOneEmpty()) {
        Fatal("TCP行情没有配置通信中心一的任何服务器，请至少配置一个通信中心一的服务器！");
        return -1;
    }
    return 0;
}

void LogConfig(const CRcvConf& conf, const ConfigPaths& paths) {
// Each summary line goes through the checked logger call.
#define line(...) velk::log(kModule, velk::LevelInfo, __VA_ARGS__)
    line("程序路径：%s", paths.exePath.c_str());
    line("配置文件：%s", paths.cfgPath.c_str());
    line("日志文件：%s", paths.logFile.c_str());
    line("列表文件：%s", paths.listFile.c_str());
    line("================以下为配置内容================");
    if (conf.rcv_Mcast != 0) {
        line(" 不接收组播");
    } else {
        line("  主用组播地址：%s", FormatIpv4(conf.mcRcvAddr1).c_str());
        line("  主用组播端口：%d", int(conf.mcRcvPort1));
        line("  备用组播地址：%s", FormatIpv4(conf.mcRcvAddr2).c_str());
        line("  备用用组播端口：%d", int(conf.mcRcvPort2));
        if (conf.hasFlag(CRcvConf::kFlagBindInterfaces)) {
            line("  主用组播网卡绑定：从地址为 %s 的网卡接收数据",
                 FormatIpv4(conf.mcNetCard1).c_str());
            line("  备用组播网卡绑定：从地址为 %s 的网卡接收数据",
                 FormatIpv4(conf.mcNetCard2).c_str());
        } else {
            line("  网卡绑定：未设置");
        }
    }
    if (conf.tcpInUse()) {
        line("  小站号：%s", conf.usrId.c_str());
        LogServers(conf, ServerInfos::kCentreOne, "  中心一的服务器：");
        LogServers(conf, ServerInfos::kCentreTwo, "  中心二的服务器：");
    } else {
        line("不接收TCP");
    }
    line("  AuthID：%s", conf.AuthID.c_str());
    if (conf.enableQuerySupport != 0) {
        line("  监控地址：%s", FormatIpv4(uint32_t(conf.queryLsnAddr)).c_str());
        line("  监控端口：%d", int(conf.queryLsnPort));
    } else {
        line("  不启用监控");
    }
    line("  功能标志：0x%08X", unsigned(conf.dwFlag));
    line("  缺省路径：%s", conf.szDefaultDataPath.c_str());
    line("  日志路径：%s", conf.szLogPath.c_str());
    if (conf.hasFlag(CRcvConf::kFlagOpenFlagFile))
        line("  开市标志：创建 %s", conf.szTYOpenFlagFile.c_str());
    else
        line("  开市标志：不创建");
    if (conf.dwKeepFileDays != 0)
        line("  旧文件：保留 %d 天", int(conf.dwKeepFileDays));
    else
        line("  旧文件：不清除");
    line(conf.hasFlag(CRcvConf::kFlagAutoUpgrade) ? "  自动升级：自动进行"
                                                  : "  自动升级：给出提示，确认后进行");
    line(conf.hasFlag(CRcvConf::kFlagClockCorrection) ? "  时间校正：校准为股市时间"
                                                      : "  时间校正：不进行");
    line("  证券行情库：%s", conf.NQHQ_File.c_str());
    line("  证券信息库：%s", conf.NQXX_File.c_str());
    line("  协议转让投资者申报信息：%s", conf.NQXYXX_File.c_str());
    line("  公告路径：%s", conf.szTYBulletinPath.c_str());
    if (conf.rcvZSXX != 0)
        line("  做市转让申报信息：%s", conf.NQZSXX_File.c_str());
    else
        line("  不接收做市转让申报信息");
    if (conf.rcvFGKSBXX != 0)
        line("  非公开申报信息：%s", conf.NQFGKSBXX_File.c_str());
    else
        line("  不接收非公开申报信息");
    if (conf.rcvFGKCJXX != 0)
        line("  非公开成交信息：%s", conf.NQFGKCJXX_File.c_str());
    else
        line("  不接收非公开成交信息");
    line("=================配置内容结束=================");
#undef line
}

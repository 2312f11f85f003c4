#include "shell/TavrelApp.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/UiHost.h"
#include "platform/WindowMessages.h"
#include "runtime/RunParams.h"
#include "runtime/Util.h"
#include "shell/CTavrelDlg.h"
#include "shell/HeadlessLoop.h"
#include "shell/ReadRunParams.h"
#include "shell/TerminalView.h"

namespace {

constexpr const char* kFatalTitle = "严重错误";

int Fatal(const std::string& text) {
    platform::ShowMessageBox(text, kFatalTitle, platform::BoxIcon::Error);
    return -1;
}

}  // namespace

CTavrelApp::CTavrelApp() = default;

CTavrelApp::~CTavrelApp() {
    if (fileAppender) velk::SimpleLogger::removeAppender(fileAppender.get());
}

int CTavrelApp::Run(int argc, const char* const* argv, const std::atomic<int>* signal) {
    const CommandLine commandLine = ParseCommandLine(argc, argv);
    const char* name = argc > 0 ? argv[0] : "tavrel";
    if (commandLine.help) {
        std::fputs(CommandLineUsage(name).c_str(), stdout);
        return kExitOk;
    }
    if (!commandLine.errors.empty()) {
        for (const std::string& e : commandLine.errors) std::fprintf(stderr, "%s\n", e.c_str());
        std::fputs(CommandLineUsage(name).c_str(), stderr);
        return kExitConfigure;
    }

    // This build has one front-end, the terminal; --headless says so
    // explicitly and is what services and scripts pass.
    TerminalView view(TerminalView::ForStandardStreams());
    platform::SetUiHost(&view);
    int status = kExitFailed;
    if (FindProgramDirectory(commandLine.programDir) == 0) {
        // Relative paths in the configuration are taken from the program
        // directory, wherever the program was started from.
        if (chdir(progDir.c_str()) != 0)
            Fatal("不能进入程序目录 " + progDir + "：" + velk::util::ErrorText(errno));
        ReadRunParams(RunParamsPath(), nullptr);
        if (commandLine.configMode) {
            status = CheckConfigurationOnly();
        } else if ((status = LoadConfiguration()) == 0) {
            status = kExitFailed;
            if (PrepareDirectories() == 0) {
                OpenLog();
                status = RunMainWindow(commandLine, signal, view);
            }
        }
    }
    platform::SetUiHost(nullptr);
    return status;
}

int CTavrelApp::FindProgramDirectory(const std::string& dirOption) {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return Fatal("不能得到程序的执行路径！");
    exePath.assign(buf, size_t(n));
    if (dirOption.empty()) {
        const size_t slash = exePath.find_last_of('/');
        if (slash == std::string::npos) return Fatal("不能得到程序的执行路径！");
        progDir = slash == 0 ? "/" : exePath.substr(0, slash);
    } else {
        char resolved[PATH_MAX];
        errno = 0;
        if (realpath(dirOption.c_str(), resolved) == nullptr || !platform::IsDirectory(resolved)) {
            return Fatal("程序目录 " + dirOption + " 不存在或不能访问：" +
                         velk::util::ErrorText(errno != 0 ? errno : ENOTDIR));
        }
        progDir = resolved;
    }
    paths = ConfigPaths::ForProgramDir(progDir);
    paths.exePath = exePath;
    return 0;
}

std::string CTavrelApp::RunParamsPath() const {
    return velk::util::JoinPath(progDir, "runParams.Cfg");
}

int CTavrelApp::LoadConfiguration() {
    int lastFileError = 0;
    itemsToFix.clear();
    const int result = LoadConfig(conf, paths, lastFileError, &itemsToFix);
    if (result == -1) return kExitFailed;
    if (result == NeedsEditing || lastFileError == kFileNotFound) {
        ReportItemsToFix(lastFileError == kFileNotFound);
        return kExitConfigure;
    }
    return 0;
}

void CTavrelApp::ReportItemsToFix(bool noFile) {
    std::string text = "没有图形界面，参数配置窗口无法打开。";
    if (noFile) {
        text += "请创建配置文件 " + paths.cfgPath +
                " 后重新启动（格式见 README 的“Running the station”一节）。";
    } else if (itemsToFix.empty()) {
        text += "请在 " + paths.cfgPath + " 中重新配置全部参数后重新启动。";
    } else {
        text += "请在 " + paths.cfgPath + " 中完成以下配置项后重新启动：";
        for (const std::string& item : itemsToFix) text += "\n  " + item;
    }
    platform::ShowMessageBox(text, kFatalTitle, platform::BoxIcon::Error);
}

int CTavrelApp::CheckConfigurationOnly() {
    const int status = LoadConfiguration();
    if (status != 0) return status;
    if (CheckTcpServers(conf) != 0) return kExitConfigure;
    platform::ShowMessageBox("配置文件 " + paths.cfgPath + " 检查无误。", "提示");
    return kExitOk;
}

int CTavrelApp::PrepareDirectories() {
    if (velk::util::EnsureDir(conf.szDefaultDataPath) != 0)
        return Fatal("创建缺省数据路径时出错，程序退出！");
    if (velk::util::EnsureDir(conf.szLogPath) != 0) return Fatal("创建日志路径时出错，程序退出！");

    const platform::WallTime today = platform::Now();
    char stem[32];
    std::snprintf(stem, sizeof stem, "NQHQ%02d%02d", today.month, today.day);
    logPath = conf.szLogPath;
    const std::string dir = velk::util::TrimPath(logPath);
    logFile = velk::util::JoinPath(dir, std::string(stem) + ".Log");
    listFile = velk::util::JoinPath(dir, std::string(stem) + ".Lst");
    paths.logFile = logFile;
    paths.listFile = listFile;

    // The log must be writable, not merely present: a log that silently
    // takes nothing would leave the station without its record.
    platform::File probe;
    if (velk::util::EnsureFile(logFile) != 0 || !probe.open(logFile, true))
        return Fatal("创建日志文件时出错，程序退出！");
    probe.close();

    if (velk::util::EnsureDir(conf.szTYBulletinPath) != 0)
        return Fatal("创建公告路径时出错，程序退出！");
    return 0;
}

void CTavrelApp::OpenLog() {
    if (fileAppender) velk::SimpleLogger::removeAppender(fileAppender.get());
    fileAppender = std::make_unique<velk::SimpleLogger::FileAppender>(logFile);
    fileAppender->setLevel(velk::RunParams::instance().fileLogLevel.load());
    velk::SimpleLogger::addAppender(fileAppender.get());
}

int CTavrelApp::RunMainWindow(const CommandLine& commandLine, const std::atomic<int>* signal,
                              TerminalView& view) {
    HeadlessLoop loop;
    CTavrelDlg::Setup setup;
    setup.conf = conf;
    setup.paths = paths;
    setup.runParamsPath = RunParamsPath();
    setup.fileAppender = fileAppender.get();
    CTavrelDlg window(setup, view, loop);
    if (commandLine.hasPassword) window.SetPresetPassword(commandLine.password);

    platform::SetMainWindow(&loop);
    if (window.OnInitDialog() == CTavrelDlg::InitResult::Running) {
        loop.run(window, signal);
    } else {
        // Without a desktop nobody could read a window left open: what
        // failed is on the error stream and in the log, and the run ends.
        window.OnClose(false);
    }
    platform::SetMainWindow(nullptr);
    return window.exitStatus();
}

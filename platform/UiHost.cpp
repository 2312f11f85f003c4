#include "platform/UiHost.h"

#include <atomic>
#include <cstdio>

namespace platform {
namespace {

HeadlessUiHost& DefaultHost() {
    static HeadlessUiHost host;
    return host;
}

std::atomic<UiHost*> g_host{nullptr};

const char* ResultName(BoxResult r) {
    switch (r) {
        case BoxResult::Ok:
            return "OK";
        case BoxResult::Cancel:
            return "Cancel";
        case BoxResult::Yes:
            return "Yes";
        case BoxResult::No:
            return "No";
    }
    return "OK";
}

}  // namespace

HeadlessUiHost::HeadlessUiHost(LogSink sink, bool toStderr)
    : sink_(std::move(sink)), toStderr_(toStderr) {}

BoxResult HeadlessUiHost::messageBox(const MessageBoxRequest& request) {
    int level = request.icon == BoxIcon::Error ? 500 : request.icon == BoxIcon::Warning ? 400 : 300;
    std::string line = "[" + request.title + "] " + request.text;
    if (request.buttons != BoxButtons::Ok) {
        line += " (";
        line += ResultName(request.defaultResult);
        line += ")";
    }
    if (sink_) sink_(level, line);
    if (toStderr_) std::fprintf(stderr, "%s\n", line.c_str());
    return request.defaultResult;
}

UiHost& CurrentUiHost() {
    UiHost* h = g_host.load(std::memory_order_acquire);
    return h != nullptr ? *h : DefaultHost();
}

void SetUiHost(UiHost* host) {
    g_host.store(host, std::memory_order_release);
}

BoxResult ShowMessageBox(const std::string& text, const std::string& title, BoxIcon icon,
                         BoxButtons buttons, BoxResult defaultResult) {
    MessageBoxRequest r;
    r.text = text;
    r.title = title;
    r.icon = icon;
    r.buttons = buttons;
    r.defaultResult = defaultResult;
    return CurrentUiHost().messageBox(r);
}

}  // namespace platform

#include "platform/WindowMessages.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<WindowMessageTarget*> g_mainWindow{nullptr};

}  // namespace

void SetMainWindow(WindowMessageTarget* target) {
    g_mainWindow.store(target, std::memory_order_release);
}

WindowMessageTarget* MainWindow() {
    return g_mainWindow.load(std::memory_order_acquire);
}

long SendToMainWindow(int message, const std::string& text) {
    WindowMessageTarget* target = MainWindow();
    return target != nullptr ? target->sendMessage(message, text) : -1;
}

}  // namespace platform

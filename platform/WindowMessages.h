#pragma once
// The messages that background threads send to the main window, and the one
// place where the main window registers to receive them. A send is
// synchronous: the caller waits until the window's own thread has handled
// the message. A window that is closing answers every waiting and every new
// send at once with -1, so a worker never holds up the shutdown that is
// about to join it.
#include <string>

namespace platform {

// The receive controller's messages to the main window.
constexpr int kMsgOpenDocument = 1126;    // text: the document's path
constexpr int kMsgInvalidVersion = 1127;  // the master station refuses this version
constexpr int kMsgLogonAccepted = 1128;   // the change-password button may be used
constexpr int kMsgChangeInitialPassword = 1129;
constexpr int kMsgAuthorisationEnded = 1130;  // the market-data ID was disabled

class WindowMessageTarget {
  public:
    virtual ~WindowMessageTarget() = default;
    // Runs the message on the window's thread and returns its result; -1
    // without waiting when the window is closing or gone.
    virtual long sendMessage(int message, const std::string& text) = 0;
};

// Registers the main window (not owned); nullptr when it is gone. The window
// must stay registered and alive while any thread may still send, that is
// until the receive controller has stopped.
void SetMainWindow(WindowMessageTarget* target);
WindowMessageTarget* MainWindow();
// Sends to the registered main window; -1 when there is none.
long SendToMainWindow(int message, const std::string& text = std::string());

}  // namespace platform

#pragma once
// Modal message boxes go through one host. The desktop front-end shows real
// boxes on its GUI thread; the headless host writes the box to the log and
// to stderr and takes the default button, so a station without a display
// never waits for a click that cannot come.
#include <functional>
#include <string>

namespace platform {

enum class BoxIcon { None, Information, Warning, Error, Question };
enum class BoxButtons { Ok, OkCancel, YesNo };
enum class BoxResult { Ok, Cancel, Yes, No };

struct MessageBoxRequest {
    std::string text;   // UTF-8
    std::string title;  // UTF-8
    BoxButtons buttons = BoxButtons::Ok;
    BoxIcon icon = BoxIcon::None;
    BoxResult defaultResult = BoxResult::Ok;  // the button taken without an operator
};

class UiHost {
  public:
    virtual ~UiHost() = default;
    // Shows the box and blocks the calling thread until it is answered.
    virtual BoxResult messageBox(const MessageBoxRequest& request) = 0;
};

// Writes boxes to a log sink (given the box's level: 500 for an error icon,
// 400 for a warning, 300 otherwise) and to stderr; answers with the default.
class HeadlessUiHost : public UiHost {
  public:
    using LogSink = std::function<void(int level, const std::string& text)>;
    explicit HeadlessUiHost(LogSink sink = nullptr, bool toStderr = true);
    BoxResult messageBox(const MessageBoxRequest& request) override;

  private:
    LogSink sink_;
    bool toStderr_;
};

// The host in use; a headless host writing only to stderr until one is set.
UiHost& CurrentUiHost();
// Installs a host (not owned); nullptr restores the default.
void SetUiHost(UiHost* host);

// Shorthand for the common case.
BoxResult ShowMessageBox(const std::string& text, const std::string& title,
                         BoxIcon icon = BoxIcon::Information, BoxButtons buttons = BoxButtons::Ok,
                         BoxResult defaultResult = BoxResult::Ok);

}  // namespace platform

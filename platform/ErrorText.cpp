#include "platform/ErrorText.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::string OsErrorText(int err) {
    if (err == 0) return std::string();
    char buf[256];
    buf[0] = '\0';
    // GNU strerror_r returns the text, which may or may not live in buf.
    const char* text = strerror_r(err, buf, sizeof buf);
    return text != nullptr ? std::string(text) : std::string();
}

int LastSocketError() {
    return errno;
}

}  // namespace platform

#pragma once
// The system's text for an error code (errno), the role the Windows message
// table plays for the station's original platform.
#include <string>

namespace platform {

// "" for 0; otherwise strerror's text.
std::string OsErrorText(int err);
// The calling thread's last socket error (errno on this platform).
int LastSocketError();

}  // namespace platform

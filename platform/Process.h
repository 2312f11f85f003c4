#pragma once
// Starting another program and leaving it to run on its own (the upgrade
// program the station starts as it closes).
#include <string>
#include <vector>

namespace platform {

// Starts program with the arguments, without waiting for it and without
// handing it the station's terminal input. False (with the system's text in
// *error when given) when it could not be started.
bool StartDetachedProcess(const std::string& program, const std::vector<std::string>& args,
                          std::string* error = nullptr);

}  // namespace platform

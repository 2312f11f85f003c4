#pragma once
// The program's name and the version date it reports: shown in the welcome
// line and the About box, and sent to the master station at log-on.
#include <cstdint>

namespace resources {

inline constexpr const char* kProgramTitle = "Tavrel";
inline constexpr const char* kVersionDate = "20170213";

// The version date as a number, yyyymmdd.
constexpr int32_t VersionDateNumber() {
    int32_t v = 0;
    for (const char* p = kVersionDate; *p != '\0'; ++p) v = v * 10 + (*p - '0');
    return v;
}
static_assert(VersionDateNumber() == 20170213);

}  // namespace resources

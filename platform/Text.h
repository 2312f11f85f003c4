#pragma once
// Text conversion at the edges of the station: inside, text is UTF-8; in the
// log file, the configuration files, the monitor protocol and packet texts
// it is GBK. Invalid input never fails: each bad sequence becomes one
// replacement character (U+FFFD towards UTF-8, '?' towards GBK, which has no
// replacement character of its own).
#include <string>
#include <string_view>

namespace platform {

std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);

// Length of the UTF-8 sequence starting at s[0] when it is well formed
// (1..4), 0 when it is not.
int Utf8SequenceLength(std::string_view s);

}  // namespace platform

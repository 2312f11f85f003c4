#pragma once
// Small stateless helpers shared by several parts of the station: text and
// switch parsing, elapsed ticks, file and directory helpers, error texts and
// date formatting. Only DeleteOldFiles logs (module "Util").
#include <cstdint>
#include <string>

namespace velk::util {

// 0 when both texts have the same length and equal letters ignoring case.
int SameTextNoCase(const std::string& a, const std::string& b);
// "1", "ON" or "YES" in any case.
bool ParseSwitch(const std::string& text);
// Milliseconds from tick to now; a tick of 0 or one ahead of the clock is
// set to now and gives 0.
uint32_t ElapsedSince(uint32_t& tick);
// True unless the file does not exist (an unreadable file exists).
bool FileExists(const std::string& path);
// Creates the file empty when missing; 0 when it exists afterwards.
int EnsureFile(const std::string& path);
// Strips leading white space and trailing blanks, line ends and separators.
std::string TrimPath(const std::string& path);
// Creates one directory level when missing; 0 when it exists afterwards.
int EnsureDir(const std::string& path);
// Copies in 16 KiB blocks and gives the copy the source's times.
bool CopyFileKeepTimes(const std::string& from, const std::string& to);
// Deletes the files of dir (not sub-directories) older than days whole days;
// stops with -1 at the first file that cannot be deleted.
int DeleteOldFiles(const std::string& dir, int days);
std::string ErrorText(int err);
std::string SocketErrorText();
// Today's local date as yyyymmdd.
int32_t TodayNumber();
std::string FormatHms(int32_t hhmmss);
std::string FormatHmsCs(int32_t hhmmsscc);
// dir + "/" + name, without doubling a separator.
std::string JoinPath(const std::string& dir, const std::string& name);

}  // namespace velk::util

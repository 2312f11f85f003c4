#pragma once
// The station's command line: "/Cfg" alone opens only the settings; "-p"
// gives the log-on password (POSIX getopt conventions, option string "p: ",
// other options ignored). The front-end adds its own options, which are
// taken out before the station's arguments are looked at:
//   --headless   run without a desktop (the only front-end of this build)
//   --dir DIR    the program directory, where it is not the executable's
//   --help       print the usage and end
#include <string>
#include <vector>

struct CommandLine {
    static constexpr size_t kPasswordChars = 19;

    bool configMode = false;
    bool hasPassword = false;
    std::string password;  // at most kPasswordChars characters
    bool headless = false;
    std::string programDir;  // empty: the executable's directory
    bool help = false;
    // Front-end options that could not be understood, one text each.
    std::vector<std::string> errors;
};

CommandLine ParseCommandLine(int argc, const char* const* argv);
// The usage text printed for --help and after a command-line error.
std::string CommandLineUsage(const char* programName);

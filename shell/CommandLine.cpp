#include "shell/CommandLine.h"

#include "runtime/Util.h"

namespace {

// The first n characters of a UTF-8 text (a character is never split).
std::string FirstChars(const std::string& text, size_t n) {
    size_t i = 0;
    for (size_t chars = 0; i < text.size() && chars < n; ++chars) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    return text.substr(0, i);
}

// getopt over the station's arguments with the option string "p: ":
// options may be grouped ("-xp"), "-p" takes the rest of its argument or the
// next one, "--" ends the options, and non-options are skipped (getopt
// permutes them to the end).
void ParseStationOptions(const std::vector<std::string>& args, CommandLine& out) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") break;
        if (a.size() < 2 || a[0] != '-') continue;
        for (size_t j = 1; j < a.size(); ++j) {
            if (a[j] != 'p') continue;
            std::string value;
            if (j + 1 < a.size()) {
                value = a.substr(j + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                break;  // "-p" without a value is ignored, as getopt reports it
            }
            out.hasPassword = true;
            out.password = FirstChars(value, CommandLine::kPasswordChars);
            break;
        }
    }
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine out;
    std::vector<std::string> station;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i] != nullptr ? argv[i] : "";
        if (a == "--headless") {
            out.headless = true;
        } else if (a == "--help") {
            out.help = true;
        } else if (a == "--dir") {
            if (i + 1 < argc && argv[i + 1] != nullptr && argv[i + 1][0] != '\0') {
                out.programDir = argv[++i];
            } else {
                out.errors.push_back("--dir needs a directory");
            }
        } else if (a.rfind("--dir=", 0) == 0) {
            out.programDir = a.substr(6);
            if (out.programDir.empty()) out.errors.push_back("--dir needs a directory");
        } else {
            station.push_back(a);
        }
    }
    // The whole command line, as the station sees it, decides the mode.
    std::string whole;
    for (const std::string& a : station) whole += (whole.empty() ? "" : " ") + a;
    if (velk::util::SameTextNoCase(whole, "/Cfg") == 0) {
        out.configMode = true;
        return out;
    }
    ParseStationOptions(station, out);
    return out;
}

std::string CommandLineUsage(const char* programName) {
    std::string name = programName != nullptr ? programName : "tavrel";
    return "usage: " + name +
           " [--headless] [--dir DIR] [-p PASSWORD]\n"
           "       " +
           name +
           " [--headless] [--dir DIR] /Cfg\n"
           "  --headless   run as a console program (no desktop window)\n"
           "  --dir DIR    program directory holding Tavrel.cfg and runParams.Cfg\n"
           "               (default: the directory of the executable)\n"
           "  -p PASSWORD  log-on password for the TCP session (first 19 characters)\n"
           "  /Cfg         check the configuration and end (nothing is received)\n";
}

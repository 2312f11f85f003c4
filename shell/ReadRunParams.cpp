#include "shell/ReadRunParams.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/File.h"
#include "runtime/RunParams.h"
#include "runtime/Util.h"

namespace {

constexpr const char* kModule = "Tavrel";
// A line is read in pieces of at most this many characters.
constexpr int kLineChars = 199;
constexpr size_t kTokenChars = 79;
// Besides the documented separators, a carriage return ends a token: a file
// written on Windows ends its lines with CR LF.
constexpr const char* kSeparators = " ,[]=\t\n\r";

using velk::RunParams;
using Field = std::atomic<int16_t> RunParams::*;

struct Key {
    const char* name;
    Field field;
    bool isNumber;
};

constexpr Key kKeys[] = {
    {"testPerformance", &RunParams::testPerformance, false},
    {"DebugNewRoundSw", &RunParams::DebugNewRoundSw, false},
    {"DebugRecNoSw", &RunParams::DebugRecNoSw, false},
    {"saveFirstRoundQuota", &RunParams::saveFirstRoundQuota, false},
    {"saveClosedRoundQuota", &RunParams::saveClosedRoundQuota, false},
    {"savePerRound", &RunParams::savePerRound, false},
    {"fileLogLevel", &RunParams::fileLogLevel, true},
    {"viewLogLevel", &RunParams::viewLogLevel, true},
    {"checkTraffic", &RunParams::checkTraffic, false},
};

void SetDefaults(RunParams& p) {
    p.testPerformance = 0;
    p.DebugRecNoSw = 0;
    p.saveFirstRoundQuota = 0;
    p.saveClosedRoundQuota = 0;
    p.savePerRound = 0;
    p.fileLogLevel = 200;
    p.viewLogLevel = 300;
    p.checkTraffic = 1;
}

// A level read as a decimal number (leading digits, as atoi reads them),
// held to the 16 bits it is stored in instead of wrapping round.
int16_t ParseLevel(const std::string& text) {
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > SHRT_MAX) return SHRT_MAX;
    if (v < SHRT_MIN) return SHRT_MIN;
    return int16_t(v);
}

const Key* FindKey(const std::string& name) {
    for (const Key& k : kKeys) {
        if (velk::util::SameTextNoCase(name, k.name) == 0) return &k;
    }
    return nullptr;
}

// Hands out the file's lines as a C library's line reader would: each at
// most kLineChars characters (a longer line comes in several pieces), the
// line feed kept.
class LineReader {
  public:
    explicit LineReader(platform::File& file) : file_(file) {}
    // False at the end of the file or on a read error (see failed()).
    bool next(char* line) {
        size_t n = 0;
        while (n < size_t(kLineChars)) {
            if (pos_ == len_ && !fill()) break;
            const char c = buf_[pos_++];
            line[n++] = c;
            if (c == '\n') break;
        }
        line[n] = '\0';
        return n > 0;
    }
    bool failed() const { return failed_; }

  private:
    bool fill() {
        size_t got = 0;
        if (!file_.read(buf_, sizeof buf_, &got)) failed_ = true;
        pos_ = 0;
        len_ = got;
        return got > 0;
    }
    platform::File& file_;
    char buf_[4096];
    size_t pos_ = 0;
    size_t len_ = 0;
    bool failed_ = false;
};

}  // namespace

void ReadRunParams(const std::string& path, velk::SimpleLogger::ILogAppender* fileAppender) {
    RunParams& params = RunParams::instance();
    if (!velk::util::FileExists(path)) {
        SetDefaults(params);
        return;
    }
    platform::File f;
    if (!f.open(path, false)) {
        velk::log(kModule, velk::LevelInfo, "unable to open config file('%s')!", path.c_str());
        return;
    }
    LineReader reader(f);
    char line[kLineChars + 1];
    int lineNo = 0;
    bool failed = false;
    while (reader.next(line)) {
        ++lineNo;
        char* save = nullptr;
        const char* first = strtok_r(line, kSeparators, &save);
        if (first == nullptr || first[0] == '#') continue;
        const std::string key = std::string(first).substr(0, kTokenChars);
        const char* second = strtok_r(nullptr, kSeparators, &save);
        if (second == nullptr) {
            velk::log(kModule, velk::LevelInfo, "invalid configure(line %d): no value specified!",
                      lineNo);
            failed = true;
            break;
        }
        const std::string value = std::string(second).substr(0, kTokenChars);
        const Key* k = FindKey(key);
        if (k == nullptr) {
            velk::log(kModule, velk::LevelInfo,
                      "invalid vonfig(line %d): unknown parameter name '%s'!", lineNo, key.c_str());
            failed = true;
            break;
        }
        const int16_t v = k->isNumber ? ParseLevel(value) : int16_t(velk::util::ParseSwitch(value));
        (params.*(k->field)).store(v);
    }
    // A file that cannot be read to its end (a directory in its place, a
    // share that went away) is as good as one that cannot be opened.
    if (!failed && reader.failed()) {
        velk::log(kModule, velk::LevelInfo, "unable to open config file('%s')!", path.c_str());
        failed = true;
    }
    if (!failed && fileAppender != nullptr) fileAppender->setLevel(params.fileLogLevel.load());
}

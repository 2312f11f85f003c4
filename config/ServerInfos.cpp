#include "config/ServerInfos.h"

#include <utility>

#include "platform/IniFile.h"
#include "platform/Text.h"
#include "runtime/SimpleLogger.h"

using velk::concurrent::MutexLock;

namespace {

constexpr const char* kModule = "Tavrel";
constexpr char kSeparator = '|';
constexpr const char* kCountSection = "ServerInfoNUM";
const char* const kCountKeys[2] = {"Servers0", "Servers1"};
const char* const kListSections[2] = {"ServerInfo0", "ServerInfo1"};

// The pieces of a stored value: the texts between separators, the first
// starting at the beginning. A double-byte character is one unit, so a
// trail byte with the separator's code does not split.
std::vector<std::string> SplitPieces(const std::string& gbk) {
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < gbk.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(gbk[i]);
        if (platform::IniFile::IsGbkLeadByte(c) && i + 1 < gbk.size()) {
            pieces.back().append(gbk, i, 2);
            ++i;
        } else if (c == kSeparator) {
            pieces.emplace_back();
        } else {
            pieces.back().push_back(char(c));
        }
    }
    return pieces;
}

bool HasSeparatorOrLineBreak(const std::string& utf8) {
    return utf8.find_first_of(std::string_view("|\r\n\0", 4)) != std::string::npos;
}

}  // namespace

ServerInfos::ServerInfos(const ServerInfos& other) {
    *this = other;
}

ServerInfos& ServerInfos::operator=(const ServerInfos& other) {
    if (this == &other) return *this;
    std::vector<ServerInfo> lists[2];
    uint32_t entry, list, pass, attempts;
    {
        MutexLock g(other.lock_);
        lists[0] = other.servers_[0];
        lists[1] = other.servers_[1];
        entry = other.curEntry_;
        list = other.curList_;
        pass = other.passStart_;
        attempts = other.attempts_;
    }
    MutexLock g(lock_);
    servers_[0] = std::move(lists[0]);
    servers_[1] = std::move(lists[1]);
    curEntry_ = entry;
    curList_ = list;
    passStart_ = pass;
    attempts_ = attempts;
    return *this;
}

bool ServerInfos::operator==(const ServerInfos& other) const {
    ServerInfos a(*this), b(other);
    return a.servers_[0] == b.servers_[0] && a.servers_[1] == b.servers_[1] &&
           a.curEntry_ == b.curEntry_ && a.curList_ == b.curList_ && a.passStart_ == b.passStart_ &&
           a.attempts_ == b.attempts_;
}

const ServerInfo* ServerInfos::current() {
    MutexLock g(lock_);
    if (curList_ > 1) curList_ = 0;
    std::vector<ServerInfo>& servers = servers_[curList_];
    if (servers.empty()) return nullptr;
    if (curEntry_ >= servers.size()) curEntry_ = 0;
    return &servers[curEntry_];
}

bool ServerInfos::current(ServerInfo* out) {
    MutexLock g(lock_);
    const ServerInfo* info = current();
    if (info == nullptr) return false;
    *out = *info;
    return true;
}

void ServerInfos::advance(int& advancedOnce) {
    MutexLock g(lock_);
    if (servers_[kCentreOne].empty()) {
        // Without a centre-one server there is nowhere to go; centre two is
        // only ever the fall-back of centre one.
        curList_ = 0;
        curEntry_ = 0;
        passStart_ = 0;
        attempts_ = 0;
        return;
    }
    if (servers_[kCentreTwo].empty()) {
        curList_ = 0;
        curEntry_ = uint32_t((uint64_t(curEntry_) + 1) % servers_[kCentreOne].size());
        return;
    }
    if (curList_ > 1) curList_ = 0;
    ++attempts_;
    const uint64_t n = servers_[curList_].size();
    const uint32_t next = uint32_t((uint64_t(curEntry_) + 1) % n);
    if (attempts_ <= 3 * n) {
        if (advancedOnce == 0) {
            curEntry_ = next;
            passStart_ = next;
            advancedOnce = 1;
            return;
        }
        if (next != passStart_) {
            curEntry_ = next;
            return;
        }
    }
    curList_ = curList_ == 0 ? 1 : 0;
    curEntry_ = 0;
    passStart_ = 0;
    attempts_ = 1;
}

bool ServerInfos::isCentreOneEmpty() const {
    MutexLock g(lock_);
    return servers_[kCentreOne].empty();
}

std::vector<ServerInfo> ServerInfos::list(int which) const {
    if (!ValidList(which)) return {};
    MutexLock g(lock_);
    return servers_[which];
}

void ServerInfos::setList(int which, std::vector<ServerInfo> servers) {
    if (!ValidList(which)) return;
    MutexLock g(lock_);
    servers_[which] = std::move(servers);
}

uint32_t ServerInfos::currentList() const {
    MutexLock g(lock_);
    return curList_;
}

uint32_t ServerInfos::currentEntry() const {
    MutexLock g(lock_);
    return curEntry_;
}

uint32_t ServerInfos::passStart() const {
    MutexLock g(lock_);
    return passStart_;
}

uint32_t ServerInfos::attempts() const {
    MutexLock g(lock_);
    return attempts_;
}

int ServerInfos::ReadServerLists(const std::string& iniPath) {
    platform::IniFile ini;
    if (!ini.load(iniPath)) {
        velk::log(kModule, velk::LevelError, "读取配置文件“%s”失败：%d", iniPath.c_str(),
                  ini.error().osError);
        return -1;
    }
    return ReadServerLists(ini);
}

int ServerInfos::ReadServerLists(const platform::IniFile& ini) {
    MutexLock g(lock_);
    bool ok = true;
    for (int which : {kCentreOne, kCentreTwo}) {
        int32_t count = ini.getInt(kCountSection, kCountKeys[which], -1);
        if (count == -1) return -1;
        if (count < -1 || count > kMaxServers) {
            velk::log(kModule, velk::LevelWarn, "服务器组%d的数量%d无效", which, int(count));
            return -1;
        }
        servers_[which].resize(size_t(count));
        if (!readList(ini, which)) ok = false;
    }
    return ok ? 0 : -1;
}

bool ServerInfos::readList(const platform::IniFile& ini, int which) {
    const char* section = kListSections[which];
    auto pieces = [&](const char* key, size_t maxBytes) {
        return SplitPieces(ini.rawValue(section, key, maxBytes).value_or(std::string()));
    };
    const std::vector<std::string> ids = pieces("StationId", kStationIdMaxBytes);
    const std::vector<std::string> addrs = pieces("ServerAddr", kValueMaxBytes);
    const std::vector<std::string> ports = pieces("Port", kValueMaxBytes);
    const std::vector<std::string> comments = pieces("Comment", kValueMaxBytes);

    bool ok = true;
    std::vector<ServerInfo>& servers = servers_[which];
    for (size_t i = 0; i < servers.size(); ++i) {
        ServerInfo& s = servers[i];
        // Members are taken in order; the first missing piece empties its
        // member and leaves the rest of the entry as it was.
        if (i >= ids.size()) {
            s.stationId.clear();
            ok = false;
            continue;
        }
        s.stationId = platform::GbkToUtf8(ids[i]);
        if (i >= addrs.size()) {
            s.serverAddr.clear();
            ok = false;
            continue;
        }
        s.serverAddr = platform::GbkToUtf8(addrs[i]);
        if (i >= ports.size()) {
            s.port = 0;
            ok = false;
            continue;
        }
        s.port = platform::IniFile::ParseInt(ports[i]);
        if (i >= comments.size()) {
            s.comment.clear();
            ok = false;
            continue;
        }
        s.comment = platform::GbkToUtf8(comments[i]);
    }
    return ok;
}

bool ServerInfos::storable(int which) const {
    size_t sizes[4] = {0, 0, 0, 0};
    const std::vector<ServerInfo>& servers = servers_[which];
    for (size_t i = 0; i < servers.size(); ++i) {
        const ServerInfo& s = servers[i];
        for (const std::string* text : {&s.stationId, &s.serverAddr, &s.comment}) {
            if (HasSeparatorOrLineBreak(*text)) {
                velk::log(kModule, velk::LevelError,
                          "服务器组%d第%d项含有分隔符“|”或换行，不能保存", which, int(i + 1));
                return false;
            }
        }
        sizes[0] += platform::Utf8ToGbk(s.stationId).size() + 1;
        sizes[1] += platform::Utf8ToGbk(s.serverAddr).size() + 1;
        sizes[2] += std::to_string(s.port).size() + 1;
        sizes[3] += platform::Utf8ToGbk(s.comment).size() + 1;
    }
    const char* keys[4] = {"StationId", "ServerAddr", "Port", "Comment"};
    for (int k = 0; k < 4; ++k) {
        size_t limit = k == 0 ? kStationIdMaxBytes : kValueMaxBytes;
        if (sizes[k] > limit) {
            // The reader keeps only this much; a longer value would come back
            // cut short, with entries lost or a port changed.
            velk::log(kModule, velk::LevelError, "服务器组%d的%s超过%d字节，不能保存", which,
                      keys[k], int(limit));
            return false;
        }
    }
    return true;
}

int ServerInfos::WriteServerLists(const std::string& iniPath) const {
    platform::IniFile ini;
    if (!ini.load(iniPath)) {
        velk::log(kModule, velk::LevelError, "读取配置文件“%s”失败：%d", iniPath.c_str(),
                  ini.error().osError);
        return -1;
    }
    if (WriteServerLists(ini) != 0) return -1;
    if (!ini.save(iniPath)) {
        velk::log(kModule, velk::LevelError, "写配置文件“%s”失败：%d", iniPath.c_str(),
                  ini.error().osError);
        return -1;
    }
    return 0;
}

int ServerInfos::WriteServerLists(platform::IniFile& ini) const {
    MutexLock g(lock_);
    if (!storable(kCentreOne) || !storable(kCentreTwo)) return -1;
    for (int which : {kCentreOne, kCentreTwo}) {
        const std::vector<ServerInfo>& servers = servers_[which];
        std::string ids, addrs, ports, comments;
        for (const ServerInfo& s : servers) {
            ids += s.stationId + kSeparator;
            addrs += s.serverAddr + kSeparator;
            ports += std::to_string(s.port) + kSeparator;
            comments += s.comment + kSeparator;
        }
        const char* section = kListSections[which];
        bool written = ini.setInt(kCountSection, kCountKeys[which], int64_t(servers.size())) &&
                       ini.setString(section, "StationId", ids) &&
                       ini.setString(section, "ServerAddr", addrs) &&
                       ini.setString(section, "Port", ports) &&
                       ini.setString(section, "Comment", comments);
        if (!written) return -1;
    }
    return 0;
}

#pragma once
// The master station's TCP servers, one ordered list per communication
// centre, and the rotation the TCP session follows after each failed
// connection: through centre one, over to centre two and back.
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/concurrent.h"

namespace platform {
class IniFile;
}

struct ServerInfo {
    std::string stationId;   // carried and stored, never shown
    std::string serverAddr;  // dotted IPv4 address
    int32_t port = 7006;     // the session uses the low 16 bits
    std::string comment;

    bool operator==(const ServerInfo&) const = default;
};

class ServerInfos {
  public:
    static constexpr int kCentreOne = 0;
    static constexpr int kCentreTwo = 1;
    // No stored list can hold more entries: the station id key keeps at most
    // 254 bytes, that is at most 255 pieces.
    static constexpr int32_t kMaxServers = 255;
    // Bytes kept of the stored keys when they are read.
    static constexpr size_t kStationIdMaxBytes = 254;
    static constexpr size_t kValueMaxBytes = 1023;

    ServerInfos() = default;
    // Copies the lists and the rotation position (not the lock).
    ServerInfos(const ServerInfos& other);
    ServerInfos& operator=(const ServerInfos& other);
    bool operator==(const ServerInfos& other) const;

    // The current server, or nullptr when its list is empty. The pointer
    // stays valid while the lists are not replaced.
    const ServerInfo* current();
    // The same as a copy, for readers on other threads; false when none.
    bool current(ServerInfo* out);
    // Moves on after a failed connection or session. advancedOnce belongs to
    // the caller (0 when its session object is created) and is passed to
    // every call.
    void advance(int& advancedOnce);
    bool isCentreOneEmpty() const;

    std::vector<ServerInfo> list(int which) const;
    void setList(int which, std::vector<ServerInfo> servers);

    // The ini file's sections ServerInfoNUM, ServerInfo0 and ServerInfo1.
    // 0 on success, -1 on failure; what was read is kept either way.
    int ReadServerLists(const std::string& iniPath);
    int ReadServerLists(const platform::IniFile& ini);
    // Writes both lists; -1, with nothing written, when a list cannot be
    // stored so that it reads back the same (a value holding "|", a line
    // break, or more than the reader keeps).
    int WriteServerLists(const std::string& iniPath) const;
    int WriteServerLists(platform::IniFile& ini) const;

    // The rotation position, for the monitor and for tests.
    uint32_t currentList() const;
    uint32_t currentEntry() const;
    uint32_t passStart() const;
    uint32_t attempts() const;

  private:
    static bool ValidList(int which) { return which == kCentreOne || which == kCentreTwo; }
    bool readList(const platform::IniFile& ini, int which);
    bool storable(int which) const;

    mutable velk::concurrent::Mutex lock_;
    std::vector<ServerInfo> servers_[2];
    uint32_t curEntry_ = 0;
    uint32_t curList_ = 0;
    uint32_t passStart_ = 0;
    uint32_t attempts_ = 0;
};

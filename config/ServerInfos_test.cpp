#include "config/ServerInfos.h"

#include <gtest/gtest.h>

#include <utility>

#include "platform/IniFile.h"
#include "platform/Text.h"
#include "tests/support/TestSupport.h"

namespace {

std::vector<ServerInfo> Servers(const std::string& names) {
    std::vector<ServerInfo> out;
    for (char c : names) out.push_back(ServerInfo{"", std::string(1, c), 7006, ""});
    return out;
}

ServerInfos Lists(const std::string& centreOne, const std::string& centreTwo) {
    ServerInfos s;
    s.setList(ServerInfos::kCentreOne, Servers(centreOne));
    s.setList(ServerInfos::kCentreTwo, Servers(centreTwo));
    return s;
}

// The servers tried: the first, then the current one after each advance;
// "-" when there is none.
std::string Tried(ServerInfos& s, int advances) {
    int advancedOnce = 0;
    std::string out;
    for (int i = 0; i <= advances; ++i) {
        if (i > 0) s.advance(advancedOnce);
        const ServerInfo* info = s.current();
        out += info != nullptr ? info->serverAddr : "-";
    }
    return out;
}

TEST(ServerRotation, FollowsCentreOneThenCentreTwo) {
    struct Case {
        const char* centreOne;
        const char* centreTwo;
        const char* tried;
    } cases[] = {
        // Every centre-one server, the first one twice, then centre two once.
        {"ABC", "DE", "ABCADEABCDEABCDEA"},
        {"AB", "C", "ABACABCABCA"},
        {"A", "", "AAAAA"},
        {"ABC", "", "ABCABCA"},
        {"A", "B", "AABABABA"},
        // Nowhere to go: the position stays valid and nothing is current.
        {"", "", "----"},
        {"", "AB", "----"},
    };
    for (const Case& c : cases) {
        ServerInfos s = Lists(c.centreOne, c.centreTwo);
        EXPECT_EQ(Tried(s, int(std::string(c.tried).size()) - 1), c.tried)
            << c.centreOne << "/" << c.centreTwo;
        EXPECT_LE(s.currentList(), 1u);
    }
}

TEST(ServerRotation, PositionsOfTheTwoPlusOneCase) {
    ServerInfos s = Lists("AB", "C");
    int advancedOnce = 0;
    const std::pair<uint32_t, uint32_t> expected[] = {{0, 1}, {0, 0}, {1, 0}, {0, 0},
                                                      {0, 1}, {1, 0}, {0, 0}};
    for (auto [list, entry] : expected) {
        s.advance(advancedOnce);
        EXPECT_EQ(advancedOnce, 1);
        EXPECT_EQ(s.currentList(), list);
        EXPECT_EQ(s.currentEntry(), entry);
    }
}

TEST(ServerRotation, AttemptCapSwitchesWhenThePassCannotCloseItself) {
    // A pass start left beyond a list that became shorter is never reached
    // again; the cap on attempts still moves on to centre two.
    ServerInfos s = Lists("ABCDE", "X");
    int advancedOnce = 0;
    for (int i = 0; i < 4; ++i) s.advance(advancedOnce);
    ASSERT_EQ(s.currentEntry(), 4u);
    ASSERT_EQ(s.passStart(), 1u);
    s.setList(ServerInfos::kCentreOne, Servers("A"));
    s.advance(advancedOnce);
    EXPECT_EQ(s.currentList(), 1u);
    EXPECT_EQ(s.current()->serverAddr, "X");
    EXPECT_EQ(s.attempts(), 1u);
}

TEST(ServerRotation, CopiesCarryTheListsAndThePosition) {
    ServerInfos s = Lists("AB", "C");
    int advancedOnce = 0;
    s.advance(advancedOnce);
    s.advance(advancedOnce);
    s.advance(advancedOnce);
    ServerInfos copy(s);
    EXPECT_TRUE(copy == s);
    EXPECT_EQ(copy.currentList(), 1u);
    ServerInfos assigned;
    assigned = s;
    EXPECT_EQ(assigned.current()->serverAddr, "C");
    assigned.advance(advancedOnce);
    EXPECT_EQ(s.currentList(), 1u);  // the original did not move
    EXPECT_FALSE(assigned == s);

    ServerInfo out;
    EXPECT_TRUE(s.current(&out));
    EXPECT_EQ(out.serverAddr, "C");
    EXPECT_FALSE(ServerInfos().current(&out));
    EXPECT_TRUE(ServerInfos().isCentreOneEmpty());
    EXPECT_FALSE(s.isCentreOneEmpty());
}

// --- ini storage --------------------------------------------------------

std::string Gbk(const std::string& utf8) {
    return platform::Utf8ToGbk(utf8);
}

platform::IniFile Ini(const std::string& utf8Text) {
    platform::IniFile ini;
    ini.parse(Gbk(utf8Text));
    return ini;
}

TEST(ServerListsRead, TakesPiecesInListOrder) {
    ServerInfos s;
    ASSERT_EQ(s.ReadServerLists(Ini("[ServerInfoNUM]\nServers0=2\nServers1=1\n"
                                    "[ServerInfo0]\nStationId=s1|s2|\n"
                                    "ServerAddr=10.0.0.1|10.0.0.2|\nPort=7006| 7007x|\n"
                                    "Comment=主用|备用|\n"
                                    "[ServerInfo1]\nStationId=|\nServerAddr=10.1.0.1|\n"
                                    "Port=abc|\nComment=|\n")),
              0);
    EXPECT_EQ(s.list(0), (std::vector<ServerInfo>{{"s1", "10.0.0.1", 7006, "主用"},
                                                  {"s2", "10.0.0.2", 7007, "备用"}}));
    EXPECT_EQ(s.list(1), (std::vector<ServerInfo>{{"", "10.1.0.1", 0, ""}}));
}

TEST(ServerListsRead, CountAndPiecesRules) {
    const std::string lists1 = "[ServerInfo1]\nStationId=\nServerAddr=\nPort=\nComment=\n";
    const std::string twoEntries =
        "[ServerInfo0]\nStationId=a|b|\nServerAddr=1.1.1.1|2.2.2.2|\nPort=1|2|\n"
        "Comment=x|y|\n";
    struct Case {
        const char* name;
        std::string text;
        int result;
        size_t size0;
    } cases[] = {
        {"third entry from the pieces after the last separator",
         "[ServerInfoNUM]\nServers0=3\nServers1=0\n" + twoEntries + lists1, 0, 3},
        {"a fourth entry has no pieces",
         "[ServerInfoNUM]\nServers0=4\nServers1=0\n" + twoEntries + lists1, -1, 4},
        {"both lists empty", "[ServerInfoNUM]\nServers0=0\nServers1=0\n" + lists1, 0, 0},
        {"Servers0 absent", "[ServerInfoNUM]\nServers1=0\n" + twoEntries, -1, 9},
        {"Servers1 absent", "[ServerInfoNUM]\nServers0=2\n" + twoEntries, -1, 2},
        {"count below -1", "[ServerInfoNUM]\nServers0=-2\nServers1=0\n" + twoEntries, -1, 9},
        {"count no list can hold", "[ServerInfoNUM]\nServers0=256\nServers1=0\n" + twoEntries, -1,
         9},
        {"huge count", "[ServerInfoNUM]\nServers0=2000000000\nServers1=0\n" + twoEntries, -1, 9},
    };
    for (const Case& c : cases) {
        ServerInfos s;
        s.setList(0, std::vector<ServerInfo>(9));  // what was there before
        EXPECT_EQ(s.ReadServerLists(Ini(c.text)), c.result) << c.name;
        EXPECT_EQ(s.list(0).size(), c.size0) << c.name;
    }

    ServerInfos three;
    three.ReadServerLists(Ini("[ServerInfoNUM]\nServers0=3\nServers1=0\n" + twoEntries + lists1));
    EXPECT_EQ(three.list(0)[2], (ServerInfo{"", "", 0, ""}));

    ServerInfos four;
    four.ReadServerLists(Ini("[ServerInfoNUM]\nServers0=4\nServers1=0\n" + twoEntries + lists1));
    EXPECT_EQ(four.list(0)[3], (ServerInfo{"", "", 7006, ""}));  // only the id was emptied

    // A missing piece empties its member; the rest of the entry stays.
    ServerInfos partial;
    partial.setList(0, {ServerInfo{"old", "old", 1, "old"}, ServerInfo{"old", "old", 1, "old"}});
    EXPECT_EQ(partial.ReadServerLists(Ini("[ServerInfoNUM]\nServers0=2\nServers1=0\n"
                                          "[ServerInfo0]\nStationId=a|b|\nServerAddr=A\n"
                                          "Port=5|6|\nComment=c|d|\n" +
                                          lists1)),
              -1);
    EXPECT_EQ(partial.list(0)[0], (ServerInfo{"a", "A", 5, "c"}));
    EXPECT_EQ(partial.list(0)[1], (ServerInfo{"b", "", 1, "old"}));
}

TEST(ServerListsRead, DoubleByteCharactersAreUnits) {
    // 0x817C is one GBK character whose trail byte is the separator's code.
    const std::string gbkChar = "\x81\x7C";
    platform::IniFile ini;
    ini.parse(
        "[ServerInfoNUM]\nServers0=1\nServers1=0\n[ServerInfo0]\nStationId=|\n"
        "ServerAddr=1.2.3.4|\nPort=7006|\nComment=" +
        gbkChar + "|\n[ServerInfo1]\nStationId=\n");
    ServerInfos s;
    ASSERT_EQ(s.ReadServerLists(ini), 0);
    EXPECT_EQ(s.list(0)[0].comment, platform::GbkToUtf8(gbkChar));
}

TEST(ServerListsWrite, WritesTheKeysInOrderAndReadsBackTheSame) {
    ServerInfos s;
    s.setList(0, {ServerInfo{"", "10.0.0.1", 7006, "主用"}, ServerInfo{"id", "10.0.0.2", -5, ""}});
    platform::IniFile ini;
    ASSERT_EQ(s.WriteServerLists(ini), 0);
    EXPECT_EQ(ini.text(), Gbk("[ServerInfoNUM]\r\nServers0=2\r\nServers1=0\r\n"
                              "[ServerInfo0]\r\nStationId=|id|\r\n"
                              "ServerAddr=10.0.0.1|10.0.0.2|\r\nPort=7006|-5|\r\n"
                              "Comment=主用||\r\n"
                              "[ServerInfo1]\r\nStationId=\r\nServerAddr=\r\nPort=\r\n"
                              "Comment=\r\n"));
    ServerInfos back;
    ASSERT_EQ(back.ReadServerLists(ini), 0);
    EXPECT_TRUE(back == s);
}

TEST(ServerListsWrite, RefusesListsThatWouldNotReadBackTheSame) {
    testsupport::TempDir dir;
    const std::string path = dir.file("Tavrel.cfg");
    const std::string before = "[CONFIG]\r\nusrId=1\r\n";
    testsupport::WriteFile(path, before);

    std::vector<ServerInfo> tooMany(255);  // 255 separators in a 254-byte key
    std::vector<ServerInfo> longAddresses(70, ServerInfo{"", "255.255.255.255", 7006, ""});
    struct Case {
        const char* name;
        std::vector<ServerInfo> centreTwo;
    } cases[] = {
        {"separator in a comment", {ServerInfo{"", "1.1.1.1", 7006, "a|b"}}},
        {"separator in an address", {ServerInfo{"", "1.1.1.1|", 7006, ""}}},
        {"line break in a station id", {ServerInfo{"x\ny", "1.1.1.1", 7006, ""}}},
        {"more entries than a key can hold", tooMany},
        {"addresses beyond what is read", longAddresses},
    };
    for (const Case& c : cases) {
        ServerInfos s;
        s.setList(0, Servers("A"));
        s.setList(1, c.centreTwo);
        EXPECT_EQ(s.WriteServerLists(path), -1) << c.name;
        EXPECT_EQ(testsupport::ReadFile(path), before) << c.name;
    }

    std::vector<ServerInfo> most(200);  // 200 ports of 4 digits fit in 1023 bytes
    ServerInfos full;
    full.setList(0, most);
    ASSERT_EQ(full.WriteServerLists(path), 0);
    ServerInfos back;
    EXPECT_EQ(back.ReadServerLists(path), 0);
    EXPECT_EQ(back.list(0).size(), 200u);
    EXPECT_EQ(testsupport::ReadFile(path).rfind(before, 0), 0u);  // CONFIG kept
}

}  // namespace

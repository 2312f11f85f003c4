#include "shell/CommandLine.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

CommandLine Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "tavrel");
    return ParseCommandLine(int(args.size()), args.data());
}

TEST(CommandLine, StationOptionsFollowGetoptAndTheWholeLineDecidesConfigurationMode) {
    struct Case {
        std::vector<const char*> args;
        bool configMode;
        bool hasPassword;
        const char* password;
    };
    const Case cases[] = {
        {{"/Cfg"}, true, false, ""},
        {{"/cfg"}, true, false, ""},
        {{"/Cfg", "-p", "x"}, false, true, "x"},
        {{"-p", "secret"}, false, true, "secret"},
        {{"-psecret"}, false, true, "secret"},
        {{"-xp", "secret"}, false, true, "secret"},
        {{"other", "-p", "secret"}, false, true, "secret"},
        {{"-p"}, false, false, ""},
        {{"--", "-p", "secret"}, false, false, ""},
        {{"-q", "value"}, false, false, ""},
        {{"-p", "0123456789abcdefghijKLMNOPQRST"}, false, true, "0123456789abcdefghi"},
        {{"-p", "密码密码密码密码密码密码密码密码密码密码"},
         false,
         true,
         "密码密码密码密码密码密码密码密码密码密"},
        {{"--headless", "--dir", "/opt/tavrel", "/CFG"}, true, false, ""},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const char* a : c.args) shown += std::string(a) + " ";
        SCOPED_TRACE(shown);
        const CommandLine cl = Parse(c.args);
        EXPECT_EQ(c.configMode, cl.configMode);
        EXPECT_EQ(c.hasPassword, cl.hasPassword);
        EXPECT_EQ(c.password, cl.password);
        EXPECT_TRUE(cl.errors.empty());
    }
}

TEST(CommandLine, FrontEndOptionsAreTakenOutAndCheckedThemselves) {
    CommandLine cl = Parse({"--headless", "--dir", "/srv/station", "-p", "pw"});
    EXPECT_TRUE(cl.headless);
    EXPECT_EQ("/srv/station", cl.programDir);
    EXPECT_EQ("pw", cl.password);

    cl = Parse({"--dir=/srv/other"});
    EXPECT_EQ("/srv/other", cl.programDir);
    EXPECT_FALSE(cl.headless);

    for (auto args : {std::vector<const char*>{"--dir"}, std::vector<const char*>{"--dir="},
                      std::vector<const char*>{"--dir", ""}}) {
        cl = Parse(args);
        ASSERT_EQ(1u, cl.errors.size());
        EXPECT_EQ("--dir needs a directory", cl.errors[0]);
    }
    EXPECT_TRUE(Parse({"--help"}).help);
    EXPECT_NE(std::string::npos, CommandLineUsage("tavrel").find("--dir DIR"));
}

}  // namespace

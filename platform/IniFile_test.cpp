#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include "platform/Text.h"
#include "tests/support/TestSupport.h"

using platform::IniFile;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

IniFile Parsed(const std::string& gbk) {
    IniFile ini;
    ini.parse(gbk);
    return ini;
}

TEST(IniFileRead, FollowsTheProfileRules) {
    IniFile ini = Parsed(
        "orphan=before any section\r\n"
        "; comment=not a key\r\n"
        "[Config]\r\n"
        "  Name =  padded value \t\r\n"
        "Formula=a=b\r\n"
        "Empty=\r\n"
        "NoEquals\r\n"
        ";hidden=1\r\n"
        "name=second occurrence\r\n"
        "[other]\r\n"
        "Name=other section\r\n"
        "[CONFIG]\r\n"
        "Late=in a repeated section\r\n");
    EXPECT_EQ(ini.value("CONFIG", "name"), "padded value");
    EXPECT_EQ(ini.value("config", "NAME"), "padded value");
    EXPECT_EQ(ini.value("Config", "Formula"), "a=b");
    EXPECT_EQ(ini.value("Config", "Empty"), "");
    EXPECT_EQ(ini.value("Config", "NoEquals"), std::nullopt);
    EXPECT_EQ(ini.value("Config", ";hidden"), std::nullopt);
    EXPECT_EQ(ini.value("Other", "name"), "other section");
    // Only the first section of a name is searched.
    EXPECT_EQ(ini.value("Config", "Late"), std::nullopt);
    EXPECT_EQ(ini.value("Missing", "Name"), std::nullopt);
    EXPECT_EQ(ini.getString("Config", "Absent", "fallback"), "fallback");
    EXPECT_EQ(ini.getString("Config", "Empty", "fallback"), "");
}

TEST(IniFileRead, LineEndsAndNulBytes) {
    IniFile ini = Parsed(std::string("[s]\rA=1\rB=x\0hidden\r\nC= c \0\nD=4", 30));
    EXPECT_EQ(ini.value("s", "A"), "1");
    EXPECT_EQ(ini.value("s", "B"), "x");
    EXPECT_EQ(ini.value("s", "C"), "c");
    EXPECT_EQ(ini.value("s", "D"), "4");
    ASSERT_TRUE(ini.setString("s", "E", "5"));
    EXPECT_EQ(ini.text(), std::string("[s]\rA=1\rB=x\0hidden\r\nC= c \0\nD=4\rE=5\r", 35));
}

TEST(IniFileRead, NumbersReadAsTheProfileFunctionsReadThem) {
    struct Case {
        const char* text;
        int32_t expected;
    } cases[] = {
        {"12", 12},
        {"-5", -5},
        {"+7", 7},
        {"abc", 0},
        {"12abc", 12},
        {"-", 0},
        {" 42", 42},
        {"0x10", 0},
        {"1048576", 1048576},
        {"-2147483648", INT32_MIN},
        {"4294967295", -1},
        {"4294967296", 0},
        {"-0", 0},
        {"2147483648", INT32_MIN},
    };
    for (const Case& c : cases) EXPECT_EQ(IniFile::ParseInt(c.text), c.expected) << c.text;

    IniFile ini = Parsed("[s]\nA=17 days\nB=\nC=   \nD=x\n");
    EXPECT_EQ(ini.getInt("s", "A", -1), 17);
    EXPECT_EQ(ini.getInt("s", "B", -1), -1);  // empty value: the default
    EXPECT_EQ(ini.getInt("s", "C", -1), -1);
    EXPECT_EQ(ini.getInt("s", "D", -1), 0);
    EXPECT_EQ(ini.getInt("s", "E", -1), -1);
}

TEST(IniFileRead, TextIsGbkOnDiskAndUtf8Inside) {
    const std::string utf8 = "证券行情";
    const std::string gbk = platform::Utf8ToGbk(utf8);
    ASSERT_EQ(gbk.size(), 8u);
    IniFile ini = Parsed("[s]\nk=" + gbk + "\n");
    EXPECT_EQ(ini.value("s", "k"), utf8);
    EXPECT_EQ(ini.rawValue("s", "k"), gbk);
    // A byte limit never cuts a double-byte character in half.
    EXPECT_EQ(ini.value("s", "k", 5), "证券");
    EXPECT_EQ(ini.value("s", "k", 6), "证券行");
    EXPECT_EQ(IniFile::CutGbk("ab" + gbk, 3), "ab");

    // A section whose name ends in a double-byte character with the trail
    // byte of "]" keeps its whole name.
    const std::string gbkName = "\x81\x5D";
    IniFile odd = Parsed("[" + gbkName + "]\nk=v\n");
    EXPECT_EQ(odd.value(platform::GbkToUtf8(gbkName), "k"), "v");
}

TEST(IniFileWrite, ChangesOnlyWhatIsWritten) {
    const std::string before =
        "; station settings\r\n"
        "[CONFIG]\r\n"
        "usrId = 0001 ; keep\r\n"
        "Foreign=kept\r\n"
        "\r\n"
        "[Vendor]\r\n"
        "x=1\r\n";
    IniFile ini = Parsed(before);
    ASSERT_TRUE(ini.setString("config", "USRID", "0002"));
    ASSERT_TRUE(ini.setInt("CONFIG", "dwFlag", 1048576));
    ASSERT_TRUE(ini.setString("ServerInfoNUM", "Servers0", "0"));
    ASSERT_TRUE(ini.setString("ServerInfoNUM", "Servers1", "0"));
    EXPECT_EQ(ini.text(),
              "; station settings\r\n"
              "[CONFIG]\r\n"
              "usrId = 0002\r\n"
              "Foreign=kept\r\n"
              "dwFlag=1048576\r\n"
              "\r\n"
              "[Vendor]\r\n"
              "x=1\r\n"
              "[ServerInfoNUM]\r\n"
              "Servers0=0\r\n"
              "Servers1=0\r\n");
    // Reading the untouched document gives back the very same bytes.
    EXPECT_EQ(Parsed(before).text(), before);
}

TEST(IniFileWrite, KeepsTheFilesLineEnds) {
    IniFile lf = Parsed("[a]\nk=1");  // LF file, no line end at the very end
    ASSERT_TRUE(lf.setString("a", "j", "2"));
    EXPECT_EQ(lf.text(), "[a]\nk=1\nj=2\n");

    IniFile empty;
    ASSERT_TRUE(empty.setString("a", "k", ""));
    EXPECT_EQ(empty.text(), "[a]\r\nk=\r\n");
    EXPECT_EQ(empty.value("a", "k"), "");
}

TEST(IniFileWrite, RefusesWhatCannotStayOnOneLine) {
    const std::string before = "[a]\r\nk=1\r\n";
    IniFile ini = Parsed(before);
    EXPECT_FALSE(ini.setString("a", "k", "two\r\nlines"));
    EXPECT_FALSE(ini.setString("a", "k", std::string("nul\0", 4)));
    EXPECT_FALSE(ini.setString("a", "k=", "v"));
    EXPECT_FALSE(ini.setString("a", " k", "v"));
    EXPECT_FALSE(ini.setString("a", "", "v"));
    EXPECT_FALSE(ini.setString("a]", "k", "v"));
    EXPECT_FALSE(ini.setString("a", ";k", "v"));
    EXPECT_EQ(ini.text(), before);
}

TEST(IniFileFile, LoadsSavesAndReplacesAtomically) {
    TempDir dir;
    const std::string path = dir.file("Tavrel.cfg");
    IniFile ini;
    ASSERT_TRUE(ini.load(path));  // missing file: empty document
    EXPECT_FALSE(ini.exists());
    ASSERT_TRUE(ini.setString("CONFIG", "usrId", "小站"));
    ASSERT_TRUE(ini.save(path));
    EXPECT_EQ(ReadFile(path), "[CONFIG]\r\nusrId=" + platform::Utf8ToGbk("小站") + "\r\n");
    EXPECT_FALSE(testsupport::Exists(path + ".tmp"));

    IniFile again;
    ASSERT_TRUE(again.load(path));
    EXPECT_TRUE(again.exists());
    EXPECT_EQ(again.value("CONFIG", "usrId"), "小站");

    // A save that fails at any step leaves the old file whole and no
    // temporary file behind.
    using platform::FileOp;
    for (FileOp op : {FileOp::Create, FileOp::Write, FileOp::Flush, FileOp::Rename}) {
        platform::faults::ScopedFileFaults faults;
        faults.add({op, 0, 1, platform::FileCause::AccessDenied, 0, "Tavrel.cfg"});
        ASSERT_TRUE(again.setString("CONFIG", "usrId", "changed"));
        EXPECT_FALSE(again.save(path)) << platform::FileOpName(op);
        EXPECT_EQ(again.error().cause, platform::FileCause::AccessDenied);
        EXPECT_EQ(ReadFile(path), "[CONFIG]\r\nusrId=" + platform::Utf8ToGbk("小站") + "\r\n");
        EXPECT_FALSE(testsupport::Exists(path + ".tmp"));
    }
}

TEST(IniFileFile, RefusesFilesItCannotRead) {
    TempDir dir;
    IniFile ini;
    EXPECT_FALSE(ini.load(dir.path()));  // a directory
    EXPECT_TRUE(ini.error().failed());

    const std::string huge = dir.file("huge.cfg");
    platform::File f;
    ASSERT_TRUE(f.create(huge));
    ASSERT_TRUE(f.setLength(IniFile::kMaxFileSize + 1));
    f.close();
    EXPECT_FALSE(ini.load(huge));
    EXPECT_EQ(ini.error().osError, EFBIG);
    EXPECT_EQ(ini.text(), "");

    platform::faults::ScopedFileFaults faults;
    WriteFile(dir.file("a.cfg"), "[a]\nk=1\n");
    faults.add({platform::FileOp::Open, 0, 1, platform::FileCause::NetworkLost, 0, "a.cfg"});
    EXPECT_FALSE(ini.load(dir.file("a.cfg")));
    EXPECT_EQ(ini.error().cause, platform::FileCause::NetworkLost);
}

}  // namespace

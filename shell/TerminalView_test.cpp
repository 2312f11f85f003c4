#include "shell/TerminalView.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tests/support/TestSupport.h"

namespace {

// A stream whose contents the test reads back.
class Capture {
  public:
    Capture() : f_(std::tmpfile()) {}
    ~Capture() { std::fclose(f_); }
    FILE* stream() { return f_; }
    std::string text() {
        std::fflush(f_);
        std::rewind(f_);
        std::string out;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f_)) > 0) out.append(buf, n);
        std::fseek(f_, 0, SEEK_END);
        return out;
    }

  private:
    FILE* f_;
};

int Count(const std::string& text, const std::string& fragment) {
    int n = 0;
    for (size_t at = text.find(fragment); at != std::string::npos;
         at = text.find(fragment, at + fragment.size()))
        ++n;
    return n;
}

StationStatus SampleStatus() {
    StationStatus s;
    s.packets = 12345;
    s.bytes = 6789012;
    s.lostPackets = 2;
    s.mcastStatus = 1;
    s.marketStateText = "连续竞价";
    s.openTimeText = "09:30-11:30, 13:00-15:00";
    for (int i = 0; i < kQuoteTableCount; ++i) {
        s.tables[i].fileName = kQuoteTables[i].fileName;
        s.tables[i].received = i != kNqzsxx && i != kNqfgksbxx && i != kNqfgkcjxx;
    }
    s.tables[kNqhq].count = 3456;
    s.tables[kNqhq].time = 93105;
    s.tables[kNqxx].count = 3500;
    s.tables[kNqxx].time = 9310512;
    return s;
}

TEST(TerminalView, SummaryLineNamesEveryValueAndLeavesOutTablesSwitchedOff) {
    platform::WallTime now;
    now.hour = 9;
    now.minute = 31;
    now.second = 7;
    const std::string line = TerminalView::SummaryLine(SampleStatus(), now);
    EXPECT_EQ(
        "09:31:07 状态：组播 正常，TCP 不用 | 包 12345，字节 6789012，错包 0，丢包 2，乱序 0，队列 "
        "0 | 股市 连续竞价 09:30-11:30, 13:00-15:00 | NQHQ.DBF 3456 条 09:31:05，NQXX.DBF 3500 条 "
        "09:31:05.12，NQXYXX.DBF 0 条 --:--:-- | 文件 0",
        line);
    StationStatus tcp = SampleStatus();
    tcp.tcpInUse = true;
    tcp.mcastStatus = 0;
    tcp.noticeText = "注意";
    const std::string other = TerminalView::SummaryLine(tcp, now);
    EXPECT_NE(std::string::npos, other.find("组播 中断，TCP 未连接"));
    EXPECT_NE(std::string::npos, other.find("| 特别提示：注意"));
}

TEST(TerminalView, WithoutATerminalASummaryIsWrittenEveryTenSeconds) {
    Capture out, err;
    TerminalView::Options o;
    o.statusOut = out.stream();
    o.logOut = err.stream();
    TerminalView view(o);
    Indicator receiving{"←←　正在接收证券行情...←←", Colour{0, 160, 0}};
    for (int second = 0; second < 21; ++second) {
        view.showIndicator(receiving);
        view.showStatus(SampleStatus());
    }
    const std::string text = out.text();
    EXPECT_EQ(3, Count(text, "状态：组播 正常"));
    EXPECT_EQ(3, Count(text, "\n"));
    EXPECT_EQ(0, Count(text, "\r")) << "a log file gets no terminal controls";
    EXPECT_EQ(0, Count(text, "正在接收"));
    view.alert();
    EXPECT_EQ(0, Count(out.text(), "\a"));
}

TEST(TerminalView, OnATerminalTheStatusLineIsRedrawnAroundLogLines) {
    Capture out;
    TerminalView::Options o;
    o.statusOut = out.stream();
    o.logOut = out.stream();  // one terminal for both
    o.statusIsTerminal = true;
    TerminalView view(o);
    view.openLogView(300);
    view.showStatus(SampleStatus());
    view.showIndicator(Indicator{"↑↑　正在接收证券行情...↑↑", Colour{0, 128, 0}});
    velk::log("RcvController", 200, "below the view's level");
    velk::log("RcvController", 400, "警告一行");
    view.closeLogView();
    velk::log("RcvController", 500, "after the view closed");
    const std::string text = out.text();
    EXPECT_EQ(0, Count(text, "below the view's level"));
    EXPECT_EQ(0, Count(text, "after the view closed"));
    // The status line is cleared, the log line written, the status drawn again.
    const size_t logAt = text.find("Warn   RcvController: 警告一行\n");
    ASSERT_NE(std::string::npos, logAt) << text;
    EXPECT_EQ("\r\033[K", text.substr(logAt - 13 - 4, 4));
    const std::string after = text.substr(logAt);
    EXPECT_NE(std::string::npos, after.find("\r\033[K组播● TCP- 包 12345 错 0 丢 2 乱 0 队 0 │ "
                                            "连续竞价 │ 行情 3456 09:31:05 信息 3500 │ ↑↑"))
        << after;
    view.alert();
    EXPECT_EQ(1, Count(out.text(), "\a"));
}

TEST(TerminalView, BoxesGoToTheLogAndToTheTerminalUnlessTheLogViewShowsThem) {
    testsupport::CaptureAppender log;
    Capture err;
    TerminalView::Options o;
    o.logOut = err.stream();
    o.statusOut = err.stream();
    TerminalView view(o);
    platform::MessageBoxRequest r;
    r.text = "创建日志路径时出错，程序退出！";
    r.title = "严重错误";
    r.icon = platform::BoxIcon::Error;
    EXPECT_EQ(platform::BoxResult::Ok, view.messageBox(r));
    EXPECT_EQ(1, log.count("[严重错误] 创建日志路径时出错，程序退出！", "Tavrel", 500));
    EXPECT_EQ(1, Count(err.text(), "[严重错误] 创建日志路径时出错，程序退出！\n"));

    view.openLogView(300);
    r.text = "真的要退出本程序吗？";
    r.title = "退出确认";
    r.icon = platform::BoxIcon::Question;
    r.buttons = platform::BoxButtons::YesNo;
    r.defaultResult = platform::BoxResult::No;
    EXPECT_EQ(platform::BoxResult::No, view.messageBox(r));
    // Once, through the log view.
    EXPECT_EQ(1, Count(err.text(), "真的要退出本程序吗？"));
    EXPECT_EQ(1, log.count("[退出确认] 真的要退出本程序吗？", "Tavrel", 300));
}

TEST(TerminalView, PasswordIsReadFromTheTerminalOrRefusedWithoutOne) {
    testsupport::CaptureAppender log;
    Capture err;
    TerminalView::Options o;
    o.logOut = err.stream();
    o.statusOut = err.stream();
    {
        TerminalView view(o);
        platform::SetUiHost(&view);
        std::string password = "unchanged";
        EXPECT_FALSE(view.askPassword("S0001", &password));
        EXPECT_EQ("unchanged", password);
        EXPECT_EQ(1, log.count("请用 -p 给出密码"));
        platform::SetUiHost(nullptr);
    }
    struct Case {
        const char* typed;
        bool given;
        const char* password;
        int emptyAnswers;
    };
    const Case cases[] = {
        {"secret\n", true, "secret", 0},
        {"\n\nabcdefghijklmnopqrstuvwxyz\n", true, "abcdefghijklmnopqrst", 2},
        {"", false, "", 0},
        {"\nunfinished", false, "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        log.clear();
        int fds[2];
        ASSERT_EQ(0, pipe(fds));
        ASSERT_EQ(ssize_t(strlen(c.typed)), write(fds[1], c.typed, strlen(c.typed)));
        close(fds[1]);
        o.inputFd = fds[0];
        o.inputIsTerminal = true;
        TerminalView view(o);
        platform::SetUiHost(&view);
        std::string password;
        EXPECT_EQ(c.given, view.askPassword("S0001", &password));
        EXPECT_EQ(c.password, password);
        EXPECT_EQ(c.emptyAnswers, log.count("请输入系统密码！"));
        EXPECT_EQ(c.given ? 0 : 1, log.count("请输入密码，系统中断!"));
        EXPECT_EQ(0, log.count("secret"));
        platform::SetUiHost(nullptr);
        close(fds[0]);
    }
    EXPECT_NE(std::string::npos, err.text().find("请输入系统密码（小站号：S0001）："));
    EXPECT_EQ(std::string::npos, err.text().find("secret")) << "the password is not echoed";
}

}  // namespace

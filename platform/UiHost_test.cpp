#include "platform/UiHost.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(UiHost, HeadlessHostLogsTheBoxAndTakesTheDefault) {
    std::vector<std::pair<int, std::string>> lines;
    HeadlessUiHost host(
        [&](int level, const std::string& text) {
            lines.push_back({level, text});
        },
        false);
    SetUiHost(&host);
    EXPECT_EQ(ShowMessageBox("真的要退出本程序吗？", "退出确认", BoxIcon::Question,
                             BoxButtons::YesNo, BoxResult::No),
              BoxResult::No);
    EXPECT_EQ(ShowMessageBox("库结构至少要有一个字段！", "错误", BoxIcon::Error), BoxResult::Ok);
    SetUiHost(nullptr);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].first, 300);
    EXPECT_EQ(lines[0].second, "[退出确认] 真的要退出本程序吗？ (No)");
    EXPECT_EQ(lines[1].first, 500);
    EXPECT_EQ(lines[1].second, "[错误] 库结构至少要有一个字段！");
}

}  // namespace
}  // namespace platform

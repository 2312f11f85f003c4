// Setting the machine's clock. The real setter is only ever called in a child
// process that has given up the privilege to set the clock, so the system
// must refuse and no test can move the machine's time.
#include "platform/SystemClock.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Drops CAP_SYS_TIME from the calling process; true when it is gone.
bool DropClockPrivilege() {
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    const unsigned bit = CAP_SYS_TIME % 32, word = CAP_SYS_TIME / 32;
    data[word].effective &= ~(1u << bit);
    data[word].permitted &= ~(1u << bit);
    data[word].inheritable &= ~(1u << bit);
    if (syscall(SYS_capset, &header, data) != 0) return false;
    if (syscall(SYS_capget, &header, data) != 0) return false;
    return (data[word].effective & (1u << bit)) == 0;
}

// Runs the check in a child without the privilege: its exit status, or 77
// when the privilege could not be dropped.
template <typename Check>
int InChildWithoutPrivilege(Check check) {
    pid_t child = fork();
    if (child == 0) {
        if (!DropClockPrivilege()) _exit(77);
        _exit(check());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(SystemClock, WithoutPrivilegeTheSystemRefuses) {
    const int status = InChildWithoutPrivilege([] {
        int err = 0;
        // The current time: even a refusal that did not happen would not
        // move the clock noticeably.
        platform::SetClockResult r = platform::SetSystemClockDirect(time(nullptr), &err);
        if (r != platform::SetClockResult::Refused) return 1;
        return err == EPERM ? 0 : 2;
    });
    if (status == 77) GTEST_SKIP() << "cannot drop CAP_SYS_TIME here";
    EXPECT_EQ(status, 0);
}

TEST(SystemClock, AnInstantWithoutLocalCalendarTimeIsNotSet) {
    const int status = InChildWithoutPrivilege([] {
        int err = -1;
        platform::SetClockResult r = platform::SetSystemClockDirect(INT64_MAX / 2, &err);
        if (r != platform::SetClockResult::BadTime) return 1;
        return err == 0 ? 0 : 2;
    });
    if (status == 77) GTEST_SKIP() << "cannot drop CAP_SYS_TIME here";
    EXPECT_EQ(status, 0);
}

TEST(SystemClock, InstalledSetterTakesTheCalls) {
    platform::ScopedClockRecorder recorder;
    int err = -1;
    EXPECT_EQ(platform::SetSystemClock(1487000000, &err), platform::SetClockResult::Ok);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(recorder.calls(), 1);
    EXPECT_EQ(recorder.lastSeconds(), 1487000000);
    recorder.answer(platform::SetClockResult::Refused, EPERM);
    EXPECT_EQ(platform::SetSystemClock(1487000001, &err), platform::SetClockResult::Refused);
    EXPECT_EQ(err, EPERM);
    EXPECT_EQ(platform::SetSystemClock(1487000002), platform::SetClockResult::Refused);
    EXPECT_EQ(recorder.calls(), 3);
}

}  // namespace

#include "platform/File.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/Clock.h"
#include "tests/support/TestSupport.h"

namespace platform {
namespace {

using testsupport::TempDir;

TEST(File, CreateWriteReadSeekAndSetLength) {
    TempDir dir;
    std::string p = dir.file("a.bin");
    File f;
    ASSERT_TRUE(f.create(p));
    ASSERT_TRUE(f.write("hello world", 11));
    ASSERT_TRUE(f.seek(6));
    char buf[16] = {};
    size_t got = 0;
    ASSERT_TRUE(f.read(buf, sizeof buf, &got));
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(std::string(buf, got), "world");
    ASSERT_TRUE(f.writeAt(0, "J", 1));
    ASSERT_TRUE(f.readAt(0, buf, 5, &got));
    EXPECT_EQ(std::string(buf, got), "Jello");
    ASSERT_TRUE(f.setLength(4));
    int64_t size = 0;
    ASSERT_TRUE(f.size(&size));
    EXPECT_EQ(size, 4);
    ASSERT_TRUE(f.flush());
    ASSERT_TRUE(f.close());
    EXPECT_EQ(testsupport::ReadFile(p), "Jell");
}

TEST(File, TwoHandlesShareOneFileWithoutLocks) {
    TempDir dir;
    std::string p = dir.file("shared.dbf");
    File writer, reader;
    ASSERT_TRUE(writer.create(p));
    ASSERT_TRUE(reader.open(p, false));
    ASSERT_TRUE(writer.write("abc", 3));
    char buf[4] = {};
    size_t got = 0;
    ASSERT_TRUE(reader.readAt(0, buf, 3, &got));
    EXPECT_EQ(std::string(buf, got), "abc");
}

TEST(File, FailuresCarryCauseErrnoAndName) {
    TempDir dir;
    File f;
    std::string missing = dir.file("missing.dbf");
    EXPECT_FALSE(f.open(missing));
    EXPECT_EQ(f.error().cause, FileCause::NotFound);
    EXPECT_EQ(f.error().osError, ENOENT);
    EXPECT_EQ(f.error().fileName, missing);
    EXPECT_FALSE(f.isOpen());

    File closed;
    EXPECT_FALSE(closed.write("x", 1));
    EXPECT_TRUE(closed.error().failed());
}

TEST(File, ErrnoToCauseMapping) {
    struct Case {
        int err;
        FileCause cause;
    } cases[] = {
        {0, FileCause::None},
        {ENOENT, FileCause::NotFound},
        {ENOTDIR, FileCause::NotFound},
        {EAGAIN, FileCause::LockViolation},
        {EDEADLK, FileCause::LockViolation},
        {ESTALE, FileCause::NetworkLost},
        {ENETDOWN, FileCause::NetworkLost},
        {EHOSTDOWN, FileCause::NetworkLost},
        {EACCES, FileCause::AccessDenied},
        {EROFS, FileCause::AccessDenied},
        {EIO, FileCause::Other},
        {ENOSPC, FileCause::Other},
    };
    for (const auto& c : cases) EXPECT_EQ(CauseOfErrno(c.err), c.cause) << "errno " << c.err;
}

TEST(FileFaults, NthOperationOfAKindFailsWithTheChosenCause) {
    TempDir dir;
    faults::ScopedFileFaults scope;
    File f;
    ASSERT_TRUE(f.create(dir.file("t.bin")));
    // The 3rd and 4th writes fail with a lock violation, the 5th succeeds.
    scope.add({FileOp::Write, 2, 2, FileCause::LockViolation, 0, ""});
    EXPECT_TRUE(f.write("a", 1));
    EXPECT_TRUE(f.write("b", 1));
    EXPECT_FALSE(f.write("c", 1));
    EXPECT_EQ(f.error().cause, FileCause::LockViolation);
    EXPECT_EQ(f.error().osError, EAGAIN);
    EXPECT_FALSE(f.writeAt(0, "d", 1));
    EXPECT_TRUE(f.write("e", 1));
    EXPECT_EQ(faults::PendingFileFaults(), 0);
    EXPECT_EQ(testsupport::ReadFile(dir.file("t.bin")), "abe");
}

TEST(FileFaults, FaultsCanTargetOnePathAndAnExplicitErrno) {
    TempDir dir;
    faults::ScopedFileFaults scope;
    scope.add({FileOp::Open, 0, 1, FileCause::NetworkLost, EHOSTDOWN, "NQHQ"});
    testsupport::WriteFile(dir.file("NQXX.DBF"), "x");
    testsupport::WriteFile(dir.file("NQHQ.DBF"), "x");
    File a, b;
    EXPECT_TRUE(a.open(dir.file("NQXX.DBF")));
    EXPECT_FALSE(b.open(dir.file("NQHQ.DBF")));
    EXPECT_EQ(b.error().cause, FileCause::NetworkLost);
    EXPECT_EQ(b.error().osError, EHOSTDOWN);
    EXPECT_TRUE(b.open(dir.file("NQHQ.DBF")));
}

TEST(FileFaults, ObserverSeesOperationsWithTheirSizes) {
    TempDir dir;
    faults::ScopedFileFaults scope;
    std::vector<std::pair<FileOp, size_t>> seen;
    faults::SetFileObserver([&](FileOp op, const std::string&, size_t n) {
        seen.push_back({op, n});
    });
    File f;
    ASSERT_TRUE(f.create(dir.file("o.bin")));
    ASSERT_TRUE(f.write("12345", 5));
    ASSERT_TRUE(f.setLength(2));
    ASSERT_TRUE(f.close());
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1], std::make_pair(FileOp::Write, size_t(5)));
    EXPECT_EQ(seen[2], std::make_pair(FileOp::SetLength, size_t(2)));
}

TEST(FileSystem, DirectoriesRenameRemoveStatAndTimes) {
    TempDir dir;
    std::string sub = dir.file("sub");
    ASSERT_TRUE(MakeDirectory(sub));
    ASSERT_TRUE(MakeDirectory(sub));  // already there
    FileError err;
    EXPECT_FALSE(MakeDirectory(dir.file("no/such/parent"), &err));
    EXPECT_EQ(err.cause, FileCause::NotFound);

    testsupport::WriteFile(sub + "/b.txt", "bb");
    testsupport::WriteFile(sub + "/a.txt", "a");
    ASSERT_TRUE(MakeDirectory(sub + "/inner"));
    std::vector<DirEntry> entries;
    ASSERT_TRUE(ListDirectory(sub, &entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "a.txt");
    EXPECT_FALSE(entries[0].isDirectory);
    EXPECT_TRUE(entries[2].isDirectory);

    ASSERT_TRUE(RenameFile(sub + "/a.txt", sub + "/b.txt"));  // replaces
    FileStatus st;
    ASSERT_TRUE(StatFile(sub + "/b.txt", &st));
    EXPECT_EQ(st.size, 1);
    ASSERT_TRUE(SetFileTimes(sub + "/b.txt", 1000000000, 1234567890));
    ASSERT_TRUE(StatFile(sub + "/b.txt", &st));
    EXPECT_EQ(st.modified, 1234567890);
    EXPECT_EQ(st.accessed, 1000000000);

    ASSERT_TRUE(RemoveFile(sub + "/b.txt"));
    EXPECT_FALSE(RemoveFile(sub + "/b.txt", &err));
    EXPECT_EQ(err.cause, FileCause::NotFound);
}

}  // namespace
}  // namespace platform

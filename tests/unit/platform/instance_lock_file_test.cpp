// The machine-wide lock file lies in a folder every user may write to, so
// whatever another user put at its name must refuse the lock without
// hanging the launcher, and say what it found.

#include "platform/posix/posix_interruption.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace talve {
namespace {

std::string refusal(const std::string& path, const std::string& what) {
    return "The lock file \"" + path + "\" cannot be used: " + what +
           ". No installer can take the lock while it is there.";
}

TEST(InstanceLockFile, WhatStandsAtTheLocksNameIsNamedInTheRefusal) {
    test::ScratchDirectory scratch;
    const std::string directory = scratch.file("directory.lock");
    const std::string link = scratch.file("link.lock");
    const std::string fifo = scratch.file("fifo.lock");
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    ASSERT_EQ(symlink(scratch.file("target").c_str(), link.c_str()), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    for (const auto& [path, what] : {std::pair<std::string, std::string>{directory, "it is a directory"},
                                     {link, "it is a symbolic link"},
                                     {fifo, "it is a FIFO"}}) {
        EXPECT_EQ(posix::takeLockFileAt(path), InstanceLockResult::Unavailable) << path;
        EXPECT_EQ(posix::lockFileProblem(), refusal(path, what));
    }
    EXPECT_NE(access(scratch.file("target").c_str(), F_OK), 0) << "the link was followed";

    const std::string free = scratch.file("free.lock");
    EXPECT_EQ(posix::takeLockFileAt(free), InstanceLockResult::Taken);
    EXPECT_EQ(posix::lockFileProblem(), "");
    struct stat made;
    ASSERT_EQ(stat(free.c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0666u) << "every user's launcher must be able to open it";
    posix::releaseLockFile();
}

// Another user's owner-only file refuses everybody but root. Tried in a child
// that becomes nobody, since the test runs as root where this matters.
TEST(InstanceLockFile, AnotherUsersPrivateFileIsNamedWithItsOwnerAndMode) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user and to become nobody";
    test::ScratchDirectory scratch;
    ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
    const std::string path = scratch.file("foreign.lock");
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(chown(path.c_str(), 12345, 12345), 0);
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    const std::string expected = refusal(path, "it is a file of user 12345 with mode 0600 that this user may not "
                                               "open (Permission denied)");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        const bool refused = posix::takeLockFileAt(path) == InstanceLockResult::Unavailable;
        _exit(refused && posix::lockFileProblem() == expected ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "expected: " << expected;
}

} // namespace
} // namespace talve

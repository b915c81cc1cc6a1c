#include "platform/platform.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace talve {
namespace {

std::vector<std::string> entriesOf(const std::string& dir) {
    std::vector<std::string> names;
    DIR* stream = opendir(dir.c_str());
    if (stream == nullptr) return names;
    while (const dirent* entry = readdir(stream)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(stream);
    return names;
}

// The system's lock, as the temporary directory's claim relies on it: a
// second taker fails while it is held, even in the same process; the
// directory stays empty; only a private directory of this user, reached
// without a link, is locked.
TEST(LockDirectory, IsExclusiveLeavesNothingBehindAndTakesOnlyAPrivateDirectory) {
    test::ScratchDirectory scratch;
    std::unique_ptr<Platform> platform = makeSystemPlatform();
    const std::string run = scratch.file("run");
    ASSERT_EQ(::mkdir(run.c_str(), 0700), 0);

    DirectoryLock held = platform->lockDirectory(run);
    ASSERT_EQ(held.status, DirectoryLockStatus::taken);
    ASSERT_NE(held.lock, nullptr);
    EXPECT_EQ(platform->lockDirectory(run).status, DirectoryLockStatus::inUse);
    EXPECT_TRUE(entriesOf(run).empty());
    // The run itself may remove it while the lock is held (and after it, a
    // new directory of that name is a new one to lock).
    ASSERT_EQ(::rmdir(run.c_str()), 0);
    ASSERT_EQ(::mkdir(run.c_str(), 0700), 0);
    EXPECT_EQ(platform->lockDirectory(run).status, DirectoryLockStatus::taken);
    held.lock.reset();

    ASSERT_EQ(::symlink(run.c_str(), scratch.file("link").c_str()), 0);
    EXPECT_EQ(platform->lockDirectory(scratch.file("link")).status, DirectoryLockStatus::refused);
    EXPECT_EQ(platform->lockDirectory(scratch.file("missing")).status, DirectoryLockStatus::refused);
    const std::string shared = scratch.file("shared");
    ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 0770), 0);
    EXPECT_EQ(platform->lockDirectory(shared).status, DirectoryLockStatus::refused);
    test::writeFile(scratch.file("plain"), "");
    EXPECT_EQ(platform->lockDirectory(scratch.file("plain")).status, DirectoryLockStatus::refused);
}

} // namespace
} // namespace talve

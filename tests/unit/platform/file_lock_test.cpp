#include "platform/platform.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace talve {
namespace {

// The system's lock, as the temporary directory's claim relies on it: a
// second taker fails while it is held, even in the same process, and no
// link at the lock's name is followed.
TEST(LockFile, IsExclusiveUntilReleasedAndNeverFollowsALink) {
    test::ScratchDirectory scratch;
    std::unique_ptr<Platform> platform = makeSystemPlatform();
    const std::string path = scratch.file("run.lock");

    std::unique_ptr<FileLock> held = platform->lockFile(path);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(platform->lockFile(path), nullptr);
    held.reset();
    EXPECT_NE(platform->lockFile(path), nullptr);

    ASSERT_EQ(::symlink(scratch.file("elsewhere").c_str(), scratch.file("link.lock").c_str()), 0);
    EXPECT_EQ(platform->lockFile(scratch.file("link.lock")), nullptr);
    EXPECT_NE(::access(scratch.file("elsewhere").c_str(), F_OK), 0);
    EXPECT_EQ(platform->lockFile(scratch.file("missing/run.lock")), nullptr);
}

} // namespace
} // namespace talve

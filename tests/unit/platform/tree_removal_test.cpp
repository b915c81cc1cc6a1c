#include "platform/platform.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace talve {
namespace {

bool exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

void touch(const std::string& path) { std::ofstream(path) << "x"; }

// Links planted in the run's directory, to a folder and to a file outside
// it, and to the directory itself: each goes as a link, and what it leads
// to stays untouched. Folders the installer made unreadable or read-only
// go too.
TEST(RemoveTree, RemovesLinksWithoutFollowingThemAndWidensItsOwnFolders) {
    test::ScratchDirectory scratch;
    std::unique_ptr<Platform> platform = makeSystemPlatform();
    const std::string outside = scratch.file("outside");
    ASSERT_EQ(::mkdir(outside.c_str(), 0700), 0);
    touch(outside + "/keep.txt");
    const std::string run = scratch.file("run");
    ASSERT_EQ(::mkdir(run.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((run + "/lib").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((run + "/lib/deep").c_str(), 0700), 0);
    touch(run + "/lib/deep/a.jar");
    ASSERT_EQ(::symlink(outside.c_str(), (run + "/lib/toFolder").c_str()), 0);
    ASSERT_EQ(::symlink((outside + "/keep.txt").c_str(), (run + "/toFile").c_str()), 0);
    ASSERT_EQ(::symlink(run.c_str(), (run + "/lib/deep/loop").c_str()), 0);
    ASSERT_EQ(::symlink("/nowhere", (run + "/dangling").c_str()), 0);
    ASSERT_EQ(::mkdir((run + "/locked").c_str(), 0700), 0);
    touch(run + "/locked/f");
    ASSERT_EQ(::chmod((run + "/locked").c_str(), 0500), 0);
    ASSERT_EQ(::mkdir((run + "/closed").c_str(), 0700), 0);
    touch(run + "/closed/f");
    ASSERT_EQ(::chmod((run + "/closed").c_str(), 0), 0);

    const TreeRemoval removal = platform->removeTree(run);
    EXPECT_TRUE(removal.removed) << removal.firstLeft;
    EXPECT_EQ(removal.entriesLeft, 0u);
    EXPECT_FALSE(exists(run));
    EXPECT_TRUE(exists(outside + "/keep.txt"));

    // Gone already: nothing to do, nothing left.
    EXPECT_TRUE(platform->removeTree(run).removed);

    // A link in the directory's own place goes, not what it leads to.
    ASSERT_EQ(::symlink(outside.c_str(), run.c_str()), 0);
    EXPECT_TRUE(platform->removeTree(run).removed);
    EXPECT_FALSE(exists(run));
    EXPECT_TRUE(exists(outside + "/keep.txt"));
}

// An entry that cannot go is counted and named, and the rest still goes.
TEST(RemoveTree, NamesWhatItLeaves) {
    if (::geteuid() == 0) GTEST_SKIP() << "root removes entries from any folder";
    test::ScratchDirectory scratch;
    std::unique_ptr<Platform> platform = makeSystemPlatform();
    const std::string run = scratch.file("run");
    ASSERT_EQ(::mkdir(run.c_str(), 0700), 0);
    touch(run + "/loose");
    const std::string shut = scratch.file("shut");
    ASSERT_EQ(::mkdir(shut.c_str(), 0700), 0);
    touch(shut + "/stuck");
    ASSERT_EQ(::symlink(shut.c_str(), (run + "/shut").c_str()), 0);
    ASSERT_EQ(::chmod(scratch.path().c_str(), 0500), 0);

    const TreeRemoval removal = platform->removeTree(run);
    ::chmod(scratch.path().c_str(), 0700);
    EXPECT_FALSE(removal.removed);
    EXPECT_EQ(removal.entriesLeft, 1u);
    EXPECT_EQ(removal.firstLeft, run + " (Permission denied)");
    EXPECT_FALSE(exists(run + "/loose"));
    EXPECT_FALSE(exists(run + "/shut"));
    EXPECT_TRUE(exists(shut + "/stuck"));
}

} // namespace
} // namespace talve

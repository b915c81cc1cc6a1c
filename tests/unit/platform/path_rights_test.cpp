// Who besides the administrators and this user could change a path, as the
// system's owners and modes tell it.

#include "platform/posix/path_rights.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace talve {
namespace {

using posix::writableByOthers;

TEST(PathRights, OwnersModesStickyFoldersAndLinks) {
    test::ScratchDirectory scratch;
    const std::string folder = scratch.file("folder");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
    EXPECT_EQ(writableByOthers(folder, true, false), "") << "the scratch folder and all above it are sound";

    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    EXPECT_EQ(writableByOthers(folder, false, true), "\"" + folder + "\" may be written by every user");
    EXPECT_EQ(writableByOthers(folder + "/x", true, false), "\"" + folder + "\" may be written by every user");

    // Sticky: others may add entries of their own but not replace ours.
    ASSERT_EQ(chmod(folder.c_str(), 01777), 0);
    EXPECT_EQ(writableByOthers(folder, true, true), "");
    EXPECT_EQ(writableByOthers(folder, true, false), "\"" + folder + "\" may be written by every user");
    ASSERT_EQ(mkdir((folder + "/inner").c_str(), 0755), 0);
    EXPECT_EQ(writableByOthers(folder + "/inner", true, false), "");

    ASSERT_EQ(chmod(folder.c_str(), 0775), 0);
    if (getegid() != 0) {
        EXPECT_EQ(writableByOthers(folder, false, false),
                  "\"" + folder + "\" may be written by group " + std::to_string(getegid()));
    } else {
        ASSERT_EQ(chown(folder.c_str(), 0, 100), 0);
        EXPECT_EQ(writableByOthers(folder, false, false), "\"" + folder + "\" may be written by group 100");
    }

    // A link is judged by where it leads.
    ASSERT_EQ(symlink(folder.c_str(), scratch.file("link").c_str()), 0);
    EXPECT_EQ(writableByOthers(scratch.file("link") + "/inner", true, false),
              "\"" + folder + "\" may be written by group " + std::to_string(getegid() != 0 ? getegid() : 100));
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    EXPECT_EQ(writableByOthers(scratch.file("link") + "/inner", true, false), "");
    EXPECT_NE(writableByOthers(scratch.file("missing"), true, false), "") << "what cannot be examined is open";

    if (geteuid() == 0) {
        ASSERT_EQ(chown((folder + "/inner").c_str(), 65534, 65534), 0);
        EXPECT_EQ(writableByOthers(folder + "/inner", false, false), "\"" + folder + "/inner\" belongs to user 65534");
    }
}

} // namespace
} // namespace talve

// Who besides the administrators and this user could change a path, as the
// system's owners and modes tell it.

#include "platform/posix/path_rights.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace talve {
namespace {

using posix::treeWritableByOthers;
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

// A runtime is judged whole: every entry at any depth, links by where they
// lead, and a folder outside reached through a link as part of the tree.
TEST(PathRights, ATreeIsOpenWhenAnyEntryInsideIsOrWhereALinkLeads) {
    struct Case {
        const char* what;
        std::function<void(const std::string& root, const std::string& outside)> change;
        const char* open; // the entry named, relative to the scratch folder; null: sound
    };
    const bool root = geteuid() == 0;
    const std::vector<Case> cases{
        {"sound", [](const std::string&, const std::string&) {}, nullptr},
        {"a folder deep inside writable by all",
         [](const std::string& r, const std::string&) { chmod((r + "/lib/server").c_str(), 0777); }, "jvm/lib/server"},
        {"a sticky folder inside, where others could still add a library",
         [](const std::string& r, const std::string&) { chmod((r + "/lib/server").c_str(), 01777); },
         "jvm/lib/server"},
        {"a file writable by all",
         [](const std::string& r, const std::string&) { chmod((r + "/lib/libjli.so").c_str(), 0666); },
         "jvm/lib/libjli.so"},
        {"a link inside to a sound file inside",
         [](const std::string& r, const std::string&) {
             symlink("../libjli.so", (r + "/lib/server/libjli.so").c_str());
         },
         nullptr},
        {"a link to a folder outside with a writable file in it",
         [](const std::string& r, const std::string& o) {
             symlink(o.c_str(), (r + "/lib/extra").c_str());
             chmod((o + "/libextra.so").c_str(), 0666);
         },
         "outside/libextra.so"},
        {"a link to a file outside in a writable folder",
         [](const std::string& r, const std::string& o) {
             chmod(o.c_str(), 0777);
             symlink((o + "/libextra.so").c_str(), (r + "/lib/libextra.so").c_str());
         },
         "outside"},
        {"a relative link that climbs out of the tree to a writable folder",
         [](const std::string& r, const std::string& o) {
             chmod(o.c_str(), 0777);
             symlink("../../outside/libextra.so", (r + "/lib/libextra.so").c_str());
         },
         "outside"},
        {"a relative link that names a link before it climbs",
         [](const std::string& r, const std::string& o) {
             chmod(o.c_str(), 0777);
             mkdir((o + "/deeper").c_str(), 0755);
             symlink((o + "/deeper").c_str(), (r + "/lib/deeper").c_str());
             symlink("deeper/../libextra.so", (r + "/lib/libextra.so").c_str());
         },
         "outside"},
        {"a link that leads nowhere",
         [](const std::string& r, const std::string& o) {
             symlink((o + "/missing.so").c_str(), (r + "/lib/libmissing.so").c_str());
         },
         "outside/missing.so"},
        {"links that lead to each other's folders",
         [](const std::string& r, const std::string& o) {
             symlink(o.c_str(), (r + "/lib/extra").c_str());
             symlink((r + "/lib").c_str(), (o + "/back").c_str());
         },
         nullptr},
    };
    for (const Case& c : cases) {
        test::ScratchDirectory scratch;
        ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
        const std::string runtime = scratch.file("jvm"), outside = scratch.file("outside");
        for (const std::string& folder : {runtime, runtime + "/lib", runtime + "/lib/server", outside})
            ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        test::writeFile(runtime + "/lib/libjli.so", "jli");
        test::writeFile(runtime + "/lib/server/libjvm.so", "jvm");
        test::writeFile(outside + "/libextra.so", "extra");
        for (const std::string& file : {runtime + "/lib/libjli.so", runtime + "/lib/server/libjvm.so",
                                        outside + "/libextra.so"})
            ASSERT_EQ(chmod(file.c_str(), 0644), 0);
        c.change(runtime, outside);
        const std::string problem = treeWritableByOthers(runtime);
        if (c.open == nullptr)
            EXPECT_EQ(problem, "") << c.what;
        else
            EXPECT_EQ(problem.rfind("\"" + scratch.file(c.open) + "\" ", 0), 0u) << c.what << ": " << problem;
    }

    if (!root) return;
    test::ScratchDirectory scratch;
    ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
    const std::string runtime = scratch.file("jvm");
    ASSERT_EQ(mkdir(runtime.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((runtime + "/lib").c_str(), 0755), 0);
    test::writeFile(runtime + "/lib/libjvm.so", "planted");
    ASSERT_EQ(chmod((runtime + "/lib/libjvm.so").c_str(), 0644), 0);
    ASSERT_EQ(chown((runtime + "/lib/libjvm.so").c_str(), 65534, 65534), 0);
    EXPECT_EQ(treeWritableByOthers(runtime), "\"" + runtime + "/lib/libjvm.so\" belongs to user 65534");
}

} // namespace
} // namespace talve

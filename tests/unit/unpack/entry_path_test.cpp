#include "entry_path.h"

#include <gtest/gtest.h>

namespace talve {
namespace archive {
namespace {

TEST(EntryPath, AcceptsOnlyPlainRelativeNames) {
    EXPECT_TRUE(isSafeEntryPath("bin"));
    EXPECT_TRUE(isSafeEntryPath("lib/server/libjvm.so"));
    EXPECT_TRUE(isSafeEntryPath("a..b/.hidden"));

    EXPECT_FALSE(isSafeEntryPath(""));
    EXPECT_FALSE(isSafeEntryPath("/etc/passwd"));
    EXPECT_FALSE(isSafeEntryPath("\\Windows\\system32"));
    EXPECT_FALSE(isSafeEntryPath("C:/Windows"));
    EXPECT_FALSE(isSafeEntryPath("C:relative"));
    EXPECT_FALSE(isSafeEntryPath("lib/file:stream"));
    EXPECT_FALSE(isSafeEntryPath(".."));
    EXPECT_FALSE(isSafeEntryPath("../outside"));
    EXPECT_FALSE(isSafeEntryPath("lib/../../outside"));
    EXPECT_FALSE(isSafeEntryPath("lib\\..\\..\\outside"));
    EXPECT_FALSE(isSafeEntryPath("lib/./x"));
    EXPECT_FALSE(isSafeEntryPath("lib//x"));
    EXPECT_FALSE(isSafeEntryPath("lib/"));
    EXPECT_FALSE(isSafeEntryPath(std::string("lib\0x", 5)));
}

TEST(EntryPath, ControlCharactersAreRefusedAndShownEscaped) {
    EXPECT_TRUE(isSafeEntryPath("lib/caf\xc3\xa9 \x7e"));
    for (const std::string& name : {std::string("bin/ja\nva"), std::string("bin/ja\rva"), std::string("bin/\x7f"),
                                    std::string("a\tb")}) {
        EXPECT_TRUE(hasControlCharacter(name)) << name;
        EXPECT_FALSE(isSafeEntryPath(name)) << name;
        EXPECT_FALSE(isSafeLinkTarget("bin/link", name)) << name;
    }
    EXPECT_EQ(printablePath(std::string("a\nb\0c\x7f\xc3\xa9", 8)), "a\\x0ab\\x00c\\x7f\xc3\xa9");
}

TEST(EntryPath, LinkTargetsMayClimbOnlyAsFarAsTheLinkIsDeep) {
    EXPECT_TRUE(isSafeLinkTarget("legal/java.net/LICENSE", "../java.base/LICENSE"));
    EXPECT_TRUE(isSafeLinkTarget("bin/jre", "../lib/x"));
    EXPECT_TRUE(isSafeLinkTarget("top", "lib/x"));
    EXPECT_TRUE(isSafeLinkTarget("top", "."));
    EXPECT_TRUE(isSafeLinkTarget("a/b/c", "../../x"));

    EXPECT_FALSE(isSafeLinkTarget("top", ".."));
    EXPECT_FALSE(isSafeLinkTarget("top", "../_jvm/x"));
    EXPECT_FALSE(isSafeLinkTarget("a/b/c", "../../../x"));
    EXPECT_FALSE(isSafeLinkTarget("bin/java", "/usr/bin/java"));
    EXPECT_FALSE(isSafeLinkTarget("bin/java", "\\Windows\\java.exe"));
    EXPECT_FALSE(isSafeLinkTarget("bin/java", "C:/java.exe"));
    EXPECT_FALSE(isSafeLinkTarget("bin/java", "..\\..\\x"));
    EXPECT_FALSE(isSafeLinkTarget("bin/java", ""));
}

TEST(EntryPath, LinkTargetsMayNotClimbAfterDescending) {
    // "x" may itself be a link to "." and take the climb one level higher.
    EXPECT_FALSE(isSafeLinkTarget("a/link", "x/.."));
    EXPECT_FALSE(isSafeLinkTarget("a/b/link", "../x/../y"));
}

} // namespace
} // namespace archive
} // namespace talve

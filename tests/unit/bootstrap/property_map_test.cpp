#include "bootstrap/property_map.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace talve {
namespace {

PropertyMap parsed(std::initializer_list<const char*> lines) {
    PropertyMap map;
    for (const char* line : lines) map.parseLine(line);
    return map;
}

TEST(PropertyMap, TrimsAndUnescapesKeysAndValues) {
    PropertyMap map = parsed({
        "  installationLog.usedLogFile \t=  C\\:\\\\logs\\\\x.log \r\n",
        "kept=a\\tb\\",
        "equals=x\\=y=z",
        "empty=",
        "high=\xC3\xA9\xA0",
    });
    EXPECT_EQ(map.get("installationLog.usedLogFile"), "C:\\logs\\x.log");
    EXPECT_EQ(map.get("kept"), "a\\tb\\");
    EXPECT_EQ(map.get("equals"), "x=y=z");
    EXPECT_EQ(map.get("empty"), "");
    // Bytes of 128 and above are text, not blanks.
    EXPECT_EQ(map.get("high"), "\xC3\xA9\xA0");
    EXPECT_EQ(map.get("absent"), "");
}

TEST(PropertyMap, SkipsCommentsAndLinesWithoutEqualsAndLetsTheLaterLineWin) {
    PropertyMap map = parsed({"#key=commented", "", "no equals sign", "key=first", "key = second", " #spaced=kept"});
    EXPECT_EQ(map.get("key"), "second");
    EXPECT_EQ(map.get("#key"), "");
    // Only a "#" in the first byte makes a comment.
    EXPECT_EQ(map.get("#spaced"), "kept");
    EXPECT_EQ(map.get("no equals sign"), "");
}

TEST(PropertyMap, ExpandsReferencesAndMarksMissingKeys) {
    PropertyMap map = parsed({"dir=C:\\\\logs", "log=?{dir}?\\\\x.log", "lost=?{nodir}?\\\\x.log", "chain=?{log}?.bak",
                              "two=?{dir}?;?{dir}?", "blank=", "useBlank=[?{blank}?]"});
    EXPECT_EQ(map.get("log"), "C:\\logs\\x.log");
    EXPECT_EQ(map.get("lost"), "@@\\x.log");
    EXPECT_EQ(map.get("chain"), "C:\\logs\\x.log.bak");
    EXPECT_EQ(map.get("two"), "C:\\logs;C:\\logs");
    EXPECT_EQ(map.get("useBlank"), "[]");
}

TEST(PropertyMap, EndsOnSelfReferencesCyclesAndUnclosedReferences) {
    PropertyMap map = parsed({"self=?{self}?", "a=?{b}?", "b=?{a}?", "grow=x?{grow}?", "double=?{double}??{double}?",
                              "open=C:\\\\?{dir", "dir=D:", "late=?{open}? and ?{dir}?"});
    EXPECT_EQ(map.get("self"), "?{self}?");
    const std::string cycle = map.get("a");
    EXPECT_TRUE(cycle == "?{a}?" || cycle == "?{b}?") << cycle;
    const std::string grown = map.get("grow");
    EXPECT_LT(grown.size(), 200000u);
    EXPECT_EQ(grown.compare(grown.size() - 8, 8, "?{grow}?"), 0);
    EXPECT_LT(map.get("double").size(), 200000u);
    // An unclosed reference is kept as text; a later "}?" closes it, naming no key.
    EXPECT_EQ(map.get("open"), "C:\\?{dir");
    EXPECT_EQ(map.get("late"), "C:\\@@");
}

TEST(PropertyMap, LoadsATextLeavingOutLinesLongerThanItsBuffer) {
    // 1,022 characters, the line feed and the terminator fill the buffer exactly.
    const std::string fits = "fits=" + std::string(1017, 'f') + "\n";
    const std::string longLine = "long=" + std::string(1018, 'x') + "tail=end\n";
    const std::string text =
        "# written by the installer\ninstallationLog.usedLogFile = C\\:\\\\a.log\r\n" + fits + longLine + "after=1";
    PropertyMap map;
    map.load(text, true);
    EXPECT_EQ(map.get("installationLog.usedLogFile"), "C:\\a.log");
    EXPECT_EQ(map.get("fits"), std::string(1017, 'f'));
    // Cut into pieces, the long line's tail would have set a key of its own.
    EXPECT_EQ(map.get("long"), "");
    EXPECT_EQ(map.get("tail"), "");
    EXPECT_EQ(map.get("after"), "1");
}

} // namespace
} // namespace talve

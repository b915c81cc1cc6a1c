#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talve {
namespace {

using Arguments = std::vector<std::string>;

TEST(SplitCommandLine, FollowsTheWindowsRuntimeRules) {
    EXPECT_EQ(splitCommandLine("  java \t-jar   x.jar "), (Arguments{"java", "-jar", "x.jar"}));
    EXPECT_EQ(splitCommandLine("\"C:\\Program Files\\j\" a\"b c\"d"), (Arguments{"C:\\Program Files\\j", "ab cd"}));
    EXPECT_EQ(splitCommandLine("\"\" x"), (Arguments{"", "x"}));
    EXPECT_EQ(splitCommandLine(""), Arguments{});
    // Backslashes are literal unless a quote follows them.
    EXPECT_EQ(splitCommandLine("C:\\dir\\\\x"), Arguments{"C:\\dir\\\\x"});
    // 2n backslashes before a quote: n backslashes, and the quote groups.
    EXPECT_EQ(splitCommandLine("a\\\\\"b c\""), Arguments{"a\\b c"});
    EXPECT_EQ(splitCommandLine("\"C:\\dir\\\\\" next"), (Arguments{"C:\\dir\\", "next"}));
    // 2n+1 backslashes before a quote: n backslashes and a literal quote.
    EXPECT_EQ(splitCommandLine("a\\\"b"), Arguments{"a\"b"});
    EXPECT_EQ(splitCommandLine("a\\\\\\\"b c"), (Arguments{"a\\\"b", "c"}));
    // An unclosed group runs to the end; nothing is expanded.
    EXPECT_EQ(splitCommandLine("\"open group $HOME"), Arguments{"open group $HOME"});
}

TEST(QuoteArgument, GivesEveryArgumentBackThroughTheSplitter) {
    const Arguments awkward{
        "plain", "with blank", "say \"hi\"", "C:\\dir\\", "C:\\dir\\\\", "a\\\"b", "$HOME;`id`", "", "\t", "\\",
    };
    std::string line;
    for (const std::string& argument : awkward) {
        EXPECT_EQ(splitCommandLine(quoteArgument(argument)), Arguments{argument}) << quoteArgument(argument);
        line += quoteArgument(argument) + " ";
    }
    EXPECT_EQ(splitCommandLine(line), awkward);
    // An ordinary path is only enclosed, as the composed command texts expect.
    EXPECT_EQ(quoteArgument("C:\\Temp\\TALVE_TEMP_42\\exitscript.bat"), "\"C:\\Temp\\TALVE_TEMP_42\\exitscript.bat\"");
    EXPECT_EQ(quoteArgument(""), "\"\"");
}

} // namespace
} // namespace talve

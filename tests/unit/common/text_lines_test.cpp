#include "common/text_lines.h"

#include <gtest/gtest.h>

namespace talve {
namespace {

using Lines = std::vector<std::string>;

TEST(LinesFittingBuffer, SplitsAtLineFeedsAndKeepsALastLineWithoutOne) {
    EXPECT_EQ(linesFittingBuffer("a=1\n\nb=2", 16), (Lines{"a=1", "", "b=2"}));
    EXPECT_EQ(linesFittingBuffer("", 16), Lines{});
    EXPECT_EQ(linesFittingBuffer("x\n", 16), Lines{"x"});
}

TEST(LinesFittingBuffer, LeavesOutALineTooLongForTheBufferWhole) {
    // Buffer 8: seven bytes of room, the line feed among them.
    const std::string fits(6, 'a');
    const std::string tooLong = "#" + std::string(6, 'c') + "java.bin.path=../x";
    EXPECT_EQ(linesFittingBuffer(fits + "\n" + tooLong + "\nk=v\n", 8), (Lines{fits, "k=v"}));
    EXPECT_EQ(linesFittingBuffer(std::string(7, 'a') + "\n", 8), Lines{});
    // Without a line feed the last line has one more byte of room.
    EXPECT_EQ(linesFittingBuffer(std::string(7, 'a'), 8), Lines{std::string(7, 'a')});
}

TEST(LinesFittingBuffer, DropsTheCarriageReturnOfALineEndOnlyInTextMode) {
    EXPECT_EQ(linesFittingBuffer("a\r\nb\r", 16, true), (Lines{"a", "b\r"}));
    EXPECT_EQ(linesFittingBuffer("a\r\nb", 16, false), (Lines{"a\r", "b"}));
}

} // namespace
} // namespace talve

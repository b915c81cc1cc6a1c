#include "cmdline/spec_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talve {
namespace {

// Renders every item up to the first refusal as "kind:name=value".
std::vector<std::string> itemsOf(SpecReader& reader) {
    std::vector<std::string> items;
    while (reader.next()) {
        const SpecItem& item = reader.item();
        const char* kind = item.kind == SpecItem::Kind::BlockOpen    ? "open"
                           : item.kind == SpecItem::Kind::BlockClose ? "close"
                                                                     : "attr";
        items.push_back(std::string(kind) + ":" + item.name + "=" + item.value);
    }
    return items;
}

std::vector<std::string> itemsOf(const std::string& text) {
    SpecReader reader(text);
    return itemsOf(reader);
}

TEST(SpecReader, EndsLinesAtCrAtLfAndAtCrLfAlike) {
    const std::vector<std::string> expected{"open:-a=", "attr:Type=String", "close:-a="};
    EXPECT_EQ(itemsOf("-a{\nType=String\n}\n"), expected);
    EXPECT_EQ(itemsOf("-a{\rType=String\r}\r"), expected);
    EXPECT_EQ(itemsOf("-a{\r\nType=String\r\n}\r\n"), expected);
    EXPECT_EQ(itemsOf("\n\n-a{\r\n\r\n  \t\nType=String\n}"), expected) << "blank lines and a missing last line end";
}

TEST(SpecReader, TrimsSpacesAndTabsAndSplitsAttributesAtTheFirstEqualsSign) {
    EXPECT_EQ(itemsOf(" \t Name \t= a = b\t "), std::vector<std::string>{"attr:Name=a = b"});
    EXPECT_EQ(itemsOf("Empty="), std::vector<std::string>{"attr:Empty="});
    EXPECT_EQ(itemsOf("-x={"), std::vector<std::string>{"attr:-x={"}) << "an equals sign wins over a brace";
}

TEST(SpecReader, NamesBlocksWithoutTheBraceAndClosesTheInnermostFirst) {
    const std::vector<std::string> expected{"open:-tempdir=", "open:-inner=", "close:-inner=", "close:-tempdir="};
    EXPECT_EQ(itemsOf("-tempdir\t{\n-inner{\n} ignored text\n}"), expected);
    EXPECT_EQ(itemsOf("}{"), std::vector<std::string>{"open:}="}) << "a brace at the end opens before one at the start closes";
}

TEST(SpecReader, RefusesStrayLinesOnceAndGoesOnAfterThem) {
    SpecReader reader("-a{\nplain words\nMinValue=1\n}\n}\nType=String\n");
    EXPECT_EQ(itemsOf(reader), std::vector<std::string>{"open:-a="});
    EXPECT_EQ(itemsOf(reader), (std::vector<std::string>{"attr:MinValue=1", "close:-a="}));
    EXPECT_EQ(itemsOf(reader), std::vector<std::string>{"attr:Type=String"}) << "a close without an open block is refused";
    EXPECT_FALSE(reader.next());
    EXPECT_FALSE(reader.next());
}

TEST(SpecReader, StopsAtTheFirstNulByte) {
    EXPECT_EQ(itemsOf(std::string("A=1\n\0B=2\n", 9)), std::vector<std::string>{"attr:A=1"});
    EXPECT_TRUE(itemsOf("").empty());
}

} // namespace
} // namespace talve

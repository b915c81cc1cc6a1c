#include "cmdline/parameter_builder.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace talve {
namespace {

std::vector<std::string> namesOf(const std::vector<ParameterSpec>& parameters) {
    std::vector<std::string> names;
    for (const ParameterSpec& parameter : parameters) names.push_back(parameter.name);
    return names;
}

TEST(BuildParameters, TurnsEachClosedBlockIntoOneParameterWithDefaultsForMissingAttributes) {
    auto parameters = buildParameters("-count {\nType=Integer\nOptional=True\nMinValue=-3\nMaxValue= 12x\n}\n"
                                      "-mode{\nType=Enumeration\nPossibleValues=b  a\tc b\nPossibleValues=d\n}\n"
                                      "-plain{\n}\n");
    ASSERT_EQ(namesOf(parameters), (std::vector<std::string>{"-count", "-mode", "-plain"}));

    EXPECT_EQ(parameters[0].type, ParameterType::Integer);
    EXPECT_TRUE(parameters[0].optional);
    EXPECT_EQ(parameters[0].minValue, -3);
    EXPECT_EQ(parameters[0].maxValue, 12);

    EXPECT_EQ(parameters[1].type, ParameterType::Enumeration);
    EXPECT_EQ(parameters[1].possibleValues, (std::set<std::string>{"a\tc", "b", "d"}));

    EXPECT_EQ(parameters[2].type, ParameterType::Unknown);
    EXPECT_FALSE(parameters[2].optional);
    EXPECT_TRUE(parameters[2].possibleValues.empty());
    EXPECT_EQ(parameters[2].minValue, std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(parameters[2].maxValue, std::numeric_limits<std::int32_t>::max());
}

TEST(BuildParameters, ReadsAttributeValuesStrictlyAndLetLaterOnesReplaceEarlierOnes) {
    auto parameters = buildParameters("-a{\nOptional=true\nType=integer\nMinValue=abc\nColour=red\n}\n"
                                      "-b{\nOptional=TRUE\nType=NoValue\nType=Boolean\nMaxValue=5\nMaxValue=7\n}\n"
                                      "-c{\nOptional=True\nOptional=yes\nType=String\n}\n");
    ASSERT_EQ(parameters.size(), 3u);
    EXPECT_FALSE(parameters[0].optional);
    EXPECT_EQ(parameters[0].type, ParameterType::Unknown);
    EXPECT_EQ(parameters[0].minValue, 0);
    EXPECT_FALSE(parameters[1].optional);
    EXPECT_EQ(parameters[1].type, ParameterType::Boolean);
    EXPECT_EQ(parameters[1].maxValue, 7);
    EXPECT_FALSE(parameters[2].optional);
    EXPECT_EQ(parameters[2].type, ParameterType::String);
}

TEST(BuildParameters, RegistersOnlyWhatAClosingLineFindsCurrent) {
    EXPECT_TRUE(buildParameters("\n  \r\n\t\n").empty());
    EXPECT_TRUE(buildParameters("-open{\nType=String\n").empty()) << "a block never closed";
    EXPECT_TRUE(buildParameters("stray\n-a{\nType=String\n}\n").empty()) << "a stray line at the outermost level ends reading";

    auto afterClose = buildParameters("-a{\nType=String\n}\nType=Integer\n-b{\n}\n");
    ASSERT_EQ(namesOf(afterClose), (std::vector<std::string>{"-a", "-b"}));
    EXPECT_EQ(afterClose[0].type, ParameterType::Integer) << "attributes after a closing line change the block just closed";

    auto nested = buildParameters("-outer{\nType=String\n-inner{\nType=Boolean\n}\n}\n");
    ASSERT_EQ(namesOf(nested), std::vector<std::string>{"-inner"}) << "the outer closing line registers the inner block again";
    EXPECT_EQ(nested[0].type, ParameterType::Boolean);
}

TEST(BuildParameters, LetsAStrayLineInABlockHandTheRestToThePlaceholder) {
    auto parameters = buildParameters("-x{\nType=Integer\nplain words\nMinValue=5\n}\n");
    ASSERT_EQ(parameters.size(), 1u);
    EXPECT_EQ(parameters[0].name, "");
    EXPECT_EQ(parameters[0].type, ParameterType::Unknown);
    EXPECT_EQ(parameters[0].minValue, 5);

    auto resumed = buildParameters("-a{\n-b{\nstray\nType=String\n}\n");
    ASSERT_EQ(namesOf(resumed), std::vector<std::string>{"-a"}) << "the enclosing block resumes after the stray line";
    EXPECT_EQ(resumed[0].type, ParameterType::String);
}

TEST(BuildParameters, ReadsDeeplyNestedTextsWithoutExhaustingTheStack) {
    std::string text;
    for (int i = 0; i < 200000; ++i) text += "{\n";
    text += "}\n";
    auto parameters = buildParameters(text);
    ASSERT_EQ(parameters.size(), 1u);
    EXPECT_EQ(parameters[0].name, "");
}

} // namespace
} // namespace talve

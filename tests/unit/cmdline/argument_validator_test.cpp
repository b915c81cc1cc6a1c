#include "cmdline/argument_validator.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace talve {
namespace {

using Arguments = std::map<std::string, std::string>;

const char* const specification =
    "-count{\nType=Integer\nMinValue=1\nMaxValue=10\n}\n"
    "-retries{\nType=Integer\nOptional=True\n}\n"
    "-offset{\nType=Integer\n}\n"
    "-reboot{\nType=Boolean\n}\n"
    "-wait{\nType=Boolean\nOptional=True\n}\n"
    "-record{\nType=String\n}\n"
    "-note{\nType=String\nOptional=True\n}\n"
    "-mode{\nType=Enumeration\nPossibleValues=minimal full -quiet\n}\n"
    "-level{\nType=Enumeration\nOptional=True\nPossibleValues=low -quiet\n}\n"
    "-empty{\nType=Enumeration\n}\n"
    "-quiet{\nType=NoValue\n}\n"
    "verbose{\nType=NoValue\n}\n"
    "-broken{\nType=Number\n}\n";

// Validates the arguments that follow the program path; a refused command
// line shows as the single entry "refused" holding the message, so that one
// comparison checks the outcome, the message and what was stored.
Arguments outcome(const std::vector<std::string>& arguments, const std::string& text = specification) {
    ArgumentValidator validator(text);
    std::vector<const char*> argv{"C:\\setup.exe"};
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    if (validator.validate(static_cast<int>(argv.size()), argv.data())) return validator.validatedArguments();
    Arguments refused = validator.validatedArguments();
    refused.emplace("refused", validator.errorMessage());
    return refused;
}

Arguments refused(const std::string& message, Arguments storedBefore = {}) {
    storedBefore.emplace("refused", message);
    return storedBefore;
}

TEST(ArgumentValidator, AcceptsOnlyRegisteredNamesAndNeverLooksAtTheProgramPath) {
    EXPECT_EQ(outcome({}), Arguments{});
    EXPECT_EQ(outcome({}, "\n\n"), Arguments{});
    EXPECT_EQ(outcome({"-quiet"}, "\n\n"), refused("Unknown argument : [-quiet]"));
    EXPECT_EQ(outcome({"-Quiet"}), refused("Unknown argument : [-Quiet]"));
}

TEST(ArgumentValidator, RefusesAParameterGivenTwiceButNotAValueThatNamesOne) {
    EXPECT_EQ(outcome({"-record", "a.txt", "-quiet", "-record"}),
              refused("Parameter [-record] is present multiple times on the command line. Each paramater can only be "
                      "used once in a command line.",
                      {{"-record", "a.txt"}, {"-quiet", "__NO__VALUE__"}}));
    EXPECT_EQ(outcome({"-mode", "-quiet", "-quiet"}), (Arguments{{"-mode", "-quiet"}, {"-quiet", "__NO__VALUE__"}}));
}

TEST(ArgumentValidator, ChecksIntegersAgainstTheirRangeWithBothBoundsIncluded) {
    EXPECT_EQ(outcome({"-count", "10", "-offset", "-5", "-retries", "7x"}),
              (Arguments{{"-count", "10"}, {"-offset", "-5"}, {"-retries", "7x"}}));
    EXPECT_EQ(outcome({"-count", "1"}), (Arguments{{"-count", "1"}}));
    EXPECT_EQ(outcome({"-count", "11"}), refused("The provided value [11] for parameter [-count] is outside of the "
                                                 "expected range (between 1 and 10)."));
    EXPECT_EQ(outcome({"-count", "0"}), refused("The provided value [0] for parameter [-count] is outside of the "
                                                "expected range (between 1 and 10)."));
    EXPECT_EQ(outcome({"-offset", "99999999999"}), (Arguments{{"-offset", "99999999999"}})) << "clamped into the range";
}

TEST(ArgumentValidator, TakesOnlyTextWithDigitsOrTheSingleZeroAsANumber) {
    for (std::string notANumber : {"00", "-0", "0x10", "abc", "", "-quiet"}) {
        EXPECT_EQ(outcome({"-offset", notANumber}),
                  refused("The provided value [" + notANumber + "] for parameter [-offset] is not a number."));
    }
    EXPECT_EQ(outcome({"-offset"}), refused("Missing integer value for parameter [-offset]."));
    EXPECT_EQ(outcome({"-retries", "-quiet"}), (Arguments{{"-quiet", "__NO__VALUE__"}, {"-retries", "__NOT__PRESENT__"}}));
    EXPECT_EQ(outcome({"-retries", "abc"}), refused("Unknown argument : [abc]", {{"-retries", "__NOT__PRESENT__"}}));
}

TEST(ArgumentValidator, AcceptsOnlyTheExactWordsTrueAndFalse) {
    EXPECT_EQ(outcome({"-reboot", "False", "-wait", "True"}), (Arguments{{"-reboot", "False"}, {"-wait", "True"}}));
    EXPECT_EQ(outcome({"-reboot", "true"}), refused("The provided value [true] for parameter [-reboot] is not a "
                                                    "boolean. [True] or [False] is expected."));
    EXPECT_EQ(outcome({"-reboot"}), refused("Missing boolean value for parameter [-reboot]."));
    EXPECT_EQ(outcome({"-wait"}), (Arguments{{"-wait", "__NOT__PRESENT__"}}));
}

TEST(ArgumentValidator, TakesAnyStringButTheDashedNameOfAParameter) {
    EXPECT_EQ(outcome({"-record", "-not-a-parameter", "-note", ""}),
              (Arguments{{"-note", ""}, {"-record", "-not-a-parameter"}}));
    EXPECT_EQ(outcome({"-record", "verbose"}), (Arguments{{"-record", "verbose"}}));
    EXPECT_EQ(outcome({"-record", "-quiet"}),
              refused("Reserved keyword [-quiet] cannot be used as value for parameter [-record]"));
    EXPECT_EQ(outcome({"-note", "-quiet"}), (Arguments{{"-note", "__NOT__PRESENT__"}, {"-quiet", "__NO__VALUE__"}}));
    EXPECT_EQ(outcome({"-record"}), refused("Missing value for parameter [-record]."));
    EXPECT_EQ(outcome({"-note"}), (Arguments{{"-note", "__NOT__PRESENT__"}}));
}

TEST(ArgumentValidator, ListsTheAllowedValuesInByteOrderWhenAnEnumerationValueIsRefused) {
    EXPECT_EQ(outcome({"-mode", "full"}), (Arguments{{"-mode", "full"}}));
    EXPECT_EQ(outcome({"-mode", "fast"}), refused("The provided value [fast] for parameter [-mode] is not a valid "
                                                  "value. One of the following is expected : [-quiet] [full] [minimal]."));
    EXPECT_EQ(outcome({"-mode"}), refused("Missing value for parameter [-mode]. One of the following is expected : "
                                          "[-quiet] [full] [minimal]."));
    EXPECT_EQ(outcome({"-empty", "x"}), refused("The provided value [x] for parameter [-empty] is not a valid value. "
                                                "One of the following is expected :."));
}

TEST(ArgumentValidator, LeavesAnOptionalEnumerationWithoutAValueItCannotUse) {
    EXPECT_EQ(outcome({"-level", "high"}), refused("Unknown argument : [high]", {{"-level", "__NOT__PRESENT__"}}));
    EXPECT_EQ(outcome({"-level", "-quiet"}), (Arguments{{"-level", "__NOT__PRESENT__"}, {"-quiet", "__NO__VALUE__"}}))
        << "an allowed value that names a parameter is that parameter";
    EXPECT_EQ(outcome({"-quiet", "-level"}), (Arguments{{"-level", "__NOT__PRESENT__"}, {"-quiet", "__NO__VALUE__"}}));
}

TEST(ArgumentValidator, NeitherTakesNorChecksAValueForNoValueOrUnknownTypes) {
    EXPECT_EQ(outcome({"-quiet", "yes"}), refused("Unknown argument : [yes]", {{"-quiet", "__NO__VALUE__"}}));
    EXPECT_EQ(outcome({"-broken", "1"}), refused(""));
}

TEST(ArgumentValidator, UsesTheBlockClosedFirstWhenANameIsDeclaredTwice) {
    EXPECT_EQ(outcome({"-x", "5"}, "-x{\nType=Integer\n}\n-x{\nType=NoValue\n}\n"), (Arguments{{"-x", "5"}}));
}

} // namespace
} // namespace talve

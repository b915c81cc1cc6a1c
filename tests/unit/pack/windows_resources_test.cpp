// Icons, version information and execution levels written into Windows
// launchers: what is refused, and a resource tree that reads back as written
// with headers a loader accepts. The real launcher under the real loader is
// tested end to end (tests/e2e/windows_resources_test.cpp).

#include "create_command.h"
#include "icon_file.h"
#include "payload/pe_image.h"
#include "pe_resources.h"
#include "version_info.h"
#include "windows_resources.h"
#include "unit/unpack/unpack_test_support.h"

#include <gtest/gtest.h>

namespace talve {
namespace {
using namespace unpacktest;
using namespace pack;

std::uint32_t at32(const std::string& bytes, std::size_t offset) {
    return pe::readLittleEndian(bytes, offset, 4);
}

// A program as a linker lays it out: headers of 0x400 bytes, one code
// section, 0x1000 in memory and 0x200 in the file for alignment.
std::string smallProgram() {
    std::string bytes(0x600, '\0');
    bytes.replace(0, 2, "MZ");
    pe::writeLittleEndian32(bytes, 0x3c, 0x40);
    bytes.replace(0x40, 4, std::string("PE\0\0", 4));
    pe::writeLittleEndian(bytes, 0x44, 0x14c, 2);
    pe::writeLittleEndian(bytes, 0x46, 1, 2);    // sections
    pe::writeLittleEndian(bytes, 0x54, 0xe0, 2); // optional header size
    pe::writeLittleEndian(bytes, 0x56, 0x102, 2);
    const std::size_t optional = 0x58;
    pe::writeLittleEndian(bytes, optional, 0x10b, 2);
    pe::writeLittleEndian32(bytes, optional + 32, 0x1000);
    pe::writeLittleEndian32(bytes, optional + 36, 0x200);
    pe::writeLittleEndian32(bytes, optional + 56, 0x2000);
    pe::writeLittleEndian32(bytes, optional + 60, 0x400);
    pe::writeLittleEndian32(bytes, optional + 92, 16);
    const std::size_t text = optional + 0xe0;
    bytes.replace(text, 5, ".text");
    pe::writeLittleEndian32(bytes, text + 8, 0x10);
    pe::writeLittleEndian32(bytes, text + 12, 0x1000);
    pe::writeLittleEndian32(bytes, text + 16, 0x200);
    pe::writeLittleEndian32(bytes, text + 20, 0x400);
    pe::writeLittleEndian32(bytes, text + 36, 0x60000020);
    return bytes;
}

Resource resource(std::uint16_t type, std::uint16_t name, std::uint16_t language, const std::string& data) {
    Resource r;
    r.type = type;
    r.name = name;
    r.language = language;
    r.data = data;
    return r;
}

TEST(PeResources, ATreeReadsBackAsWrittenAndAReplacedLastSectionLeavesNothingBehind) {
    std::string program = smallProgram();
    const std::string manifest = "<requestedExecutionLevel level=\"highestAvailable\" uiAccess=\"false\"/>";
    std::string problem;
    ASSERT_TRUE(replaceResources(program, {resource(24, 1, 1033, manifest)}, problem)) << problem;
    const std::string once = program;
    ASSERT_TRUE(replaceResources(program,
                                 {resource(16, 1, 0, "version"), resource(3, 2, 0, "icon two"),
                                  resource(24, 1, 1033, manifest), resource(3, 1, 0, std::string(1000, 'i'))},
                                 problem))
        << problem;

    // The first tree was last in memory and in the file: replaced, not kept.
    const pe::Layout layout = pe::readHeaders(program).layout;
    EXPECT_EQ(pe::readLittleEndian(program, 0x46, 2), 2u);
    EXPECT_EQ(program.size() % 0x200, 0u);
    const std::size_t rsrc = layout.sectionTableOffset + 40;
    EXPECT_EQ(program.compare(rsrc, 8, std::string(".rsrc\0\0\0", 8)), 0);
    EXPECT_EQ(at32(program, rsrc + 12), 0x2000u);                   // next in memory after .text
    EXPECT_EQ(at32(program, rsrc + 20), 0x600u);                    // where the first tree was
    EXPECT_EQ(at32(program, rsrc + 20) + at32(program, rsrc + 16), program.size());
    EXPECT_EQ(at32(program, layout.directoriesOffset + 16), 0x2000u); // the Resource directory entry
    EXPECT_EQ(at32(program, layout.optionalHeaderOffset + 56),
              0x2000u + (at32(program, rsrc + 8) + 0xfff) / 0x1000 * 0x1000); // image size
    EXPECT_EQ(at32(program, rsrc + 8), at32(program, layout.directoriesOffset + 20));

    std::vector<Resource> read;
    ASSERT_TRUE(readResources(program, read, problem)) << problem;
    ASSERT_EQ(read.size(), 4u);
    const std::uint16_t order[][2] = {{3, 1}, {3, 2}, {16, 1}, {24, 1}};
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].type, order[i][0]);
        EXPECT_EQ(read[i].name, order[i][1]);
    }
    EXPECT_EQ(read[1].data, "icon two");
    EXPECT_EQ(read[3].data, manifest);
    EXPECT_EQ(read[3].language, 1033);

    // The same resources give the same bytes, whatever order they come in.
    std::string again = once;
    ASSERT_TRUE(replaceResources(again, read, problem)) << problem;
    EXPECT_TRUE(again == program);
}

TEST(PeResources, RefusesWhatItCannotWriteBackOrFindRoomFor) {
    std::string program = smallProgram();
    std::string problem;
    program += "symbols";
    EXPECT_FALSE(replaceResources(program, {}, problem));
    EXPECT_EQ(problem, "7 bytes follow the program's last section (a symbol table?); give the launcher as it was built");

    program = smallProgram();
    pe::writeLittleEndian32(program, 0x58 + 60, 0x160); // headers end right behind the section table
    EXPECT_FALSE(replaceResources(program, {}, problem));
    EXPECT_EQ(problem, "the program's headers have no room for another section");

    program = smallProgram();
    ASSERT_TRUE(replaceResources(program, {resource(3, 1, 0, "x")}, problem)) << problem;
    const std::size_t root = 0x600;
    std::string damaged = program;
    pe::writeLittleEndian32(damaged, root + 16 + 4, 0x80000000u | 0x7000); // type directory far outside
    std::vector<Resource> read;
    EXPECT_FALSE(readResources(damaged, read, problem));
    EXPECT_EQ(problem, "damaged resources: a resource directory lies outside the tree");
    damaged = program;
    pe::writeLittleEndian(damaged, root + 12, 1, 2); // a named entry
    EXPECT_FALSE(readResources(damaged, read, problem));
    EXPECT_EQ(problem, "damaged resources: a resource has a name rather than a number");
}

std::string iconHeader(std::uint16_t count) {
    std::string bytes(6, '\0');
    pe::writeLittleEndian(bytes, 2, 1, 2);
    pe::writeLittleEndian(bytes, 4, count, 2);
    return bytes;
}

std::string iconEntry(unsigned char size, std::uint32_t length, std::uint32_t offset) {
    std::string bytes(16, '\0');
    bytes[0] = bytes[1] = static_cast<char>(size);
    pe::writeLittleEndian(bytes, 4, 1, 2);
    pe::writeLittleEndian(bytes, 6, 32, 2);
    pe::writeLittleEndian32(bytes, 8, length);
    pe::writeLittleEndian32(bytes, 12, offset);
    return bytes;
}

TEST(IconFile, EveryImageBecomesAnIconAndTheGroupListsThemByNumber) {
    std::string bitmap(40 + 64, 'b');
    pe::writeLittleEndian32(bitmap, 0, 40);
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + "rest of a 256 pixel image";
    const std::string ico = iconHeader(2) + iconEntry(16, static_cast<std::uint32_t>(bitmap.size()), 38) +
                            iconEntry(0, static_cast<std::uint32_t>(png.size()), 38 + static_cast<std::uint32_t>(bitmap.size())) +
                            bitmap + png;
    std::vector<Resource> resources;
    std::string problem;
    ASSERT_TRUE(iconResources(ico, resources, problem)) << problem;
    ASSERT_EQ(resources.size(), 3u);
    EXPECT_EQ(resources[0].data, bitmap);
    EXPECT_EQ(resources[1].data, png);
    const std::string& group = resources[2].data;
    EXPECT_EQ(resources[2].type, kResourceIconGroup);
    ASSERT_EQ(group.size(), 6u + 2 * 14);
    EXPECT_EQ(group.compare(6, 12, ico, 6, 12), 0);
    EXPECT_EQ(pe::readLittleEndian(group, 6 + 12, 2), 1u);
    EXPECT_EQ(static_cast<unsigned char>(group[20]), 0u); // 256 pixels, as the file says
    EXPECT_EQ(pe::readLittleEndian(group, 20 + 12, 2), 2u);
}

TEST(IconFile, ADamagedFileIsRefusedWithWhatIsWrong) {
    std::string bitmap(40, '\0');
    pe::writeLittleEndian32(bitmap, 0, 40);
    std::string cursor = iconHeader(1) + iconEntry(16, 40, 22) + bitmap;
    cursor[2] = 2;
    const struct {
        const char* what;
        std::string bytes;
        const char* problem;
    } cases[] = {
        {"empty", "", "too short for an icon file (0 bytes)"},
        {"a cursor", cursor, "no icon file header (a cursor, or another format renamed?)"},
        {"no image", iconHeader(0), "the icon file holds no image"},
        {"list cut short", iconHeader(3) + iconEntry(16, 40, 54), "the list of 3 images is cut short"},
        {"image beyond the end", iconHeader(1) + iconEntry(16, 41, 22) + bitmap,
         "image 1 of 1 lies beyond the end of the file (offset 22, 41 bytes, file 62 bytes)"},
        {"image of no bytes", iconHeader(1) + iconEntry(16, 0, 22) + bitmap, "image 1 of 1 is empty"},
        {"neither PNG nor bitmap", iconHeader(1) + iconEntry(16, 40, 22) + std::string(40, 'G'),
         "image 1 of 1 is neither a PNG nor a bitmap image"},
    };
    for (const auto& c : cases) {
        std::vector<Resource> resources;
        std::string problem;
        EXPECT_FALSE(iconResources(c.bytes, resources, problem)) << c.what;
        EXPECT_EQ(problem, c.problem) << c.what;
    }
}

TEST(VersionInfo, VersionsAreOneToFourDottedNumbersOfSixteenBits) {
    const struct {
        const char* text;
        bool valid;
        std::uint32_t high, low;
    } cases[] = {
        {"1", true, 0x10000, 0},          {"2.0.13", true, 0x20000, 0xd0000}, {"65535.0.1.65535", true, 0xffff0000, 0x1ffff},
        {"", false, 0, 0},               {"1.2.3.4.5", false, 0, 0},          {"1..2", false, 0, 0},
        {"1.2.", false, 0, 0},           {"65536", false, 0, 0},              {"1.0-SNAPSHOT", false, 0, 0},
        {"v1", false, 0, 0},             {" 1", false, 0, 0},                 {"000001", false, 0, 0},
    };
    for (const auto& c : cases) {
        VersionNumber number;
        EXPECT_EQ(parseVersionNumber(c.text, number), c.valid) << c.text;
        if (!c.valid) continue;
        EXPECT_EQ(number.high, c.high) << c.text;
        EXPECT_EQ(number.low, c.low) << c.text;
    }
}

TEST(VersionInfo, TextsAreUtf8WithoutControlCharactersAndOfBoundedLength) {
    std::u16string text;
    std::string problem;
    EXPECT_TRUE(versionText("\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80", text, problem));
    EXPECT_EQ(text, u"\u00e9t\u00e9 \U0001F600");
    EXPECT_TRUE(versionText(std::string(kMaxVersionText, 'a'), text, problem));
    EXPECT_FALSE(versionText(std::string(kMaxVersionText - 1, 'a') + "\xc3\xa9\xc3\xa9", text, problem));
    EXPECT_EQ(problem, "1025 characters, too long for the version information (at most 1024)");
    EXPECT_FALSE(versionText("line\nbreak", text, problem));
    EXPECT_EQ(problem, "holds a control character");
    for (const char* bad : {"\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xff"}) {
        EXPECT_FALSE(versionText(bad, text, problem));
        EXPECT_EQ(problem, "not UTF-8 text");
    }
}

TEST(VersionInfo, EveryBlockLengthCoversItsChildrenAndNothingPastTheEnd) {
    VersionInfo info;
    parseVersionNumber("1.2.3.4", info.fileVersion);
    info.strings = {{"CompanyName", u"Example"}, {"ProductName", u"Odd"}};
    const std::string block = versionResource(info);
    EXPECT_EQ(pe::readLittleEndian(block, 0, 2), block.size());
    EXPECT_EQ(pe::readLittleEndian(block, 2, 2), 52u);
    EXPECT_EQ(at32(block, 40), 0xfeef04bdu);
    EXPECT_EQ(at32(block, 48), 0x10002u);
    EXPECT_EQ(at32(block, 52), 0x30004u);
    // StringFileInfo, then its table, then the first string, all 4-aligned.
    const std::size_t stringFileInfo = 92;
    const std::size_t varFileInfo = stringFileInfo + (pe::readLittleEndian(block, stringFileInfo, 2) + 3) / 4 * 4;
    EXPECT_EQ(varFileInfo + pe::readLittleEndian(block, varFileInfo, 2), block.size());
    const std::size_t product = block.find(std::string("P\0r\0o\0d\0u\0c\0t\0N\0a\0m\0e\0", 22));
    ASSERT_NE(product, std::string::npos);
    EXPECT_EQ(pe::readLittleEndian(block, product - 6, 2), 6u + 24 + 2 + 8); // header, key, pad, "Odd" and NUL
    EXPECT_EQ(pe::readLittleEndian(block, product - 4, 2), 4u);
}

struct Outcome {
    int code = -1;
    std::string errors;
};

Outcome create(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Outcome outcome;
    outcome.code = runCreateCommand(static_cast<int>(argv.size()), argv.data());
    testing::internal::GetCapturedStdout();
    outcome.errors = testing::internal::GetCapturedStderr();
    return outcome;
}

TEST(WindowsResourceOptions, AreRefusedBeforeAnythingIsWritten) {
    ScratchDir scratch;
    writeFile(scratch / "launcher", readFile(TALVE_UNPACK_PROGRAM), true);
    writeFile(scratch / "install.jar", "jar");
    writeFile(scratch / "product.ico", iconHeader(1) + iconEntry(16, 40, 22) + std::string(40, 'G'));
    const std::string tooLong(kMaxVersionText + 1, 'x');
    const struct {
        std::vector<std::string> options;
        int code;
        std::string message;
    } cases[] = {
        {{"--icon", (scratch / "product.ico").string()}, 1,
         "launcher: --icon needs a Windows launcher (talve-launcher.exe)"},
        {{"--company", "Example"}, 1, "launcher: --company needs a Windows launcher (talve-launcher.exe)"},
        {{"--execution-level", "asAdmin"}, 2,
         "--execution-level takes asInvoker, highestAvailable or requireAdministrator, not 'asAdmin'"},
        {{"--file-version", "1.0-beta"}, 2,
         "--file-version: '1.0-beta' is not a version of dotted numbers (up to four, each 0 to 65535)"},
        {{"--description", tooLong}, 2,
         "--description: 1025 characters, too long for the version information (at most 1024)"},
        {{"--product-name", ""}, 2, "--product-name: an empty text"},
        {{"--copyright"}, 2, "--copyright needs a value"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"create", "-o", (scratch / "setup").string(), "--launcher",
                                      (scratch / "launcher").string(), "--jar", (scratch / "install.jar").string()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Outcome outcome = create(args);
        EXPECT_EQ(outcome.code, c.code) << c.message;
        EXPECT_NE(outcome.errors.find(c.message + "\n"), std::string::npos) << outcome.errors;
        EXPECT_FALSE(fs::exists(scratch / "setup")) << c.message;
    }
}

} // namespace
} // namespace talve

#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "unit/support/context_bench.h"
#include "unit/support/installer_builder.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

namespace talve {
namespace {

using test::ContextBench;
using test::InstallerBuilder;
using Lines = std::vector<std::string>;

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

TEST(ExtractFile, CopiesPayloadsOfEverySizeExactly) {
    test::ScratchDirectory scratch;
    const std::vector<std::size_t> sizes{0, 1, 8191, 8192, 8193, 3 * 8192 + 17};
    InstallerBuilder installer;
    std::uint32_t positions[8];
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        installer.payload(static_cast<int>(i), pattern(sizes[i]));
        positions[i] = installer.row(static_cast<int>(i)).position;
    }
    installer.write(scratch.file("setup"));

    ContextBench bench;
    JarExtractor reader(bench.context);
    ASSERT_TRUE(reader.open(scratch.file("setup")));
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::string out = scratch.file("out" + std::to_string(i));
        test::writeFile(out, "stale content that must not survive");
        EXPECT_TRUE(reader.extractFile(positions[i], static_cast<std::uint32_t>(sizes[i]), out)) << sizes[i];
        EXPECT_TRUE(test::fileExists(out));
        EXPECT_EQ(test::readFile(out), pattern(sizes[i])) << sizes[i];
    }
    EXPECT_TRUE(bench.log.errors().empty());
}

TEST(ExtractFile, ReportsAnOutputThatCannotBeMadeAndAPayloadCutShort) {
    test::ScratchDirectory scratch;
    InstallerBuilder installer;
    installer.payload(table::jarEntry, pattern(10000));
    installer.write(scratch.file("setup"));
    ContextBench bench(test::FakePlatform::Style::Posix);
    JarExtractor reader(bench.context);
    ASSERT_TRUE(reader.open(scratch.file("setup")));
    const std::uint32_t position = reader.entry(table::jarEntry)->position;

    const std::string nowhere = scratch.file("missing/x.jar");
    EXPECT_FALSE(reader.extractFile(position, 10000, nowhere));
    EXPECT_EQ(bench.log.errors(), Lines{"ERROR \t: The file \"" + nowhere + "\" was not opened."});

    // Asked for more than the file holds: both the full-chunk and the final-chunk reads must notice.
    for (std::uint32_t length : {20000u, 10001u}) {
        ContextBench cut;
        JarExtractor again(cut.context);
        ASSERT_TRUE(again.open(scratch.file("setup")));
        EXPECT_FALSE(again.extractFile(position, length, scratch.file("partial"))) << length;
        EXPECT_EQ(cut.log.errors(), Lines{"ERROR \t: Failed in fread function"}) << length;
    }
}

// The checks count megabytes of 2^20 bytes, one more for each present payload.
class TemporaryDiskSpace : public ::testing::Test {
protected:
    static constexpr std::uint64_t MiB = 1 << 20;

    // A row that counts as present without a payload written out; rows
    // follow each other as in a real installer.
    BootstrapEntry& presentRow(int index, std::uint32_t length, std::uint32_t diskspace) {
        BootstrapEntry& entry = installer.row(index);
        entry.position = static_cast<std::uint32_t>(std::max<std::uint64_t>(largest, installer.endOfTable()));
        entry.length = length;
        entry.diskspace = diskspace;
        largest = std::max<std::uint64_t>(largest, entry.position + std::uint64_t{length});
        return entry;
    }

    bool check(std::optional<std::uint64_t> freeBytes) {
        installer.write(scratch.file("setup"), largest);
        bench.platform.freeBytes = freeBytes;
        bench.context.tempDir = "C:\\Temp\\TALVE_TEMP_1";
        JarExtractor reader(bench.context);
        if (!reader.open(scratch.file("setup"))) return false;
        return reader.checkTemporaryDiskSpace();
    }

    // The figure the latest check arrived at, read from its success line.
    long long needed() {
        EXPECT_TRUE(check(std::uint64_t{1} << 50));
        const std::regex success(R"(INFO \t: Temporary disk space requirements successfully checked \((-?[0-9]+) Mb are required\))");
        const Lines lines = bench.log.lines();
        std::smatch found;
        for (auto line = lines.rbegin(); line != lines.rend(); ++line)
            if (std::regex_match(*line, found, success)) return std::stoll(found[1]);
        ADD_FAILURE() << "no success line";
        return -1;
    }

    test::ScratchDirectory scratch;
    InstallerBuilder installer;
    std::uint64_t largest = 0;
    ContextBench bench;
};

TEST_F(TemporaryDiskSpace, PassesWhenFreeSpaceEqualsTheNeed) {
    presentRow(table::dataEntry, 0, 0).data1 = "99";
    EXPECT_TRUE(check(100 * MiB));
    EXPECT_TRUE(bench.log.has("INFO \t: Checking temporary disk space requirements in C:\\Temp\\TALVE_TEMP_1"));
    EXPECT_TRUE(bench.log.has("INFO \t: Temporary disk space requirements successfully checked (100 Mb are required)"));
    EXPECT_EQ(bench.platform.freeSpaceQueries, Lines{"C:\\Temp\\TALVE_TEMP_1"});
}

TEST_F(TemporaryDiskSpace, FailsWithTwoLinesWhenOneMegabyteShort) {
    presentRow(table::dataEntry, 0, 0).data1 = "100";
    EXPECT_FALSE(check(100 * MiB + MiB - 1));
    EXPECT_EQ(bench.log.errors(),
              (Lines{"ERROR \t: There isn't enough space in the temporary directory (C:\\Temp\\TALVE_TEMP_1) to launch "
                     "the installer",
                     "ERROR \t: 101 Mb are required but only 100 Mb are available."}));
}

TEST_F(TemporaryDiskSpace, CountsAnUnknownFreeSpaceAsOneMegabyte) {
    presentRow(table::dataEntry, 0, 0).data1 = "0";
    EXPECT_TRUE(check(std::nullopt));
    presentRow(table::splashEntry, 0, 0);
    EXPECT_FALSE(check(std::nullopt));
    EXPECT_EQ(bench.log.errors().back(), "ERROR \t: 2 Mb are required but only 1 Mb are available.");
}

TEST_F(TemporaryDiskSpace, AddsTheRuntimeBeforeShiftingIt) {
    presentRow(table::jvmEntry, 52000000, 149000000);
    EXPECT_EQ(needed(), 192);
}

TEST_F(TemporaryDiskSpace, ReadsTheDataRowsExtraMegabytesAsADecimal) {
    BootstrapEntry& data = presentRow(table::dataEntry, static_cast<std::uint32_t>(MiB + 1), 0);
    data.data1 = "0";
    EXPECT_EQ(needed(), 2);
    data.data1 = "25";
    EXPECT_EQ(needed(), 27);
    data.data1 = "abc";
    EXPECT_EQ(needed(), 2);
}

TEST_F(TemporaryDiskSpace, CountsTheRequirementFileOnlyWithTheCheckingJar) {
    presentRow(table::requirementEntry, 0, static_cast<std::uint32_t>(10 * MiB));
    EXPECT_EQ(needed(), 0);
    presentRow(table::jvmCheckingJarEntry, 0, static_cast<std::uint32_t>(5 * MiB));
    EXPECT_EQ(needed(), 16);
    // The requirement row's size counts even when that row is absent.
    installer.row(table::requirementEntry).position = 0;
    EXPECT_EQ(needed(), 16);
}

TEST_F(TemporaryDiskSpace, SumsEveryPresentRow) {
    presentRow(table::splashEntry, 100, static_cast<std::uint32_t>(2 * MiB));
    presentRow(table::jvmEntry, static_cast<std::uint32_t>(MiB), static_cast<std::uint32_t>(3 * MiB));
    presentRow(table::jarEntry, static_cast<std::uint32_t>(4 * MiB), 0);
    presentRow(table::dataEntry, static_cast<std::uint32_t>(5 * MiB), 0).data1 = "6";
    presentRow(table::jvmCheckingJarEntry, 0, static_cast<std::uint32_t>(7 * MiB));
    presentRow(table::requirementEntry, 0, static_cast<std::uint32_t>(8 * MiB));
    EXPECT_EQ(needed(), (2 + 1) + (4 + 1) + (4 + 1) + (5 + 6 + 1) + (8 + 7 + 1));
}

TEST_F(TemporaryDiskSpace, KeepsSizesBeyond2GiBPositive) {
    presentRow(table::jvmEntry, 1000, 0xC0000000u);
    EXPECT_EQ(needed(), 3072 + 1);
    EXPECT_FALSE(check(3072 * MiB));
    EXPECT_EQ(bench.log.errors().back(), "ERROR \t: 3073 Mb are required but only 3072 Mb are available.");
    // Unpacked and packed sizes together pass 4 GiB.
    presentRow(table::jvmEntry, static_cast<std::uint32_t>(256 * MiB), 0xF8000000u);
    EXPECT_EQ(needed(), 3968 + 256 + 1);
}

} // namespace
} // namespace talve

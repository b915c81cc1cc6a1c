#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "unit/support/context_bench.h"
#include "unit/support/installer_builder.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talve {
namespace {

using test::ContextBench;
using test::InstallerBuilder;
using Lines = std::vector<std::string>;

const char* const notFound =
    "ERROR \t: Unable to locate the bootstrap table. Please check that the installer was properly copied.";

TEST(BootstrapTable, IsFoundOnlyOnA1024ByteBoundary) {
    test::ScratchDirectory scratch;
    InstallerBuilder aligned(318 * 1024);
    aligned.payload(table::jarEntry, "PK", "install.jar");
    aligned.write(scratch.file("aligned"));

    ContextBench bench;
    bench.context.lastResult = 7;
    JarExtractor reader(bench.context);
    ASSERT_TRUE(reader.open(scratch.file("aligned")));
    EXPECT_EQ(reader.entry(table::jarEntry)->filename, "install.jar");
    EXPECT_EQ(reader.entry(table::jarEntry)->position, 318 * 1024 + 32 + 512);
    EXPECT_EQ(bench.context.lastResult, 0);
    EXPECT_TRUE(bench.log.has("DEBUG \t: Reading arguments validation entry"));

    InstallerBuilder shifted(318 * 1024 + 1);
    shifted.payload(table::jarEntry, "PK", "install.jar");
    shifted.write(scratch.file("shifted"));
    ContextBench missing;
    JarExtractor none(missing.context);
    EXPECT_FALSE(none.open(scratch.file("shifted")));
    EXPECT_EQ(missing.log.errors(), Lines{notFound});

    ContextBench unreadable;
    JarExtractor absent(unreadable.context);
    EXPECT_FALSE(absent.open(scratch.file("no such installer")));
    EXPECT_EQ(unreadable.log.errors(), Lines{"ERROR \t: An error occured while trying to open the installer."});
}

TEST(BootstrapTable, ReadsFullWidthTextsWholeAndAllZeroRowsAsAbsent) {
    test::ScratchDirectory scratch;
    InstallerBuilder installer;
    installer.payload(table::dataEntry, "data", "filesets.jar");
    BootstrapEntry& data = installer.row(table::dataEntry);
    data.id = "datajar!";
    data.data1 = "0123456789abcdef";
    data.data2 = "allow";
    data.diskspace = 0xC0000000u; // 3 GiB, beyond the signed 32-bit range
    installer.write(scratch.file("setup"));

    ContextBench bench;
    JarExtractor reader(bench.context);
    ASSERT_TRUE(reader.open(scratch.file("setup")));
    const BootstrapEntry& read = *reader.entry(table::dataEntry);
    EXPECT_EQ(read.id, "datajar!");
    EXPECT_EQ(read.filename, "filesets.jar");
    EXPECT_EQ(read.data1, "0123456789abcdef");
    EXPECT_EQ(read.data2, "allow");
    EXPECT_EQ(read.length, 4u);
    EXPECT_EQ(read.diskspace, 0xC0000000u);
    for (int index : {table::jvmCheckingJarEntry, table::requirementEntry}) {
        const BootstrapEntry& absent = *reader.entry(index);
        EXPECT_FALSE(absent.present());
        EXPECT_EQ(absent.id + absent.filename + absent.data1 + absent.data2, "");
    }
    EXPECT_EQ(reader.entry(8), nullptr);
    EXPECT_EQ(reader.entry(-1), nullptr);
    EXPECT_TRUE(bench.log.errors().empty());
}

TEST(BootstrapTable, RefusesADamagedFileWithOneLineNamingIt) {
    test::ScratchDirectory scratch;
    InstallerBuilder installer(1024);
    installer.payload(table::jarEntry, "jar bytes", "install.jar");
    const std::string whole = installer.bytes();
    const std::string path = scratch.file("setup");
    const std::string cutShort = "ERROR \t: The installer file " + path +
                                 " is damaged: its bootstrap table is cut short. Please check that the installer was "
                                 "properly copied.";
    // Cut behind the marker, between rows, inside a number, inside the last text.
    for (std::size_t tableBytes : {0, 3 * 64, 3 * 64 + 10, 8 * 64 - 1}) {
        test::writeFile(path, whole.substr(0, 1024 + 32 + tableBytes));
        ContextBench bench;
        JarExtractor reader(bench.context);
        EXPECT_FALSE(reader.open(path)) << tableBytes;
        EXPECT_EQ(bench.log.errors(), Lines{cutShort}) << tableBytes;
    }

    test::writeFile(path, whole.substr(0, whole.size() - 1));
    ContextBench bench;
    JarExtractor reader(bench.context);
    EXPECT_FALSE(reader.open(path));
    EXPECT_EQ(bench.log.errors(), Lines{"ERROR \t: The installer file " + path +
                                        " is damaged: the jar payload lies beyond the end of the file. Please check "
                                        "that the installer was properly copied."});

    // A zero-length payload may sit exactly at the end, like the "noValid" row.
    InstallerBuilder exact(1024);
    exact.payload(table::jarEntry, "jar bytes").payload(table::argumentsEntry, "");
    exact.row(table::argumentsEntry).data1 = "noValid";
    exact.write(path);
    ContextBench fits;
    JarExtractor whole_(fits.context);
    EXPECT_TRUE(whole_.open(path));
}

// Payloads lie back to back behind the table; a row that points into the
// launcher or the table, or at bytes of another payload, is damage.
TEST(BootstrapTable, RefusesPayloadsInsideTheTableOrOverlappingAnother) {
    test::ScratchDirectory scratch;
    const std::string path = scratch.file("setup");
    struct Case {
        std::uint32_t dataPosition;
        std::string fault;
    };
    InstallerBuilder base(1024);
    base.payload(table::jarEntry, "jar bytes", "install.jar").payload(table::dataEntry, "data", "data.jar");
    const std::uint32_t jar = base.row(table::jarEntry).position;
    for (const Case& damage : {Case{1, "starts before the end of the bootstrap table"},
                               Case{jar - 1, "starts before the end of the bootstrap table"},
                               Case{jar, "overlaps the jar payload"}, Case{jar + 8, "overlaps the jar payload"}}) {
        InstallerBuilder installer = base;
        installer.row(table::dataEntry).position = damage.dataPosition;
        installer.write(path);
        ContextBench bench;
        JarExtractor reader(bench.context);
        EXPECT_FALSE(reader.open(path)) << damage.dataPosition;
        EXPECT_EQ(bench.log.errors(), Lines{"ERROR \t: The installer file " + path + " is damaged: the data payload " +
                                            damage.fault + ". Please check that the installer was properly copied."})
            << damage.dataPosition;
    }
    // Right behind the jar, and empty rows anywhere behind the table, are sound.
    InstallerBuilder sound = base;
    sound.row(table::usageEntry) = BootstrapEntry{"usage", jar + 3, 0, 0, "", "", ""};
    sound.write(path);
    ContextBench bench;
    JarExtractor reader(bench.context);
    EXPECT_TRUE(reader.open(path));
}

TEST(BootstrapTable, RefusesPayloadNamesThatCouldLeadOutOfTheRunsDirectory) {
    test::ScratchDirectory scratch;
    const std::string path = scratch.file("setup");
    for (const std::string name : {"../../x", "..", ".", "sub/x.jar", "sub\\x.jar", "C:x.jar", "a\nb"}) {
        const std::string shown = name == "a\nb" ? "a?b" : name;
        InstallerBuilder installer(1024);
        installer.payload(table::jarEntry, "jar bytes", "install.jar").payload(table::dataEntry, "data", name);
        installer.write(path);
        ContextBench bench;
        JarExtractor reader(bench.context);
        EXPECT_FALSE(reader.open(path)) << name;
        EXPECT_EQ(bench.log.errors(), Lines{"ERROR \t: The installer file " + path + " is damaged: the data payload "
                                            "is named \"" + shown + "\", which is not a plain file name. Please "
                                            "check that the installer was properly copied."})
            << name;
    }
    // Twelve characters fill the field; dots and blanks inside a name are ordinary.
    InstallerBuilder plain(1024);
    plain.payload(table::jarEntry, "jar bytes", "filesets.jar").payload(table::dataEntry, "data", "my data..jar");
    plain.write(path);
    ContextBench bench;
    JarExtractor reader(bench.context);
    EXPECT_TRUE(reader.open(path));
}

} // namespace
} // namespace talve

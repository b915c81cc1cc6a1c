#include "native.h"
#include "runtime_unpacker.h"
#include "unpack_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace talve {
namespace {
using namespace unpacktest;

// More files than any machine has cores, large ones among them, so that
// several are being filled at once.
std::vector<RawEntry> manyEntries() {
    std::vector<RawEntry> entries{rawDirectory("lib")};
    for (int i = 0; i < 40; ++i) {
        const std::size_t size = i % 7 == 0 ? 900000 : 1000 + 997 * i;
        entries.push_back(rawFile("lib/part" + std::to_string(i), noise(size, 77 + i)));
    }
    return entries;
}

std::string unpackInto(const ScratchDir& scratch, const std::vector<RawEntry>& entries) {
    writeFile(scratch / "packed", buildPacked("stub", entries));
    std::string error;
    const bool unpacked = unpack::unpackRuntime(scratch / "packed", scratch / "_jvm", error);
    EXPECT_EQ(unpacked, error.empty());
    return error;
}

TEST(ParallelUnpack, ManyFilesLandWhole) {
    ScratchDir scratch;
    const std::vector<RawEntry> entries = manyEntries();
    ASSERT_EQ(unpackInto(scratch, entries), "");
    for (int i = 0; i < 40; ++i) {
        const std::size_t size = i % 7 == 0 ? 900000 : 1000 + 997 * i;
        ASSERT_EQ(readFile(scratch / "_jvm" / "lib" / ("part" + std::to_string(i))), noise(size, 77 + i)) << i;
    }
}

TEST(ParallelUnpack, TheFirstDamagedEntryIsReportedEveryTimeAndNothingIsLeft) {
    std::vector<RawEntry> entries = manyEntries();
    entries[21].header.dataCrc ^= 1;
    entries[35].data[entries[35].data.size() / 2] ^= 0x55;
    for (int run = 0; run < 5; ++run) {
        ScratchDir scratch;
        const std::string error = unpackInto(scratch, entries);
        EXPECT_NE(error.find("damaged runtime archive in "), std::string::npos) << error;
        EXPECT_NE(error.find(": entry 22 (lib/part20): data checksum mismatch"), std::string::npos) << error;
        EXPECT_EQ(treeListing(scratch.path()).size(), 1u) << "only the packed file may remain";
    }
}

TEST(ParallelUnpack, ALaterEntryOfTheSameNameReplacesTheFileBeingFilled) {
    ScratchDir scratch;
    const std::string big = noise(2000000);
    ASSERT_EQ(unpackInto(scratch, {rawFile("lib/modules", big), rawFile("lib/modules", "second"),
                                   rawFile("lib/other", big)}),
              "");
    EXPECT_EQ(readFile(scratch / "_jvm" / "lib" / "modules"), "second");
    EXPECT_EQ(readFile(scratch / "_jvm" / "lib" / "other"), big);
}

TEST(OutputFile, ReservesItsSizeBeforeTheFirstWrite) {
    ScratchDir scratch;
    const std::string path = (scratch / "reserved").string();
    constexpr std::uint64_t kSize = 3 << 20;
    unpack::OutputFile out;
    ASSERT_TRUE(out.create(path, kSize));
    struct stat info;
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_GE(static_cast<std::uint64_t>(info.st_blocks) * 512, kSize) << "nothing reserved";

    const std::string content = noise(kSize);
    ASSERT_TRUE(out.write(content.data(), content.size()));
    ASSERT_TRUE(out.close());
    EXPECT_EQ(readFile(path), content);

    // A name already taken is never opened again, whatever it is.
    unpack::OutputFile again;
    EXPECT_FALSE(again.create(path, 1));
    EXPECT_EQ(readFile(path), content);
}

} // namespace
} // namespace talve

#include "platform/platform.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace talve {
namespace {

using test::ScratchDirectory;

// The real system's copy, which extraction hands every payload to.
class CopyFileRange : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 300000; ++i) content.push_back(static_cast<char>('a' + i % 26));
        test::writeFile(scratch.file("source"), content);
        source = std::fopen(scratch.file("source").c_str(), "rb");
        ASSERT_NE(source, nullptr);
    }
    void TearDown() override {
        if (source != nullptr) std::fclose(source);
    }
    CopyStatus copyTo(const std::string& path, const char* mode, std::uint64_t offset, std::uint64_t length) {
        std::FILE* destination = std::fopen(path.c_str(), mode);
        EXPECT_NE(destination, nullptr);
        CopyStatus status = platform->copyFileRange(source, offset, destination, length);
        std::fclose(destination);
        return status;
    }

    std::unique_ptr<Platform> platform = makeSystemPlatform();
    ScratchDirectory scratch;
    std::string content;
    std::FILE* source = nullptr;
};

TEST_F(CopyFileRange, CopiesExactlyTheRangeWhateverTheStreamPositionWas) {
    std::fseek(source, 17, SEEK_SET);
    std::fgetc(source);
    // Inside a page and on a page boundary: the two ways the copy is made.
    for (std::uint64_t offset : {1234u, 8192u}) {
        ASSERT_EQ(copyTo(scratch.file("out"), "wb", offset, 250000), CopyStatus::copied);
        EXPECT_EQ(test::readFile(scratch.file("out")), content.substr(offset, 250000));
    }
    ASSERT_EQ(copyTo(scratch.file("empty"), "wb", 10, 0), CopyStatus::copied);
    EXPECT_EQ(test::readFile(scratch.file("empty")), "");
}

TEST_F(CopyFileRange, ASourceThatEndsEarlyIsAReadFailure) {
    EXPECT_EQ(copyTo(scratch.file("out"), "wb", content.size() - 10, 11), CopyStatus::readFailed);
    EXPECT_EQ(copyTo(scratch.file("out"), "wb", 4096, content.size()), CopyStatus::readFailed);
    EXPECT_EQ(copyTo(scratch.file("out"), "wb", content.size() + 1, 1), CopyStatus::readFailed);
}

TEST_F(CopyFileRange, ADestinationThatTakesNothingIsAWriteFailure) {
    // The kernel cannot copy into a device: the fallback finds the full disk.
    EXPECT_EQ(copyTo("/dev/full", "wb", 0, 100000), CopyStatus::writeFailed);
    test::writeFile(scratch.file("readonly"), "");
    EXPECT_EQ(copyTo(scratch.file("readonly"), "rb", 0, 100), CopyStatus::writeFailed);
}

} // namespace
} // namespace talve

#include "platform/platform.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <sys/stat.h>

namespace talve {
namespace {

using test::ScratchDirectory;

// The real system platform: what the launcher does with files it is pointed at.
class ReadRegularFile : public ::testing::Test {
protected:
    std::unique_ptr<Platform> platform = makeSystemPlatform();
    ScratchDirectory scratch;
};

TEST_F(ReadRegularFile, ReadsTheBytesOfAFileUpToTheLimit) {
    test::writeFile(scratch.file("p"), "a=1\r\nb=2");
    FileRead read = platform->readRegularFile(scratch.file("p"), 8);
    EXPECT_EQ(read.status, FileReadStatus::ok);
    EXPECT_EQ(read.content, "a=1\r\nb=2");

    read = platform->readRegularFile(scratch.file("p"), 7);
    EXPECT_EQ(read.status, FileReadStatus::tooLarge);
    EXPECT_TRUE(read.content.empty());
}

TEST_F(ReadRegularFile, TellsAMissingFileFromOneThatIsNoRegularFile) {
    EXPECT_EQ(platform->readRegularFile(scratch.file("absent"), 10).status, FileReadStatus::missing);
    EXPECT_EQ(platform->readRegularFile(scratch.path(), 10).status, FileReadStatus::notRegularFile);
    EXPECT_EQ(platform->readRegularFile("/dev/zero", 10).status, FileReadStatus::notRegularFile);
}

TEST_F(ReadRegularFile, NeverWaitsForAWriterOfAFifo) {
    ASSERT_EQ(mkfifo(scratch.file("fifo").c_str(), 0600), 0);
    auto read = std::async(std::launch::async, [&] { return platform->readRegularFile(scratch.file("fifo"), 10); });
    ASSERT_EQ(read.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "blocked on a FIFO";
    EXPECT_EQ(read.get().status, FileReadStatus::notRegularFile);
}

} // namespace
} // namespace talve

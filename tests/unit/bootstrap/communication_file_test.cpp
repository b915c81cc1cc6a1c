#include "bootstrap/communication_file.h"
#include "unit/support/context_bench.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

namespace talve {
namespace {

using test::ContextBench;
using test::FakePlatform;

TEST(CommunicationFile, IsReadWhenRegularAndOnlyNotedWhenItCannotBe) {
    test::ScratchDirectory scratch;
    const std::string path = scratch.file("bootstrap_comm.properties");
    ContextBench missing{FakePlatform::Style::Posix};
    EXPECT_EQ(readCommunicationFile(missing.context, path).get("installationLog.usedLogFile"), "");
    EXPECT_TRUE(missing.log.lines().empty());

    test::writeFile(path, "installationLog.usedLogFile=/var/log/x.log\n");
    ContextBench regular{FakePlatform::Style::Posix};
    EXPECT_EQ(readCommunicationFile(regular.context, path).get("installationLog.usedLogFile"), "/var/log/x.log");

    // Left by a hostile installer or another user: neither may hang the launcher.
    const std::string fifo = scratch.file("fifo.properties");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ContextBench pipe{FakePlatform::Style::Posix};
    EXPECT_EQ(readCommunicationFile(pipe.context, fifo).get("installationLog.usedLogFile"), "");
    EXPECT_TRUE(pipe.log.has("WARNING \t: The file \"" + fifo + "\" is not a regular file and is not read."));
    EXPECT_TRUE(pipe.log.errors().empty());

    test::writeFile(path, "installationLog.usedLogFile=/x\n" + std::string(1024 * 1024, '#'));
    ContextBench large{FakePlatform::Style::Posix};
    EXPECT_EQ(readCommunicationFile(large.context, path).get("installationLog.usedLogFile"), "");
    EXPECT_TRUE(large.log.has("WARNING \t: The file \"" + path + "\" is larger than 1048576 bytes and is not read."));
}

} // namespace
} // namespace talve

// The bootstrap log's name is easy to guess and lies in a folder every user
// may write to: what somebody put at the names of the coming seconds (a FIFO
// that would block the run, a file that would take its lines) is left alone,
// and the log is made new at the next free name.

#include "support/harness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace e2e {
namespace {

// The names a run started at that second would give its log, and its variants.
std::string logName(std::time_t at, const std::string& variant) {
    std::tm local{};
    localtime_r(&at, &local);
    return "bootstrapLog_" + std::to_string(local.tm_mday) + "-" + std::to_string(local.tm_mon + 1) + "-" +
           std::to_string(local.tm_year + 1900) + "_" + std::to_string(local.tm_hour) + "-" +
           std::to_string(local.tm_min) + "-" + std::to_string(local.tm_sec) + variant + "_.log";
}

TEST(PlantedLog, WhatWasPutAtTheLogsNamesIsNeitherOpenedNorWaitedForAndTheLogGoesElsewhere) {
    Scratch scratch;
    const fs::path runtime = makeFakeRuntime(scratch);
    const fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", "jar").string()});
    Launch l(scratch);
    l.arguments({"-javaHome", target().path(runtime)}).exitCode(1).set("KORVU_LOG_LEVEL", "INFO");
    fs::create_directories(l.tempBase);
    fs::permissions(l.tempBase, fs::perms::all | fs::perms::sticky_bit);

    const std::string planted = "planted by another user\n";
    std::vector<fs::path> fifos, files;
    const std::time_t now = std::time(nullptr);
    for (std::time_t at = now - 1; at <= now + 6; ++at) {
        fifos.push_back(l.tempBase / logName(at, ""));
        ASSERT_EQ(mkfifo(fifos.back().c_str(), 0666), 0);
        files.push_back(scratch.write("temp/" + logName(at, "_1"), planted));
        if (geteuid() == 0) {
            ASSERT_EQ(chown(files.back().c_str(), 65534, 65534), 0);
        }
    }

    // Should the launcher wait on a FIFO after all, a reader lets it go on,
    // so that the test ends and says so.
    std::atomic<bool> finished{false}, hadToRelease{false};
    std::thread releaser([&] {
        for (int i = 0; i < 300 && !finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (finished) return;
        hadToRelease = true;
        for (const fs::path& fifo : fifos) {
            const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
            if (reader >= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                close(reader);
            }
        }
    });
    const RunResult result = l.run(installer);
    finished = true;
    releaser.join();

    EXPECT_FALSE(hadToRelease) << "the launcher waited on a FIFO at its log's name";
    EXPECT_EQ(result.exitCode, 1) << result.err;
    for (const fs::path& fifo : fifos) EXPECT_TRUE(fs::is_fifo(fifo)) << fifo;
    for (const fs::path& file : files) EXPECT_EQ(readFile(file), planted) << file;
    std::vector<fs::path> logs;
    for (const fs::path& log : bootstrapLogs(l.tempBase))
        if (fs::is_regular_file(log) && readFile(log) != planted) logs.push_back(log);
    ASSERT_EQ(logs.size(), 1u);
    const std::string name = logs[0].filename().string();
    EXPECT_EQ(name.substr(name.size() - 7), "_2_.log") << name;
    EXPECT_NE(readFile(logs[0]).find("INFO \t: Creating exit script."), std::string::npos);
    if (!target().windows) {
        struct stat info;
        ASSERT_EQ(stat(logs[0].c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
    }
}

} // namespace
} // namespace e2e

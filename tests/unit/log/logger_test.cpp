#include "log/logger.h"

#include "unit/support/captured_log.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace talve {
namespace {

using test::fileExists;
using test::readFile;
using test::streamText;

// A logger whose console streams are temporary files.
struct ConsoleLogger {
    explicit ConsoleLogger(int level) : logger(level) { logger.setConsoleStreams(out, err); }
    ~ConsoleLogger() {
        std::fclose(out);
        std::fclose(err);
    }
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Logger logger;
};

TEST(Logger, EmitsLinesAtOrAboveItsLevelWithTheirPrefixErrorsOnStandardError) {
    ConsoleLogger warning(Logger::WARNING);
    warning.logger.debug("d", true);
    warning.logger.info("i", true);
    warning.logger.warning("w", true);
    warning.logger.error("e", true);
    EXPECT_EQ(streamText(warning.out), "WARNING \t: w\n");
    EXPECT_EQ(streamText(warning.err), "ERROR \t: e\n");

    ConsoleLogger debug(Logger::DEBUG);
    debug.logger.debug("d", true);
    debug.logger.info("two\nlines", true);
    debug.logger.warning("not shown", false);
    EXPECT_EQ(streamText(debug.out), "DEBUG \t: d\nINFO \t: two\nlines\n");
}

TEST(Logger, WritesTheFileOnlyOnceOpenAndFlushesEveryLine) {
    test::ScratchDirectory scratch;
    const std::string path = scratch.file("bootstrapLog_7-12-2026_9-5-3_.log");
    test::writeFile(path, "earlier run\n");
    ConsoleLogger console(Logger::WARNING);
    Logger& logger = console.logger;

    logger.error("before open", true);
    logger.open("");
    logger.error("still console only", true);
    logger.open(path);
    logger.error("x", false);
    logger.warning("y", true);
    logger.info("hidden", true);
    // Read while the logger still holds the file: every line must be on disk
    // already, in a file of its own beside the one that was there.
    EXPECT_EQ(readFile(path), "earlier run\n");
    EXPECT_EQ(readFile(scratch.file("bootstrapLog_7-12-2026_9-5-3_1_.log")), "ERROR \t: x\nWARNING \t: y\n");
    EXPECT_EQ(streamText(console.err), "ERROR \t: before open\nERROR \t: still console only\n");
}

// Whatever holds the log's name, and the names after it, is left as it is;
// the log takes the first free one and is deleted under that name.
TEST(Logger, NeverOpensWhatIsAlreadyAtItsNameButTakesTheNextFreeVariant) {
    test::ScratchDirectory scratch;
    const std::string path = scratch.file("bootstrapLog_7-12-2026_9-5-3_.log");
    test::writeFile(path, "planted\n");
    test::writeFile(scratch.file("bootstrapLog_7-12-2026_9-5-3_1_.log"), "planted\n");
    Logger logger(Logger::DEBUG);
    logger.open(path);
    logger.info("mine", false);
    const std::string mine = scratch.file("bootstrapLog_7-12-2026_9-5-3_2_.log");
    EXPECT_EQ(readFile(mine), "INFO \t: mine\n");
    logger.close();
    EXPECT_FALSE(fileExists(mine));
    EXPECT_EQ(readFile(path), "planted\n");

    // Names without the log's ending get the number before their extension.
    test::writeFile(scratch.file("run.log"), "planted\n");
    Logger other(Logger::DEBUG);
    other.open(scratch.file("run.log"));
    other.info("mine", false);
    EXPECT_EQ(readFile(scratch.file("run_1.log")), "INFO \t: mine\n");

    // When every name is taken the log is given up, and nothing is deleted.
    Logger refused(Logger::DEBUG);
    refused.setFileOpener([](const std::string&) { return static_cast<std::FILE*>(nullptr); });
    refused.open(path);
    refused.info("console only", false);
    refused.close();
    EXPECT_EQ(readFile(path), "planted\n");
}

TEST(Logger, CloseDeletesTheFileOnceAndLaterLinesReachNoFile) {
    test::ScratchDirectory scratch;
    const std::string path = scratch.file("run.log");
    Logger logger(Logger::DEBUG);
    logger.close(); // nothing open: nothing to do
    logger.open(path);
    logger.info("kept until close", false);
    ASSERT_TRUE(fileExists(path));

    logger.close();
    EXPECT_FALSE(fileExists(path));
    logger.info("after close", false);
    logger.open(""); // an empty path must not bring the closed stream back
    logger.error("after an empty open", false);
    EXPECT_FALSE(fileExists(path));

    // A file of the same name made later is not the logger's to delete.
    test::writeFile(path, "someone else's\n");
    logger.close();
    EXPECT_EQ(readFile(path), "someone else's\n");
}

// A log nothing reached is not left behind; one with lines is. Another run's
// file at the same name is never this log, so it stays as it was.
TEST(Logger, DiscardsOnlyALogThatIsEmptyOnDisk) {
    test::ScratchDirectory scratch;
    struct Case {
        std::string before; // already at the log's name
        bool lineWritten;
        bool logKept;
    };
    for (const Case& c : {Case{"", false, false}, Case{"", true, true}, Case{"another run's line\n", false, false}}) {
        const std::string path = scratch.file("run.log");
        if (!c.before.empty()) test::writeFile(path, c.before);
        Logger logger(Logger::ERROR);
        logger.open(path);
        logger.warning("filtered out", false);
        if (c.lineWritten) logger.error("kept", false);
        logger.discardIfEmpty();
        EXPECT_EQ(logger.keptFile().empty(), !c.logKept) << c.before << c.lineWritten;
        if (!c.before.empty()) {
            EXPECT_EQ(readFile(path), c.before);
        } else {
            EXPECT_EQ(fileExists(path), c.logKept) << c.lineWritten;
        }
        std::remove(path.c_str());
    }
}

TEST(Logger, RecordsAnErrorEvenWhenTheLevelSilencesEverything) {
    ConsoleLogger silent(Logger::NO_LOG);
    silent.logger.warning("w", true);
    EXPECT_FALSE(silent.logger.hadError());
    silent.logger.error("e", true);
    EXPECT_TRUE(silent.logger.hadError());
    EXPECT_EQ(streamText(silent.out), "");
    EXPECT_EQ(streamText(silent.err), "");
}

TEST(LevelFromName, AcceptsOnlyTheExactNames) {
    EXPECT_EQ(levelFromName("NO_LOG", 2), Logger::NO_LOG);
    EXPECT_EQ(levelFromName("ERROR", 2), Logger::ERROR);
    EXPECT_EQ(levelFromName("WARNING", 0), Logger::WARNING);
    EXPECT_EQ(levelFromName("INFO", 2), Logger::INFO);
    EXPECT_EQ(levelFromName("DEBUG", 2), Logger::DEBUG);
    EXPECT_EQ(levelFromName("debug", 2), 2);
    EXPECT_EQ(levelFromName("DEBUG ", 2), 2);
    EXPECT_EQ(levelFromName("", 2), 2);
    EXPECT_EQ(levelFromName("0", 2), 2);
}

} // namespace
} // namespace talve

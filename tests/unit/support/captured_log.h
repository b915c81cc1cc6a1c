#pragma once

#include "log/logger.h"

#include <cstdio>
#include <string>
#include <vector>

namespace talve {
namespace test {

// Catches what a Logger writes: every emitted line through a log file that
// lives in memory, and the two console streams separately, so that a test
// can tell what reached the log from what a user saw.
class CapturedLog {
public:
    explicit CapturedLog(Logger& logger, int level = Logger::DEBUG);
    ~CapturedLog();
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    // Emitted lines, prefix included, without their line ends.
    std::vector<std::string> lines() const;
    bool has(const std::string& line) const;
    // The ERROR lines that reached standard error.
    std::vector<std::string> errors() const;
    std::string standardOutput() const;

private:
    Logger& logger_;
    std::FILE* file_ = nullptr; // the logger owns and closes it
    std::FILE* out_;
    std::FILE* err_;
};

// The whole content of a stream that is open for update.
std::string streamText(std::FILE* stream);
std::vector<std::string> splitLines(const std::string& text);

} // namespace test
} // namespace talve

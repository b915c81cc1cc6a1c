#include "unit/support/captured_log.h"

#include <algorithm>

namespace talve {
namespace test {

std::string streamText(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    std::string text;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, stream)) > 0) text.append(chunk, got);
    // Later writes go to the end again.
    std::fseek(stream, 0, SEEK_END);
    return text;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

CapturedLog::CapturedLog(Logger& logger, int level)
    : logger_(logger), out_(std::tmpfile()), err_(std::tmpfile()) {
    logger_.setLevel(level);
    logger_.setConsoleStreams(out_, err_);
    logger_.setFileOpener([this](const std::string&) { return file_ = std::tmpfile(); });
    logger_.open("captured-log");
}

CapturedLog::~CapturedLog() {
    logger_.setConsoleStreams(stdout, stderr);
    std::fclose(out_);
    std::fclose(err_);
}

std::vector<std::string> CapturedLog::lines() const { return splitLines(streamText(file_)); }

bool CapturedLog::has(const std::string& line) const {
    std::vector<std::string> all = lines();
    return std::find(all.begin(), all.end(), line) != all.end();
}

std::vector<std::string> CapturedLog::errors() const { return splitLines(streamText(err_)); }

std::string CapturedLog::standardOutput() const { return streamText(out_); }

} // namespace test
} // namespace talve

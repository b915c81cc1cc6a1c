#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace talve {

// The run's only diagnostic channel: leveled lines to the console on request
// and, once a bootstrap log is open, to that file, flushed line by line so the
// file tells the story even of a run that is killed.
class Logger {
public:
    enum Level { DEBUG = 0, INFO = 1, WARNING = 2, ERROR = 3, NO_LOG = 4 };
    using FileOpener = std::function<std::FILE*(const std::string& path)>;

    explicit Logger(int level);
    virtual ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void setLevel(int level) { level_ = level; }
    int level() const { return level_; }
    bool hadError() const { return errorReported_; }

    // Creates the log new at path or, when that name is taken, at the first
    // free variant of it; failure is silent and leaves the console only.
    void open(const std::string& path);
    // Closes and deletes the log; only a failed run keeps its log.
    void close();
    // The open log, empty when none is open.
    std::string keptFile() const { return file_ != nullptr && !closed_ ? fileName_ : std::string(); }
    bool wroteToFile() const { return wroteToFile_; }
    // Closes and deletes a log that holds nothing: it would tell nothing.
    void discardIfEmpty();

    void debug(const std::string& message, bool toConsole) { emit(DEBUG, message, toConsole); }
    void info(const std::string& message, bool toConsole) { emit(INFO, message, toConsole); }
    void warning(const std::string& message, bool toConsole) { emit(WARNING, message, toConsole); }
    void error(const std::string& message, bool toConsole);

    // Seams: where console lines go, and how the log file is created (null
    // when the name is taken or the file cannot be made).
    void setConsoleStreams(std::FILE* out, std::FILE* err) { out_ = out; err_ = err; }
    void setFileOpener(FileOpener opener) { opener_ = std::move(opener); }

private:
    void emit(int level, const std::string& message, bool toConsole);

    int level_;
    std::FILE* file_ = nullptr;
    bool fileEnabled_ = false;
    bool closed_ = false;
    std::string fileName_;
    bool errorReported_ = false;
    bool wroteToFile_ = false;
    std::FILE* out_ = stdout;
    std::FILE* err_ = stderr;
    FileOpener opener_;
};

// The level named by KORVU_LOG_LEVEL's exact value, or fallback for any other text.
int levelFromName(const std::string& name, int fallback);

} // namespace talve

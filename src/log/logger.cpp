#include "log/logger.h"

namespace talve {

namespace {
const char* prefixOf(int level) {
    switch (level) {
    case Logger::DEBUG: return "DEBUG \t: ";
    case Logger::INFO: return "INFO \t: ";
    case Logger::WARNING: return "WARNING \t: ";
    default: return "ERROR \t: ";
    }
}
// Names tried after the one asked for before the log is given up.
constexpr int nameVariants = 100;

// "bootstrapLog_<stamp>_.log" becomes "bootstrapLog_<stamp>_<n>_.log", so
// that every variant still matches what people search their folders for.
std::string variantOf(const std::string& path, int number) {
    const std::size_t nameStart = path.find_last_of("/\\") + 1;
    std::size_t at = path.find_last_of('.');
    if (at == std::string::npos || at < nameStart) at = path.size();
    if (at > nameStart && path[at - 1] == '_') --at;
    return path.substr(0, at) + "_" + std::to_string(number) + path.substr(at);
}
} // namespace

Logger::Logger(int level) : level_(level) {
    opener_ = [](const std::string& path) { return std::fopen(path.c_str(), "wx"); };
}

Logger::~Logger() {
    if (file_ != nullptr && !closed_) std::fclose(file_);
}

// The log's name is easy to guess and lies in a folder others may write
// to: whatever already has that name (another run's log, someone's file, a
// link, a FIFO) is never opened; the log goes to the next free variant.
void Logger::open(const std::string& path) {
    std::string name = path;
    if (!path.empty()) {
        if (file_ != nullptr) std::fclose(file_);
        file_ = opener_(path);
        for (int number = 1; file_ == nullptr && number <= nameVariants; ++number) {
            name = variantOf(path, number);
            file_ = opener_(name);
        }
        if (file_ == nullptr) name = path;
        closed_ = false;
    }
    fileEnabled_ = file_ != nullptr;
    fileName_ = name;
}

void Logger::close() {
    if (file_ == nullptr || closed_) return;
    std::fclose(file_);
    // Forgotten at once: no later line may reach a closed stream.
    file_ = nullptr;
    closed_ = true;
    fileEnabled_ = false;
    std::remove(fileName_.c_str());
}

// Only a file that is empty on disk goes: another run of the same second
// may have written to the same name.
void Logger::discardIfEmpty() {
    if (file_ == nullptr || closed_ || wroteToFile_) return;
    if (std::fseek(file_, 0, SEEK_END) != 0 || std::ftell(file_) != 0) return;
    close();
}

void Logger::error(const std::string& message, bool toConsole) {
    // Recorded even when the level hides the line: the exit pause depends on it.
    errorReported_ = true;
    emit(ERROR, message, toConsole);
}

void Logger::emit(int level, const std::string& message, bool toConsole) {
    if (level_ > level) return;
    std::string line = prefixOf(level);
    line += message;
    line += '\n';
    if (toConsole) std::fwrite(line.data(), 1, line.size(), level == ERROR ? err_ : out_);
    if (fileEnabled_) {
        std::fwrite(line.data(), 1, line.size(), file_);
        std::fflush(file_);
        wroteToFile_ = true;
    }
}

int levelFromName(const std::string& name, int fallback) {
    static const char* const names[] = {"NO_LOG", "ERROR", "WARNING", "INFO", "DEBUG"};
    static const int levels[] = {Logger::NO_LOG, Logger::ERROR, Logger::WARNING, Logger::INFO, Logger::DEBUG};
    for (int i = 0; i < 5; ++i)
        if (name == names[i]) return levels[i];
    return fallback;
}

} // namespace talve

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
} // namespace

Logger::Logger(int level) : level_(level) {
    opener_ = [](const std::string& path) { return std::fopen(path.c_str(), "a"); };
}

Logger::~Logger() {
    if (file_ != nullptr && !closed_) std::fclose(file_);
}

void Logger::open(const std::string& path) {
    if (!path.empty()) {
        if (file_ != nullptr) std::fclose(file_);
        file_ = opener_(path);
        closed_ = false;
    }
    fileEnabled_ = file_ != nullptr;
    fileName_ = path;
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

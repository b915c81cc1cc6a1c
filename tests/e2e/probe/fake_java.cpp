// Stands in for a Java runtime's launcher in the end-to-end tests: records
// what the installer jar would receive (arguments, environment, current
// directory), optionally writes the communication file and the exit script
// as an installer does, and exits with the code it is told.
//
// Instructions come through the environment, which the launcher passes on:
//   PROBE_RECORD       file to write the record into (with the entries and
//                      files of its current directory, the run's temporary
//                      directory, and the descriptors it inherited)
//   PROBE_EXIT         exit code (default 0)
//   PROBE_COMM         file whose content becomes the communication file
//   PROBE_EXIT_SCRIPT  file whose content becomes the exit script
//   PROBE_RUN_STARTED  file made once it runs
//   PROBE_RUN_RELEASE  file whose appearance ends the run (a minute at most),
//                      so that a test can act while the installer runs
//   PROBE_CHECK_EXIT   the answer when run as a runtime-checking jar (default 0)
//   PROBE_CHECK_HANG   when set, the checking jar never answers (a minute at most)
//   PROBE_HELPER       file into which a helper, started first in every role
//                      and living a minute at most, writes its process id;
//                      it ignores interruptions and keeps standard error open
//   PROBE_HELPER_SESSION when set, that helper starts a session of its own
//   PROBE_READ_LINE    when set, the installer reads one line of standard
//                      input and records it as LINE
//   PROBE_SAY          a line the installer prints on standard output
//
// Run as "java -jar <dir>/check.jar <dir>/req.txt", it plays the checking
// jar instead: it records nothing and answers PROBE_CHECK_EXIT when both
// files exist, 3 when they do not or when a path arrived in pieces.
//
// Run with -o it stands in for a packed runtime instead: it makes
// PROBE_UNPACK_STARTED, waits for PROBE_UNPACK_RELEASE, then "unpacks"
// itself as _jvm/bin/<PROBE_JAVA_NAME> with a jvm.properties naming it.
// The waits let a test look at the screen while the launcher is busy.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#ifdef _WIN32
#include <process.h>
#else
#include <spawn.h>
#include <unistd.h>
extern char** environ;
#endif
#include <csignal>

namespace {

std::string readAll(const char* path) {
    std::string content;
    if (std::FILE* in = std::fopen(path, "rb")) {
        char buffer[4096];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) content.append(buffer, got);
        std::fclose(in);
    }
    return content;
}

void copyInto(const char* source, const char* target) {
    if (source == nullptr || target == nullptr) return;
    std::string content = readAll(source);
    if (std::FILE* out = std::fopen(target, "wb")) {
        std::fwrite(content.data(), 1, content.size(), out);
        std::fclose(out);
    }
}

void touch(const char* path) {
    if (path == nullptr) return;
    if (std::FILE* out = std::fopen(path, "wb")) std::fclose(out);
}

// Gives up after a minute, so that a failed test cannot leave it behind.
void waitFor(const char* path) {
    if (path == nullptr) return;
    std::error_code error;
    for (int i = 0; i < 3000 && !std::filesystem::exists(path, error); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

int unpackItself(const char* self) {
    touch(std::getenv("PROBE_UNPACK_STARTED"));
    waitFor(std::getenv("PROBE_UNPACK_RELEASE"));
    const char* javaName = std::getenv("PROBE_JAVA_NAME");
    const std::string name = javaName != nullptr ? javaName : "java";
    std::error_code error;
    std::filesystem::path source = self;
    if (!std::filesystem::exists(source, error)) source += ".exe";
    std::filesystem::create_directories("_jvm/bin", error);
    std::filesystem::copy_file(source, "_jvm/bin/" + name, std::filesystem::copy_options::overwrite_existing, error);
    if (error) return 1;
    std::filesystem::permissions("_jvm/bin/" + name, std::filesystem::perms::owner_all, error);
    if (std::FILE* properties = std::fopen("_jvm/jvm.properties", "wb")) {
        std::fprintf(properties, "java.bin.path=bin/%s\n", name.c_str());
        std::fclose(properties);
    }
    return 0;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool exists(const char* path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

// -1 when this is not a run of the checking jar.
int checkingJarAnswer(int argc, char** argv) {
    bool checkJarNamed = false;
    for (int i = 1; i < argc; ++i) checkJarNamed = checkJarNamed || endsWith(argv[i], "check.jar");
    if (!checkJarNamed) return -1;
    const bool wellFormed = argc == 4 && std::string(argv[1]) == "-jar" && endsWith(argv[2], "check.jar") &&
                            endsWith(argv[3], "req.txt") && exists(argv[2]) && exists(argv[3]);
    if (!wellFormed) return 3;
    const char* answer = std::getenv("PROBE_CHECK_EXIT");
    return answer == nullptr ? 0 : std::atoi(answer);
}

// The helper's part: only a stop can end it before its minute is over.
int beHelper(const char* pidFile) {
    for (int signalNumber : {SIGINT, SIGTERM}) std::signal(signalNumber, SIG_IGN);
#ifdef _WIN32
    const long pid = _getpid();
#else
    std::signal(SIGHUP, SIG_IGN);
    // As a daemon leaves the group and the terminal of whoever started it.
    if (std::getenv("PROBE_HELPER_SESSION") != nullptr) setsid();
    const long pid = getpid();
#endif
    const std::string partial = std::string(pidFile) + ".part";
    if (std::FILE* out = std::fopen(partial.c_str(), "wb")) {
        std::fprintf(out, "%ld\n", pid);
        std::fclose(out);
        std::rename(partial.c_str(), pidFile);
    }
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
}

// Descriptors beyond the standard three that it got from whoever started
// it, as "INHERITED <fd> <target>" lines, listed before it opens any file of
// its own; none where the system cannot tell.
std::string inheritedDescriptors() {
    std::string lines;
#ifndef _WIN32
    std::error_code error;
    const std::filesystem::path folder = "/proc/self/fd";
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = item.path().filename().string();
        const std::filesystem::path target = std::filesystem::read_symlink(item.path(), error);
        found.emplace_back(name, error ? std::string("?") : target.string());
    }
    for (const auto& [name, target] : found) {
        // The listing's own descriptor shows as the folder being listed.
        if (name == "0" || name == "1" || name == "2" || target.find("/proc/") == 0) continue;
        lines += "INHERITED " + name + " " + target + "\n";
    }
#endif
    return lines;
}

void startHelper(const char* self) {
    const char* pidFile = std::getenv("PROBE_HELPER");
    if (pidFile == nullptr) return;
#ifdef _WIN32
    _spawnl(_P_NOWAIT, self, self, "--helper", pidFile, nullptr);
#else
    char* arguments[] = {const_cast<char*>(self), const_cast<char*>("--helper"), const_cast<char*>(pidFile), nullptr};
    pid_t pid = 0;
    posix_spawn(&pid, self, nullptr, nullptr, arguments, environ);
#endif
    // The helper must be running before the role goes on.
    waitFor(pidFile);
}

} // namespace

int main(int argc, char** argv, char** envp) {
    if (argc == 3 && std::strcmp(argv[1], "--helper") == 0) return beHelper(argv[2]);
    startHelper(argv[0]);
    const int checkAnswer = checkingJarAnswer(argc, argv);
    if (checkAnswer >= 0 && std::getenv("PROBE_CHECK_HANG") != nullptr)
        std::this_thread::sleep_for(std::chrono::seconds(60));
    if (checkAnswer >= 0) return checkAnswer;
    if (argc == 2 && std::strcmp(argv[1], "-o") == 0) return unpackItself(argv[0]);
    touch(std::getenv("PROBE_RUN_STARTED"));
    const std::string inherited = inheritedDescriptors();
    if (const char* recordPath = std::getenv("PROBE_RECORD")) {
        // Written aside and renamed when whole: a test may read it while this
        // installer still runs.
        const std::string partial = std::string(recordPath) + ".part";
        if (std::FILE* record = std::fopen(partial.c_str(), "wb")) {
            std::error_code error;
            const std::filesystem::path cwd = std::filesystem::current_path(error);
            std::fprintf(record, "CWD %s\n", cwd.string().c_str());
            std::fprintf(record, "LIBDIR %s\n", std::filesystem::is_directory(cwd / "korvu_lib", error) ? "yes" : "no");
            // The files the launcher extracted beside it, with their contents
            // in hexadecimal (the first bytes of each): what the jar could read.
            for (const auto& item : std::filesystem::directory_iterator(cwd, error)) {
                std::fprintf(record, "ENTRY %s\n", item.path().filename().string().c_str());
                if (!item.is_regular_file(error)) continue;
                std::fprintf(record, "FILE %s ", item.path().filename().string().c_str());
                if (std::FILE* file = std::fopen(item.path().string().c_str(), "rb")) {
                    for (int byte, count = 0; count < 256 && (byte = std::fgetc(file)) != EOF; ++count)
                        std::fprintf(record, "%02x", byte);
                    std::fclose(file);
                }
                std::fprintf(record, "\n");
            }
            // Where its standard descriptors lead, where the system can tell.
            for (int fd = 0; fd <= 2; ++fd) {
                const std::filesystem::path link = "/proc/self/fd/" + std::to_string(fd);
                const std::filesystem::path target = std::filesystem::read_symlink(link, error);
                std::fprintf(record, "FD %d %s\n", fd, error ? "closed" : target.string().c_str());
            }
            std::fputs(inherited.c_str(), record);
            if (std::getenv("PROBE_READ_LINE") != nullptr) {
                char line[256] = "";
                std::fprintf(record, "LINE %s", std::fgets(line, sizeof line, stdin) != nullptr ? line : "(none)\n");
            }
            for (int i = 1; i < argc; ++i) std::fprintf(record, "ARG %s\n", argv[i]);
            for (char** variable = envp; *variable != nullptr; ++variable) std::fprintf(record, "ENV %s\n", *variable);
            std::fclose(record);
            // Windows' rename keeps an existing target.
            std::remove(recordPath);
            std::rename(partial.c_str(), recordPath);
        }
    }
    if (const char* say = std::getenv("PROBE_SAY")) {
        std::printf("%s\n", say);
        std::fflush(stdout);
    }
    copyInto(std::getenv("PROBE_COMM"), std::getenv("KORVU_BOOTSTRAP_COMM_FILE"));
    copyInto(std::getenv("PROBE_EXIT_SCRIPT"), std::getenv("KORVU_BOOTSTRAP_ONEXIT_SCRIPT"));
    waitFor(std::getenv("PROBE_RUN_RELEASE"));
    const char* code = std::getenv("PROBE_EXIT");
    return code == nullptr ? 0 : std::atoi(code);
}

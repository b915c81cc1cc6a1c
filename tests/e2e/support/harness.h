#pragma once

// Drives the real launcher the way a user does: builds an installer file
// with talve-pack, runs it in a scratch directory with a fake Java runtime,
// and reads back what the fake runtime saw.

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;
using Environment = std::map<std::string, std::string>;

// The system the launcher under test runs on: natively, or under Wine.
struct Target {
    bool windows = false;
    std::string launcher;              // launcher stub, host path
    std::string shippedLauncher;       // the 32-bit stub when the tests run a 64-bit build (else empty)
    std::string probe;                 // fake java program, host path
    std::string unpacker;              // talve-unpack stub, host path (may be empty)
    std::string pack;                  // talve-pack built for the target, when it is not the host's
    std::vector<std::string> runner;   // placed before the installer, e.g. "wine"
    std::string separator;             // as the launcher composes paths
    std::string javaName;              // bin/<javaName> in a runtime
    fs::path driveC;                   // the host folder Wine shows as C:\ (Wine only)
    Environment environment;           // what every run needs (Wine prefix ...)

    // A host path as the launcher sees it.
    std::string path(const fs::path& host) const;
    // A folder that only root (only the running user, under Wine) may
    // change, down from its root as the launcher sees it: the system's
    // temporary folder natively, the prefix's drive C: under Wine, whose
    // Z:\tmp every account may write.
    fs::path trustedBase() const;
    // The variable of the test's environment that becomes TEMP (or TMP) for the launcher.
    std::string temporaryVariable(const std::string& name) const { return launcherVariable(name); }
    // The same for any variable Wine sets from its registry (TEMP, TMP,
    // CommonProgramFiles, ALLUSERSPROFILE): the suite's prefix makes them
    // follow TALVE_TEST_<name>.
    std::string launcherVariable(const std::string& name) const;
    // Console text as a Linux program would have printed it.
    std::string normalized(const std::string& text) const;
};

const Target& target();

struct RunResult {
    int exitCode = -1; // 128 + the signal for a program ended by one
    int signal = 0;    // the signal that ended it, 0 for a normal exit
    long peakKilobytes = 0; // the largest resident size of it or a program it waited for
    std::string out;
    std::string err;
};

// A program started and not yet waited for.
struct StartedProgram {
    pid_t pid = 0; // 0 when it could not be started
    std::string out;
    std::string err;
    // Waits for its end and collects what it printed.
    RunResult finish();
};
StartedProgram startProgram(const std::vector<std::string>& argv, const Environment& environment,
                            const fs::path& directory, const fs::path& input = "/dev/null");
// The argument and environment arrays posix_spawn takes, with their strings.
class SpawnArrays {
public:
    SpawnArrays(const std::vector<std::string>& argv, const Environment& environment);
    SpawnArrays(const SpawnArrays&) = delete;
    SpawnArrays& operator=(const SpawnArrays&) = delete;
    char* const* argv() { return argv_.data(); }
    char* const* envp() { return envp_.data(); }

private:
    std::vector<std::string> argStrings_, envStrings_;
    std::vector<char*> argv_, envp_;
};

// Runs a program with exactly this environment, in this directory, and
// waits; standard input is the file named by input (the null device unless given).
RunResult runProgram(const std::vector<std::string>& argv, const Environment& environment, const fs::path& directory,
                     const fs::path& input = "/dev/null");

// A directory of its own for one test, removed at the end.
class Scratch {
public:
    Scratch();
    // Made in base instead of the system's temporary folder.
    explicit Scratch(const fs::path& base);
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const fs::path& root() const { return root_; }
    fs::path operator/(const std::string& name) const { return root_ / name; }
    fs::path write(const std::string& name, const std::string& content) const;

private:
    fs::path root_;
};

std::string readFile(const fs::path& path);

// The bootstrap logs a run left in the base of its temporary directory.
std::vector<fs::path> bootstrapLogs(const fs::path& base);
// True when a run's private directory is still in that base.
bool temporaryDirectoryLeft(const fs::path& base);

// What the fake Java runtime recorded about its start.
struct ProbeRecord {
    std::string cwd;
    bool libraryDirectoryExists = false;
    std::vector<std::string> arguments;
    Environment environment;
    // Regular files in its current directory: name and first 256 bytes.
    std::map<std::string, std::string> files;
    // The names of everything in its current directory.
    std::set<std::string> entries;
    // Descriptors it was given beyond the standard three, as "<fd> <target>"
    // (Linux only).
    std::vector<std::string> inherited;
    bool has(const std::string& name) const { return environment.count(name) != 0; }
    std::string env(const std::string& name) const;
};
std::optional<ProbeRecord> readProbeRecord(const fs::path& path);

// A runtime directory holding jvm.properties and bin/java (the probe).
fs::path makeFakeRuntime(const Scratch& scratch, const std::string& name = "runtime");

// Runs talve-pack create with these options, on the target's launcher
// unless another is given; fails the test on error.
fs::path packInstaller(const Scratch& scratch, const std::vector<std::string>& options,
                       const std::string& name = "installer", const std::string& launcher = "");
RunResult runPack(const std::vector<std::string>& arguments);

// Why a fenced restart (Launch::fencingTheRestart) or a run as nobody
// (Launch::asNobody) cannot be had on this machine; empty when it can.
std::string restartFenceProblem();
std::string nobodyProblem();
// Hands the scratch directory, all that is in it, to nobody (root only).
void shareWithNobody(const Scratch& scratch);

// One run of an installer: the scratch directory's "temp" is the base of
// the temporary directory, the probe records into "record.txt". Tests run
// side by side, so every run ends its command line with -multipleInstance:
// the machine-wide installer lock is for users, not for the test suite,
// except in the tests of that lock.
struct Launch {
    explicit Launch(const Scratch& scratch);
    Launch& arguments(std::vector<std::string> values);
    Launch& set(const std::string& name, const std::string& value);
    Launch& unset(const std::string& name);
    Launch& exitCode(int code);
    Launch& communicationFile(const std::string& content);
    Launch& exitScript(const std::string& content);
    // Runs without -multipleInstance: only for tests that hold the suite's
    // resource lock on the machine-wide installer lock.
    Launch& takingTheInstanceLock();
    // The installer keeps running until the file release appears.
    Launch& holding(const fs::path& release);
    // What the launcher reads on standard input (a file, not a terminal).
    Launch& input(const std::string& content);
    // In a mount namespace of its own where the system's shutdown programs
    // are the recording fake (shutdownRecord gets their arguments). Every
    // run that may end with code 4 needs it; see restartFenceProblem.
    Launch& fencingTheRestart();
    // As the account nobody, without supplementary groups; see nobodyProblem.
    Launch& asNobody();
    // Started through prlimit with these options (--nproc=2 ...).
    Launch& limitedBy(std::vector<std::string> prlimitOptions);
    RunResult run(const fs::path& installer);
    StartedProgram start(const fs::path& installer);

    const Scratch& scratch;
    fs::path tempBase;
    fs::path record;
    fs::path shutdownRecord;
    std::vector<std::string> args;
    Environment environment;
    bool multipleInstance = true;
    bool fenced = false;
    bool nobody = false;
    std::vector<std::string> limits;
    fs::path inputFile = "/dev/null";
};

} // namespace e2e

#include "support/harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {

namespace {

std::string fromEnvironment(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

// key=value lines written by the build: where the Windows executables and Wine are.
std::map<std::string, std::string> readWineConfiguration(const std::string& path) {
    std::map<std::string, std::string> settings;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::size_t equals = line.find('=');
        if (equals != std::string::npos) settings[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return settings;
}

Target makeTarget() {
    Target t;
    const std::string wineConfiguration = fromEnvironment("TALVE_E2E_WINE_CONFIG", "");
    if (!wineConfiguration.empty()) {
        std::map<std::string, std::string> settings = readWineConfiguration(wineConfiguration);
        t.windows = true;
        t.launcher = settings["launcher"];
        t.shippedLauncher = settings["shipped_launcher"];
        t.probe = settings["probe"];
        t.unpacker = settings["unpacker"];
        t.pack = settings["pack"];
        t.runner = {settings["wine"]};
        t.separator = "\\";
        t.javaName = "java.exe";
        t.environment["WINEPREFIX"] = settings["prefix"];
        t.driveC = fs::path(settings["prefix"]) / "drive_c";
        t.environment["WINEDEBUG"] = "-all";
        t.environment["WINEDLLOVERRIDES"] = "mscoree,mshtml=";
        t.environment["HOME"] = fromEnvironment("HOME", "/root");
        t.environment["TALVE_TEST_CommonProgramFiles"] = "C:\\Program Files\\Common Files";
        t.environment["TALVE_TEST_ALLUSERSPROFILE"] = "C:\\ProgramData";
    } else {
        t.launcher = TALVE_LAUNCHER_PATH;
        t.probe = TALVE_PROBE_PATH;
        t.unpacker = TALVE_UNPACK_PATH;
        t.separator = "/";
        t.javaName = "java";
        t.environment["HOME"] = fromEnvironment("HOME", "/root");
    }
    return t;
}

} // namespace

std::string Target::path(const fs::path& host) const {
    if (!windows) return host.string();
    const std::string drive = driveC.string() + "/";
    const bool onDriveC = host.string().compare(0, drive.size(), drive) == 0;
    std::string converted = onDriveC ? "C:\\" + host.string().substr(drive.size()) : "Z:" + host.string();
    for (char& c : converted)
        if (c == '/') c = '\\';
    return converted;
}

fs::path Target::trustedBase() const { return windows ? driveC : fs::temp_directory_path(); }

std::string Target::launcherVariable(const std::string& name) const {
    return windows ? "TALVE_TEST_" + name : name;
}

std::string Target::normalized(const std::string& text) const {
    if (!windows) return text;
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) result += text[i];
    return result;
}

const Target& target() {
    static const Target instance = makeTarget();
    return instance;
}

SpawnArrays::SpawnArrays(const std::vector<std::string>& argv, const Environment& environment) : argStrings_(argv) {
    for (const auto& [name, value] : environment) envStrings_.push_back(name + "=" + value);
    for (std::string& s : envStrings_) envp_.push_back(s.data());
    envp_.push_back(nullptr);
    for (std::string& s : argStrings_) argv_.push_back(s.data());
    argv_.push_back(nullptr);
}

StartedProgram startProgram(const std::vector<std::string>& argv, const Environment& environment,
                            const fs::path& directory, const fs::path& input) {
    static int counter = 0;
    const fs::path outPath = fs::temp_directory_path() / ("talve-e2e-" + std::to_string(getpid()) + "-" +
                                                          std::to_string(++counter));
    StartedProgram started;
    started.out = outPath.string() + ".out";
    started.err = outPath.string() + ".err";

    SpawnArrays arrays(argv, environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, started.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, started.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());

    // The PATH of the child's environment decides where a bare program name is found.
    std::string savedPath = fromEnvironment("PATH", "/usr/bin:/bin");
    auto pathEntry = environment.find("PATH");
    if (pathEntry != environment.end()) setenv("PATH", pathEntry->second.c_str(), 1);
    if (posix_spawnp(&started.pid, arrays.argv()[0], &actions, nullptr, arrays.argv(), arrays.envp()) != 0)
        started.pid = 0;
    setenv("PATH", savedPath.c_str(), 1);
    posix_spawn_file_actions_destroy(&actions);
    return started;
}

RunResult StartedProgram::finish() {
    RunResult result;
    if (pid != 0) {
        int status = 0;
        struct rusage usage {};
        while (wait4(pid, &status, 0, &usage) < 0) {
        }
        result.peakKilobytes = usage.ru_maxrss;
        pid = 0;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    result.out = readFile(out);
    result.err = readFile(err);
    std::error_code ignored;
    fs::remove(out, ignored);
    fs::remove(err, ignored);
    return result;
}

RunResult runProgram(const std::vector<std::string>& argv, const Environment& environment, const fs::path& directory,
                     const fs::path& input) {
    return startProgram(argv, environment, directory, input).finish();
}

Scratch::Scratch() : Scratch(fs::temp_directory_path()) {}

Scratch::Scratch(const fs::path& base) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "scratch";
    for (char& c : name)
        if (c == '/') c = '_';
    root_ = base / ("talve-e2e-" + std::to_string(getpid()) + "-" + name);
    fs::remove_all(root_);
    fs::create_directories(root_ / "temp");
}

Scratch::~Scratch() {
    std::error_code ignored;
    // The launcher makes its directories owner-only; give them back before removing.
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root_, ignored);
}

fs::path Scratch::write(const std::string& name, const std::string& content) const {
    fs::path path = root_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string ProbeRecord::env(const std::string& name) const {
    auto found = environment.find(name);
    return found == environment.end() ? std::string() : found->second;
}

std::optional<ProbeRecord> readProbeRecord(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    ProbeRecord record;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("CWD ", 0) == 0) record.cwd = line.substr(4);
        else if (line.rfind("LIBDIR ", 0) == 0) record.libraryDirectoryExists = line.substr(7) == "yes";
        else if (line.rfind("ARG ", 0) == 0) record.arguments.push_back(line.substr(4));
        else if (line.rfind("ENTRY ", 0) == 0) record.entries.insert(line.substr(6));
        else if (line.rfind("INHERITED ", 0) == 0) record.inherited.push_back(line.substr(10));
        else if (line.rfind("FILE ", 0) == 0) {
            const std::size_t blank = line.find(' ', 5);
            std::string content;
            for (std::size_t i = blank + 1; blank != std::string::npos && i + 1 < line.size(); i += 2)
                content += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
            record.files[line.substr(5, blank - 5)] = content;
        }
        else if (line.rfind("ENV ", 0) == 0) {
            std::string assignment = line.substr(4);
            std::size_t equals = assignment.find('=', 1);
            if (equals != std::string::npos) record.environment[assignment.substr(0, equals)] = assignment.substr(equals + 1);
        }
    }
    return record;
}

fs::path makeFakeRuntime(const Scratch& scratch, const std::string& name) {
    const fs::path home = scratch / name;
    fs::create_directories(home / "bin");
    fs::copy_file(target().probe, home / "bin" / target().javaName, fs::copy_options::overwrite_existing);
    fs::permissions(home / "bin" / target().javaName, fs::perms::owner_all);
    scratch.write(name + "/jvm.properties", "java.bin.path=bin/" + target().javaName + "\n");
    return home;
}

RunResult runPack(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{TALVE_PACK_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProgram(argv, {{"PATH", "/usr/bin:/bin"}}, fs::current_path());
}

fs::path packInstaller(const Scratch& scratch, const std::vector<std::string>& options, const std::string& name,
                       const std::string& launcher) {
    const fs::path output = scratch / name;
    std::vector<std::string> arguments{"create", "-o", output.string(), "--launcher",
                                       launcher.empty() ? target().launcher : launcher};
    arguments.insert(arguments.end(), options.begin(), options.end());
    RunResult result = runPack(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return output;
}

std::vector<fs::path> bootstrapLogs(const fs::path& base) {
    std::vector<fs::path> logs;
    for (const auto& item : fs::directory_iterator(base)) {
        const std::string name = item.path().filename().string();
        if (name.rfind("bootstrapLog_", 0) == 0 && name.size() > 5 && name.substr(name.size() - 5) == "_.log")
            logs.push_back(item.path());
    }
    return logs;
}

bool temporaryDirectoryLeft(const fs::path& base) {
    for (const auto& item : fs::directory_iterator(base))
        if (item.path().filename().string().rfind("TALVE_TEMP_", 0) == 0) return true;
    return false;
}

Launch::Launch(const Scratch& s) : scratch(s) {
    tempBase = scratch / "temp";
    record = scratch / "record.txt";
    shutdownRecord = scratch / "shutdown.txt";
    environment = target().environment;
    environment["PATH"] = "/usr/local/bin:/usr/bin:/bin";
    environment[target().temporaryVariable("TEMP")] = target().path(tempBase);
    environment["PROBE_RECORD"] = target().path(record);
}

Launch& Launch::arguments(std::vector<std::string> values) {
    args = std::move(values);
    return *this;
}

Launch& Launch::set(const std::string& name, const std::string& value) {
    environment[name] = value;
    return *this;
}

Launch& Launch::unset(const std::string& name) {
    environment.erase(name);
    return *this;
}

Launch& Launch::input(const std::string& content) {
    inputFile = scratch.write("standard-input.txt", content);
    return *this;
}

Launch& Launch::exitCode(int code) { return set("PROBE_EXIT", std::to_string(code)); }

Launch& Launch::communicationFile(const std::string& content) {
    return set("PROBE_COMM", target().path(scratch.write("comm-source.txt", content)));
}

Launch& Launch::exitScript(const std::string& content) {
    return set("PROBE_EXIT_SCRIPT", target().path(scratch.write("exit-script-source.txt", content)));
}

Launch& Launch::takingTheInstanceLock() {
    multipleInstance = false;
    return *this;
}

Launch& Launch::holding(const fs::path& release) { return set("PROBE_RUN_RELEASE", target().path(release)); }

namespace {

// The launcher restarts the machine with the first of these that it finds.
const char* const systemShutdownPrograms[] = {"/usr/sbin/shutdown", "/sbin/shutdown"};

// Mounts an empty file system over each folder that holds a system shutdown
// program, puts the fake there and makes sure that every such program now is
// the fake before it starts the rest of its arguments (code 125 otherwise).
// The namespace's mounts are private: the machine never sees them.
// The run's own PATH may be anything, even empty: the fence finds its tools by their system paths.
std::string systemProgram(const std::string& name) {
    for (const char* folder : {"/usr/bin/", "/bin/", "/usr/sbin/", "/sbin/"})
        if (access((folder + name).c_str(), X_OK) == 0) return folder + name;
    return name;
}

std::vector<std::string> restartFence(const fs::path& fake) {
    std::string script = "fake=$1; shift; (PATH=/usr/bin:/bin:/usr/sbin:/sbin; for d in $(for p in";
    for (const char* program : systemShutdownPrograms) script += std::string(" ") + program;
    script += "; do q=$(dirname \"$p\"); [ -d \"$q\" ] && readlink -f \"$q\"; done | sort -u); do "
              "mount -t tmpfs -o mode=0755 talve-fence \"$d\" && cp \"$fake\" \"$d/shutdown\" && "
              "chmod 0755 \"$d/shutdown\" || exit 125; done; for p in";
    for (const char* program : systemShutdownPrograms) script += std::string(" ") + program;
    script += "; do [ ! -e \"$p\" ] || cmp -s \"$fake\" \"$p\" || exit 125; done) || exit 125; exec \"$@\"";
    return {systemProgram("unshare"), geteuid() == 0 ? "-m" : "-rm", "/bin/sh", "-c", script, "talve-fence",
            fake.string()};
}

const std::vector<std::string> nobodySwitch{systemProgram("setpriv"), "--reuid=nobody", "--regid=nogroup",
                                            "--clear-groups"};

std::string problemOf(const std::vector<std::string>& argv) {
    const RunResult probe = runProgram(argv, {{"PATH", "/usr/bin:/bin"}}, "/");
    return probe.exitCode == 0 ? std::string() : "'" + argv.front() + "' failed here: " + probe.err;
}

} // namespace

std::string restartFenceProblem() {
    static const std::string problem = [] {
        if (target().windows) return std::string("Windows restarts through the system, not through a program");
        const fs::path fake = fs::temp_directory_path() / ("talve-e2e-fence-" + std::to_string(getpid()));
        std::ofstream(fake) << "#!/bin/sh\n";
        std::vector<std::string> argv = restartFence(fake);
        argv.push_back("true");
        std::string found = problemOf(argv);
        fs::remove(fake);
        return found;
    }();
    return problem;
}

std::string nobodyProblem() {
    static const std::string problem = [] {
        if (geteuid() != 0) return std::string("only root may run a program as nobody");
        std::vector<std::string> argv = nobodySwitch;
        argv.push_back("true");
        return problemOf(argv);
    }();
    return problem;
}

void shareWithNobody(const Scratch& scratch) {
    const RunResult given = runProgram({systemProgram("chown"), "-R", "nobody:nogroup", scratch.root().string()},
                                       {{"PATH", "/usr/bin:/bin"}}, "/");
    EXPECT_EQ(given.exitCode, 0) << given.err;
}

Launch& Launch::fencingTheRestart() {
    fenced = true;
    return *this;
}

Launch& Launch::asNobody() {
    nobody = true;
    return *this;
}

Launch& Launch::limitedBy(std::vector<std::string> prlimitOptions) {
    limits = std::move(prlimitOptions);
    return *this;
}

StartedProgram Launch::start(const fs::path& installer) {
    std::vector<std::string> argv;
    if (!limits.empty()) {
        argv.push_back(systemProgram("prlimit"));
        argv.insert(argv.end(), limits.begin(), limits.end());
        argv.push_back("--");
    }
    if (fenced) {
        // The stand-in for shutdown only records that it was asked to.
        scratch.write("fakebin/shutdown", "#!/bin/sh\necho \"$@\" >> '" + shutdownRecord.string() + "'\n");
        argv = restartFence(scratch / "fakebin/shutdown");
    } else if (environment.count("PROBE_EXIT") != 0 && environment.at("PROBE_EXIT") == "4" && !target().windows) {
        ADD_FAILURE() << "a run that ends with code 4 restarts the machine: it must be fenced";
        return StartedProgram{};
    }
    if (nobody) argv.insert(argv.end(), nobodySwitch.begin(), nobodySwitch.end());
    argv.insert(argv.end(), target().runner.begin(), target().runner.end());
    argv.push_back(installer.string());
    argv.insert(argv.end(), args.begin(), args.end());
    if (multipleInstance) argv.push_back("-multipleInstance");
    return startProgram(argv, environment, scratch.root(), inputFile);
}

RunResult Launch::run(const fs::path& installer) {
    RunResult result = start(installer).finish();
    result.out = target().normalized(result.out);
    result.err = target().normalized(result.err);
    return result;
}

} // namespace e2e

#pragma once

#include "payload/bootstrap_entry.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace talve {

class BootstrapContext;
class SplashRunner;

// Reader of the installer's own file: finds the bootstrap table, keeps the
// file open, and runs the stages that need its payloads, from the space
// check to the installer's command line.
class JarExtractor {
public:
    // A runtime's "jvm.properties" holds a line or two; a file this large is none.
    static constexpr std::size_t runtimePropertiesLimit = 64 * 1024;

    explicit JarExtractor(BootstrapContext& context);
    ~JarExtractor();
    JarExtractor(const JarExtractor&) = delete;
    JarExtractor& operator=(const JarExtractor&) = delete;

    // Opens the installer file and reads its table; false after logging why
    // (unreadable file, no marker, a damaged table or payload bounds).
    bool open(const std::string& installerPath);

    // The row with that index (see table::EntryIndex), or null.
    const BootstrapEntry* entry(int index) const;

    std::int32_t readLong();
    bool extractFile(std::uint32_t position, std::uint32_t length, const std::string& fileName);
    bool checkTemporaryDiskSpace();

    int extractAndRunJar();
    int runInstallerCommand();
    const std::string& installerCommand() const { return command_; }

    int findOrExtractJvm();
    bool getJVMLocation(std::string& location);
    bool getJvmFromProductHome(std::string& location);
    bool getJvmFromDir(std::string& location, const char* directory);
    // Runs the carried checking jar on the runtime in that directory (no
    // trailing separator); true only when it answers that the runtime fits.
    bool isJvmValid(const std::string& runtimeDirectory);

    int launchSplashScreen();

    // Reads a payload whole into memory, at most limit bytes; false when it
    // is longer or cannot be read.
    bool readPayload(const BootstrapEntry& row, std::size_t limit, std::string& content);

private:
    bool findMarker(const std::string& installerPath);
    bool readEntry(BootstrapEntry& row);
    bool payloadsWithinFile(const std::string& installerPath);
    std::optional<std::uint64_t> signatureStart();
    bool payloadNamesArePlain(const std::string& installerPath);
    std::optional<std::string> javaLauncherPath();
    FileRead readRuntimeProperties(const std::string& home);
    // The launcher the "jvm.properties" of the runtime in home (with its
    // trailing separator) names, relative to home; none, with the reason in
    // problem, when that file cannot be read or names a program elsewhere.
    std::optional<std::string> runtimeLauncher(const std::string& home, std::string& problem);
    void logUnpackerErrors(const std::string& errorOutput, bool succeeded);
    // Writes candidate + separator into location when the candidate is
    // accepted and its path fits the search's result buffer.
    bool acceptRuntime(const std::string& candidate, std::string& location);
    // True without a problem; otherwise logs why an elevated run passes what over.
    bool trustedByElevatedRun(const std::string& what, const std::string& problem);
    // Why others than the administrators could change anything in the
    // runtime or the folders above it; empty when nobody else can.
    std::string runtimeOpenToOthers(const std::string& runtimeDirectory);

    BootstrapContext& context_;
    std::FILE* file_ = nullptr;
    std::uint64_t tableEnd_ = 0; // where the payloads may begin
    std::string command_;
    BootstrapEntry entries_[8];
    std::unique_ptr<SplashRunner> splashRunner_;
    std::map<std::string, std::string> runtimeVetting_; // runtime directory -> runtimeOpenToOthers
};

} // namespace talve

#pragma once

#include "archive_format.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace talve {
namespace archive {

// One thing to carry, in archive order (every folder before its contents).
struct TreeEntry {
    EntryType type = EntryType::File;
    std::string archivePath;           // "/" separated, relative to the runtime folder
    std::filesystem::path source;      // files: where to read the content
    std::string content;               // files made up by the packer (jvm.properties)
    bool generated = false;            // content, not source, holds the data
    bool executable = false;
    std::string linkTarget;            // links only
};

struct RuntimeTree {
    std::vector<TreeEntry> entries;
    bool windowsRuntime = false;       // the Java launcher is bin/java.exe
};

// Walks a runtime folder. Links that stay inside it are kept as links
// (absolute ones rewritten relative); a link that leads out of it (or,
// written absolute, to nothing) is refused with a message naming it. Adds a
// "jvm.properties" naming the Java launcher when the folder has none.
bool collectRuntimeTree(const std::filesystem::path& runtimeDir, RuntimeTree& tree,
                        std::string& error);

// The launcher reads "java.bin.path" and runs the runtime's folder joined
// with that value.
std::string defaultJvmProperties(bool windowsRuntime);

} // namespace archive
} // namespace talve

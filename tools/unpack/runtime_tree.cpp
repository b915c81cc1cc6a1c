#include "runtime_tree.h"

#include "entry_path.h"

#include <algorithm>
#include <system_error>

namespace talve {
namespace archive {
namespace fs = std::filesystem;

namespace {

constexpr const char* kPropertiesName = "jvm.properties";
// Links followed out of the folder may loop back on themselves.
constexpr int kMaxFolderDepth = 64;

class TreeWalker {
public:
    TreeWalker(RuntimeTree& tree, std::string& error) : tree_(tree), error_(error) {}

    bool walkFolder(const fs::path& folder, const std::string& prefix, int depth) {
        if (depth > kMaxFolderDepth) {
            error_ = "folders nest too deeply (a link loop?) at " + folder.u8string();
            return false;
        }
        std::vector<fs::path> children;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            children.push_back(it->path());
        }
        if (ec) {
            error_ = "cannot read the folder " + folder.u8string() + ": " + ec.message();
            return false;
        }
        std::sort(children.begin(), children.end());
        for (const fs::path& child : children) {
            const std::string name = child.filename().u8string();
            const std::string archivePath = prefix + name;
            if (!checkCarriable(child, name, archivePath) || !addChild(child, archivePath, depth)) return false;
        }
        return true;
    }

private:
    bool checkCarriable(const fs::path& child, const std::string& name, const std::string& archivePath) {
        if (archivePath.size() > kMaxPathLength) {
            error_ = "cannot carry " + child.u8string() + ": its path is longer than " +
                     std::to_string(kMaxPathLength) + " bytes";
            return false;
        }
        // The unpacker reads a backslash as a separator: a\b would come out as a/b.
        if (name.find('\\') != std::string::npos || !isSafeEntryPath(archivePath)) {
            error_ = "cannot carry " + child.u8string() + ": a name with \"\\\" or \":\" cannot be unpacked everywhere";
            return false;
        }
        return true;
    }

    bool addChild(const fs::path& child, const std::string& archivePath, int depth) {
        std::error_code ec;
        const fs::file_status own = fs::symlink_status(child, ec);
        if (fs::is_symlink(own)) {
            const fs::path target = fs::read_symlink(child, ec);
            if (ec) {
                error_ = "cannot read the link " + child.u8string() + ": " + ec.message();
                return false;
            }
            const std::string targetText = target.generic_u8string();
            if (isSafeLinkTarget(archivePath, targetText)) {
                TreeEntry link;
                link.type = EntryType::Symlink;
                link.archivePath = archivePath;
                link.linkTarget = targetText;
                tree_.entries.push_back(link);
                return true;
            }
            return addResolved(child, fs::status(child, ec), archivePath, depth);
        }
        return addResolved(child, own, archivePath, depth);
    }

    bool addResolved(const fs::path& child, const fs::file_status& status,
                     const std::string& archivePath, int depth) {
        TreeEntry entry;
        entry.archivePath = archivePath;
        if (fs::is_directory(status)) {
            entry.type = EntryType::Directory;
            tree_.entries.push_back(entry);
            return walkFolder(child, archivePath + "/", depth + 1);
        }
        if (fs::is_regular_file(status)) {
            entry.type = EntryType::File;
            entry.source = child;
            entry.executable = (status.permissions() & fs::perms::owner_exec) != fs::perms::none;
            tree_.entries.push_back(entry);
            return true;
        }
        if (!fs::exists(status)) {
            error_ = "cannot carry " + child.u8string() + ": it is a link out of the runtime folder to nothing";
        } else {
            error_ = "cannot carry " + child.u8string() + ": it is neither a file, a folder nor a link";
        }
        return false;
    }

    RuntimeTree& tree_;
    std::string& error_;
};

} // namespace

std::string defaultJvmProperties(bool windowsRuntime) {
    // Only a line feed: the launcher keeps a carriage return in the value.
    return windowsRuntime ? "java.bin.path=bin/java.exe\n" : "java.bin.path=bin/java\n";
}

bool collectRuntimeTree(const fs::path& runtimeDir, RuntimeTree& tree, std::string& error) {
    tree = RuntimeTree();
    std::error_code ec;
    if (!fs::is_directory(runtimeDir, ec)) {
        error = "runtime folder " + runtimeDir.u8string() + " does not exist or is not a folder";
        return false;
    }
    TreeWalker walker(tree, error);
    if (!walker.walkFolder(runtimeDir, "", 0)) return false;

    tree.windowsRuntime = fs::is_regular_file(runtimeDir / "bin" / "java.exe", ec);
    if (fs::exists(runtimeDir / kPropertiesName, ec)) return true;
    if (!tree.windowsRuntime && !fs::is_regular_file(runtimeDir / "bin" / "java", ec)) {
        error = "runtime folder " + runtimeDir.u8string() +
                " has neither bin/java nor bin/java.exe, and no jvm.properties naming its launcher";
        return false;
    }
    TreeEntry properties;
    properties.archivePath = kPropertiesName;
    properties.generated = true;
    properties.content = defaultJvmProperties(tree.windowsRuntime);
    tree.entries.push_back(properties);
    return true;
}

} // namespace archive
} // namespace talve

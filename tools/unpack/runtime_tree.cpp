#include "runtime_tree.h"

#include "entry_path.h"

#include <algorithm>
#include <system_error>

namespace talve {
namespace archive {
namespace fs = std::filesystem;

namespace {

constexpr const char* kPropertiesName = "jvm.properties";
// Far deeper than any runtime; a bound on what a hostile folder can make
// the walk do.
constexpr int kMaxFolderDepth = 64;

class TreeWalker {
public:
    TreeWalker(const fs::path& root, RuntimeTree& tree, std::string& error)
        : root_(root), tree_(tree), error_(error) {}

    bool walkFolder(const fs::path& folder, const std::string& prefix, int depth) {
        if (depth > kMaxFolderDepth) {
            error_ = "folders nest too deeply at " + folder.u8string();
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
        if (hasControlCharacter(name)) {
            error_ = "cannot carry " + printablePath(child.u8string()) +
                     ": its name holds a control character (a line feed?)";
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
            std::string targetText = target.generic_u8string();
            if (isSafeLinkTarget(archivePath, targetText) || insideTarget(child, archivePath, targetText)) {
                TreeEntry link;
                link.type = EntryType::Symlink;
                link.archivePath = archivePath;
                link.linkTarget = targetText;
                tree_.entries.push_back(link);
                return true;
            }
            return refuseLink(child, target);
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
        error_ = "cannot carry " + child.u8string() + ": it is neither a file, a folder nor a link";
        return false;
    }

    // A link written another way (absolute, or through "..") that still
    // leads into the tree is kept as a link, rewritten relative to its folder.
    bool insideTarget(const fs::path& link, const std::string& archivePath, std::string& targetText) const {
        std::error_code ec;
        const fs::path resolved = fs::canonical(link, ec);
        if (ec) return false;
        const fs::path relative = resolved.lexically_relative(root_);
        if (relative.empty() || *relative.begin() == "..") return false;
        std::string text;
        for (char c : archivePath) {
            if (c == '/') text += "../";
        }
        if (relative != ".") {
            text += relative.generic_u8string();
        } else if (text.empty()) {
            text = ".";
        } else {
            text.pop_back();
        }
        if (!isSafeLinkTarget(archivePath, text)) return false;
        targetText = text;
        return true;
    }

    // Following a link out of the tree would carry whatever it reaches (a
    // link to "/" the whole file system); carrying the link itself would
    // make a runtime that depends on the packing machine.
    bool refuseLink(const fs::path& link, const fs::path& target) {
        std::error_code ec;
        const std::string shownTarget = printablePath(target.u8string());
        if (!fs::exists(fs::status(link, ec))) {
            error_ = "cannot carry " + link.u8string() + ": it is a link to " + shownTarget + ", which does not exist";
        } else {
            error_ = "cannot carry " + link.u8string() + ": it is a link to " + shownTarget +
                     ", outside the runtime folder; copy the runtime with its links resolved (cp -rL) or remove the "
                     "link";
        }
        return false;
    }

    fs::path root_;
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
    const fs::path root = fs::canonical(runtimeDir, ec);
    if (ec) {
        error = "cannot read the runtime folder " + runtimeDir.u8string() + ": " + ec.message();
        return false;
    }
    TreeWalker walker(root, tree, error);
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

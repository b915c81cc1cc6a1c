#include "platform/posix/path_rights.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace talve {
namespace posix {

namespace {

// Links followed on one path before it counts as a loop.
constexpr int linkLimit = 32;

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

// With an access list the group bits are the list's mask: some named user
// or group may then write although the owner and the group are harmless.
bool hasAccessList(const std::string& path) {
    const ssize_t size = lgetxattr(path.c_str(), "system.posix_acl_access", nullptr, 0);
    return size > 0;
}

// Whether others may change this one entry. In a sticky folder others may
// add entries of their own but neither remove nor rename ours; anywhere else
// a folder they may write to lets them replace what it holds.
std::string entryProblem(const std::string& path, const struct stat& info, bool mayAddEntries) {
    if (info.st_uid != 0 && info.st_uid != geteuid())
        return quoted(path) + " belongs to user " + std::to_string(info.st_uid);
    const bool addsOnly = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0 && mayAddEntries;
    if (addsOnly) return std::string();
    if ((info.st_mode & S_IWOTH) != 0) return quoted(path) + " may be written by every user";
    if ((info.st_mode & S_IWGRP) != 0) {
        if (hasAccessList(path)) return quoted(path) + " has an access list that may let others write to it";
        // Group 0 is the administrators' own.
        if (info.st_gid != 0) return quoted(path) + " may be written by group " + std::to_string(info.st_gid);
    }
    return std::string();
}

std::vector<std::string> componentsOf(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find('/', begin);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(begin, end - begin);
        if (!part.empty() && part != ".") parts.push_back(part);
        begin = end + 1;
    }
    return parts;
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string examine(const std::string& given, bool foldersAbove, bool mayAddEntries, int linksLeft) {
    std::string path = given;
    if (path.empty() || path[0] != '/') {
        std::vector<char> buffer(PATH_MAX + 1);
        if (getcwd(buffer.data(), buffer.size()) == nullptr) return quoted(given) + " cannot be placed";
        path = std::string(buffer.data()) + "/" + path;
    }
    const std::vector<std::string> parts = componentsOf(path);
    std::string current = "/";
    struct stat info;
    if (parts.empty() || foldersAbove) {
        if (lstat("/", &info) != 0) return "\"/\" cannot be examined";
        const std::string problem = entryProblem("/", info, !parts.empty() || mayAddEntries);
        if (!problem.empty()) return problem;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        if (parts[i] == "..") {
            // Only reached through a path as given: the folder above was judged already.
            const std::size_t slash = current.find_last_of('/');
            current = slash == 0 || slash == std::string::npos ? "/" : current.substr(0, slash);
            continue;
        }
        const std::string next = joined(current, parts[i]);
        if (!last && !foldersAbove) {
            current = next;
            continue;
        }
        if (lstat(next.c_str(), &info) != 0)
            return quoted(next) + " cannot be examined (" + std::strerror(errno) + ")";
        if (S_ISLNK(info.st_mode)) {
            // The link itself can only be changed by those who may write to
            // its folder; where it leads is judged from the root on.
            if (linksLeft == 0) return quoted(next) + " leads through too many links";
            std::vector<char> target(PATH_MAX + 1);
            const ssize_t length = readlink(next.c_str(), target.data(), target.size() - 1);
            if (length <= 0) return quoted(next) + " cannot be examined";
            std::string resolved(target.data(), static_cast<std::size_t>(length));
            if (resolved[0] != '/') resolved = joined(current, resolved);
            for (std::size_t j = i + 1; j < parts.size(); ++j) resolved += "/" + parts[j];
            return examine(resolved, true, mayAddEntries, linksLeft - 1);
        }
        const std::string problem = entryProblem(next, info, !last || mayAddEntries);
        if (!problem.empty()) return problem;
        current = next;
    }
    return std::string();
}

std::optional<std::string> canonical(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return std::nullopt;
    std::string text = resolved;
    std::free(resolved);
    return text;
}

bool within(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                              (folder == "/" || path[folder.size()] == '/'));
}

// Everything below the folders to walk, which are canonical paths already
// judged themselves. A link leads wherever its target is; the target is
// judged from the root of the file system like any path outside the tree,
// and a folder it leads to outside the tree is walked as part of it, since
// whatever loads through the link loads from there.
class TreeWalk {
public:
    explicit TreeWalk(const std::string& root) : root_(root) { pending_.push_back(root); }

    std::string run() {
        std::string problem;
        while (problem.empty() && !pending_.empty()) {
            const std::string folder = pending_.back();
            pending_.pop_back();
            problem = walkFolder(folder);
        }
        return problem;
    }

private:
    std::string walkFolder(const std::string& folder) {
        DIR* listing = opendir(folder.c_str());
        if (listing == nullptr) return quoted(folder) + " cannot be listed (" + std::strerror(errno) + ")";
        std::string problem;
        errno = 0;
        while (problem.empty()) {
            const dirent* entry = readdir(listing);
            if (entry == nullptr) {
                if (errno != 0) problem = quoted(folder) + " cannot be listed (" + std::strerror(errno) + ")";
                break;
            }
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            problem = judge(joined(folder, name));
            errno = 0;
        }
        closedir(listing);
        return problem;
    }

    std::string judge(const std::string& path) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) return quoted(path) + " cannot be examined (" + std::strerror(errno) + ")";
        if (S_ISLNK(info.st_mode)) return judgeLink(path);
        std::string problem = entryProblem(path, info, false);
        if (problem.empty() && S_ISDIR(info.st_mode)) pending_.push_back(path);
        return problem;
    }

    std::string judgeLink(const std::string& path) {
        if (staysInside(path)) return std::string();
        std::string problem = examine(path, false, false, linkLimit);
        if (!problem.empty()) return problem;
        const std::optional<std::string> target = canonical(path);
        if (!target) return quoted(path) + " cannot be examined (" + std::strerror(errno) + ")";
        struct stat info;
        if (stat(target->c_str(), &info) != 0) return quoted(*target) + " cannot be examined";
        if (S_ISDIR(info.st_mode) && !within(*target, root_) && joinedOutside_.insert(*target).second)
            pending_.push_back(*target);
        return std::string();
    }

    // A relative link that only climbs first (from its own folder, a real
    // folder of the walk) and then names entries of the tree leads to what
    // the walk judges anyway; runtimes hold hundreds of such links (their
    // legal notices), which are then not judged from the root one by one.
    bool staysInside(const std::string& path) const {
        std::vector<char> text(PATH_MAX + 1);
        const ssize_t length = readlink(path.c_str(), text.data(), text.size() - 1);
        if (length <= 0 || text[0] == '/') return false;
        std::string target = path.substr(0, path.find_last_of('/'));
        bool named = false;
        for (const std::string& part : componentsOf(std::string(text.data(), static_cast<std::size_t>(length)))) {
            if (part != "..") {
                named = true;
                target = joined(target, part);
            } else if (named || target == "/") {
                return false;
            } else {
                target = target.substr(0, std::max<std::size_t>(target.find_last_of('/'), 1));
            }
        }
        return named && target != root_ && within(target, root_);
    }

    const std::string root_;
    std::vector<std::string> pending_;
    // Folders outside the tree already taken in through a link: links that
    // lead to each other would otherwise be walked for ever.
    std::set<std::string> joinedOutside_;
};

} // namespace

std::string writableByOthers(const std::string& path, bool foldersAbove, bool mayAddEntries) {
    return examine(path, foldersAbove, mayAddEntries, linkLimit);
}

std::string treeWritableByOthers(const std::string& root) {
    std::string problem = examine(root, true, false, linkLimit);
    if (!problem.empty()) return problem;
    const std::optional<std::string> folder = canonical(root);
    if (!folder) return quoted(root) + " cannot be examined (" + std::strerror(errno) + ")";
    struct stat info;
    if (stat(folder->c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return quoted(root) + " is not a folder";
    return TreeWalk(*folder).run();
}

} // namespace posix
} // namespace talve

#include "platform/win32/path_rights.h"

#include "platform/win32/owned_handle.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace talve {
namespace win32 {

namespace {

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

std::string examinationFailure(const std::string& path, DWORD error) {
    return quoted(path) + " cannot be examined (error " + std::to_string(error) + ")";
}

// The accounts an elevated run trusts besides its own user: SYSTEM, the
// Administrators group, TrustedInstaller, and OWNER RIGHTS (which only
// narrows what an entry's owner may do). The token's default owner is not
// among them: it is a group of ordinary users on some systems.
class TrustedAccounts {
public:
    TrustedAccounts() {
        for (const char* text : {"S-1-5-18", "S-1-5-32-544",
                                 "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "S-1-3-4"}) {
            PSID sid = nullptr;
            if (ConvertStringSidToSidA(text, &sid)) made_.push_back(sid);
        }
        HANDLE token = nullptr;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            DWORD needed = 0;
            GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
            user_.resize(needed);
            if (needed == 0 || !GetTokenInformation(token, TokenUser, user_.data(), needed, &needed)) user_.clear();
            CloseHandle(token);
        }
    }
    ~TrustedAccounts() {
        for (PSID sid : made_) LocalFree(sid);
    }
    TrustedAccounts(const TrustedAccounts&) = delete;
    TrustedAccounts& operator=(const TrustedAccounts&) = delete;

    bool trusts(PSID sid) const {
        if (sid == nullptr || !IsValidSid(sid)) return false;
        for (PSID known : made_)
            if (EqualSid(sid, known)) return true;
        return !user_.empty() && EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid);
    }

private:
    std::vector<PSID> made_;
    std::vector<unsigned char> user_;
};

// Read once: the token's user does not change while the launcher runs.
const TrustedAccounts& trustedAccounts() {
    static const TrustedAccounts accounts;
    return accounts;
}

// "NT AUTHORITY\ANONYMOUS LOGON (S-1-5-7)": the name an administrator
// knows, and the number that stays true when the name is ambiguous.
std::string accountName(PSID sid) {
    char* text = nullptr;
    std::string number = ConvertSidToStringSidA(sid, &text) ? text : "an unknown account";
    if (text != nullptr) LocalFree(text);
    char name[256];
    char domain[256];
    DWORD nameSize = sizeof name;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    if (!LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) return number;
    const std::string account = domain[0] != '\0' ? std::string(domain) + "\\" + name : std::string(name);
    return account + " (" + number + ")";
}

// Rights that change an entry or what it holds. Extended attributes and
// basic attributes (times, read-only) change neither, and ordinary users
// hold those rights on folders Windows makes for everyone. Adding files
// and folders (the same bits as writing and appending data, on a folder)
// is left out where others may add entries of their own: they then own
// what they add, which the owner check refuses, and cannot touch ours.
constexpr DWORD changingRights = GENERIC_ALL | GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | DELETE | FILE_WRITE_DATA |
                                 FILE_APPEND_DATA | FILE_DELETE_CHILD;
constexpr DWORD addingRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;

// The first allowing entry that gives an untrusted account a harmful
// right, or why the list cannot be judged.
std::string grantProblem(const std::string& path, PACL list, DWORD harmful, const TrustedAccounts& trusted) {
    if (list == nullptr) return quoted(path) + " has no access list: every account may change it";
    for (DWORD i = 0; i < list->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(list, i, &entry)) return quoted(path) + " has an access list that cannot be read";
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
        // Denials only take rights away; inherit-only entries apply to
        // children, which are judged on their own. A conditional grant
        // counts as granted: its condition may hold for the other account.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) continue;
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
        // Both kinds lay out the mask and the account alike.
        const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        PSID account = const_cast<DWORD*>(&allowed->SidStart);
        if ((allowed->Mask & harmful) != 0 && !trusted.trusts(account))
            return quoted(path) + " may be changed by " + accountName(account);
    }
    return std::string();
}

// One handle for every question, opened on the entry itself: a junction or
// a link is judged, not what it leads to, and cannot be swapped between
// the questions.
std::string entryProblem(const std::string& path, const TrustedAccounts& trusted, bool mayAddEntries) {
    OwnedHandle entry(CreateFileA(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!entry.valid()) return examinationFailure(path, GetLastError());
    FILE_ATTRIBUTE_TAG_INFO information{};
    if (!GetFileInformationByHandleEx(entry.get(), FileAttributeTagInfo, &information, sizeof information))
        return examinationFailure(path, GetLastError());
    // Where a junction or a link leads can change without its own rights
    // changing; other reparse points (deduplicated or cloud files) hold
    // their data where they are.
    if ((information.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        IsReparseTagNameSurrogate(information.ReparseTag))
        return quoted(path) + " is a link";
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = GetSecurityInfo(entry.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                       &owner, nullptr, &list, nullptr, &descriptor);
    if (read != ERROR_SUCCESS) return examinationFailure(path, read);
    std::string problem;
    if (!trusted.trusts(owner)) {
        problem = quoted(path) + " belongs to " + accountName(owner);
    } else {
        const bool folder = (information.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        problem = grantProblem(path, list, folder && mayAddEntries ? changingRights & ~addingRights : changingRights,
                               trusted);
    }
    LocalFree(descriptor);
    return problem;
}

// Where the folders above an absolute path begin: "C:\" or "\\server\share\".
// npos when the path has neither.
std::size_t rootLength(const std::string& path) {
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (path.size() >= 3 && path[1] == ':' && separator(path[2])) return 3;
    if (path.size() < 5 || !separator(path[0]) || !separator(path[1])) return std::string::npos;
    const std::size_t share = path.find_first_of("\\/", 2);
    if (share == std::string::npos || share == 2) return std::string::npos;
    const std::size_t end = path.find_first_of("\\/", share + 1);
    if (end == share + 1) return std::string::npos;
    return end == std::string::npos ? std::string::npos : end + 1;
}

std::string absolutePath(const std::string& path) {
    if (path.empty()) return path;
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return std::string();
    std::vector<char> buffer(needed + 1);
    const DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    return length == 0 || length >= buffer.size() ? std::string() : std::string(buffer.data(), length);
}

} // namespace

bool runsElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool elevated =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) && elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

// Folders are judged from the root down; a relative path from the current
// folder, as the system will open it.
std::string writableByOthers(const std::string& path, bool foldersAbove, bool mayAddEntries) {
    const TrustedAccounts& trusted = trustedAccounts();
    std::string entry = absolutePath(path);
    std::size_t root = rootLength(entry);
    if (root == std::string::npos && rootLength(entry + "\\") != std::string::npos) {
        entry += "\\";
        root = entry.size();
    }
    // A device or some other name the system does not place in folders.
    if (root == std::string::npos) return quoted(path) + " cannot be placed";
    while (entry.size() > root && (entry.back() == '\\' || entry.back() == '/')) entry.pop_back();
    if (foldersAbove && entry.size() > root) {
        std::string problem = entryProblem(entry.substr(0, root), trusted, true);
        for (std::size_t end = entry.find_first_of("\\/", root); problem.empty() && end != std::string::npos;
             end = entry.find_first_of("\\/", end + 1))
            problem = entryProblem(entry.substr(0, end), trusted, true);
        if (!problem.empty()) return problem;
    }
    return entryProblem(entry, trusted, mayAddEntries);
}

// Links refuse the tree outright (entryProblem), so the walk never leaves it
// and never meets a folder twice.
std::string treeWritableByOthers(const std::string& root) {
    std::string problem = writableByOthers(root, true, false);
    if (!problem.empty()) return problem;
    const TrustedAccounts& trusted = trustedAccounts();
    std::string top = absolutePath(root);
    while (!top.empty() && (top.back() == '\\' || top.back() == '/')) top.pop_back();
    std::vector<std::string> pending{top};
    while (problem.empty() && !pending.empty()) {
        const std::string folder = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAA found;
        HANDLE listing = FindFirstFileExA((folder + "\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                          nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (listing == INVALID_HANDLE_VALUE) return quoted(folder) + " cannot be listed (error " +
                                                    std::to_string(GetLastError()) + ")";
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = folder + "\\" + name;
            problem = entryProblem(path, trusted, false);
            if (problem.empty() && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) pending.push_back(path);
        } while (problem.empty() && FindNextFileA(listing, &found));
        const DWORD error = GetLastError();
        FindClose(listing);
        if (problem.empty() && error != ERROR_NO_MORE_FILES)
            problem = quoted(folder) + " cannot be listed (error " + std::to_string(error) + ")";
    }
    return problem;
}

} // namespace win32
} // namespace talve

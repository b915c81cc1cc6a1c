#include "platform/win32/path_rights.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace talve {
namespace win32 {

namespace {

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

// The accounts an elevated run trusts besides its own user: SYSTEM, the
// Administrators group, TrustedInstaller, and the token's default owner
// (the Administrators group for an elevated administrator).
class TrustedAccounts {
public:
    TrustedAccounts() {
        for (const char* text : {"S-1-5-18", "S-1-5-32-544",
                                 "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"}) {
            PSID sid = nullptr;
            if (ConvertStringSidToSidA(text, &sid)) made_.push_back(sid);
        }
        HANDLE token = nullptr;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            read(token, TokenUser, user_);
            read(token, TokenOwner, owner_);
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
        if (!user_.empty() && EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid)) return true;
        return !owner_.empty() && EqualSid(sid, reinterpret_cast<const TOKEN_OWNER*>(owner_.data())->Owner);
    }

private:
    static void read(HANDLE token, TOKEN_INFORMATION_CLASS kind, std::vector<unsigned char>& buffer) {
        DWORD needed = 0;
        GetTokenInformation(token, kind, nullptr, 0, &needed);
        buffer.resize(needed);
        if (needed == 0 || !GetTokenInformation(token, kind, buffer.data(), needed, &needed)) buffer.clear();
    }

    std::vector<PSID> made_;
    std::vector<unsigned char> user_;
    std::vector<unsigned char> owner_;
};

// Rights that change an entry or what it holds. Adding files and folders
// (the same bits as writing and appending data, on a folder) is left out
// where others may add entries of their own: they then own what they add,
// which the owner check refuses, and cannot touch ours.
constexpr DWORD changingRights = GENERIC_ALL | GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | DELETE | FILE_WRITE_DATA |
                                 FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD;
constexpr DWORD addingRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;

std::string entryProblem(const std::string& path, const TrustedAccounts& trusted, bool mayAddEntries) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return quoted(path) + " cannot be examined (error " + std::to_string(GetLastError()) + ")";
    // Where a junction or a link leads can change without its own rights changing.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return quoted(path) + " is a link";
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                                             &list, nullptr, &descriptor);
    if (read != ERROR_SUCCESS) return quoted(path) + " cannot be examined (error " + std::to_string(read) + ")";
    std::string problem;
    if (!trusted.trusts(owner)) {
        problem = quoted(path) + " belongs to another account";
    } else if (list == nullptr) {
        problem = quoted(path) + " has no access list: every account may change it";
    } else {
        const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const DWORD harmful = folder && mayAddEntries ? changingRights & ~addingRights : changingRights;
        for (DWORD i = 0; i < list->AceCount && problem.empty(); ++i) {
            void* entry = nullptr;
            if (!GetAce(list, i, &entry)) {
                problem = quoted(path) + " has an access list that cannot be read";
                break;
            }
            const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
            // Denials only take rights away; inherit-only entries apply to children, judged on their own.
            if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
            const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
            PSID account = const_cast<DWORD*>(&allowed->SidStart);
            if ((allowed->Mask & harmful) != 0 && !trusted.trusts(account)) {
                char* text = nullptr;
                const std::string name = ConvertSidToStringSidA(account, &text) ? text : "an unknown account";
                if (text != nullptr) LocalFree(text);
                problem = quoted(path) + " may be changed by " + name;
            }
        }
    }
    LocalFree(descriptor);
    return problem;
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

// Folders are judged from the drive's root down; a path that is not
// absolute with a drive is judged as given, without what lies above it.
std::string writableByOthers(const std::string& path, bool foldersAbove, bool mayAddEntries) {
    const TrustedAccounts trusted;
    std::string entry = path;
    while (entry.size() > 3 && (entry.back() == '\\' || entry.back() == '/')) entry.pop_back();
    if (foldersAbove && entry.size() > 3 && entry[1] == ':' && (entry[2] == '\\' || entry[2] == '/')) {
        for (std::size_t end = 2; end != std::string::npos; end = entry.find_first_of("\\/", end + 1)) {
            const std::string problem = entryProblem(end == 2 ? entry.substr(0, 3) : entry.substr(0, end), trusted, true);
            if (!problem.empty()) return problem;
        }
    }
    return entryProblem(entry, trusted, mayAddEntries);
}

} // namespace win32
} // namespace talve

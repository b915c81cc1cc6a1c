// Reads a program's icon and version information through the calls
// Explorer and the shell use, and prints what they return, one fact a line:
//   talve_resource_probe.exe FILE
// The end-to-end tests run it under Wine on packed installers.

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <vector>

namespace {

const char* const versionKeys[] = {"CompanyName",      "FileDescription", "FileVersion",   "LegalCopyright",
                                   "OriginalFilename", "ProductName",     "ProductVersion"};

void printVersion(const char* file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(file, &ignored);
    if (size == 0) {
        std::printf("version: none\n");
        return;
    }
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(file, 0, size, block.data())) {
        std::printf("version: unreadable (%lu)\n", GetLastError());
        return;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr) {
        std::printf("fixed file version: %lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xffff,
                    fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xffff);
        std::printf("fixed product version: %lu.%lu.%lu.%lu\n", fixed->dwProductVersionMS >> 16,
                    fixed->dwProductVersionMS & 0xffff, fixed->dwProductVersionLS >> 16, fixed->dwProductVersionLS & 0xffff);
    }
    DWORD* translation = nullptr;
    if (VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
        length >= 4)
        std::printf("translation: %04lx %04lx\n", translation[0] & 0xffff, translation[0] >> 16);
    for (const char* key : versionKeys) {
        char path[128];
        std::snprintf(path, sizeof path, "\\StringFileInfo\\000004b0\\%s", key);
        char* value = nullptr;
        if (VerQueryValueA(block.data(), path, reinterpret_cast<void**>(&value), &length) && value != nullptr)
            std::printf("%s: %s\n", key, value);
    }
}

void printIcons(const char* file) {
    std::printf("icon groups: %u\n", ExtractIconExA(file, -1, nullptr, nullptr, 0));
    HICON large = nullptr;
    HICON small = nullptr;
    if (ExtractIconExA(file, 0, &large, &small, 1) > 0) {
        std::printf("first group extracted: %s\n", large != nullptr && small != nullptr ? "large and small" : "partly");
        if (large) DestroyIcon(large);
        if (small) DestroyIcon(small);
    }
    HMODULE module = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        std::printf("cannot load as data: %lu\n", GetLastError());
        return;
    }
    HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14));
    const BYTE* directory = group ? static_cast<const BYTE*>(LockResource(LoadResource(module, group))) : nullptr;
    if (directory != nullptr) {
        const WORD count = *reinterpret_cast<const WORD*>(directory + 4);
        for (WORD i = 0; i < count; ++i) {
            const BYTE* entry = directory + 6 + i * 14;
            const WORD id = *reinterpret_cast<const WORD*>(entry + 12);
            HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3));
            if (image == nullptr) {
                std::printf("image %u: missing\n", id);
                continue;
            }
            BYTE* bits = static_cast<BYTE*>(LockResource(LoadResource(module, image)));
            HICON icon = CreateIconFromResourceEx(bits, SizeofResource(module, image), TRUE, 0x00030000, 0, 0,
                                                  LR_DEFAULTCOLOR);
            ICONINFO info{};
            BITMAP bitmap{};
            if (icon != nullptr && GetIconInfo(icon, &info) && GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask,
                                                                         sizeof bitmap, &bitmap)) {
                std::printf("image %u: %ldx%ld\n", id, bitmap.bmWidth, bitmap.bmHeight);
            } else {
                std::printf("image %u: unreadable\n", id);
            }
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
            if (icon) DestroyIcon(icon);
        }
    }
    HANDLE loaded = LoadImageA(module, MAKEINTRESOURCEA(1), IMAGE_ICON, 48, 48, 0);
    std::printf("LoadImage 48: %s\n", loaded != nullptr ? "yes" : "no");
    if (loaded) DestroyIcon(static_cast<HICON>(loaded));
    FreeLibrary(module);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: talve_resource_probe FILE\n");
        return 2;
    }
    printVersion(argv[1]);
    printIcons(argv[1]);
    return 0;
}

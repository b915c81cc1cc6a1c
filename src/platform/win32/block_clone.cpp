#include "platform/win32/block_clone.h"

#include <winioctl.h>

namespace talve {
namespace win32 {
namespace {

// Not in every MinGW-w64 release's headers; the values are the system's.
constexpr DWORD supportsBlockRefcounting = 0x08000000;
constexpr DWORD duplicateExtentsToFile = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 209, METHOD_BUFFERED, FILE_WRITE_DATA);

struct DuplicateExtentsData {
    HANDLE fileHandle;
    LARGE_INTEGER sourceFileOffset;
    LARGE_INTEGER targetFileOffset;
    LARGE_INTEGER byteCount;
};

bool offersBlockCloning(HANDLE file) {
    DWORD flags = 0;
    return GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & supportsBlockRefcounting) != 0;
}

} // namespace

std::uint64_t shareBlocks(HANDLE source, std::uint64_t from, HANDLE destination, std::uint64_t length) {
    // ReFS's small cluster; a volume of 64 KiB clusters refuses the offsets
    // and the plain copy takes over.
    constexpr std::uint64_t clusterSize = 4096;
    const std::uint64_t whole = length / clusterSize * clusterSize;
    if (whole == 0 || from % clusterSize != 0 || !offersBlockCloning(destination)) {
        return 0;
    }
    LARGE_INTEGER zero{};
    LARGE_INTEGER at;
    if (!SetFilePointerEx(destination, zero, &at, FILE_CURRENT) || at.QuadPart % clusterSize != 0) {
        return 0;
    }
    // Clusters are only duplicated into a range the file already has.
    LARGE_INTEGER end;
    end.QuadPart = at.QuadPart + static_cast<LONGLONG>(whole);
    DuplicateExtentsData data{source, {}, at, {}};
    data.sourceFileOffset.QuadPart = static_cast<LONGLONG>(from);
    data.byteCount.QuadPart = static_cast<LONGLONG>(whole);
    DWORD returned = 0;
    if (SetFilePointerEx(destination, end, nullptr, FILE_BEGIN) && SetEndOfFile(destination) &&
        DeviceIoControl(destination, duplicateExtentsToFile, &data, sizeof data, nullptr, 0, &returned, nullptr)) {
        return whole;
    }
    SetFilePointerEx(destination, at, nullptr, FILE_BEGIN);
    SetEndOfFile(destination);
    return 0;
}

} // namespace win32
} // namespace talve

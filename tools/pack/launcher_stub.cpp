#include "launcher_stub.h"

#include <cstdint>

namespace talve {
namespace pack {
namespace {

constexpr std::uint16_t kElfExecutable = 2;
constexpr std::uint16_t kElfShared = 3; // position-independent executables
constexpr std::size_t kPeHeaderPointer = 0x3c;
constexpr std::uint16_t kPeExecutableImage = 0x0002;
constexpr std::uint16_t kPeDll = 0x2000;

std::uint32_t readNumber(const std::string& bytes, std::size_t offset, int width, bool bigEndian) {
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[offset + (bigEndian ? i : width - 1 - i)]);
        value = (value << 8) | byte;
    }
    return value;
}

bool checkElf(const std::string& bytes, std::string& problem) {
    const char elfClass = bytes[4];
    const char elfData = bytes[5];
    if ((elfClass != 1 && elfClass != 2) || (elfData != 1 && elfData != 2)) {
        problem = "a damaged ELF file";
        return false;
    }
    const std::uint32_t type = readNumber(bytes, 16, 2, elfData == 2);
    if (type != kElfExecutable && type != kElfShared) {
        problem = "an ELF file that is not a program (an object file or a core dump?)";
        return false;
    }
    return true;
}

bool checkPe(const std::string& bytes, std::string& problem) {
    const std::uint32_t header = readNumber(bytes, kPeHeaderPointer, 4, false);
    if (header > bytes.size() - 24 || bytes.compare(header, 4, std::string("PE\0\0", 4)) != 0) {
        problem = "an MS-DOS file without a Windows program in it";
        return false;
    }
    const std::uint32_t characteristics = readNumber(bytes, header + 22, 2, false);
    if ((characteristics & kPeExecutableImage) == 0 || (characteristics & kPeDll) != 0) {
        problem = "a Windows DLL or object, not a program";
        return false;
    }
    return true;
}

} // namespace

bool checkLauncherStub(const std::string& bytes, std::string& problem) {
    if (bytes.size() < kMinLauncherSize) {
        problem = std::to_string(bytes.size()) + " bytes, too small to be the launcher (at least " +
                  std::to_string(kMinLauncherSize) + " expected)";
        return false;
    }
    if (bytes.compare(0, 4, "\x7f" "ELF") == 0) return checkElf(bytes, problem);
    if (bytes.compare(0, 2, "MZ") == 0) return checkPe(bytes, problem);
    problem = "not a program (neither ELF nor a Windows executable)";
    return false;
}

} // namespace pack
} // namespace talve

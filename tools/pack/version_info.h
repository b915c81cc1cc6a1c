#pragma once

// The version information of a Windows program: the block Explorer's
// Properties page and GetFileVersionInfo read, in one language (neutral)
// and the Unicode code page.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace talve {
namespace pack {

// The most a text may hold, in UTF-16 units: with every field that long
// the block still fits the 16-bit lengths of its format.
constexpr std::size_t kMaxVersionText = 1024;

struct VersionNumber {
    std::uint32_t high = 0; // first and second part
    std::uint32_t low = 0;  // third and fourth part
};

struct VersionInfo {
    VersionNumber fileVersion;
    VersionNumber productVersion;
    // Key ("CompanyName", ...) and value, in the order they are written.
    std::vector<std::pair<std::string, std::u16string>> strings;
};

// Dotted numbers, one to four parts of 0 to 65535 ("1", "2.0.13"); parts
// not given are 0.
bool parseVersionNumber(const std::string& text, VersionNumber& number);

// A text of the version information from UTF-8; false with `problem` when
// it is not UTF-8, holds a control character or is longer than kMaxVersionText.
bool versionText(const std::string& utf8, std::u16string& text, std::string& problem);

// The resource data of the version information.
std::string versionResource(const VersionInfo& info);

} // namespace pack
} // namespace talve

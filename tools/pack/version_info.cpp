#include "version_info.h"

#include "payload/pe_image.h"

namespace talve {
namespace pack {
namespace {

constexpr std::uint32_t kFixedInfoSignature = 0xfeef04bd;
constexpr std::uint32_t kFixedInfoVersion = 0x00010000;
constexpr std::uint32_t kAllFileFlags = 0x3f;
constexpr std::uint32_t kWindowsNt32 = 0x00040004;
constexpr std::uint32_t kApplication = 1;
constexpr std::uint16_t kBinaryValue = 0;
constexpr std::uint16_t kTextValue = 1;
// Language neutral (0000), code page 1200 (04b0): UTF-16.
const char* const kStringTableKey = "000004b0";
constexpr std::uint32_t kTranslation = 0x04b00000;

std::u16string ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

void pad4(std::string& bytes) {
    bytes.resize((bytes.size() + 3) / 4 * 4, '\0');
}

std::string utf16Bytes(const std::u16string& text) {
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xff);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

// A node of the block: length, value length, type, key, value, children,
// each of the last three starting on a 4-byte boundary.
std::string node(const std::string& key, std::uint16_t type, const std::string& value, std::uint16_t valueLength,
                 const std::vector<std::string>& children) {
    std::string bytes(6, '\0');
    bytes += utf16Bytes(ascii(key) + u'\0');
    pad4(bytes);
    bytes += value;
    for (const std::string& child : children) {
        pad4(bytes);
        bytes += child;
    }
    pe::writeLittleEndian(bytes, 0, static_cast<std::uint32_t>(bytes.size()), 2);
    pe::writeLittleEndian(bytes, 2, valueLength, 2);
    pe::writeLittleEndian(bytes, 4, type, 2);
    return bytes;
}

std::string fixedInfo(const VersionInfo& info) {
    std::string bytes(52, '\0');
    const std::uint32_t fields[] = {kFixedInfoSignature,       kFixedInfoVersion,        info.fileVersion.high,
                                    info.fileVersion.low,      info.productVersion.high, info.productVersion.low,
                                    kAllFileFlags,             0,                        kWindowsNt32,
                                    kApplication,              0,                        0,
                                    0};
    for (std::size_t i = 0; i < 13; ++i) pe::writeLittleEndian32(bytes, i * 4, fields[i]);
    return bytes;
}

} // namespace

bool parseVersionNumber(const std::string& text, VersionNumber& number) {
    std::uint32_t parts[4] = {0, 0, 0, 0};
    std::size_t count = 0;
    std::size_t at = 0;
    while (true) {
        std::size_t end = at;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
        if (end == at || end - at > 5 || count == 4) return false;
        const unsigned long part = std::stoul(text.substr(at, end - at));
        if (part > 0xffff) return false;
        parts[count++] = static_cast<std::uint32_t>(part);
        if (end == text.size()) break;
        if (text[end] != '.') return false;
        at = end + 1;
    }
    number.high = parts[0] << 16 | parts[1];
    number.low = parts[2] << 16 | parts[3];
    return true;
}

bool versionText(const std::string& utf8, std::u16string& text, std::string& problem) {
    text.clear();
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xc2 && lead < 0xe0 ? 2 : lead >= 0xe0 && lead < 0xf0 ? 3
                                                  : lead >= 0xf0 && lead < 0xf5 ? 4 : 0;
        if (length == 0 || i + length > utf8.size()) {
            problem = "not UTF-8 text";
            return false;
        }
        std::uint32_t code = length == 1 ? lead : lead & (0xff >> (length + 1));
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xc0) != 0x80) {
                problem = "not UTF-8 text";
                return false;
            }
            code = code << 6 | (next & 0x3f);
        }
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10ffff || (code >= 0xd800 && code < 0xe000)) {
            problem = "not UTF-8 text";
            return false;
        }
        if (code < 0x20 || code == 0x7f) {
            problem = "holds a control character";
            return false;
        }
        if (code >= 0x10000) {
            text += static_cast<char16_t>(0xd800 + ((code - 0x10000) >> 10));
            text += static_cast<char16_t>(0xdc00 + ((code - 0x10000) & 0x3ff));
        } else {
            text += static_cast<char16_t>(code);
        }
        i += length;
    }
    if (text.size() > kMaxVersionText) {
        problem = std::to_string(text.size()) + " characters, too long for the version information (at most " +
                  std::to_string(kMaxVersionText) + ")";
        return false;
    }
    return true;
}

std::string versionResource(const VersionInfo& info) {
    std::vector<std::string> strings;
    for (const auto& entry : info.strings) {
        const std::u16string value = entry.second + u'\0';
        strings.push_back(node(entry.first, kTextValue, utf16Bytes(value), static_cast<std::uint16_t>(value.size()), {}));
    }
    const std::string table = node(kStringTableKey, kTextValue, "", 0, strings);
    std::string translation(4, '\0');
    pe::writeLittleEndian32(translation, 0, kTranslation);
    const std::string var = node("Translation", kBinaryValue, translation, 4, {});
    return node("VS_VERSION_INFO", kBinaryValue, fixedInfo(info), 52,
                {node("StringFileInfo", kTextValue, "", 0, {table}), node("VarFileInfo", kTextValue, "", 0, {var})});
}

} // namespace pack
} // namespace talve

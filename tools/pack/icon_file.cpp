#include "icon_file.h"

#include "payload/pe_image.h"

namespace talve {
namespace pack {
namespace {

constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kFileEntrySize = 16;
// A group entry is the file's entry with the image's resource number in
// place of its file offset.
constexpr std::size_t kGroupEntrySize = 14;
constexpr std::size_t kSharedEntryPart = 12;
constexpr std::uint32_t kBitmapHeaderSize = 40;
const std::string kPngSignature("\x89PNG\r\n\x1a\n", 8);

} // namespace

bool iconResources(const std::string& ico, std::vector<Resource>& resources, std::string& problem) {
    resources.clear();
    if (ico.size() < kHeaderSize) {
        problem = "too short for an icon file (" + std::to_string(ico.size()) + " bytes)";
        return false;
    }
    if (pe::readLittleEndian(ico, 0, 2) != 0 || pe::readLittleEndian(ico, 2, 2) != 1) {
        problem = "no icon file header (a cursor, or another format renamed?)";
        return false;
    }
    const std::size_t count = pe::readLittleEndian(ico, 4, 2);
    if (count == 0) {
        problem = "the icon file holds no image";
        return false;
    }
    if (kHeaderSize + count * kFileEntrySize > ico.size()) {
        problem = "the list of " + std::to_string(count) + " images is cut short";
        return false;
    }
    std::string group = ico.substr(0, kHeaderSize);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = kHeaderSize + i * kFileEntrySize;
        const std::uint32_t size = pe::readLittleEndian(ico, entry + 8, 4);
        const std::uint32_t offset = pe::readLittleEndian(ico, entry + 12, 4);
        const std::string which = "image " + std::to_string(i + 1) + " of " + std::to_string(count);
        if (size == 0) {
            problem = which + " is empty";
            return false;
        }
        if (offset > ico.size() || size > ico.size() - offset) {
            problem = which + " lies beyond the end of the file (offset " + std::to_string(offset) + ", " +
                      std::to_string(size) + " bytes, file " + std::to_string(ico.size()) + " bytes)";
            return false;
        }
        const std::string image = ico.substr(offset, size);
        const bool png = image.compare(0, kPngSignature.size(), kPngSignature) == 0;
        const bool bitmap = image.size() >= kBitmapHeaderSize && pe::readLittleEndian(image, 0, 4) == kBitmapHeaderSize;
        if (!png && !bitmap) {
            problem = which + " is neither a PNG nor a bitmap image";
            return false;
        }
        Resource icon;
        icon.type = kResourceIcon;
        icon.name = static_cast<std::uint16_t>(i + 1);
        icon.data = image;
        resources.push_back(std::move(icon));
        group += ico.substr(entry, kSharedEntryPart);
        group.append(2, '\0');
        pe::writeLittleEndian(group, group.size() - 2, static_cast<std::uint32_t>(i + 1), 2);
    }
    static_assert(kSharedEntryPart + 2 == kGroupEntrySize, "a group entry ends with the resource number");
    Resource directory;
    directory.type = kResourceIconGroup;
    directory.name = 1;
    directory.data = group;
    resources.push_back(std::move(directory));
    return true;
}

} // namespace pack
} // namespace talve

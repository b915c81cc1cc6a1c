#include "pe_resources.h"

#include "payload/pe_image.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace talve {
namespace pack {
namespace {

// Optional-header fields at the same place in PE32 and PE32+.
constexpr std::size_t kInitializedDataSize = 8;
constexpr std::size_t kSectionAlignment = 32;
constexpr std::size_t kFileAlignment = 36;
constexpr std::size_t kImageSize = 56;
constexpr std::size_t kHeadersSize = 60;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint32_t kReadableInitializedData = 0x40000040;
constexpr std::uint32_t kSubdirectory = 0x80000000;
constexpr std::size_t kDirectorySize = 16;
constexpr std::size_t kDirectoryEntrySize = 8;
constexpr std::size_t kDataEntrySize = 16;
constexpr std::size_t kDataAlignment = 8;
// Far beyond a program's own resources; bounds what a looping or
// self-repeating tree could make us read.
constexpr std::size_t kMaxResources = 4096;

struct Section {
    std::size_t header = 0; // file offset of its entry in the section table
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawPointer = 0;
    std::uint32_t characteristics = 0;
    std::uint64_t memoryEnd() const { return std::uint64_t(virtualAddress) + std::max(virtualSize, rawSize); }
    std::uint64_t fileEnd() const { return std::uint64_t(rawPointer) + rawSize; }
};

std::uint32_t read32(const std::string& bytes, std::size_t offset) {
    return pe::readLittleEndian(bytes, offset, 4);
}

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

struct Image {
    pe::Layout layout;
    std::vector<Section> sections;
    std::uint32_t sectionAlignment = 0;
    std::uint32_t fileAlignment = 0;
    std::size_t resourceEntry = 0; // file offset of the Resource data directory entry
};

bool readImage(const std::string& bytes, Image& image, std::string& problem) {
    const pe::Headers headers = pe::readHeaders(bytes);
    if (headers.kind != pe::Kind::Image) {
        problem = headers.kind == pe::Kind::NotPe ? "not a Windows program" : headers.problem;
        return false;
    }
    image.layout = headers.layout;
    const std::size_t optional = image.layout.optionalHeaderOffset;
    image.sectionAlignment = read32(bytes, optional + kSectionAlignment);
    image.fileAlignment = read32(bytes, optional + kFileAlignment);
    const auto powerOfTwo = [](std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; };
    if (!powerOfTwo(image.sectionAlignment) || !powerOfTwo(image.fileAlignment)) {
        problem = "the headers give no valid section and file alignment";
        return false;
    }
    if (image.layout.directoryCount <= kResourceDirectoryIndex ||
        image.layout.directoriesOffset + (kResourceDirectoryIndex + 1) * 8 > image.layout.sectionTableOffset) {
        problem = "the headers hold no resource directory entry";
        return false;
    }
    image.resourceEntry = image.layout.directoriesOffset + kResourceDirectoryIndex * 8;
    const std::size_t table = image.layout.sectionTableOffset;
    if (table + std::size_t(image.layout.sectionCount) * kSectionHeaderSize > bytes.size()) {
        problem = "the section table is cut short";
        return false;
    }
    for (std::size_t i = 0; i < image.layout.sectionCount; ++i) {
        Section section;
        section.header = table + i * kSectionHeaderSize;
        section.virtualSize = read32(bytes, section.header + 8);
        section.virtualAddress = read32(bytes, section.header + 12);
        section.rawSize = read32(bytes, section.header + 16);
        section.rawPointer = read32(bytes, section.header + 20);
        section.characteristics = read32(bytes, section.header + 36);
        if (section.rawSize != 0 && section.fileEnd() > bytes.size()) {
            problem = "section " + std::to_string(i + 1) + " reaches beyond the end of the file";
            return false;
        }
        image.sections.push_back(section);
    }
    return true;
}

// The file bytes behind an address in memory, when a section holds all
// `size` of them.
bool fileOffsetOf(const Image& image, std::uint32_t address, std::uint32_t size, std::size_t& offset) {
    for (const Section& section : image.sections) {
        if (address < section.virtualAddress) continue;
        const std::uint64_t into = address - section.virtualAddress;
        if (into + size > section.rawSize) continue;
        offset = section.rawPointer + static_cast<std::size_t>(into);
        return true;
    }
    return false;
}

class TreeReader {
public:
    TreeReader(const std::string& bytes, const Image& image, std::size_t base, std::size_t limit)
        : bytes_(bytes), image_(image), base_(base), limit_(limit) {}

    bool read(std::vector<Resource>& resources, std::string& problem) {
        return directory(0, 0, Resource(), resources, problem);
    }

private:
    bool inTree(std::size_t offset, std::size_t width) const { return offset <= limit_ && width <= limit_ - offset; }

    bool directory(std::size_t offset, int level, Resource path, std::vector<Resource>& resources,
                   std::string& problem) {
        if (!inTree(offset, kDirectorySize)) return fail("a resource directory lies outside the tree", problem);
        const std::size_t at = base_ + offset;
        const std::size_t named = pe::readLittleEndian(bytes_, at + 12, 2);
        const std::size_t numbered = pe::readLittleEndian(bytes_, at + 14, 2);
        if (named != 0) return fail("a resource has a name rather than a number", problem);
        if (!inTree(offset + kDirectorySize, numbered * kDirectoryEntrySize))
            return fail("a resource directory is cut short", problem);
        for (std::size_t i = 0; i < numbered; ++i) {
            const std::size_t entry = at + kDirectorySize + i * kDirectoryEntrySize;
            const std::uint32_t id = read32(bytes_, entry);
            const std::uint32_t target = read32(bytes_, entry + 4);
            if (id > 0xffff) return fail("a resource has a name rather than a number", problem);
            (level == 0 ? path.type : level == 1 ? path.name : path.language) = static_cast<std::uint16_t>(id);
            const bool subdirectory = (target & kSubdirectory) != 0;
            if (subdirectory != (level < 2))
                return fail("the resource tree is not of type, name and language", problem);
            if (subdirectory) {
                if (!directory(target & ~kSubdirectory, level + 1, path, resources, problem)) return false;
            } else if (!leaf(target, path, resources, problem)) {
                return false;
            }
        }
        return true;
    }

    bool leaf(std::size_t offset, Resource resource, std::vector<Resource>& resources, std::string& problem) {
        if (resources.size() == kMaxResources) return fail("too many resources", problem);
        if (!inTree(offset, kDataEntrySize)) return fail("a resource data entry lies outside the tree", problem);
        const std::size_t at = base_ + offset;
        const std::uint32_t address = read32(bytes_, at);
        const std::uint32_t size = read32(bytes_, at + 4);
        resource.codePage = read32(bytes_, at + 8);
        std::size_t data = 0;
        if (!fileOffsetOf(image_, address, size, data)) return fail("a resource's data lie outside the file", problem);
        resource.data = bytes_.substr(data, size);
        resources.push_back(std::move(resource));
        return true;
    }

    static bool fail(const char* text, std::string& problem) {
        problem = text;
        return false;
    }

    const std::string& bytes_;
    const Image& image_;
    std::size_t base_;
    std::size_t limit_;
};

void put32(std::string& bytes, std::size_t offset, std::uint32_t value) {
    pe::writeLittleEndian32(bytes, offset, value);
}

// The layout every tree gets: the root directory, the type directories,
// the name directories, the data entries, then the data, each 8-aligned;
// entries sorted by number; no time stamp, versions or characteristics.
std::string buildTree(const std::vector<Resource>& resources, std::uint32_t sectionAddress) {
    std::map<std::uint16_t, std::map<std::uint16_t, std::vector<std::size_t>>> tree;
    for (std::size_t i = 0; i < resources.size(); ++i) tree[resources[i].type][resources[i].name].push_back(i);

    std::size_t nameDirectories = 0;
    for (const auto& type : tree) nameDirectories += type.second.size();
    const auto directorySize = [](std::size_t entries) { return kDirectorySize + entries * kDirectoryEntrySize; };
    std::size_t size = directorySize(tree.size());
    for (const auto& type : tree) size += directorySize(type.second.size());
    for (const auto& type : tree)
        for (const auto& name : type.second) size += directorySize(name.second.size());
    const std::size_t dataEntries = size;
    size += resources.size() * kDataEntrySize;

    std::string bytes(size, '\0');
    std::size_t nextDirectory = 0;
    const auto directory = [&](std::size_t entries) {
        const std::size_t at = nextDirectory;
        pe::writeLittleEndian(bytes, at + 14, static_cast<std::uint32_t>(entries), 2);
        nextDirectory += directorySize(entries);
        return at;
    };
    const std::size_t root = directory(tree.size());
    std::vector<std::size_t> typeDirectories;
    std::size_t index = 0;
    for (const auto& type : tree) {
        const std::size_t at = directory(type.second.size());
        put32(bytes, root + kDirectorySize + index * kDirectoryEntrySize, type.first);
        put32(bytes, root + kDirectorySize + index * kDirectoryEntrySize + 4, static_cast<std::uint32_t>(at) | kSubdirectory);
        typeDirectories.push_back(at);
        ++index;
    }
    std::size_t leaf = 0;
    std::size_t typeIndex = 0;
    for (const auto& type : tree) {
        std::size_t nameIndex = 0;
        for (const auto& name : type.second) {
            const std::size_t at = directory(name.second.size());
            const std::size_t entry = typeDirectories[typeIndex] + kDirectorySize + nameIndex * kDirectoryEntrySize;
            put32(bytes, entry, name.first);
            put32(bytes, entry + 4, static_cast<std::uint32_t>(at) | kSubdirectory);
            for (std::size_t i = 0; i < name.second.size(); ++i) {
                const Resource& resource = resources[name.second[i]];
                put32(bytes, at + kDirectorySize + i * kDirectoryEntrySize, resource.language);
                put32(bytes, at + kDirectorySize + i * kDirectoryEntrySize + 4,
                      static_cast<std::uint32_t>(dataEntries + leaf * kDataEntrySize));
                ++leaf;
            }
            ++nameIndex;
        }
        ++typeIndex;
    }
    leaf = 0;
    for (const auto& type : tree) {
        for (const auto& name : type.second) {
            for (std::size_t i : name.second) {
                bytes.resize(alignUp(bytes.size(), kDataAlignment), '\0');
                const std::size_t entry = dataEntries + leaf * kDataEntrySize;
                put32(bytes, entry, sectionAddress + static_cast<std::uint32_t>(bytes.size()));
                put32(bytes, entry + 4, static_cast<std::uint32_t>(resources[i].data.size()));
                put32(bytes, entry + 8, resources[i].codePage);
                bytes += resources[i].data;
                ++leaf;
            }
        }
    }
    return bytes;
}

} // namespace

bool readResources(const std::string& bytes, std::vector<Resource>& resources, std::string& problem) {
    resources.clear();
    Image image;
    if (!readImage(bytes, image, problem)) return false;
    const std::uint32_t address = read32(bytes, image.resourceEntry);
    const std::uint32_t size = read32(bytes, image.resourceEntry + 4);
    if (address == 0) return true;
    std::size_t base = 0;
    if (!fileOffsetOf(image, address, size, base)) {
        problem = "the resource directory lies outside the file";
        return false;
    }
    if (!TreeReader(bytes, image, base, size).read(resources, problem)) {
        problem = "damaged resources: " + problem;
        return false;
    }
    return true;
}

bool replaceResources(std::string& bytes, std::vector<Resource> resources, std::string& problem) {
    Image image;
    if (!readImage(bytes, image, problem)) return false;
    std::stable_sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
        return std::tie(a.type, a.name, a.language) < std::tie(b.type, b.name, b.language);
    });
    for (std::size_t i = 1; i < resources.size(); ++i) {
        if (std::tie(resources[i - 1].type, resources[i - 1].name, resources[i - 1].language) ==
            std::tie(resources[i].type, resources[i].name, resources[i].language)) {
            problem = "two resources of type " + std::to_string(resources[i].type) + " with number " +
                      std::to_string(resources[i].name);
            return false;
        }
    }
    const std::size_t optional = image.layout.optionalHeaderOffset;
    std::uint32_t initializedData = read32(bytes, optional + kInitializedDataSize);

    // The old tree is dropped when nothing follows it, in memory or in the
    // file; otherwise it stays, unused, where other sections still point past it.
    const std::uint32_t oldAddress = read32(bytes, image.resourceEntry);
    if (oldAddress != 0 && !image.sections.empty()) {
        const Section& last = image.sections.back();
        bool endsEverything = last.fileEnd() == bytes.size() && last.rawSize != 0;
        for (const Section& section : image.sections) endsEverything &= section.memoryEnd() <= last.memoryEnd();
        if (endsEverything && oldAddress >= last.virtualAddress && oldAddress < last.memoryEnd()) {
            bytes.resize(last.rawPointer);
            bytes.replace(last.header, kSectionHeaderSize, kSectionHeaderSize, '\0');
            if (last.characteristics & 0x40) initializedData -= last.rawSize;
            image.sections.pop_back();
        }
    }
    std::uint64_t fileEnd = 0;
    std::uint64_t memoryEnd = 0;
    for (const Section& section : image.sections) {
        fileEnd = std::max(fileEnd, section.fileEnd());
        memoryEnd = std::max(memoryEnd, section.memoryEnd());
    }
    if (bytes.size() > fileEnd) {
        problem = std::to_string(bytes.size() - fileEnd) +
                  " bytes follow the program's last section (a symbol table?); give the launcher as it was built";
        return false;
    }
    const std::size_t slot = image.layout.sectionTableOffset + image.sections.size() * kSectionHeaderSize;
    std::uint64_t firstData = read32(bytes, optional + kHeadersSize);
    for (const Section& section : image.sections)
        if (section.rawSize != 0) firstData = std::min<std::uint64_t>(firstData, section.rawPointer);
    if (slot + kSectionHeaderSize > firstData ||
        bytes.compare(slot, kSectionHeaderSize, std::string(kSectionHeaderSize, '\0')) != 0) {
        problem = "the program's headers have no room for another section";
        return false;
    }

    const std::uint64_t address = alignUp(memoryEnd, image.sectionAlignment);
    const std::uint64_t rawPointer = alignUp(bytes.size(), image.fileAlignment);
    const std::string tree = buildTree(resources, static_cast<std::uint32_t>(address));
    const std::uint64_t rawSize = alignUp(tree.size(), image.fileAlignment);
    const std::uint64_t imageSize = alignUp(address + tree.size(), image.sectionAlignment);
    if (imageSize > 0xffffffffu || rawPointer + rawSize > 0xffffffffu) {
        problem = "the resources would make the program larger than 4 GiB";
        return false;
    }
    bytes.resize(rawPointer, '\0');
    bytes += tree;
    bytes.resize(rawPointer + rawSize, '\0');

    bytes.replace(slot, 8, std::string(".rsrc\0\0\0", 8));
    put32(bytes, slot + 8, static_cast<std::uint32_t>(tree.size()));
    put32(bytes, slot + 12, static_cast<std::uint32_t>(address));
    put32(bytes, slot + 16, static_cast<std::uint32_t>(rawSize));
    put32(bytes, slot + 20, static_cast<std::uint32_t>(rawPointer));
    put32(bytes, slot + 36, kReadableInitializedData);
    const std::size_t coffSectionCount = image.layout.optionalHeaderOffset - 20 + 2;
    pe::writeLittleEndian(bytes, coffSectionCount, static_cast<std::uint32_t>(image.sections.size() + 1), 2);
    put32(bytes, optional + kInitializedDataSize, initializedData + static_cast<std::uint32_t>(rawSize));
    put32(bytes, optional + kImageSize, static_cast<std::uint32_t>(imageSize));
    put32(bytes, image.resourceEntry, static_cast<std::uint32_t>(address));
    put32(bytes, image.resourceEntry + 4, static_cast<std::uint32_t>(tree.size()));
    return true;
}

} // namespace pack
} // namespace talve

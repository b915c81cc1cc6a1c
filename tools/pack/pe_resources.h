#pragma once

// The resources of a Windows program: read from its resource directory and
// written back as a new one. The tree is laid out in one fixed way (see
// pe_resources.cpp), which the Maven plugin's PeResources.java repeats byte
// for byte: keep the two in step.

#include <cstdint>
#include <string>
#include <vector>

namespace talve {
namespace pack {

constexpr std::uint16_t kResourceIcon = 3;
constexpr std::uint16_t kResourceIconGroup = 14;
constexpr std::uint16_t kResourceVersion = 16;
constexpr std::uint16_t kResourceManifest = 24;

// One leaf of the tree. Only numbered types, names and languages: what
// resource compilers make of a program's own numbered resources.
struct Resource {
    std::uint16_t type = 0;
    std::uint16_t name = 0;
    std::uint16_t language = 0;
    std::uint32_t codePage = 0;
    std::string data;
};

// The leaves of a program's resource tree, in the tree's order. False with
// `problem` when the tree is damaged or holds what cannot be written back
// (a named entry, a tree deeper than type, name and language).
bool readResources(const std::string& image, std::vector<Resource>& resources, std::string& problem);

// Gives the program `resources` in place of its own: the tree goes into a
// section of its own at the end of the image, which replaces the old
// resource section when that one ends the image and the file. Headers are
// kept right except the checksum, which the caller sets once the file is
// complete. False with `problem` when the program has no room for it.
bool replaceResources(std::string& image, std::vector<Resource> resources, std::string& problem);

} // namespace pack
} // namespace talve

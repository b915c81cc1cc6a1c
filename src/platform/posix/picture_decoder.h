#pragma once

#include <string>
#include <vector>

namespace talve {

// A decoded picture, four bytes a pixel (red, green, blue, alpha), rows top down.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba;
};

// GIF (its first frame), PNG, JPEG or BMP; false when the file is none of
// them, is damaged, or is larger than a window can be.
bool decodePicture(const std::string& path, Picture& picture);

} // namespace talve

#pragma once

#include <cstdio>
#include <memory>

namespace talve {

struct FreePixels {
    void operator()(unsigned char* pixels) const;
};
using PixelBuffer = std::unique_ptr<unsigned char, FreePixels>;

// A decoded picture, four bytes a pixel (red, green, blue, alpha), rows top
// down, in one buffer that the window may then rewrite in its own format.
struct Picture {
    int width = 0;
    int height = 0;
    PixelBuffer rgba;
};

// GIF (its first frame), PNG, JPEG or BMP. Reads only as far as the size
// and leaves the file where it was; false when the file is none of them.
bool readPictureSize(std::FILE* file, int& width, int& height);

// Decodes from where the file stands; false when it is damaged, or is not
// the size that readPictureSize found.
bool decodePicture(std::FILE* file, int width, int height, Picture& picture);

} // namespace talve

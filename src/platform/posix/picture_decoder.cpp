#include "platform/posix/picture_decoder.h"

// Only the formats a splash picture comes in; the rest of the library is
// left out so that no other decoder sees the file.
#define STBI_ONLY_GIF
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_NO_HDR
#define STBI_NO_LINEAR
// X11 windows cannot be larger than this in either direction.
#define STBI_MAX_DIMENSIONS 32767
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace talve {

void FreePixels::operator()(unsigned char* pixels) const { stbi_image_free(pixels); }

bool readPictureSize(std::FILE* file, int& width, int& height) {
    int channels = 0;
    return stbi_info_from_file(file, &width, &height, &channels) != 0;
}

bool decodePicture(std::FILE* file, int width, int height, Picture& picture) {
    int decodedWidth = 0, decodedHeight = 0, channels = 0;
    PixelBuffer pixels(stbi_load_from_file(file, &decodedWidth, &decodedHeight, &channels, 4));
    if (!pixels || decodedWidth != width || decodedHeight != height) return false;
    picture.width = width;
    picture.height = height;
    picture.rgba = std::move(pixels);
    return true;
}

} // namespace talve

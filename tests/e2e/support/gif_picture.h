#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct Rgb {
    std::uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const Rgb& other) const {
        return red == other.red && green == other.green && blue == other.blue;
    }
};

// A picture of four coloured quadrants, the bytes of a GIF file.
struct QuadrantPicture {
    int width = 200;
    int height = 120;
    Rgb topLeft{220, 30, 30}, topRight{30, 160, 60}, bottomLeft{40, 60, 200}, bottomRight{240, 200, 40};

    Rgb at(int x, int y) const;
    std::string gif() const;
};

} // namespace e2e

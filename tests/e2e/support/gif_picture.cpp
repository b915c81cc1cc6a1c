#include "support/gif_picture.h"

namespace e2e {

namespace {

// LZW codes of nine bits, least significant bit first, as GIF packs them.
class CodeWriter {
public:
    void put(unsigned code) {
        buffer_ |= code << bits_;
        bits_ += 9;
        while (bits_ >= 8) {
            bytes_.push_back(static_cast<char>(buffer_ & 0xFF));
            buffer_ >>= 8;
            bits_ -= 8;
        }
    }
    std::string finish() {
        if (bits_ > 0) bytes_.push_back(static_cast<char>(buffer_ & 0xFF));
        return bytes_;
    }

private:
    unsigned buffer_ = 0;
    int bits_ = 0;
    std::string bytes_;
};

void little16(std::string& out, int value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

} // namespace

Rgb QuadrantPicture::at(int x, int y) const {
    const bool left = x < width / 2, top = y < height / 2;
    return top ? (left ? topLeft : topRight) : (left ? bottomLeft : bottomRight);
}

// Every pixel is written as a literal code and the table is cleared before
// it could grow past nine bits: large, but any decoder reads it.
std::string QuadrantPicture::gif() const {
    const Rgb palette[4] = {topLeft, topRight, bottomLeft, bottomRight};
    std::string out = "GIF89a";
    little16(out, width);
    little16(out, height);
    out += {static_cast<char>(0xF7), 0, 0}; // global table of 256 colours
    for (int i = 0; i < 256; ++i) {
        const Rgb colour = palette[i % 4];
        out += {static_cast<char>(colour.red), static_cast<char>(colour.green), static_cast<char>(colour.blue)};
    }
    out.push_back(',');
    little16(out, 0);
    little16(out, 0);
    little16(out, width);
    little16(out, height);
    out.push_back(0);
    out.push_back(8); // minimum code size

    constexpr unsigned clear = 256, end = 257;
    CodeWriter codes;
    int sinceClear = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (sinceClear == 0) codes.put(clear);
            const bool left = x < width / 2, top = y < height / 2;
            codes.put(top ? (left ? 0 : 1) : (left ? 2 : 3));
            sinceClear = (sinceClear + 1) % 250;
        }
    }
    codes.put(end);
    const std::string data = codes.finish();
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::string block = data.substr(at, 255);
        out.push_back(static_cast<char>(block.size()));
        out += block;
    }
    out.push_back(0);
    out.push_back(';');
    return out;
}

} // namespace e2e

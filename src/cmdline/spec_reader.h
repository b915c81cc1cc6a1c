#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace talve {

struct SpecItem {
    enum class Kind { BlockOpen, BlockClose, Attribute };
    Kind kind = Kind::Attribute;
    std::string name;
    std::string value;
};

// Splits an argument specification into block openings, block closings and
// attribute lines. A line of no known form, or a closing line without an
// open block, makes next() return false once; reading may then go on with
// the line after it.
class SpecReader {
public:
    explicit SpecReader(const std::string& text);

    bool next();
    const SpecItem& item() const { return item_; }

private:
    bool takeLine(std::string& line);

    std::string text_;
    std::size_t offset_ = 0;
    bool atEnd_ = false;
    std::vector<std::string> openBlocks_;
    SpecItem item_;
};

} // namespace talve

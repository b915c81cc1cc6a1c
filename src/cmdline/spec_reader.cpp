#include "cmdline/spec_reader.h"

namespace talve {

namespace {

std::string trimmed(const std::string& text) {
    const char* blanks = " \t";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

} // namespace

SpecReader::SpecReader(const std::string& text) : text_(text.substr(0, text.find('\0'))) {}

// Every CR and every LF ends a line, so CR LF leaves an empty line between
// them that the caller skips like any other blank line.
bool SpecReader::takeLine(std::string& line) {
    if (atEnd_) return false;
    std::size_t end = text_.find_first_of("\r\n", offset_);
    if (end == std::string::npos) {
        line = text_.substr(offset_);
        atEnd_ = true;
    } else {
        line = text_.substr(offset_, end - offset_);
        offset_ = end + 1;
        atEnd_ = offset_ >= text_.size();
    }
    return true;
}

bool SpecReader::next() {
    std::string line;
    do {
        if (!takeLine(line)) return false;
        line = trimmed(line);
    } while (line.empty());

    std::size_t equals = line.find('=');
    if (equals != std::string::npos) {
        item_ = {SpecItem::Kind::Attribute, trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1))};
        return true;
    }
    if (line.back() == '{') {
        item_ = {SpecItem::Kind::BlockOpen, trimmed(line.substr(0, line.size() - 1)), std::string()};
        openBlocks_.push_back(item_.name);
        return true;
    }
    if (line.front() == '}' && !openBlocks_.empty()) {
        item_ = {SpecItem::Kind::BlockClose, openBlocks_.back(), std::string()};
        openBlocks_.pop_back();
        return true;
    }
    return false;
}

} // namespace talve

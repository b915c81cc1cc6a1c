#include "bootstrap/property_map.h"

#include "common/text_lines.h"

namespace talve {

namespace {
constexpr std::size_t lineBuffer = 1024;
// A reference to itself, directly or through other keys, would expand
// without end; these bounds stop it and leave the rest of the text as it is.
constexpr int maxExpansions = 64;
constexpr std::size_t maxExpandedLength = 64 * 1024;

std::string trimmed(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
    return text.substr(begin, end - begin);
}

std::string unescaped(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (text[i] == '\\' && (next == '\\' || next == ':' || next == '=')) {
            result += next;
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}
} // namespace

void PropertyMap::load(const std::string& text, bool crLf) {
    for (const std::string& line : linesFittingBuffer(text, lineBuffer, crLf)) parseLine(line);
}

void PropertyMap::parseLine(const std::string& line) {
    if (line.empty() || line[0] == '#') return;
    std::size_t equals = line.find('=');
    if (equals == std::string::npos) return;
    values_[unescaped(trimmed(line.substr(0, equals)))] = unescaped(trimmed(line.substr(equals + 1)));
}

std::string PropertyMap::get(const std::string& key) const {
    auto found = values_.find(key);
    if (found == values_.end()) return std::string();
    std::string value = found->second;
    for (int round = 0; round < maxExpansions && value.size() <= maxExpandedLength; ++round) {
        std::size_t open = value.find("?{");
        if (open == std::string::npos) break;
        std::size_t close = value.find("}?", open + 2);
        if (close == std::string::npos) break;
        auto referenced = values_.find(value.substr(open + 2, close - open - 2));
        value.replace(open, close + 2 - open, referenced == values_.end() ? "@@" : referenced->second);
    }
    return value;
}

} // namespace talve

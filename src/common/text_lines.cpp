#include "common/text_lines.h"

namespace talve {

std::vector<std::string> linesFittingBuffer(const std::string& text, std::size_t bufferSize, bool crLf) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        const bool terminated = end != std::string::npos;
        if (!terminated) end = text.size();
        std::size_t contentEnd = end;
        if (crLf && terminated && contentEnd > begin && text[contentEnd - 1] == '\r') --contentEnd;
        const std::size_t stored = contentEnd - begin + (terminated ? 1 : 0);
        if (stored + 1 <= bufferSize) lines.push_back(text.substr(begin, contentEnd - begin));
        begin = end + 1;
    }
    return lines;
}

} // namespace talve

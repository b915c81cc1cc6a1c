#include "jvm/product_record.h"

#include "common/text_lines.h"

namespace talve {

std::optional<std::string> productHomeOf(const std::string& record) {
    const std::size_t lineFeed = record.find('\n');
    const std::string firstLine = lineFeed == std::string::npos ? record : record.substr(0, lineFeed + 1);
    const std::vector<std::string> lines = linesFittingBuffer(firstLine, productRecordLineBuffer, false);
    if (lines.empty() || lines.front().find('\0') != std::string::npos) return std::nullopt;
    return lines.front();
}

} // namespace talve

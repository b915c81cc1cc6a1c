#include "platform/command_line.h"

namespace talve {

namespace {
bool isBlank(char c) { return c == ' ' || c == '\t'; }
} // namespace

std::vector<std::string> splitCommandLine(const std::string& text) {
    std::vector<std::string> arguments;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (true) {
        while (i < n && isBlank(text[i])) ++i;
        if (i >= n) break;

        std::string argument;
        bool inQuotes = false;
        while (i < n && (inQuotes || !isBlank(text[i]))) {
            if (text[i] == '\\') {
                std::size_t backslashes = 0;
                while (i < n && text[i] == '\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < n && text[i] == '"') {
                    argument.append(backslashes / 2, '\\');
                    if (backslashes % 2 == 1) {
                        argument += '"';
                        ++i;
                    }
                } else {
                    argument.append(backslashes, '\\');
                }
            } else if (text[i] == '"') {
                // "" inside a quoted group stands for one literal quote.
                if (inQuotes && i + 1 < n && text[i + 1] == '"') {
                    argument += '"';
                    i += 2;
                } else {
                    inQuotes = !inQuotes;
                    ++i;
                }
            } else {
                argument += text[i++];
            }
        }
        arguments.push_back(argument);
    }
    return arguments;
}

std::string quoteArgument(const std::string& argument) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

} // namespace talve

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace talve {
namespace fuzz {

// Splits fuzz input at NUL bytes into a first part and the rest: a reader's
// text and, after the first NUL, the arguments or keys it is asked about.
struct SplitInput {
    std::string head;
    std::vector<std::string> rest;
};

inline SplitInput splitAtNul(const std::uint8_t* data, std::size_t size) {
    SplitInput input;
    std::string current;
    bool inHead = true;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != 0) {
            current += static_cast<char>(data[i]);
            continue;
        }
        if (inHead) input.head = current; else input.rest.push_back(current);
        inHead = false;
        current.clear();
    }
    if (inHead) input.head = current; else input.rest.push_back(current);
    return input;
}

// Bytes that readers take from a file go through a real file: the input is
// written to one scratch file per fuzzing process.
std::string writeScratchFile(const std::uint8_t* data, std::size_t size);

// Where the launcher's console lines go while fuzzing: millions of error
// lines on the terminal would slow the run to a crawl.
std::FILE* quietConsole();

} // namespace fuzz
} // namespace talve

#pragma once

// The test vectors of docs/protected-values.md, read from the document
// itself so that what implementers are shown is what is tested.

#include <string>
#include <vector>

namespace talve {
namespace test {

struct ValueVector {
    bool programKey = false;
    std::string key;     // bytes, empty for the program's key
    std::string ivHex;   // 32 hex digits
    std::string text;    // bytes
    std::string value;
};

// Rows "| user | `KEY` | `IV` | `TEXT` | `VALUE` |" and "| program | - | ...";
// "(empty)" stands for an empty text.
std::vector<ValueVector> documentedValueVectors(const std::string& documentPath);

} // namespace test
} // namespace talve

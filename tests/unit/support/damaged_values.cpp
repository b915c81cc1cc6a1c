#include "unit/support/damaged_values.h"

#include "crypto/protected_value.h"

#include <cstring>

namespace talve {
namespace test {

namespace {
std::string withCheckCharacter(std::string value) {
    if (value.empty()) return value;
    value.back() = crypto::checkCharacterFor(value.substr(0, value.size() - 1));
    return value;
}

void addBoth(std::vector<std::string>& out, const std::string& original, const std::string& damaged) {
    if (damaged != original) out.push_back(damaged);
    const std::string mended = withCheckCharacter(damaged);
    if (mended != original && mended != damaged) out.push_back(mended);
}

std::string substituted(const std::string& value, std::size_t at, std::size_t step) {
    std::string damaged = value;
    const char* found = std::strchr(crypto::valueAlphabet, damaged[at]);
    const std::size_t index = found ? static_cast<std::size_t>(found - crypto::valueAlphabet) : 0;
    damaged[at] = crypto::valueAlphabet[(index + step) % 64];
    return damaged;
}

std::string swapped(const std::string& value, std::size_t at) {
    std::string damaged = value;
    std::swap(damaged[at], damaged[at + 1]);
    return damaged;
}

// The IV is the first 16 bytes of the encoded body after the tag.
std::string withIvBitFlipped(const std::string& value, std::size_t bit) {
    auto body = crypto::decodeValueText(value.substr(crypto::valueTagLength, value.size() - crypto::valueTagLength - 1));
    if (!body || body->size() < 16) return value;
    (*body)[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    return withCheckCharacter(value.substr(0, crypto::valueTagLength) + crypto::encodeValueText(*body) + "?");
}
} // namespace

std::vector<std::string> damagedValues(const std::string& value) {
    std::vector<std::string> out;
    for (std::size_t at = 0; at < value.size(); ++at)
        for (std::size_t step = 1; step < 64; ++step) addBoth(out, value, substituted(value, at, step));
    for (std::size_t at = 0; at + 1 < value.size(); ++at) addBoth(out, value, swapped(value, at));
    for (std::size_t length = 0; length < value.size(); ++length) addBoth(out, value, value.substr(0, length));
    for (std::size_t bit = 0; bit < 128; ++bit) addBoth(out, value, withIvBitFlipped(value, bit));
    return out;
}

std::vector<std::string> sampleOfDamagedValues(const std::string& value) {
    const std::size_t n = value.size();
    std::size_t differingPair = 8;
    while (differingPair + 2 < n && value[differingPair] == value[differingPair + 1]) ++differingPair;
    return {
        withCheckCharacter(substituted(value, 6, 1)),      // in the IV
        withCheckCharacter(substituted(value, n / 2, 32)), // in the ciphertext
        withCheckCharacter(substituted(value, n - 3, 63)), // in the MAC
        withCheckCharacter(swapped(value, differingPair)),
        withCheckCharacter(value.substr(0, n - 22)),       // a whole block short
        withIvBitFlipped(value, 7),
    };
}

} // namespace test
} // namespace talve

// Protected values come from silent and record files anybody may edit: the
// decoder refuses what it cannot trust without reading out of bounds, and
// whatever text is protected comes back unchanged.
#include "crypto/protected_value.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const talve::crypto::ValueKey key = talve::crypto::programValueKey();
    const std::string text(reinterpret_cast<const char*>(data), size);

    talve::crypto::decodeValueText(text);
    talve::crypto::hasValidCheckCharacter(text);
    talve::crypto::revealValue(key, text);

    talve::crypto::IV iv{};
    for (std::size_t i = 0; i < iv.size() && i < size; ++i) iv[i] = data[size - 1 - i];
    std::string value;
    const int status = talve::crypto::protectValue(key, text, iv, value);
    if (text.size() > talve::crypto::longestValueText) {
        if (status != talve::crypto::valueTextTooLong) std::abort();
        return 0;
    }
    if (status != 0 || talve::crypto::revealValue(key, value) != text) std::abort();
    // Any one character changed in the body, the check character made right
    // again: the MAC must refuse it.
    if (value.size() > 5 && size > 0) {
        std::string altered = value;
        const std::size_t at = 4 + data[0] % (value.size() - 5);
        const char* alphabet = talve::crypto::valueAlphabet;
        altered[at] = alphabet[(std::strchr(alphabet, altered[at]) - alphabet + 1 + data[size - 1] % 63) % 64];
        altered.back() = talve::crypto::checkCharacterFor(altered.substr(0, altered.size() - 1));
        if (talve::crypto::revealValue(key, altered)) std::abort();
    }
    return 0;
}

// Protected values come from silent and record files anybody may edit: the
// decoder refuses what it cannot trust without reading out of bounds, and
// whatever text is protected comes back unchanged.
#include "crypto/protected_value.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const talve::crypto::ValueKey key = talve::crypto::programValueKey();
    const std::string text(reinterpret_cast<const char*>(data), size);

    talve::crypto::decodeValueText(text);
    talve::crypto::hasValidCheckCharacter(text);
    talve::crypto::revealValue(key, text);

    talve::crypto::IV iv{};
    for (std::size_t i = 0; i < iv.size() && i < size; ++i) iv[i] = data[size - 1 - i];
    std::string value;
    if (talve::crypto::protectValue(key, text, iv, value) != 0) std::abort();
    if (talve::crypto::revealValue(key, value) != text) std::abort();
    return 0;
}

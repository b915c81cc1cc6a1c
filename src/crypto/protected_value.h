#pragma once

// Protected property values: the form in which the launcher hands the record
// key to the installer jar, and in which silent and record files carry the
// values an installer marks as encrypted.
//
//   value = tag (4 characters) + text(IV, ciphertext) + check character
//
// AES-256 in CBC mode with PKCS#7 padding and a fresh random IV; "text" is a
// base64 form with the alphabet below, without padding characters. The check
// character is the alphabet's character at the sum of the bytes of all other
// characters, modulo 64. Values under the program's own key carry the tag
// "----"; values under a user's key carry a tag derived from that key, so all
// values of one key share it. tools/java/TalveProtectedValue.java reads and
// writes the same format and must change with this file.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talve {
namespace crypto {

extern const char valueAlphabet[];          // 64 characters
constexpr std::size_t valueTagLength = 4;
constexpr std::size_t shortestValue = 20;   // every value is at least this long
extern const char programKeyTag[];          // "----"
// The user-key derivation: PBKDF2-HMAC-SHA-256 with this salt and count.
extern const char userKeySalt[];
constexpr std::uint32_t userKeyIterations = 120000;

using IV = std::array<std::uint8_t, 16>;

std::string encodeValueText(const std::vector<std::uint8_t>& bytes);
std::optional<std::vector<std::uint8_t>> decodeValueText(const std::string& text);

char checkCharacterFor(const std::string& valueWithoutCheck);
bool hasValidCheckCharacter(const std::string& value);

struct ValueKey {
    std::array<std::uint8_t, 32> aesKey{};
    std::string tag;
};

// The key built from data the program carries; the same in every copy of it.
ValueKey programValueKey();
// The key of a user's key text (slow on purpose: a derivation per call).
ValueKey userValueKey(const std::string& keyText);

// Protects text (length bytes, any bytes) with key and iv into value.
// Returns 0, or -1 after printing "makeKey failed: %u" / "cipherInit failed: %u".
int protectValue(const ValueKey& key, const std::string& text, const IV& iv, std::string& value);
// The text of a value that key fits, or nothing: wrong tag, damaged text,
// wrong check character, or padding that does not decrypt as valid.
std::optional<std::string> revealValue(const ValueKey& key, const std::string& value);
inline bool keyFitsValue(const ValueKey& key, const std::string& value) { return revealValue(key, value).has_value(); }

} // namespace crypto
} // namespace talve

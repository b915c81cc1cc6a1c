#pragma once

// Protected property values: the form in which the launcher hands the record
// key to the installer jar, and in which silent and record files carry the
// values an installer marks as encrypted. docs/protected-values.md states the
// format for other implementations; tools/java/TalveProtectedValue.java
// reads and writes it too and must change with this file.
//
//   value = tag (4 characters) + text(IV, ciphertext, MAC) + check character
//
// AES-256-CBC with PKCS#7 padding under a fresh random IV, then HMAC-SHA-256
// over the tag, the IV and the ciphertext with a key of its own: nothing of a
// value is decrypted before its MAC has been found right.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talve {
namespace crypto {

extern const char valueAlphabet[];          // 64 characters
constexpr std::size_t valueTagLength = 4;
constexpr std::size_t shortestValue = 20;   // the silent check's first test; every value is longer
extern const char programKeyTag[];          // "----"
// The user-key derivation: PBKDF2-HMAC-SHA-256 with this salt and count.
extern const char userKeySalt[];
constexpr std::uint32_t userKeyIterations = 600000;
// Answers files read lines of 8192 characters: a value of this many bytes
// of text (some 5,550 characters) still fits in one with its name.
constexpr std::size_t longestValueText = 4096;
constexpr std::size_t valueMacBytes = 32;

using IV = std::array<std::uint8_t, 16>;
using KeyBytes = std::array<std::uint8_t, 32>;

std::string encodeValueText(const std::vector<std::uint8_t>& bytes);
std::optional<std::vector<std::uint8_t>> decodeValueText(const std::string& text);

char checkCharacterFor(const std::string& valueWithoutCheck);
bool hasValidCheckCharacter(const std::string& value);

struct ValueKey {
    KeyBytes encryptionKey{};
    KeyBytes authenticationKey{};
    std::string tag;
};

// The key built from data the program carries; the same in every copy of
// it, so anybody who holds the program holds it.
ValueKey programValueKey();
// The key of a user's key text (slow on purpose: a derivation per call);
// nothing for an empty text, which is no key.
std::optional<ValueKey> userValueKey(const std::string& keyText);
// Both kinds of key from their 32-byte master key.
ValueKey valueKeyFromMaster(const KeyBytes& master, const std::string& tag);

enum : int { valueTextTooLong = -2 };
// Protects text (length bytes, any bytes) with key and iv into value.
// Returns 0; valueTextTooLong for more than longestValueText bytes; or -1
// after printing "makeKey failed: %u" / "cipherInit failed: %u" or when the
// cipher refuses its input.
int protectValue(const ValueKey& key, const std::string& text, const IV& iv, std::string& value);
// The text of a value that key fits, or nothing; one answer for a wrong
// tag, a wrong check character, text outside the encoding, a length the
// format cannot have, a wrong MAC and bad padding.
std::optional<std::string> revealValue(const ValueKey& key, const std::string& value);
inline bool keyFitsValue(const ValueKey& key, const std::string& value) { return revealValue(key, value).has_value(); }

} // namespace crypto
} // namespace talve

#include "crypto/protected_value.h"

#include "crypto/aes.h"
#include "crypto/sha256.h"

#include <cstdio>
#include <cstring>

namespace talve {
namespace crypto {

// No "=", ":", "#", "!", "\" or blanks: values stand in properties files as
// they are. No "-" either, so that no user key's tag can be "----".
const char valueAlphabet[] = "q7KfZ2xNcVb9LmW4tRgY0pJhD5sAe8TuiB3oXkC1nGvMzy6HSjrwQPIaUElF_.dO";
const char programKeyTag[] = "----";
const char userKeySalt[] = "talve-launcher protected property values 2";

namespace {
constexpr std::size_t blockSize = aesBlockBytes;

int alphabetIndex(char c) {
    const char* found = std::strchr(valueAlphabet, c);
    return (found && c != '\0') ? static_cast<int>(found - valueAlphabet) : -1;
}

// Public by nature (every copy of the program carries it); the two halves
// only keep it from showing as one string to someone paging through the file.
const std::uint8_t programKeyShareA[32] = {0x5e, 0x13, 0xa7, 0x42, 0x9c, 0x0b, 0xd8, 0x61, 0x37, 0xf2, 0x84,
                                           0x1d, 0x6a, 0xc5, 0x20, 0xbe, 0x73, 0x09, 0xe4, 0x5f, 0x98, 0x2c,
                                           0xd1, 0x46, 0x0e, 0xb7, 0x6b, 0x35, 0xfa, 0x81, 0x1c, 0x57};
const std::uint8_t programKeyShareB[32] = {0x2a, 0x72, 0xcb, 0x34, 0xf9, 0x24, 0xa4, 0x00, 0x41, 0x97, 0xa9,
                                           0x71, 0x05, 0xa0, 0x44, 0xcb, 0x06, 0x6d, 0xcb, 0x2f, 0xf1, 0x4f,
                                           0xb4, 0x69, 0x7e, 0xc5, 0x04, 0x51, 0x8f, 0xe2, 0x79, 0x23};

// HKDF-Expand (RFC 5869) of one block: HMAC(master, label || 0x01).
KeyBytes subKey(const KeyBytes& master, const char* label) {
    return hmacSha256(std::string(master.begin(), master.end()), std::string(label) + '\x01');
}

bool sameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
    // Constant time: how much of a forged MAC is right must not show in the time taken.
    std::uint8_t difference = 0;
    for (std::size_t i = 0; i < size; ++i) difference |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    return difference == 0;
}

Digest macOf(const ValueKey& key, const std::uint8_t* data, std::size_t size) {
    std::string message = key.tag;
    message.append(reinterpret_cast<const char*>(data), size);
    return hmacSha256(std::string(key.authenticationKey.begin(), key.authenticationKey.end()), message);
}
} // namespace

std::string encodeValueText(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    std::uint32_t bits = 0;
    int bitCount = 0;
    for (std::uint8_t byte : bytes) {
        bits = (bits << 8) | byte;
        bitCount += 8;
        while (bitCount >= 6) {
            bitCount -= 6;
            text.push_back(valueAlphabet[(bits >> bitCount) & 63]);
        }
    }
    if (bitCount > 0) text.push_back(valueAlphabet[(bits << (6 - bitCount)) & 63]);
    return text;
}

std::optional<std::vector<std::uint8_t>> decodeValueText(const std::string& text) {
    // A lone trailing character carries fewer than 8 bits: no such text is made.
    if (text.size() % 4 == 1) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::uint32_t bits = 0;
    int bitCount = 0;
    for (char c : text) {
        const int index = alphabetIndex(c);
        if (index < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(index);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            bytes.push_back(static_cast<std::uint8_t>(bits >> bitCount));
        }
    }
    // Only the one text that encodes these bytes is accepted.
    if ((bits & ((1u << bitCount) - 1)) != 0) return std::nullopt;
    return bytes;
}

char checkCharacterFor(const std::string& valueWithoutCheck) {
    unsigned sum = 0;
    for (char c : valueWithoutCheck) sum += static_cast<unsigned char>(c);
    return valueAlphabet[sum % 64];
}

bool hasValidCheckCharacter(const std::string& value) {
    if (value.empty()) return false;
    return checkCharacterFor(value.substr(0, value.size() - 1)) == value.back();
}

ValueKey valueKeyFromMaster(const KeyBytes& master, const std::string& tag) {
    ValueKey key;
    key.encryptionKey = subKey(master, "talve protected value encryption");
    key.authenticationKey = subKey(master, "talve protected value authentication");
    key.tag = tag;
    return key;
}

ValueKey programValueKey() {
    std::string combined(32, '\0');
    for (std::size_t i = 0; i < combined.size(); ++i)
        combined[i] = static_cast<char>(programKeyShareA[i] ^ programKeyShareB[i]);
    return valueKeyFromMaster(sha256(combined), programKeyTag);
}

std::optional<ValueKey> userValueKey(const std::string& keyText) {
    if (keyText.empty()) return std::nullopt;
    const std::vector<std::uint8_t> derived = pbkdf2HmacSha256(keyText, userKeySalt, userKeyIterations, 32);
    KeyBytes master;
    std::copy(derived.begin(), derived.end(), master.begin());
    const KeyBytes tagBytes = subKey(master, "talve protected value tag");
    const std::string tag =
        encodeValueText(std::vector<std::uint8_t>(tagBytes.begin(), tagBytes.end())).substr(0, valueTagLength);
    return valueKeyFromMaster(master, tag);
}

int protectValue(const ValueKey& key, const std::string& text, const IV& iv, std::string& value) {
    if (text.size() > longestValueText) return valueTextTooLong;
    KeyInstance aesKey;
    int status = makeKey(aesKey, KeyDirection::encrypt, 256, key.encryptionKey.data());
    if (status != aesTrue) {
        std::printf("makeKey failed: %u\n", static_cast<unsigned>(status));
        return -1;
    }
    CipherInstance cipher;
    status = cipherInit(cipher, CipherMode::cbc, iv.data());
    if (status != aesTrue) {
        std::printf("cipherInit failed: %u\n", static_cast<unsigned>(status));
        return -1;
    }
    const std::size_t padding = blockSize - text.size() % blockSize;
    std::vector<std::uint8_t> data(iv.begin(), iv.end());
    data.insert(data.end(), text.begin(), text.end());
    data.insert(data.end(), padding, static_cast<std::uint8_t>(padding));
    const std::size_t cipherBytes = data.size() - blockSize;
    // A refused length would leave the text in clear where the ciphertext belongs.
    if (blockEncrypt(cipher, aesKey, data.data() + blockSize, cipherBytes, data.data() + blockSize) !=
        static_cast<int>(cipherBytes))
        return -1;
    const Digest mac = macOf(key, data.data(), data.size());
    data.insert(data.end(), mac.begin(), mac.end());
    value = key.tag + encodeValueText(data);
    value.push_back(checkCharacterFor(value));
    return 0;
}

std::optional<std::string> revealValue(const ValueKey& key, const std::string& value) {
    if (value.size() < shortestValue || value.compare(0, valueTagLength, key.tag) != 0 ||
        !hasValidCheckCharacter(value))
        return std::nullopt;
    const auto data = decodeValueText(value.substr(valueTagLength, value.size() - valueTagLength - 1));
    if (!data || data->size() < 2 * blockSize + valueMacBytes) return std::nullopt;
    const std::size_t cipherBytes = data->size() - blockSize - valueMacBytes;
    if (cipherBytes % blockSize != 0 || cipherBytes > longestValueText + blockSize) return std::nullopt;
    const Digest mac = macOf(key, data->data(), blockSize + cipherBytes);
    if (!sameBytes(mac.data(), data->data() + blockSize + cipherBytes, valueMacBytes)) return std::nullopt;

    KeyInstance aesKey;
    CipherInstance cipher;
    if (makeKey(aesKey, KeyDirection::decrypt, 256, key.encryptionKey.data()) != aesTrue ||
        cipherInit(cipher, CipherMode::cbc, data->data()) != aesTrue)
        return std::nullopt;
    std::vector<std::uint8_t> plain(cipherBytes);
    if (blockDecrypt(cipher, aesKey, data->data() + blockSize, cipherBytes, plain.data()) !=
        static_cast<int>(cipherBytes))
        return std::nullopt;
    // Only a writer that holds the key yet pads wrongly gets here.
    const std::uint8_t padding = plain.back();
    if (padding == 0 || padding > blockSize) return std::nullopt;
    for (std::size_t i = plain.size() - padding; i < plain.size(); ++i)
        if (plain[i] != padding) return std::nullopt;
    return std::string(plain.begin(), plain.end() - padding);
}

} // namespace crypto
} // namespace talve

#pragma once

// AES (Rijndael with 128-bit blocks) behind the interface of the algorithm's
// reference code: a key instance made by makeKey, a cipher instance set up by
// cipherInit, and whole-block encryption and decryption. Results follow the
// reference too: 1 for success, a negative code for a refused argument.

#include <cstddef>
#include <cstdint>

namespace talve {
namespace crypto {

constexpr int aesBlockBytes = 16;
constexpr int aesMaxRounds = 14;

enum : int { aesTrue = 1, badKeyDirection = -1, badKeyMaterial = -2, badKeyInstance = -3, badCipherMode = -4,
             badCipherState = -5, badInputLength = -6 };
enum class KeyDirection { encrypt, decrypt };
enum class CipherMode { ecb, cbc };

struct KeyInstance {
    KeyDirection direction = KeyDirection::encrypt;
    int keyBits = 0;
    int rounds = 0;
    std::uint8_t roundKeys[(aesMaxRounds + 1) * aesBlockBytes] = {};
};

struct CipherInstance {
    CipherMode mode = CipherMode::ecb;
    // The chaining value; blockEncrypt and blockDecrypt move it on, so that
    // consecutive calls continue one CBC stream.
    std::uint8_t iv[aesBlockBytes] = {};
};

// keyBits is 128, 192 or 256; keyMaterial holds keyBits / 8 bytes.
int makeKey(KeyInstance& key, KeyDirection direction, int keyBits, const std::uint8_t* keyMaterial);
// iv (16 bytes) is needed in CBC mode only and may be null in ECB mode.
int cipherInit(CipherInstance& cipher, CipherMode mode, const std::uint8_t* iv);
// Both take whole blocks: inputBytes a multiple of 16. They return the number
// of bytes processed, or a negative code.
int blockEncrypt(CipherInstance& cipher, const KeyInstance& key, const std::uint8_t* input, std::size_t inputBytes,
                 std::uint8_t* output);
int blockDecrypt(CipherInstance& cipher, const KeyInstance& key, const std::uint8_t* input, std::size_t inputBytes,
                 std::uint8_t* output);

} // namespace crypto
} // namespace talve

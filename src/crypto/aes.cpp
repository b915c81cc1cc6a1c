#include "crypto/aes.h"

#include <cstring>

namespace talve {
namespace crypto {

namespace {
// The S-box is derived rather than tabled: the multiplicative inverse in
// GF(2^8) followed by the affine map, as the standard defines it. The
// compiler derives it, so the launcher carries it as constant data and does
// no work for it on a run that never protects a value.
constexpr std::uint8_t multiply(std::uint8_t a, std::uint8_t b) {
    std::uint8_t product = 0;
    while (b) {
        if (b & 1) product ^= a;
        a = static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
        b >>= 1;
    }
    return product;
}

// x^254, which is x^-1 in GF(2^8) and 0 for 0.
constexpr std::uint8_t multiplicativeInverse(std::uint8_t x) {
    std::uint8_t result = 1;
    std::uint8_t power = x;
    for (int exponent = 254; exponent != 0; exponent >>= 1) {
        if (exponent & 1) result = multiply(result, power);
        power = multiply(power, power);
    }
    return result;
}

struct SubstitutionBoxes {
    std::uint8_t forward[256] = {};
    std::uint8_t inverse[256] = {};
};

constexpr SubstitutionBoxes makeSubstitutionBoxes() {
    SubstitutionBoxes boxes;
    for (int x = 0; x < 256; ++x) {
        const std::uint8_t inv = multiplicativeInverse(static_cast<std::uint8_t>(x));
        std::uint8_t s = inv;
        for (int shift = 1; shift <= 4; ++shift)
            s ^= static_cast<std::uint8_t>((inv << shift) | (inv >> (8 - shift)));
        s ^= 0x63;
        boxes.forward[x] = s;
        boxes.inverse[s] = static_cast<std::uint8_t>(x);
    }
    return boxes;
}

constexpr SubstitutionBoxes substitutionBoxes = makeSubstitutionBoxes();
static_assert(substitutionBoxes.forward[0x00] == 0x63 && substitutionBoxes.forward[0x53] == 0xed &&
                  substitutionBoxes.inverse[0x63] == 0x00,
              "S-box entries given in the standard");

const SubstitutionBoxes& boxes() { return substitutionBoxes; }

void addRoundKey(std::uint8_t* state, const std::uint8_t* roundKey) {
    for (int i = 0; i < aesBlockBytes; ++i) state[i] ^= roundKey[i];
}

void subBytes(std::uint8_t* state, const std::uint8_t* box) {
    for (int i = 0; i < aesBlockBytes; ++i) state[i] = box[state[i]];
}

// The state is column-major: byte r + 4c is row r of column c.
void shiftRows(std::uint8_t* state, bool inverse) {
    std::uint8_t copy[aesBlockBytes];
    std::memcpy(copy, state, aesBlockBytes);
    for (int r = 1; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            const int from = inverse ? (c + 4 - r) % 4 : (c + r) % 4;
            state[r + 4 * c] = copy[r + 4 * from];
        }
}

void mixColumns(std::uint8_t* state, bool inverse) {
    const std::uint8_t forwardRow[4] = {2, 3, 1, 1};
    const std::uint8_t inverseRow[4] = {14, 11, 13, 9};
    const std::uint8_t* row = inverse ? inverseRow : forwardRow;
    for (int c = 0; c < 4; ++c) {
        std::uint8_t column[4];
        std::memcpy(column, state + 4 * c, 4);
        for (int r = 0; r < 4; ++r) {
            std::uint8_t value = 0;
            for (int k = 0; k < 4; ++k) value ^= multiply(row[(k - r + 4) % 4], column[k]);
            state[r + 4 * c] = value;
        }
    }
}

void encryptBlock(const KeyInstance& key, std::uint8_t* state) {
    const std::uint8_t* box = boxes().forward;
    addRoundKey(state, key.roundKeys);
    for (int round = 1; round <= key.rounds; ++round) {
        subBytes(state, box);
        shiftRows(state, false);
        if (round != key.rounds) mixColumns(state, false);
        addRoundKey(state, key.roundKeys + round * aesBlockBytes);
    }
}

void decryptBlock(const KeyInstance& key, std::uint8_t* state) {
    const std::uint8_t* box = boxes().inverse;
    addRoundKey(state, key.roundKeys + key.rounds * aesBlockBytes);
    for (int round = key.rounds - 1; round >= 0; --round) {
        shiftRows(state, true);
        subBytes(state, box);
        addRoundKey(state, key.roundKeys + round * aesBlockBytes);
        if (round != 0) mixColumns(state, true);
    }
}
} // namespace

int makeKey(KeyInstance& key, KeyDirection direction, int keyBits, const std::uint8_t* keyMaterial) {
    if (direction != KeyDirection::encrypt && direction != KeyDirection::decrypt) return badKeyDirection;
    if ((keyBits != 128 && keyBits != 192 && keyBits != 256) || keyMaterial == nullptr) return badKeyMaterial;
    const int words = keyBits / 32;
    key.direction = direction;
    key.keyBits = keyBits;
    key.rounds = words + 6;
    const int totalWords = 4 * (key.rounds + 1);
    std::uint8_t* w = key.roundKeys;
    std::memcpy(w, keyMaterial, static_cast<std::size_t>(keyBits / 8));
    std::uint8_t roundConstant = 1;
    for (int i = words; i < totalWords; ++i) {
        std::uint8_t temp[4];
        std::memcpy(temp, w + 4 * (i - 1), 4);
        if (i % words == 0) {
            const std::uint8_t first = temp[0];
            temp[0] = static_cast<std::uint8_t>(boxes().forward[temp[1]] ^ roundConstant);
            temp[1] = boxes().forward[temp[2]];
            temp[2] = boxes().forward[temp[3]];
            temp[3] = boxes().forward[first];
            roundConstant = multiply(roundConstant, 2);
        } else if (words > 6 && i % words == 4) {
            for (std::uint8_t& b : temp) b = boxes().forward[b];
        }
        for (int b = 0; b < 4; ++b) w[4 * i + b] = static_cast<std::uint8_t>(w[4 * (i - words) + b] ^ temp[b]);
    }
    return aesTrue;
}

int cipherInit(CipherInstance& cipher, CipherMode mode, const std::uint8_t* iv) {
    if (mode != CipherMode::ecb && mode != CipherMode::cbc) return badCipherMode;
    if (mode == CipherMode::cbc && iv == nullptr) return badCipherState;
    cipher.mode = mode;
    if (iv)
        std::memcpy(cipher.iv, iv, aesBlockBytes);
    else
        std::memset(cipher.iv, 0, aesBlockBytes);
    return aesTrue;
}

int blockEncrypt(CipherInstance& cipher, const KeyInstance& key, const std::uint8_t* input, std::size_t inputBytes,
                 std::uint8_t* output) {
    if (key.direction != KeyDirection::encrypt || key.rounds == 0) return badKeyInstance;
    if (inputBytes % aesBlockBytes != 0 || inputBytes > 0x7fffffff) return badInputLength;
    for (std::size_t offset = 0; offset < inputBytes; offset += aesBlockBytes) {
        std::uint8_t block[aesBlockBytes];
        std::memcpy(block, input + offset, aesBlockBytes);
        if (cipher.mode == CipherMode::cbc)
            for (int i = 0; i < aesBlockBytes; ++i) block[i] ^= cipher.iv[i];
        encryptBlock(key, block);
        if (cipher.mode == CipherMode::cbc) std::memcpy(cipher.iv, block, aesBlockBytes);
        std::memcpy(output + offset, block, aesBlockBytes);
    }
    return static_cast<int>(inputBytes);
}

int blockDecrypt(CipherInstance& cipher, const KeyInstance& key, const std::uint8_t* input, std::size_t inputBytes,
                 std::uint8_t* output) {
    if (key.direction != KeyDirection::decrypt || key.rounds == 0) return badKeyInstance;
    if (inputBytes % aesBlockBytes != 0 || inputBytes > 0x7fffffff) return badInputLength;
    for (std::size_t offset = 0; offset < inputBytes; offset += aesBlockBytes) {
        std::uint8_t block[aesBlockBytes], cipherBlock[aesBlockBytes];
        std::memcpy(cipherBlock, input + offset, aesBlockBytes);
        std::memcpy(block, cipherBlock, aesBlockBytes);
        decryptBlock(key, block);
        if (cipher.mode == CipherMode::cbc) {
            for (int i = 0; i < aesBlockBytes; ++i) block[i] ^= cipher.iv[i];
            std::memcpy(cipher.iv, cipherBlock, aesBlockBytes);
        }
        std::memcpy(output + offset, block, aesBlockBytes);
    }
    return static_cast<int>(inputBytes);
}

} // namespace crypto
} // namespace talve

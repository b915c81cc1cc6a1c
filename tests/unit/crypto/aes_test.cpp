#include "crypto/aes.h"
#include "unit/crypto/hex.h"

#include <gtest/gtest.h>

namespace talve {
namespace {

using namespace crypto;
using test::fromHex;
using test::toHex;

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

std::string ecb(KeyDirection direction, const std::string& keyHex, const std::string& inputHex) {
    const std::vector<std::uint8_t> key = fromHex(keyHex);
    std::vector<std::uint8_t> data = fromHex(inputHex);
    KeyInstance instance;
    EXPECT_EQ(makeKey(instance, direction, static_cast<int>(key.size() * 8), key.data()), aesTrue);
    CipherInstance cipher;
    EXPECT_EQ(cipherInit(cipher, CipherMode::ecb, nullptr), aesTrue);
    const int done = direction == KeyDirection::encrypt
                         ? blockEncrypt(cipher, instance, data.data(), data.size(), data.data())
                         : blockDecrypt(cipher, instance, data.data(), data.size(), data.data());
    EXPECT_EQ(done, static_cast<int>(data.size()));
    return toHex(data);
}

TEST(Aes, MatchesTheStandardsAppendixAndKnownAnswerVectorsBothWays) {
    const Vector vectors[] = {
        // FIPS-197 appendix B and C.1-C.3
        {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734", "3925841d02dc09fbdc118597196a0b32"},
        {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
         "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "00112233445566778899aabbccddeeff",
         "8ea2b7ca516745bfeafc49904b496089"},
        // AESAVS known answers, 256-bit keys: GFSbox and VarKey
        {"0000000000000000000000000000000000000000000000000000000000000000", "014730f80ac625fe84f026c60bfd547d",
         "5c9d844ed46f9885085e5d6a4f94c7d7"},
        {"8000000000000000000000000000000000000000000000000000000000000000", "00000000000000000000000000000000",
         "e35a6dcb19b201a01ebcfa8aa22b5759"},
    };
    for (const Vector& v : vectors) {
        EXPECT_EQ(ecb(KeyDirection::encrypt, v.key, v.plain), v.cipher) << v.key;
        EXPECT_EQ(ecb(KeyDirection::decrypt, v.key, v.cipher), v.plain) << v.key;
    }
}

TEST(Aes, ChainsBlocksInCbcModeAsTheModesRecommendationShows) {
    // SP 800-38A F.2.5 / F.2.6, CBC-AES256, four blocks in two calls.
    const std::vector<std::uint8_t> key =
        fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const std::vector<std::uint8_t> iv = fromHex("000102030405060708090a0b0c0d0e0f");
    const std::string plain = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                              "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
    const std::string expected = "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
                                 "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b";
    std::vector<std::uint8_t> data = fromHex(plain);
    KeyInstance encryptKey, decryptKey;
    ASSERT_EQ(makeKey(encryptKey, KeyDirection::encrypt, 256, key.data()), aesTrue);
    ASSERT_EQ(makeKey(decryptKey, KeyDirection::decrypt, 256, key.data()), aesTrue);
    CipherInstance cipher;
    ASSERT_EQ(cipherInit(cipher, CipherMode::cbc, iv.data()), aesTrue);
    blockEncrypt(cipher, encryptKey, data.data(), 32, data.data());
    blockEncrypt(cipher, encryptKey, data.data() + 32, 32, data.data() + 32);
    EXPECT_EQ(toHex(data), expected);

    ASSERT_EQ(cipherInit(cipher, CipherMode::cbc, iv.data()), aesTrue);
    blockDecrypt(cipher, decryptKey, data.data(), data.size(), data.data());
    EXPECT_EQ(toHex(data), plain);
}

TEST(Aes, RefusesWhatTheReferenceInterfaceRefuses) {
    const std::vector<std::uint8_t> key(32, 7);
    KeyInstance instance;
    EXPECT_EQ(makeKey(instance, KeyDirection::encrypt, 255, key.data()), badKeyMaterial);
    EXPECT_EQ(makeKey(instance, KeyDirection::encrypt, 256, nullptr), badKeyMaterial);
    EXPECT_EQ(makeKey(instance, static_cast<KeyDirection>(9), 256, key.data()), badKeyDirection);
    CipherInstance cipher;
    EXPECT_EQ(cipherInit(cipher, static_cast<CipherMode>(9), nullptr), badCipherMode);
    EXPECT_EQ(cipherInit(cipher, CipherMode::cbc, nullptr), badCipherState);

    ASSERT_EQ(makeKey(instance, KeyDirection::encrypt, 256, key.data()), aesTrue);
    ASSERT_EQ(cipherInit(cipher, CipherMode::ecb, nullptr), aesTrue);
    std::uint8_t block[17] = {};
    EXPECT_EQ(blockEncrypt(cipher, instance, block, 17, block), badInputLength);
    // A key made for one direction does not serve the other.
    EXPECT_EQ(blockDecrypt(cipher, instance, block, 16, block), badKeyInstance);
}

} // namespace
} // namespace talve

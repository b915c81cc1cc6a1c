#include "crypto/sha256.h"
#include "unit/crypto/hex.h"

#include <gtest/gtest.h>

namespace talve {
namespace {

using namespace crypto;
using test::fromHex;
using test::toHex;

std::string bytes(const std::string& hex) {
    const std::vector<std::uint8_t> raw = fromHex(hex);
    return std::string(raw.begin(), raw.end());
}

TEST(Sha256, MatchesThePublishedExamples) {
    EXPECT_EQ(toHex(sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(toHex(sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(toHex(sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // A million "a" fed in uneven pieces: the block boundary falls everywhere.
    Sha256 hash;
    const std::string piece(997, 'a');
    std::size_t fed = 0;
    while (fed + piece.size() <= 1000000) {
        hash.update(piece);
        fed += piece.size();
    }
    hash.update(std::string(1000000 - fed, 'a'));
    EXPECT_EQ(toHex(hash.finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, HmacMatchesRfc4231) {
    EXPECT_EQ(toHex(hmacSha256(std::string(20, '\x0b'), "Hi There")),
              "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
    EXPECT_EQ(toHex(hmacSha256("Jefe", "what do ya want for nothing?")),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(toHex(hmacSha256(std::string(20, '\xaa'), std::string(50, '\xdd'))),
              "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe");
    // A key longer than a block is hashed first.
    EXPECT_EQ(toHex(hmacSha256(std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First")),
              "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
    EXPECT_EQ(toHex(hmacSha256(bytes("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd'))),
              "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b");
}

TEST(Sha256, Pbkdf2MatchesRfc7914) {
    EXPECT_EQ(toHex(pbkdf2HmacSha256("passwd", "salt", 1, 64)),
              "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
              "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
    EXPECT_EQ(toHex(pbkdf2HmacSha256("Password", "NaCl", 80000, 64)),
              "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
              "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d");
    // A length that is not a whole number of blocks is the prefix of the longer one.
    EXPECT_EQ(toHex(pbkdf2HmacSha256("passwd", "salt", 1, 40)),
              "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc49ca9cccf179b645");
}

} // namespace
} // namespace talve

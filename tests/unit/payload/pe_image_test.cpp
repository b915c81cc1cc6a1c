#include "payload/pe_image.h"

#include <gtest/gtest.h>

namespace talve {
namespace {

// A minimal image: MZ, the PE header at 0x80, an optional header of the
// given format listing 16 data directories.
std::string image(bool pe32Plus, std::uint32_t certOffset = 0, std::uint32_t certSize = 0) {
    const std::size_t optionalSize = pe32Plus ? 240 : 224;
    std::string bytes(0x80 + 24 + optionalSize, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    pe::writeLittleEndian32(bytes, 0x3c, 0x80);
    bytes.replace(0x80, 4, std::string("PE\0\0", 4));
    bytes[0x80 + 4 + 16] = static_cast<char>(optionalSize);
    const std::size_t optional = 0x80 + 24;
    bytes[optional] = 0x0b;
    bytes[optional + 1] = pe32Plus ? 0x02 : 0x01;
    const std::size_t count = optional + (pe32Plus ? 108 : 92);
    pe::writeLittleEndian32(bytes, count, 16);
    pe::writeLittleEndian32(bytes, count + 4 + 32, certOffset);
    pe::writeLittleEndian32(bytes, count + 4 + 36, certSize);
    return bytes;
}

TEST(PeImage, FindsTheSecurityEntryOfBothFormats) {
    for (bool plus : {false, true}) {
        const pe::Headers headers = pe::readHeaders(image(plus, 4096, 512));
        ASSERT_EQ(headers.kind, pe::Kind::Image);
        EXPECT_EQ(headers.layout.checksumOffset, 0x80u + 24 + 64);
        EXPECT_EQ(*headers.layout.securityEntryOffset, 0x80u + 24 + (plus ? 112 : 96) + 32);
        ASSERT_TRUE(headers.layout.certificates);
        EXPECT_EQ(headers.layout.certificates->offset, 4096u);
        EXPECT_EQ(headers.layout.certificates->size, 512u);
    }
    EXPECT_FALSE(pe::readHeaders(image(false)).layout.certificates) << "a zero entry is no signature";
}

TEST(PeImage, TellsOtherFilesAndCutHeadersApart) {
    EXPECT_EQ(pe::readHeaders("\x7f" "ELF" + std::string(100, '\0')).kind, pe::Kind::NotPe);
    EXPECT_EQ(pe::readHeaders("").kind, pe::Kind::NotPe);
    EXPECT_EQ(pe::readHeaders("MZ").kind, pe::Kind::Damaged);
    const std::string whole = image(false);
    EXPECT_EQ(pe::readHeaders(whole.substr(0, 0x80 + 30)).kind, pe::Kind::Damaged);
    EXPECT_EQ(pe::readHeaders(whole.substr(0, whole.size() - 1)).kind, pe::Kind::Damaged);
    std::string noPe = whole;
    noPe[0x80] = 'X';
    EXPECT_EQ(pe::readHeaders(noPe).kind, pe::Kind::NotPe);
    std::string wrongMagic = whole;
    wrongMagic[0x80 + 24 + 1] = 0x07;
    EXPECT_EQ(pe::readHeaders(wrongMagic).kind, pe::Kind::Damaged);
    std::string pointerOut = whole;
    pe::writeLittleEndian32(pointerOut, 0x3c, 0xfffffff0u);
    EXPECT_EQ(pe::readHeaders(pointerOut).kind, pe::Kind::NotPe);
}

TEST(PeImage, ACertificateTableMustLieInTheFileAndEndIt) {
    EXPECT_EQ(pe::certificateProblem({1000, 24}, 1024), "");
    EXPECT_NE(pe::certificateProblem({1000, 25}, 1024).find("beyond the end"), std::string::npos);
    EXPECT_NE(pe::certificateProblem({0xfffffff0u, 0x100}, 1024).find("beyond the end"), std::string::npos);
    EXPECT_NE(pe::certificateProblem({1000, 16}, 1024).find("not at the end of the file: 8 bytes"), std::string::npos);
}

TEST(PeImage, ChecksumIgnoresItsOwnFieldAndAddsTheLength) {
    std::string bytes = image(false);
    const std::size_t field = pe::readHeaders(bytes).layout.checksumOffset;
    const std::uint32_t sum = pe::checksum(bytes, field);
    pe::writeLittleEndian32(bytes, field, 0xdeadbeef);
    EXPECT_EQ(pe::checksum(bytes, field), sum);
    EXPECT_EQ(pe::checksum(std::string("\x01\x02\x03", 3), 100), 0x0201u + 0x03u + 3);
}

} // namespace
} // namespace talve

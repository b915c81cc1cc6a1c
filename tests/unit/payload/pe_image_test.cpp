#include "pack/signature.h"
#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "payload/pe_image.h"
#include "unit/support/context_bench.h"
#include "unit/support/installer_builder.h"
#include "unit/support/scratch_directory.h"

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

// `bytes` made a program with one section of raw data at rawStart, and
// headers of headersSize bytes, padded to `size` bytes.
std::string withSection(std::string bytes, std::uint32_t headersSize, std::uint32_t rawStart, std::uint32_t rawSize,
                        std::size_t size) {
    const std::size_t coff = 0x80 + 4, optional = coff + 20;
    bytes[coff + 2] = 1;
    pe::writeLittleEndian32(bytes, optional + 60, headersSize);
    std::string section(40, '\0');
    section.replace(0, 5, ".text");
    pe::writeLittleEndian32(section, 16, rawSize);
    pe::writeLittleEndian32(section, 20, rawStart);
    bytes += section;
    bytes.resize(size, 'p');
    return bytes;
}

// Signing tools put the table behind the program; one that starts inside
// it (in the headers, or in a section's data) is no table a tool wrote.
TEST(PeImage, ACertificateTableStartingInsideTheProgramIsDamaged) {
    const std::string program = withSection(image(false), 0x400, 0x400, 0x1000, 0x1400);
    EXPECT_EQ(pe::readHeaders(program).layout.programEnd, 0x1400u);
    EXPECT_EQ(pe::readHeaders(withSection(image(false), 0x2000, 0x400, 0x1000, 0x1400)).layout.programEnd, 0x2000u);
    EXPECT_EQ(pe::readHeaders(image(false)).layout.programEnd, 0x80u + 24 + 224) << "no section: the headers' end";

    EXPECT_EQ(pe::certificateProblem({0x1400, 0x100}, 0x1500, 0x1400), "");
    for (std::uint32_t offset : {0x100u, 0x200u, 0x13f8u}) {
        EXPECT_NE(pe::certificateProblem({offset, 0x1500 - offset}, 0x1500, 0x1400)
                      .find("starts inside the program, whose headers and sections end at offset 5120"),
                  std::string::npos)
            << offset;
        // A launcher signed so would be cut at the table: refused, left whole.
        std::string stub = withSection(image(false, offset, 0x1500 - offset), 0x400, 0x400, 0x1000, 0x1500);
        const std::string before = stub;
        bool stripped = true;
        std::string problem;
        EXPECT_FALSE(pack::stripSignature(stub, stripped, problem)) << offset;
        EXPECT_NE(problem.find("starts inside the program"), std::string::npos) << problem;
        EXPECT_TRUE(stub == before);
    }
}

TEST(PeImage, ChecksumIgnoresItsOwnFieldAndAddsTheLength) {
    std::string bytes = image(false);
    const std::size_t field = pe::readHeaders(bytes).layout.checksumOffset;
    const std::uint32_t sum = pe::checksum(bytes, field);
    pe::writeLittleEndian32(bytes, field, 0xdeadbeef);
    EXPECT_EQ(pe::checksum(bytes, field), sum);
    EXPECT_EQ(pe::checksum(std::string("\x01\x02\x03", 3), 100), 0x0201u + 0x03u + 3);
}

// The sum as the format states it: the carry folded back after every word.
std::uint32_t foldedAfterEveryWord(const std::string& bytes) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        sum += static_cast<unsigned char>(bytes[i]);
        if (i + 1 < bytes.size()) sum += static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return sum + static_cast<std::uint32_t>(bytes.size());
}

// The packer sums an installer in pieces as it writes it; pieces of odd
// length split words, and the carries of a large file must still wrap.
TEST(PeImage, AChecksumFedInPiecesIsTheWholeFilesChecksum) {
    std::string bytes(300001, '\xff');
    for (std::size_t i = 0; i < bytes.size(); i += 7) bytes[i] = static_cast<char>(i);
    for (std::size_t piece : {1u, 3u, 4096u, 65535u}) {
        pe::RunningChecksum sum;
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            const std::size_t size = std::min(piece, bytes.size() - at);
            sum.add(reinterpret_cast<const unsigned char*>(bytes.data()) + at, size);
        }
        EXPECT_EQ(sum.value(), foldedAfterEveryWord(bytes)) << "pieces of " << piece;
    }
    EXPECT_EQ(pe::checksum(bytes, bytes.size()), foldedAfterEveryWord(bytes));
    EXPECT_EQ(pe::RunningChecksum().value(), 0u);
}


// A program of `size` bytes (a multiple of 8) with a right checksum, and the
// same program as a signing tool leaves it: padded to 8 bytes, the table
// behind, the Security entry pointing at it, the checksum made again.
struct SignedPair {
    std::string unsignedBytes, signedBytes;
    std::size_t tableStart = 0;
};
SignedPair signedPair(std::size_t size, std::size_t unalignedBy = 0) {
    SignedPair pair;
    pair.unsignedBytes = image(false);
    for (std::size_t i = pair.unsignedBytes.size(); i < size - unalignedBy; ++i)
        pair.unsignedBytes += static_cast<char>(i * 13);
    pack::updateChecksum(pair.unsignedBytes);
    pair.tableStart = (pair.unsignedBytes.size() + 7) / 8 * 8;
    const std::string table(600, '\x30');
    pair.signedBytes = image(false, static_cast<std::uint32_t>(pair.tableStart), static_cast<std::uint32_t>(table.size())) +
                       pair.unsignedBytes.substr(image(false).size());
    pair.signedBytes.resize(pair.tableStart, '\0');
    pair.signedBytes += table;
    pack::updateChecksum(pair.signedBytes);
    return pair;
}

TEST(Signature, StrippingASignedStubGivesBackTheUnsignedProgram) {
    SignedPair pair = signedPair(4096);
    std::string bytes = pair.signedBytes;
    bool stripped = false;
    std::string problem;
    ASSERT_TRUE(pack::stripSignature(bytes, stripped, problem)) << problem;
    EXPECT_TRUE(stripped);
    EXPECT_TRUE(bytes == pair.unsignedBytes) << "checksum, entry or length left wrong";

    // An unsigned program and an ELF are left alone.
    for (std::string other : {pair.unsignedBytes, std::string("\x7f" "ELF") + std::string(5000, 'e')}) {
        const std::string before = other;
        ASSERT_TRUE(pack::stripSignature(other, stripped, problem));
        EXPECT_FALSE(stripped);
        EXPECT_TRUE(other == before);
    }
}

TEST(Signature, ADamagedCertificateTableIsRefusedAndNothingCut) {
    const SignedPair pair = signedPair(4096);
    std::string appended = pair.signedBytes + "appended";
    std::string cut = pair.signedBytes.substr(0, pair.signedBytes.size() - 1);
    for (std::string* bytes : {&appended, &cut}) {
        const std::string before = *bytes;
        bool stripped = true;
        std::string problem;
        EXPECT_FALSE(pack::stripSignature(*bytes, stripped, problem));
        EXPECT_NE(problem.find("the certificate table"), std::string::npos) << problem;
        EXPECT_FALSE(stripped);
        EXPECT_TRUE(*bytes == before);
    }
}

TEST(Signature, VerifySignedAcceptsOnlyTheProgramPlusASignature) {
    for (std::size_t unaligned : {0, 3}) {
        const SignedPair pair = signedPair(4096, unaligned);
        std::uint64_t at = 99;
        std::string why;
        EXPECT_TRUE(pack::isSameProgramSigned(pair.unsignedBytes, pair.signedBytes, at, why)) << why;

        struct Fault {
            std::string unsignedBytes, signedBytes;
            std::uint64_t at;
        };
        std::vector<Fault> faults;
        Fault payload{pair.unsignedBytes, pair.signedBytes, 3000};
        payload.unsignedBytes[3000] ^= 1;
        faults.push_back(payload);
        // The byte beside the checksum is covered, unlike the checksum.
        const std::size_t checksumAt = pe::readHeaders(pair.signedBytes).layout.checksumOffset;
        Fault header{pair.unsignedBytes, pair.signedBytes, checksumAt + 4};
        header.signedBytes[checksumAt + 4] ^= 1;
        faults.push_back(header);
        // Something hidden in the padding, or the unsigned program longer.
        if (unaligned != 0) {
            Fault padding{pair.unsignedBytes, pair.signedBytes, pair.unsignedBytes.size()};
            padding.signedBytes[pair.unsignedBytes.size()] = 'x';
            faults.push_back(padding);
        }
        faults.push_back({pair.unsignedBytes + std::string(700, 'u'), pair.signedBytes, pair.unsignedBytes.size()});
        for (const Fault& fault : faults) {
            EXPECT_FALSE(pack::isSameProgramSigned(fault.unsignedBytes, fault.signedBytes, at, why)) << fault.at;
            EXPECT_EQ(at, fault.at) << why;
        }
        // Bytes appended behind the signature: where they start, not offset 0.
        EXPECT_FALSE(pack::isSameProgramSigned(pair.unsignedBytes, pair.signedBytes + "appended", at, why));
        EXPECT_EQ(at, pair.signedBytes.size()) << why;
        EXPECT_NE(why.find("8 bytes follow it"), std::string::npos) << why;
        // Unsigned twice, signed twice.
        EXPECT_FALSE(pack::isSameProgramSigned(pair.unsignedBytes, pair.unsignedBytes, at, why));
        EXPECT_EQ(why, "the signed file carries no signature");
        EXPECT_FALSE(pack::isSameProgramSigned(pair.signedBytes, pair.signedBytes, at, why));
        EXPECT_EQ(why, "the unsigned file already carries a signature");
    }
}

// The launcher reads its own headers: rows must end before the certificate
// table, the bootstrap table too; an unsigned file sets no bound.
TEST(Signature, TheLauncherRefusesRowsReachingIntoTheCertificateTable) {
    test::ScratchDirectory scratch;
    const std::string path = scratch.file("setup.exe");
    test::InstallerBuilder installer(1024);
    installer.payload(table::jarEntry, "jar bytes", "install.jar").payload(table::dataEntry, "data", "data.jar");
    const std::string unsignedBytes = installer.bytes();
    const std::uint32_t tableStart = static_cast<std::uint32_t>((unsignedBytes.size() + 7) / 8 * 8);
    auto withTable = [&](std::uint32_t offset, const std::string& bytes) {
        std::string file = bytes;
        const std::string headers = image(false, offset, 64);
        file.replace(0, headers.size(), headers);
        file.resize(offset, '\0');
        return file + std::string(64, 'c');
    };
    struct Case {
        std::string bytes, error;
    };
    const std::string prefix = "ERROR \t: The installer file " + path + " is damaged: ";
    const std::string suffix = ". Please check that the installer was properly copied.";
    const std::string at = std::to_string(tableStart);
    const std::string data = "the data payload reaches into its signature, which starts at offset ";
    test::InstallerBuilder longer = installer;
    longer.row(table::dataEntry).length += 8;
    const std::uint32_t early = 1024 + 32 + 8 * 64 - 8;
    for (const Case& c : {Case{withTable(tableStart, unsignedBytes), ""},
                          Case{withTable(tableStart, longer.bytes()), data + at},
                          // The table over the last bytes of the jar and the data.
                          Case{withTable(tableStart - 8, unsignedBytes.substr(0, tableStart - 8)),
                               "the jar payload reaches into its signature, which starts at offset " +
                                   std::to_string(tableStart - 8)},
                          Case{withTable(early, unsignedBytes.substr(0, early)),
                               "its bootstrap table lies in or after its signature, which starts at offset " +
                                   std::to_string(early)}}) {
        test::writeFile(path, c.bytes);
        test::ContextBench bench;
        JarExtractor reader(bench.context);
        EXPECT_EQ(reader.open(path), c.error.empty()) << c.error;
        EXPECT_EQ(bench.log.errors(),
                  c.error.empty() ? std::vector<std::string>{} : std::vector<std::string>{prefix + c.error + suffix});
    }
}

} // namespace
} // namespace talve

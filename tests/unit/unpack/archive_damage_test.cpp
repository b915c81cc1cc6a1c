#include "runtime_unpacker.h"
#include "unpack_test_support.h"

#include <gtest/gtest.h>

namespace talve {
namespace {
using namespace unpacktest;

const std::string kStub = "stub bytes of any length";

std::vector<RawEntry> sampleEntries() {
    return {rawDirectory("bin"), rawFile("bin/java", "launcher"), rawFile("lib/modules", noise(600000))};
}

// Unpacks `packed` into a fresh folder and returns the error, empty on
// success. Whatever happens, nothing may appear beside "_jvm".
class Damage : public ::testing::Test {
protected:
    std::string unpackError(const std::string& packed) {
        writeFile(scratch_ / "packed", packed);
        fs::create_directories(scratch_ / "work");
        std::string error;
        const bool ok = unpack::unpackRuntime(scratch_ / "packed", scratch_ / "work" / "_jvm", error);
        EXPECT_EQ(ok, error.empty());
        for (const auto& item : fs::directory_iterator(scratch_ / "work")) {
            EXPECT_EQ(item.path().filename(), "_jvm");
        }
        EXPECT_EQ(treeListing(scratch_.path()).size(), treeListing(scratch_ / "work").size() + 2)
            << "something landed outside _jvm";
        fs::remove_all(scratch_ / "work");
        return error;
    }

    void expectRefused(const std::string& packed, const std::string& expected) {
        const std::string error = unpackError(packed);
        EXPECT_NE(error.find(expected), std::string::npos) << "got: " << error;
    }

    static void putU32(std::string& bytes, std::size_t offset, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
    }

    ScratchDir scratch_;
};

TEST_F(Damage, IntactArchiveUnpacks) {
    EXPECT_EQ(unpackError(buildPacked(kStub, sampleEntries())), "");
    EXPECT_EQ(unpackError(buildPacked("", {})), "");
}

TEST_F(Damage, MissingOrMisplacedTrailerIsReported) {
    const std::string packed = buildPacked(kStub, sampleEntries());
    expectRefused(packed.substr(0, packed.size() - 1), "no runtime archive at the end of the file");
    expectRefused(packed.substr(0, packed.size() / 2), "no runtime archive at the end of the file");
    expectRefused("tiny", "too short to carry a runtime archive");
    expectRefused(kStub, "no runtime archive at the end of the file");

    // Cut inside the archive but with the trailer kept: the offsets no
    // longer add up.
    const std::size_t trailerAt = packed.size() - archive::kTrailerSize;
    expectRefused(packed.substr(0, 100) + packed.substr(trailerAt), "do not fit a file of");
    expectRefused("extra" + packed, "do not fit a file of");
}

TEST_F(Damage, ArchiveHeaderIsCheckedFieldByField) {
    const std::string packed = buildPacked(kStub, sampleEntries());
    const std::size_t header = kStub.size();

    std::string badMagic = packed;
    badMagic[header] = 'X';
    expectRefused(badMagic, "bad magic number");

    std::string badCrc = packed;
    badCrc[header + 16] ^= 1; // the unpacked size
    expectRefused(badCrc, "archive header checksum mismatch");

    std::string badVersion = packed;
    putU32(badVersion, header + 8, 7);
    putU32(badVersion, header + 24, archive::crc32Of(badVersion.data() + header, 24));
    expectRefused(badVersion, "archive version 7 is not supported");

    std::string tooManyEntries = packed;
    putU32(tooManyEntries, header + 12, 100000);
    putU32(tooManyEntries, header + 24, archive::crc32Of(tooManyEntries.data() + header, 24));
    expectRefused(tooManyEntries, "claims 100000 entries");

    std::string fewerEntries = packed;
    putU32(fewerEntries, header + 12, 2);
    putU32(fewerEntries, header + 24, archive::crc32Of(fewerEntries.data() + header, 24));
    expectRefused(fewerEntries, "unexpected bytes after its last entry");
}

TEST_F(Damage, EntryHeadersAndDataAreChecked) {
    const std::string packed = buildPacked(kStub, sampleEntries());
    const std::size_t firstEntry = kStub.size() + archive::kHeaderSize;

    std::string badEntry = packed;
    badEntry[firstEntry + archive::kEntryFixedSize] = 'B'; // "bin" becomes "Bin"
    expectRefused(badEntry, "entry 1: entry header checksum mismatch");

    std::string badPathLength = packed;
    badPathLength[firstEntry + 2] = 0;
    badPathLength[firstEntry + 3] = 0;
    expectRefused(badPathLength, "entry 1: entry has an impossible path length 0");

    std::vector<RawEntry> entries = sampleEntries();
    entries[1].header.dataCrc ^= 1;
    expectRefused(buildPacked(kStub, entries), "entry 2 (bin/java): data checksum mismatch");

    entries = sampleEntries();
    entries[2].data[entries[2].data.size() / 2] ^= 0x55;
    const std::string flipped = unpackError(buildPacked(kStub, entries));
    EXPECT_NE(flipped.find("entry 3 (lib/modules): "), std::string::npos) << flipped;
    EXPECT_NE(flipped.find("damaged runtime archive"), std::string::npos) << flipped;

    entries = sampleEntries();
    entries[1].header.originalSize = 3;
    expectRefused(buildPacked(kStub, entries), "entry 2 (bin/java): compressed data unpacks to more than");
    entries[1].header.originalSize = 100;
    expectRefused(buildPacked(kStub, entries), "entry 2 (bin/java): data unpacks to 8 bytes instead of 100");

    entries = sampleEntries();
    entries[1].data.resize(entries[1].data.size() - 2);
    entries[1].header.storedSize = entries[1].data.size();
    expectRefused(buildPacked(kStub, entries), "entry 2 (bin/java): compressed data is cut short");

    entries = sampleEntries();
    entries[1].data += "junk";
    entries[1].header.storedSize = entries[1].data.size();
    expectRefused(buildPacked(kStub, entries), "entry 2 (bin/java): compressed data ends before its stored size");

    entries = sampleEntries();
    entries[2].header.storedSize += 1000;
    expectRefused(buildPacked(kStub, entries), "entry 3 (lib/modules): data runs past the end of the archive");

    entries = sampleEntries();
    entries[0].header.type = static_cast<archive::EntryType>(9);
    expectRefused(buildPacked(kStub, entries), "entry 1: unknown entry type 9");
}

TEST_F(Damage, TooLittleRoomIsReportedBeforeUnpacking) {
    writeFile(scratch_ / "packed", buildPacked(kStub, sampleEntries(), std::uint64_t(1) << 62));
    std::string error;
    EXPECT_FALSE(unpack::unpackRuntime(scratch_ / "packed", scratch_ / "_jvm", error));
    EXPECT_EQ(error.rfind("not enough room in ", 0), 0u) << error;
    EXPECT_NE(error.find(": 4611686018427387904 bytes needed, "), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(scratch_ / "_jvm"));
}

TEST_F(Damage, AFileFoundDamagedIsNotLeftBehind) {
    std::vector<RawEntry> entries = sampleEntries();
    entries[2].header.dataCrc ^= 1;
    writeFile(scratch_ / "packed", buildPacked(kStub, entries));
    std::string error;
    EXPECT_FALSE(unpack::unpackRuntime(scratch_ / "packed", scratch_ / "_jvm", error));
    EXPECT_TRUE(fs::exists(scratch_ / "_jvm" / "bin" / "java"));
    EXPECT_FALSE(fs::exists(scratch_ / "_jvm" / "lib" / "modules"));
}

TEST_F(Damage, EntriesThatWouldLandOutsideAreRefusedBeforeAnythingIsWritten) {
    for (const std::string path : {"../escape", "/tmp/escape", "C:escape", "bin/../../escape", "bin\\..\\..\\escape",
                                   "bin//x"}) {
        expectRefused(buildPacked(kStub, {rawFile("bin/java", "x"), rawFile(path, "payload")}),
                      "(" + path + "): path would land outside _jvm");
        EXPECT_FALSE(fs::exists(scratch_ / "escape"));
    }
}

TEST_F(Damage, LinksPointingOutAreRefused) {
    for (const auto& link : std::vector<std::pair<std::string, std::string>>{
             {"up", ".."}, {"bin/up", "../../x"}, {"abs", "/etc"}, {"bin/climb", "x/../.."}}) {
        expectRefused(buildPacked(kStub, {rawDirectory("bin"), rawLink(link.first, link.second)}),
                      "link target " + link.second + " points outside _jvm");
    }
}

TEST_F(Damage, NothingIsWrittenThroughALink) {
    // "here" is a harmless link, but a later entry below it would follow it.
    expectRefused(buildPacked(kStub, {rawDirectory("real"), rawLink("here", "real"), rawFile("here/x", "x")}),
                  "it would be written through the link");
}

} // namespace
} // namespace talve

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

    // A link's target is data too: a damaged one must not be followed.
    entries = {rawDirectory("bin"), rawLink("bin/java2", "java")};
    entries[1].header.dataCrc ^= 1;
    expectRefused(buildPacked(kStub, entries), "entry 2 (bin/java2): data checksum mismatch");

    entries = sampleEntries();
    entries[0].header.type = static_cast<archive::EntryType>(9);
    expectRefused(buildPacked(kStub, entries), "entry 1: unknown entry type 9");
}

// Earlier versions wrote version 1 archives, deflate throughout; their
// runtimes travel in installers already made.
TEST_F(Damage, VersionOneArchivesStillUnpackAndLaterOnesAreRefused) {
    EXPECT_EQ(unpackError(buildPacked(kStub, sampleEntries(), std::nullopt, 1)), "");
    expectRefused(buildPacked(kStub, sampleEntries(), std::nullopt, 3),
                  "archive version 3 is not supported (this unpacker reads versions 1 to 2)");
}

// Every case is one forged zstd entry after an intact one; the forged
// entry's fault must be named and nothing of it left behind.
TEST_F(Damage, ForgedZstdDataIsRefused) {
    const std::uint64_t frame = archive::kZstdFrameSize;
    const std::string twoFrames = noise(static_cast<std::size_t>(frame) + 1000, 9);
    struct Case {
        const char* name;
        RawEntry entry;
        const char* expected;
    };
    std::vector<Case> cases;

    RawEntry bomb = rawZstdFile("lib/bomb", std::string(1000, 'b'));
    bomb.data = zstdFrames(std::string(1 << 20, '\0'));
    bomb.header.storedSize = bomb.data.size();
    cases.push_back({"a frame larger than the entry says", bomb, "compressed data unpacks to more than its recorded size"});

    RawEntry shortFrame = rawZstdFile("lib/short", twoFrames);
    shortFrame.data = zstdFrames(twoFrames.substr(0, 4000));
    shortFrame.data = std::string(4, '\0') + shortFrame.data;
    shortFrame.header.storedSize = shortFrame.data.size();
    cases.push_back({"a zero frame size", shortFrame, "compressed frame 1 has an impossible size"});

    RawEntry tooLong = rawZstdFile("lib/long", twoFrames);
    tooLong.data[3] = '\x7f';
    cases.push_back({"a frame size beyond the data", tooLong, "compressed frame 1 has an impossible size"});

    RawEntry lessData = rawZstdFile("lib/less", twoFrames);
    {
        const std::string first = zstdFrames(twoFrames.substr(0, 4000));
        const std::string second = zstdFrames(twoFrames.substr(static_cast<std::size_t>(frame)));
        std::string list(4, '\0');
        for (int i = 0; i < 4; ++i) list[i] = static_cast<char>(first.size() >> (8 * i));
        lessData.data = list + first + second;
        lessData.header.storedSize = lessData.data.size();
    }
    cases.push_back({"a frame that unpacks short", lessData, "compressed data unpacks to less than its recorded size"});

    RawEntry swapped = rawZstdFile("lib/swapped", std::string(static_cast<std::size_t>(frame), 'a') +
                                                      std::string(static_cast<std::size_t>(frame), 'b'));
    {
        const std::string a = zstdFrames(std::string(static_cast<std::size_t>(frame), 'a'));
        const std::string b = zstdFrames(std::string(static_cast<std::size_t>(frame), 'b'));
        std::string list(4, '\0');
        for (int i = 0; i < 4; ++i) list[i] = static_cast<char>(b.size() >> (8 * i));
        swapped.data = list + b + a;
    }
    cases.push_back({"frames in the wrong order", swapped, "data checksum mismatch"});

    RawEntry garbage = rawZstdFile("lib/garbage", "garbage in a frame");
    garbage.data = std::string(garbage.data.size(), 'G');
    cases.push_back({"bytes that are no zstd frame", garbage, "compressed data is damaged"});

    RawEntry unknownCodec = rawZstdFile("lib/codec", "x");
    unknownCodec.header.codec = static_cast<archive::Codec>(5);
    cases.push_back({"an unknown codec", unknownCodec, "file entry has an unknown codec 5"});

    RawEntry unknownFlag = rawZstdFile("lib/flag", "x");
    unknownFlag.header.flags = 0x02;
    cases.push_back({"an unknown flag", unknownFlag, "entry has unknown flags 2"});

    RawEntry compressedFolder = rawDirectory("lib/folder");
    compressedFolder.header.codec = archive::Codec::Zstd;
    cases.push_back({"a folder with a codec", compressedFolder, "only file entries are compressed"});

    RawEntry manyFrames = rawZstdFile("lib/many", "x");
    manyFrames.header.originalSize = 100 * frame;
    cases.push_back({"more frames than data", manyFrames, "stores too little for its 100 compressed frames"});

    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        expectRefused(buildPacked(kStub, {rawZstdFile("bin/java", "launcher"), item.entry}), item.expected);
    }
}

TEST_F(Damage, TooLittleRoomIsReportedBeforeUnpacking) {
    writeFile(scratch_ / "packed", buildPacked(kStub, sampleEntries(), std::uint64_t(1) << 62));
    std::string error;
    EXPECT_FALSE(unpack::unpackRuntime(scratch_ / "packed", scratch_ / "_jvm", error));
    EXPECT_EQ(error.rfind("not enough room in ", 0), 0u) << error;
    EXPECT_NE(error.find(": 4611686018427387904 bytes needed, "), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(scratch_ / "_jvm"));
}

TEST_F(Damage, AFailedRunLeavesNothingOfWhatItWrote) {
    // The damage lies in the last file: the files before it were written.
    std::vector<RawEntry> entries = sampleEntries();
    entries[2].header.dataCrc ^= 1;
    writeFile(scratch_ / "packed", buildPacked(kStub, entries));
    std::string error;
    EXPECT_FALSE(unpack::unpackRuntime(scratch_ / "packed", scratch_ / "_jvm", error));
    EXPECT_NE(error.find("entry 3 (lib/modules): data checksum mismatch"), std::string::npos) << error;
    EXPECT_EQ(treeListing(scratch_.path()).size(), 1u) << "only the packed file may remain";

    // An empty folder waiting for the runtime stays as it was.
    fs::create_directory(scratch_ / "_jvm");
    EXPECT_FALSE(unpack::unpackRuntime(scratch_ / "packed", scratch_ / "_jvm", error));
    EXPECT_EQ(treeListing(scratch_.path()), (std::vector<std::string>{"d _jvm", treeListing(scratch_.path())[1]}));
}

TEST_F(Damage, UnpackedSizeMustCoverWhatTheEntriesHold) {
    // The room check trusts the header: 600000 bytes need 147 blocks, the
    // folder bin one, java one, and _jvm itself one.
    const std::uint64_t needed = (147 + 1 + 1 + 1) * 4096;
    EXPECT_EQ(unpackError(buildPacked(kStub, sampleEntries(), needed)), "");
    expectRefused(buildPacked(kStub, sampleEntries(), needed - 1),
                  "archive header gives " + std::to_string(needed - 1) + " bytes unpacked, but its entries need " +
                      std::to_string(needed));
    expectRefused(buildPacked(kStub, sampleEntries(), 0), "archive header gives 0 bytes unpacked");

    // A few bytes that inflate to far more than the header admits.
    std::vector<RawEntry> bomb{rawFile("lib/zeros", std::string(8 << 20, '\0'))};
    expectRefused(buildPacked(kStub, bomb, 4096), "but its entries need 8392704");
    // Sizes that overflow when added up still fail.
    bomb.push_back(rawFile("lib/more", "x"));
    bomb[0].header.originalSize = bomb[1].header.originalSize = std::uint64_t(1) << 63;
    expectRefused(buildPacked(kStub, bomb, 4096), "but its entries need 18446744073709551615");
}

TEST_F(Damage, NamesWithControlCharactersAreRefusedOnOneLine) {
    const std::string feed = "bin/ja\nva";
    const std::string nul("bin/ja\0va", 9);
    for (const std::string& path : {feed, nul}) {
        const std::string error = unpackError(buildPacked(kStub, {rawDirectory("bin"), rawFile(path, "x")}));
        EXPECT_NE(error.find("entry 2 (bin/ja\\x"), std::string::npos) << error;
        EXPECT_NE(error.find("): path holds a control character"), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
    expectRefused(buildPacked(kStub, {rawDirectory("bin"), rawLink("bin/link", "java\n")}),
                  "entry 2 (bin/link): link target holds a control character");

    writeFile(scratch_ / "listed", buildPacked(kStub, {rawFile(feed, "x")}));
    std::string listing;
    std::string error;
    EXPECT_FALSE(unpack::listRuntime(scratch_ / "listed", listing, error));
    EXPECT_NE(error.find("entry 1 (bin/ja\\x0ava): path holds a control character"), std::string::npos) << error;
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

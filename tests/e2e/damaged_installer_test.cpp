// Installers damaged in transit: cut short anywhere behind the launcher, or
// with rows that point where no payload of theirs lies. Every one must end
// with code 1 and an ERROR line, before the installer runs, leaving nothing
// in the temporary base but the kept log.

#include "support/harness.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <set>

namespace e2e {
namespace {

constexpr std::size_t markerSize = 32, rowSize = 64, rowCount = 8;
constexpr std::size_t jarRow = 2, dataRow = 3;

class DamagedInstaller : public ::testing::Test {
protected:
    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path installer = packInstaller(scratch, {"--jar", scratch.write("install.jar", std::string(40, 'j')).string(),
                                                 "--data", scratch.write("data.jar", std::string(30, 'd')).string()});
    std::string whole = readFile(installer);
    // talve-pack pads the launcher to a multiple of 1,024 bytes.
    std::size_t tableStart = (fs::file_size(target().launcher) + 1023) / 1024 * 1024;

    void SetUp() override { fs::create_directories(scratch / "temp"); }

    // Runs the damaged bytes as an installer and checks the outcome.
    void expectRefused(const std::string& bytes, const std::string& what) {
        const fs::path damaged = scratch / "damaged";
        {
            std::ofstream out(damaged, std::ios::binary | std::ios::trunc);
            out << bytes;
        }
        fs::permissions(damaged, fs::perms::owner_all);
        Launch l(scratch);
        l.arguments({"-javaHome", target().path(runtime)});
        const RunResult result = l.run(damaged);
        EXPECT_EQ(result.exitCode, 1) << what;
        EXPECT_NE(result.err.find("ERROR"), std::string::npos) << what << ": " << result.err;
        EXPECT_FALSE(fs::exists(l.record)) << what << ": the installer ran";
        EXPECT_FALSE(temporaryDirectoryLeft(l.tempBase)) << what;
        // The table is read before the temporary directory is made: most
        // damage is found before there is a log to keep.
        std::size_t entries = 0;
        for (const auto& item : fs::directory_iterator(l.tempBase)) {
            fs::remove_all(item.path());
            ++entries;
        }
        EXPECT_LE(entries, 1u) << what << ": more than the log left";
    }

    void setNumber(std::string& bytes, std::size_t row, std::size_t field, std::uint32_t value) {
        const std::size_t at = tableStart + markerSize + row * rowSize + field;
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    std::uint32_t number(std::size_t row, std::size_t field) const {
        const std::size_t at = tableStart + markerSize + row * rowSize + field;
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(static_cast<unsigned char>(whole[at + i])) << (8 * i);
        return value;
    }
};

TEST_F(DamagedInstaller, CutShortAtAnyByteBehindTheLauncher) {
    ASSERT_GT(whole.size(), tableStart + markerSize + rowCount * rowSize);
    // Natively every byte of the table and every byte around where a payload
    // begins or ends; a spread of the rest, which payloads and the zeros
    // before them fill and where every cut fails alike. Under Wine each run
    // takes a good part of a second: a wider spread there.
    const bool wine = target().windows;
    std::set<std::size_t> cuts;
    if (!wine) {
        for (std::size_t size = tableStart; size < tableStart + markerSize + rowCount * rowSize; ++size) cuts.insert(size);
        for (std::size_t row = 0; row < rowCount; ++row) {
            const std::size_t position = number(row, 8), length = number(row, 12);
            for (const std::size_t edge : {position, position + length})
                for (std::size_t size = edge < 2 ? 0 : edge - 2; size <= edge + 2; ++size) cuts.insert(size);
        }
    }
    for (std::size_t size = tableStart; size < whole.size(); size += wine ? 47 : 7) cuts.insert(size);
    for (const std::size_t size : cuts)
        if (size >= tableStart && size < whole.size()) expectRefused(whole.substr(0, size), "cut at " + std::to_string(size));
}

TEST_F(DamagedInstaller, RowsPointingOutsideTheFileOrIntoOtherBytes) {
    const std::uint32_t jarPosition = number(jarRow, 8), dataPosition = number(dataRow, 8);
    const std::uint32_t fileSize = static_cast<std::uint32_t>(whole.size());
    struct Damage {
        std::size_t row, field;
        std::uint32_t value;
        const char* what;
    };
    for (const Damage& damage : {
             Damage{jarRow, 8, fileSize, "jar starting at the end of the file"},
             Damage{jarRow, 8, 0xFFFFFFF0u, "jar starting past 4 GiB less a little"},
             Damage{jarRow, 12, 0xFFFFFFFFu, "jar of a huge length"},
             Damage{jarRow, 12, 0x80000000u, "jar of a negative length"},
             Damage{dataRow, 12, fileSize - dataPosition + 1, "data one byte too long"},
             Damage{dataRow, 8, jarPosition, "data on top of the jar"},
             Damage{dataRow, 8, static_cast<std::uint32_t>(tableStart), "data on the table"},
             Damage{jarRow, 8, 1, "jar inside the launcher"},
         }) {
        std::string bytes = whole;
        setNumber(bytes, damage.row, damage.field, damage.value);
        expectRefused(bytes, damage.what);
    }
}

} // namespace
} // namespace e2e

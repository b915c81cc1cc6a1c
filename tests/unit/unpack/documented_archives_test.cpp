#include "runtime_archive.h"
#include "runtime_unpacker.h"
#include "unpack_test_support.h"

#include <gtest/gtest.h>

#include <map>

namespace talve {
namespace {
using namespace unpacktest;

// The archives of the document's "Test vectors" section by name: each
// "#### `name`" heading followed by indented lines of hexadecimal.
std::map<std::string, std::string> documentedArchives() {
    std::ifstream in(TALVE_ARCHIVE_DOCUMENT);
    std::map<std::string, std::string> archives;
    std::string line;
    std::string name;
    while (std::getline(in, line)) {
        if (line.rfind("#### `", 0) == 0 && line.size() > 7) {
            name = line.substr(6, line.size() - 7);
            continue;
        }
        if (name.empty() || line.rfind("    ", 0) != 0) continue;
        for (std::size_t at = 4; at + 1 < line.size(); at += 2) {
            archives[name].push_back(static_cast<char>(std::stoi(line.substr(at, 2), nullptr, 16)));
        }
    }
    return archives;
}

// The folder every vector packs.
void makeDocumentedRuntime(const fs::path& root) {
    writeFile(root / "bin" / "java", "java launcher\n", true);
    writeFile(root / "jvm.properties", "java.bin.path=bin/java\n");
    writeFile(root / "lib" / "empty", "");
    writeFile(root / "lib" / "modules", "modules modules modules modules modules modules\n");
    fs::create_symlink("../bin/java", root / "lib" / "java");
}

const std::string kVectorStub = "#!stub\n";

TEST(DocumentedArchives, UnpackToTheDocumentedTree) {
    const auto archives = documentedArchives();
    ASSERT_EQ(archives.size(), 3u) << TALVE_ARCHIVE_DOCUMENT;
    ScratchDir scratch;
    makeDocumentedRuntime(scratch / "runtime");
    for (const auto& archive : archives) {
        SCOPED_TRACE(archive.first);
        writeFile(scratch / archive.first, kVectorStub + archive.second);
        std::string error;
        ASSERT_TRUE(unpack::unpackRuntime(scratch / archive.first, scratch / (archive.first + "-unpacked"), error))
            << error;
        EXPECT_EQ(treeListing(scratch / (archive.first + "-unpacked")), treeListing(scratch / "runtime"));
    }
}

TEST(DocumentedArchives, ThePackerWritesTheCurrentVectors) {
    const auto archives = documentedArchives();
    ScratchDir scratch;
    makeDocumentedRuntime(scratch / "runtime");
    writeFile(scratch / "stub", kVectorStub);
    const std::pair<const char*, RuntimeCompression> cases[] = {
        {"zstd", RuntimeCompression()},
        {"deflate", RuntimeCompression{archive::Codec::Deflate, RuntimeCompression::kDefaultZstdLevel}},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.first);
        ASSERT_EQ(archives.count(item.first), 1u);
        const fs::path output = scratch / item.first;
        std::uint64_t unpackedBytes = 0;
        std::string error;
        ASSERT_TRUE(writePackedRuntime((scratch / "runtime").string(), (scratch / "stub").string(), output.string(),
                                       unpackedBytes, error, item.second))
            << error;
        EXPECT_EQ(readFile(output), kVectorStub + archives.at(item.first));
    }
}

} // namespace
} // namespace talve

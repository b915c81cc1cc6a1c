#include "unit/support/scratch_directory.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace talve {
namespace test {

ScratchDirectory::ScratchDirectory() {
    std::random_device seed;
    std::mt19937_64 numbers(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = fs::temp_directory_path() / ("talve-unit-" + std::to_string(numbers() % 1000000000));
        if (fs::create_directory(candidate)) {
            path_ = candidate.string();
            return;
        }
    }
    throw std::runtime_error("no scratch directory could be made");
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

CurrentDirectoryAt::CurrentDirectoryAt(const std::string& directory) : previous_(fs::current_path().string()) {
    fs::current_path(directory);
}

CurrentDirectoryAt::~CurrentDirectoryAt() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) { return fs::exists(path); }

} // namespace test
} // namespace talve

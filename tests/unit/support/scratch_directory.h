#pragma once

#include <cstdint>
#include <string>

namespace talve {
namespace test {

// A fresh directory under the system's temporary folder, removed with
// everything in it when the test ends.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Makes a directory the process's current one for a scope: payloads are
// extracted under their bare names into the current directory.
class CurrentDirectoryAt {
public:
    explicit CurrentDirectoryAt(const std::string& directory);
    ~CurrentDirectoryAt();
    CurrentDirectoryAt(const CurrentDirectoryAt&) = delete;
    CurrentDirectoryAt& operator=(const CurrentDirectoryAt&) = delete;

private:
    std::string previous_;
};

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

} // namespace test
} // namespace talve

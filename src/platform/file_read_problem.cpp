#include "platform/file_read_problem.h"

namespace talve {

std::string fileReadProblem(const std::string& path, FileReadStatus status, std::size_t limit) {
    const std::string file = "The file \"" + path + "\"";
    switch (status) {
    case FileReadStatus::ok: return file + " was read.";
    case FileReadStatus::missing: return file + " does not exist.";
    case FileReadStatus::notRegularFile: return file + " is not a regular file and is not read.";
    case FileReadStatus::tooLarge: return file + " is larger than " + std::to_string(limit) + " bytes and is not read.";
    case FileReadStatus::failed: break;
    }
    return file + " could not be read.";
}

} // namespace talve

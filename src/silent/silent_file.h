#pragma once

// The check of a silent properties file before anything is unpacked.

#include <string>

namespace talve {

class BootstrapContext;

// What one reading of a silent file found; the numbers are those the
// installer's documentation and support know.
enum SilentFileResult {
    silentFileWithoutKey = 0,
    silentFileMissing = 1,
    silentFileMixedKeys = 2,
    silentFileWithKey = 3,
    silentFileValueTooShort = 4,
    silentFileBadCheckCharacter = 5,
    silentFileWrongKey = 6,
    silentFileDuplicate = 7,
};

// Reads the file at path (empty: none named), logging what it finds; the key
// at hand is the context's keyValue.
int readSilentFile(BootstrapContext& context, const std::string& path);

} // namespace talve

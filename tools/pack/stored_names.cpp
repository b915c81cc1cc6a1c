#include "stored_names.h"

#include "entry_path.h"
#include "payload/bootstrap_table_format.h"

#include <cctype>

namespace talve {
namespace pack {

std::string storedNameProblem(const std::string& name) {
    if (archive::hasControlCharacter(name)) return "the file name holds a control character";
    if (name.size() > table::filenameWidth)
        return "the file name '" + name + "' is longer than 12 characters, the most an installer can store";
    if (!table::isPlainFileName(name))
        return "the file name '" + name + "' is one every launcher refuses: " + table::plainFileNameRule;
    return "";
}

bool sameStoredName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace pack
} // namespace talve

#pragma once

#include <map>
#include <string>

namespace talve {

// The communication file the installer jar writes back: key=value lines,
// "#" comments, "\\", "\:" and "\=" escapes, and "?{key}?" references that
// are expanded on lookup.
class PropertyMap {
public:
    // Lines as a reader with a 1,024-byte buffer takes them; a longer line is
    // left out whole, so that its tail cannot pass for a line of its own.
    void load(const std::string& text, bool crLf);
    void parseLine(const std::string& line);
    // The expanded value, or "" for an absent key.
    std::string get(const std::string& key) const;

private:
    std::map<std::string, std::string> values_;
};

} // namespace talve

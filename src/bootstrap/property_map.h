#pragma once

#include <cstdio>
#include <map>
#include <string>

namespace talve {

// The communication file the installer jar writes back: key=value lines,
// "#" comments, "\\", "\:" and "\=" escapes, and "?{key}?" references that
// are expanded on lookup.
class PropertyMap {
public:
    void load(std::FILE* file);
    void parseLine(const std::string& line);
    // The expanded value, or "" for an absent key.
    std::string get(const std::string& key) const;

private:
    std::map<std::string, std::string> values_;
};

} // namespace talve

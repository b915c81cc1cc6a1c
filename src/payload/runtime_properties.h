#pragma once

#include <string>

namespace talve {

// The Java launcher that a runtime's "jvm.properties" names: the value of
// its last "java.bin.path" line, or defaultLauncher when there is none or
// its value is empty. Lines too long for the reader's buffer count as absent.
std::string launcherNamedIn(const std::string& properties, bool crLf, const std::string& defaultLauncher);

// The launcher must be a program of that runtime: a relative path that never
// climbs above the runtime's home.
bool staysInsideHome(const std::string& path);

} // namespace talve

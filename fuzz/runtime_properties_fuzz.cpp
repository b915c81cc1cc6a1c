// A runtime's "jvm.properties" comes with the runtime, and a runtime found on
// the machine may have been left there by anybody: any bytes may stand in it.
#include "payload/runtime_properties.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string properties(reinterpret_cast<const char*>(data), size);
    for (bool crLf : {false, true}) {
        const std::string launcher = talve::launcherNamedIn(properties, crLf, "bin/java");
        // The value comes from one whole line that fitted the reader's buffer.
        if (launcher.size() > 1000 || launcher.find('\n') != std::string::npos) std::abort();
        if (launcher != "bin/java" && properties.find(launcher) == std::string::npos) std::abort();
        // Accepted: relative, no drive, and never above the home.
        if (talve::staysInsideHome(launcher) &&
            (launcher[0] == '/' || launcher[0] == '\\' || launcher.find(':') != std::string::npos ||
             launcher == ".." || launcher.compare(0, 3, "../") == 0 || launcher.compare(0, 3, "..\\") == 0))
            std::abort();
    }
    return 0;
}

#pragma once

#include "bootstrap/property_map.h"

#include <string>

namespace talve {

class BootstrapContext;

// The answer the installer jar leaves for the final report. It serves that
// report only: a missing file gives an empty map, and one that cannot be
// read (not a regular file, too large) is noted as a warning, so that the
// installer's own exit code stands.
PropertyMap readCommunicationFile(BootstrapContext& context, const std::string& path);

} // namespace talve

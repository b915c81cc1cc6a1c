#include "payload/bootstrap_table_format.h"

namespace talve {
namespace table {

std::string buildMarker() {
    static const unsigned char magic[] = {0xBA, 0xDC, 0x0D, 0xE5};
    static const char text[] = "_BOOTSTRAP_TABLE_MARKER_";
    std::string marker;
    marker.reserve(markerSize);
    marker.append(reinterpret_cast<const char*>(magic), sizeof magic);
    marker.append(text, sizeof text - 1);
    marker.append(reinterpret_cast<const char*>(magic), sizeof magic);
    return marker;
}

} // namespace table
} // namespace talve

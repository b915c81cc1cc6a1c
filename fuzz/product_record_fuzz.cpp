// A product record is a file in a shared place that names an earlier
// installation's home: any bytes at all may stand there.
#include "jvm/product_record.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string record(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> home = talve::productHomeOf(record);
    // A home is the record's own first line, whole, and never holds a NUL or a line feed.
    if (home && (record.compare(0, home->size(), *home) != 0 || home->find('\0') != std::string::npos ||
                 home->find('\n') != std::string::npos))
        std::abort();
    return 0;
}

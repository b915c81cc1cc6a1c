// Times JarExtractor::extractFile on one payload of a real installer file:
//   talve_extract_bench INSTALLER ROW OUTPUT
// prints the seconds the extraction took.

#include "payload/jar_extractor.h"
#include "platform/bootstrap_context.h"
#include "platform/platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: talve_extract_bench INSTALLER ROW OUTPUT\n");
        return 2;
    }
    std::unique_ptr<talve::Platform> platform = talve::makeSystemPlatform();
    talve::BootstrapContext context(*platform);
    context.logger().setLevel(talve::Logger::ERROR);
    talve::JarExtractor extractor(context);
    if (!extractor.open(argv[1])) return 1;
    const talve::BootstrapEntry* row = extractor.entry(std::atoi(argv[2]));
    if (row == nullptr || !row->present()) return 1;

    const auto start = std::chrono::steady_clock::now();
    const bool extracted = extractor.extractFile(row->position, row->length, argv[3]);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!extracted) return 1;
    std::printf("%.6f\n", elapsed.count());
    return 0;
}

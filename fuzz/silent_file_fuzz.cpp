// Any bytes as the silent file named with -silent: it is checked before
// anything is unpacked, so it meets the launcher at its most exposed.
#include "fuzz_input.h"
#include "platform/bootstrap_context.h"
#include "silent/silent_file.h"
#include "unit/support/fake_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = talve::fuzz::writeScratchFile(data, size);
    talve::test::FakePlatform platform(talve::test::FakePlatform::Style::Posix);
    talve::BootstrapContext context(platform);
    context.logger().setConsoleStreams(talve::fuzz::quietConsole(), talve::fuzz::quietConsole());
    talve::readSilentFile(context, path);
    return 0;
}

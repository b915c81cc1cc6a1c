// Any bytes as an installer file: the table reader must refuse what it cannot
// trust and never read outside the file.
#include "fuzz_input.h"
#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "platform/bootstrap_context.h"
#include "unit/support/fake_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = talve::fuzz::writeScratchFile(data, size);
    talve::test::FakePlatform platform(talve::test::FakePlatform::Style::Posix);
    talve::BootstrapContext context(platform);
    context.logger().setConsoleStreams(talve::fuzz::quietConsole(), talve::fuzz::quietConsole());
    talve::JarExtractor extractor(context);
    if (extractor.open(path)) {
        std::string content;
        const talve::BootstrapEntry* arguments = extractor.entry(talve::table::argumentsEntry);
        if (arguments != nullptr && arguments->present()) extractor.readPayload(*arguments, 1 << 20, content);
    }
    return 0;
}

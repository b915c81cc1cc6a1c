#pragma once

#include "platform/bootstrap_context.h"
#include "unit/support/captured_log.h"
#include "unit/support/fake_platform.h"

#include <map>
#include <string>

namespace talve {
namespace test {

// A BootstrapContext on a FakePlatform, its log captured at debug level.
// The environment is given up front because the context reads
// KORVU_CONSOLE_DEBUG when it is built.
struct ContextBench {
    explicit ContextBench(FakePlatform::Style style = FakePlatform::Style::Windows,
                          std::map<std::string, std::string> environment = {})
        : platform(makePlatform(style, std::move(environment))), context(platform), log(context.logger()) {}

    static FakePlatform makePlatform(FakePlatform::Style style, std::map<std::string, std::string> environment) {
        FakePlatform platform(style);
        platform.environment = std::move(environment);
        return platform;
    }

    FakePlatform platform;
    BootstrapContext context;
    CapturedLog log;
};

} // namespace test
} // namespace talve

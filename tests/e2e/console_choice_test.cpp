// An installer packed with --console runs as if -console were given: a
// console installer's questions reach the user, and on a terminal its
// password prompt does not echo.

#include "support/harness.h"
#include "support/terminal_run.h"

#include <gtest/gtest.h>

namespace e2e {
namespace {

TEST(ConsoleChoice, TheInstallersOutputReachesTheConsoleOnlyWhenPackedSo) {
    Scratch scratch;
    const fs::path runtime = makeFakeRuntime(scratch);
    const std::string jar = scratch.write("install.jar", "jar").string();
    const fs::path plain = packInstaller(scratch, {"--jar", jar}, "plain");
    const fs::path console = packInstaller(scratch, {"--jar", jar, "--console"}, "console");
    for (const auto& [installer, shown] : {std::pair{plain, false}, std::pair{console, true}}) {
        Launch l(scratch);
        l.set("PROBE_SAY", "Which folder? ").exitCode(6);
        l.arguments({"-javaHome", target().path(runtime)});
        const RunResult r = l.run(installer);
        EXPECT_EQ(r.exitCode, 6) << r.err;
        EXPECT_EQ(target().normalized(r.out).find("Which folder? ") != std::string::npos, shown)
            << installer << ": " << r.out;
    }
}

// A real Java runtime: System.console() exists only when the installer's
// standard streams are the terminal itself.
TEST(ConsoleChoice, ARealInstallerAsksOnTheTerminalWithoutEchoingThePassword) {
    if (target().windows) GTEST_SKIP() << "Wine cannot drive a Windows console from a pseudo-terminal";
    const fs::path java = TALVE_JAVA_PATH, javac = TALVE_JAVAC_PATH;
    const fs::path jarTool = javac.parent_path() / "jar";
    if (java.empty() || javac.empty() || !fs::exists(jarTool)) GTEST_SKIP() << "no JDK on this machine";
    Scratch scratch;
    scratch.write("src/Ask.java",
                  "public class Ask {\n"
                  "    public static void main(String[] args) {\n"
                  "        java.io.Console c = System.console();\n"
                  "        if (c == null) System.exit(9);\n"
                  "        String name = c.readLine(\"Name: \");\n"
                  "        char[] password = c.readPassword(\"Password: \");\n"
                  "        c.printf(\"Hello %s, %d characters%n\", name, password.length);\n"
                  "        System.exit(5);\n"
                  "    }\n"
                  "}\n");
    const Environment tools{{"PATH", "/usr/bin:/bin"}};
    RunResult built = runProgram({javac.string(), "-d", "classes", "src/Ask.java"}, tools, scratch.root());
    ASSERT_EQ(built.exitCode, 0) << built.err;
    built = runProgram({jarTool.string(), "--create", "--file", "ask.jar", "--main-class", "Ask", "-C", "classes", "."},
                       tools, scratch.root());
    ASSERT_EQ(built.exitCode, 0) << built.err;
    fs::create_directories(scratch / "jdk/bin");
    fs::create_symlink(fs::canonical(java), scratch / "jdk/bin/java");
    scratch.write("jdk/jvm.properties", "java.bin.path=bin/java\n");
    const fs::path installer = packInstaller(scratch, {"--jar", (scratch / "ask.jar").string(), "--console"});

    Launch l(scratch);
    TerminalRun run({installer.string(), "-javaHome", (scratch / "jdk").string(), "-multipleInstance"}, l.environment,
                    scratch.root());
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.waitFor("Name: ")) << run.shown();
    run.type("Alice\r");
    ASSERT_TRUE(run.waitFor("Password: ")) << run.shown();
    run.type("s3cret-word\r");
    ASSERT_TRUE(run.waitFor("Hello Alice, 11 characters")) << run.shown();
    EXPECT_EQ(run.finish(), 5) << run.shown();
    EXPECT_EQ(run.shown().find("s3cret"), std::string::npos) << "the password was echoed: " << run.shown();
    EXPECT_TRUE(run.settingsAsBefore());
}

} // namespace
} // namespace e2e

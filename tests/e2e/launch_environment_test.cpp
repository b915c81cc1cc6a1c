// What the installer jar finds when it starts: its command line, its
// environment and its current directory.

#include "support/harness.h"

#include <gtest/gtest.h>

namespace e2e {
namespace {

class LaunchEnvironment : public ::testing::Test {
protected:
    Scratch scratch;
    fs::path runtime = makeFakeRuntime(scratch);
    fs::path jar = scratch.write("install.jar", "installer jar bytes");
    fs::path data = scratch.write("filesets.jar", "data jar bytes");

    fs::path installer(std::vector<std::string> extra = {}) {
        std::vector<std::string> options{"--jar", jar.string(), "--data", data.string()};
        options.insert(options.end(), extra.begin(), extra.end());
        return packInstaller(scratch, options);
    }
};

TEST_F(LaunchEnvironment, InstallerJarReceivesTheBootstrapEnvironment) {
    fs::path file = installer();
    Launch launch(scratch);
    launch.arguments({"-javaHome", target().path(runtime), "custom", "-console"})
        .set("_JAVA_OPTIONS", "-Xmx1m")
        .set("JAVA_TOOL_OPTIONS", "-Dleak=1")
        .set("PATH_MARKER", "x");
    RunResult result = launch.run(file);
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;

    auto record = readProbeRecord(launch.record);
    ASSERT_TRUE(record);
    const std::string sep = target().separator;
    const std::string temp = record->env("KORVU_BOOTSTRAP_TEMP");
    EXPECT_EQ(temp.rfind(target().path(launch.tempBase) + sep + "TALVE_TEMP_", 0), 0u) << temp;

    EXPECT_EQ(record->env("KORVU_BOOTSTRAP_ARGC"), "6");
    EXPECT_EQ(record->env("KORVU_BOOTSTRAP_ARGV01"), "-javaHome");
    EXPECT_EQ(record->env("KORVU_BOOTSTRAP_ARGV02"), target().path(runtime));
    EXPECT_EQ(record->env("KORVU_BOOTSTRAP_ARGV03"), "custom");
    EXPECT_EQ(record->env("KORVU_BOOTSTRAP_ARGV04"), "-console");
    EXPECT_EQ(record->env("KORVU_BOOTSTRAP_ARGV05"), "-multipleInstance");
    EXPECT_TRUE(record->has("KORVU_BOOTSTRAP_ARGV00"));
    EXPECT_EQ(record->env("KORVU_BOOTSTRAP_EXENAME"), target().path(file));
    EXPECT_EQ(record->env("myLAUNCH_DIR"), target().path(scratch.root()));
    EXPECT_EQ(record->env("KORVU_BOOTSTRAP_ONEXIT_SCRIPT"), temp + sep + "exitscript.bat");
    const std::string comm = record->env("KORVU_BOOTSTRAP_COMM_FILE");
    EXPECT_EQ(comm.rfind(temp + sep + "bootstrap_comm_", 0), 0u) << comm;
    EXPECT_EQ(comm.substr(comm.size() - 11), ".properties");
    EXPECT_EQ(record->env("KORVU_JVM_LOC"), target().path(runtime) + sep);

    const std::string libraryPath = temp + sep + "korvu_lib" + (target().windows ? ";" : ":");
    EXPECT_EQ(record->env("PATH").rfind(libraryPath, 0), 0u) << record->env("PATH");
    EXPECT_TRUE(record->libraryDirectoryExists);
    // Both jars lie beside the installer as they were packed, and only they
    // with the exit script and the library folder: an installer that copies
    // or archives its working directory finds nothing else, and can read
    // every file of it.
    EXPECT_EQ(record->files["install.jar"], "installer jar bytes");
    EXPECT_EQ(record->files["filesets.jar"], "data jar bytes");
    EXPECT_EQ(record->entries, (std::set<std::string>{"install.jar", "filesets.jar", "exitscript.bat", "korvu_lib"}));
    EXPECT_FALSE(record->has("_JAVA_OPTIONS"));
    EXPECT_FALSE(record->has("JAVA_TOOL_OPTIONS"));
    EXPECT_FALSE(record->has("TALVE_SILENT_PROPERTIES"));
    EXPECT_FALSE(record->has("TALVE_RECORD_FILE"));
    EXPECT_FALSE(record->has("KORVU_SILENT_K"));

    EXPECT_EQ(record->arguments, (std::vector<std::string>{"-Duser.language=en", "-jar", "install.jar"}));
    EXPECT_EQ(record->cwd, temp);
    EXPECT_FALSE(fs::exists(launch.tempBase / temp.substr(temp.rfind(sep) + 1))) << "temporary directory left behind";
}

TEST_F(LaunchEnvironment, JavaArgsReachTheJavaCommandOnlyWhenTheInstallerAllowsThem) {
    Launch launch(scratch);
    launch.arguments({"-javaHome", target().path(runtime), "-javaArgs", "-Xmx512m -Dx=y"});

    ASSERT_EQ(launch.run(installer({"--allow-java-args"})).exitCode, 0);
    EXPECT_EQ(readProbeRecord(launch.record)->arguments,
              (std::vector<std::string>{"-Duser.language=en", "-Xmx512m", "-Dx=y", "-jar", "install.jar"}));

    ASSERT_EQ(launch.run(installer()).exitCode, 0);
    EXPECT_EQ(readProbeRecord(launch.record)->arguments,
              (std::vector<std::string>{"-Duser.language=en", "-jar", "install.jar"}));
}

TEST_F(LaunchEnvironment, SilentAndRecordFilesAreExportedAbsolute) {
    scratch.write("answers.properties", "a=1\n");
    Launch launch(scratch);
    launch.arguments({"-javaHome", target().path(runtime), "-silent", "answers.properties", "-record", "rec.txt"});
    ASSERT_EQ(launch.run(installer()).exitCode, 0);
    auto record = readProbeRecord(launch.record);
    const std::string base = target().path(scratch.root()) + target().separator;
    EXPECT_EQ(record->env("TALVE_SILENT_PROPERTIES"), base + "answers.properties");
    EXPECT_EQ(record->env("TALVE_RECORD_FILE"), base + "rec.txt");
}

TEST_F(LaunchEnvironment, RuntimePropertiesNameTheJavaLauncher) {
    fs::create_directories(runtime / "jre" / "bin");
    fs::copy_file(runtime / "bin" / target().javaName, runtime / "jre" / "bin" / target().javaName);
    scratch.write("runtime/jvm.properties", "other=1\njava.bin.path=jre/bin/" + target().javaName + "\n");
    Launch launch(scratch);
    launch.arguments({"-javaHome", target().path(runtime), "-console"}).set("KORVU_LOG_LEVEL", "INFO");
    RunResult result = launch.run(installer());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Executing command  : \"" + target().path(runtime) + target().separator + "jre/bin/" +
                              target().javaName + "\" -Duser.language=en -jar \"install.jar\""),
              std::string::npos)
        << result.out;
}

TEST_F(LaunchEnvironment, PathsWithBlanksQuotesAndDollarsReachTheInstallerIntact) {
    const std::string odd = target().windows ? "dir with blanks $HOME" : "dir with \"quotes\" and $HOME";
    fs::path oddRuntime = makeFakeRuntime(scratch, "runtime " + odd);
    fs::create_directories(scratch / odd);
    Launch launch(scratch);
    launch.arguments({"-javaHome", target().path(oddRuntime), "-tempdir", target().path(scratch / odd)});
    RunResult result = launch.run(installer());
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    auto record = readProbeRecord(launch.record);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->env("KORVU_JVM_LOC"), target().path(oddRuntime) + target().separator);
    EXPECT_EQ(record->env("KORVU_BOOTSTRAP_TEMP").rfind(target().path(scratch / odd), 0), 0u);
    EXPECT_TRUE(fs::is_empty(scratch / odd)) << "temporary directory left behind";
}

} // namespace
} // namespace e2e

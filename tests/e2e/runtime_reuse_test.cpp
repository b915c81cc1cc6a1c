// Reusing the Java runtime of an earlier installation: product records in
// the record directories point to product homes, whose "_jvm" the carried
// checking jar must accept (here the fake java plays it, answering
// PROBE_CHECK_EXIT); otherwise the carried runtime is unpacked.

#include "support/harness.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace e2e {
namespace {

class RuntimeReuse : public ::testing::Test {
protected:
    // Where an elevated run may take what it finds: every Wine run is elevated.
    Scratch scratch{target().trustedBase()};
    const std::string sep = target().separator;
    fs::path jar = scratch.write("install.jar", "installer jar bytes");
    // Names other than check.jar and req.txt: talve-pack must store them under those.
    fs::path checker = scratch.write("verify-runtime.jar", "checking jar bytes");
    fs::path requirements = scratch.write("requirements.txt", "java.feature.min=8\n");

    fs::path installer(bool carryChecker = true, const std::vector<std::string>& extra = {},
                       const std::string& name = "installer") {
        const std::string packedName = target().windows ? "jvm.exe" : "jvm";
        const fs::path packed = scratch / packedName;
        if (runtimeSize.empty()) {
            makeFakeRuntime(scratch, "carried");
            RunResult result = runPack({"runtime", (scratch / "carried").string(), "-o", packed.string(), "--unpacker",
                                        target().unpacker});
            EXPECT_EQ(result.exitCode, 0) << result.err;
            runtimeSize = result.out.substr(0, result.out.find_first_of("\r\n"));
        }
        std::vector<std::string> options{"--jar", jar.string(), "--runtime", packed.string(), "--runtime-size",
                                         runtimeSize, "--search-installed-runtime"};
        if (carryChecker)
            options.insert(options.end(), {"--check-jar", checker.string(), "--requirements", requirements.string()});
        options.insert(options.end(), extra.begin(), extra.end());
        return packInstaller(scratch, options, name);
    }

    // A product home whose _jvm holds a runtime; its path as the launcher sees it.
    std::string productHome(const std::string& name) {
        makeFakeRuntime(scratch, name + "/_jvm");
        return target().path(scratch / name);
    }

    fs::path record(const std::string& directory, const std::string& name, const std::string& content) {
        return scratch.write(directory + "/" + name, content);
    }

    // The three record directories point into the scratch directory, so that
    // nothing on the machine can answer; the checking jar accepts.
    Launch launch() {
        Launch l(scratch);
        l.arguments({"-console"})
            .set("KORVU_LOG_LEVEL", "DEBUG")
            .set("PROBE_CHECK_EXIT", "32")
            .set("KORVU_INVENTORY_LOCATION", target().path(scratch / "inventory"))
            .set(target().launcherVariable("CommonProgramFiles"), target().path(scratch / "Common Files"))
            .set(target().launcherVariable("ALLUSERSPROFILE"), target().path(scratch / "all users"));
        return l;
    }

    // KORVU_JVM_LOC as the installer jar received it.
    std::string runtimeUsed(Launch& l, const RunResult& result) {
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        auto probe = readProbeRecord(l.record);
        if (!probe) return "no installer run";
        fs::remove(l.record);
        return probe->env("KORVU_JVM_LOC");
    }

    std::string unpackedRuntime(const RunResult& result) {
        const std::string marker = "The jvm has been unpacked at the following location : \"";
        std::size_t at = result.out.find(marker);
        if (at == std::string::npos) return "not unpacked";
        at += marker.size();
        return result.out.substr(at, result.out.find('"', at) - at);
    }

    std::string runtimeSize;
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(RuntimeReuse, RuntimeOfARecordedProductHomeIsReusedInsteadOfUnpacking) {
    const std::string home = productHome("product");
    record("inventory", "product.talve", home + "\n");
    const fs::path file = installer();
    const std::string table = runPack({"list", file.string()}).out;
    EXPECT_TRUE(contains(table, " check.jar ") && contains(table, " req.txt ")) << table;
    Launch l = launch();
    RunResult result = l.run(file);
    EXPECT_EQ(runtimeUsed(l, result), home + sep + "_jvm" + sep);
    EXPECT_TRUE(contains(result.out, "A jvm has been found at the following location : " + home + sep + "_jvm" + sep))
        << result.out;
    EXPECT_TRUE(contains(result.out, "The jvm located in \"" + home + sep + "_jvm\" is valid"));
    EXPECT_EQ(unpackedRuntime(result), "not unpacked");
}

TEST_F(RuntimeReuse, CrLfAndUpperCaseRecordsAndRefusedRuntimesFallBackToTheCarriedOne) {
    const std::string home = productHome("product");
    record("inventory", "a.talve", home + "\r\n");
    record("inventory", "b.TALVE", home + "\n");
    Launch l = launch();
    RunResult result = l.run(installer());
    EXPECT_EQ(runtimeUsed(l, result), unpackedRuntime(result)) << result.out;
    // Refused, by a root run already for its folder that cannot be examined.
    EXPECT_TRUE(contains(result.out, "jvm located in \"" + home + "\r" + sep + "_jvm\" is not ")) << result.out;
    EXPECT_FALSE(contains(result.out, "b.TALVE"));

    // A runtime without its jvm.properties is refused like one given with -javaHome.
    fs::remove(scratch / "product" / "_jvm" / "jvm.properties");
    record("inventory", "c.talve", home + "\n");
    result = l.run(installer());
    EXPECT_EQ(runtimeUsed(l, result), unpackedRuntime(result)) << result.out;
    EXPECT_TRUE(contains(result.out, "jvm located in \"" + home + sep + "_jvm\" is not ")) << result.out;
    makeFakeRuntime(scratch, "product/_jvm");

    // A proper record, but the checking jar refuses the runtime.
    record("inventory", "c.talve", home + "\n");
    l.set("PROBE_CHECK_EXIT", "0");
    result = l.run(installer());
    EXPECT_EQ(runtimeUsed(l, result), unpackedRuntime(result)) << result.out;
    EXPECT_TRUE(contains(result.out, "The jvm located in \"" + home + sep + "_jvm\" is not valid"));
}

// A check that refuses with code 1 (as a checking jar that fails does) is
// only the answer "not this runtime": the console stays empty, and nothing
// counts as an error that would hold the window open at the end.
TEST_F(RuntimeReuse, ACheckingJarThatFailsLeavesTheConsoleEmpty) {
    const std::string home = productHome("product");
    record("inventory", "product.talve", home + "\n");
    Launch l(scratch);
    l.set("PROBE_CHECK_EXIT", "1")
        .set("KORVU_INVENTORY_LOCATION", target().path(scratch / "inventory"))
        .set(target().launcherVariable("CommonProgramFiles"), target().path(scratch / "Common Files"))
        .set(target().launcherVariable("ALLUSERSPROFILE"), target().path(scratch / "all users"));
    RunResult result = l.run(installer());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(readProbeRecord(l.record)) << "the installer did not run on the carried runtime";
}

TEST_F(RuntimeReuse, WithoutACheckingJarNoRuntimeOfTheMachineIsAccepted) {
    const std::string home = productHome("product");
    record("inventory", "product.talve", home + "\n");
    Launch l = launch();
    RunResult result = l.run(installer(false));
    EXPECT_EQ(runtimeUsed(l, result), unpackedRuntime(result)) << result.out;
    EXPECT_TRUE(contains(result.out, "No jvm checking jar has been provided"));
    EXPECT_TRUE(contains(result.out, "Unable to check the jvm located in : " + home + sep + "_jvm"));
}

TEST_F(RuntimeReuse, LocationWinsBeforeAnyRecordDirectoryIsListed) {
    record("inventory", "other.talve", productHome("other") + "\n");
    const std::string home = productHome("given");
    Launch l = launch();
    l.arguments({"-console", "-location", home});
    RunResult result = l.run(installer());
    EXPECT_EQ(runtimeUsed(l, result), home + sep + "_jvm" + sep);
    EXPECT_FALSE(contains(result.out, "Analyzing directory")) << result.out;
}

// The run looks into the product home only after it has moved into its
// temporary directory: a relative home is taken from the launch folder, on
// either pass over the command line.
TEST_F(RuntimeReuse, ARelativeLocationIsTheFolderUnderTheLaunchFolder) {
    const std::string home = productHome("relative home");
    const fs::path specification =
        scratch.write("args.spec", "-console{\nType=NoValue\n}\n-multipleInstance{\nType=NoValue\n}\n"
                                   "-location{\nType=String\n}\n");
    const fs::path plain = installer();
    const fs::path validated = installer(true, {"--args-spec", specification.string()}, "validated");
    for (const fs::path& file : {plain, validated}) {
        SCOPED_TRACE(file.filename().string());
        Launch l = launch();
        l.arguments({"-console", "-location", "relative home"});
        RunResult result = l.run(file);
        EXPECT_EQ(runtimeUsed(l, result), home + sep + "_jvm" + sep) << result.out;
    }
}

// Elevated runs (root; every run under Wine) take the java a record points
// to only when no other account could have planted it: a record folder, a
// record or a runtime that another account could change is passed over and
// the carried runtime unpacked instead; the same search by that account
// itself takes them.
TEST_F(RuntimeReuse, AnElevatedRunPassesOverWhatAnotherUserCouldPlantAndThatUsersRunTakesIt) {
    if (!target().windows && geteuid() != 0) GTEST_SKIP() << "only a root run is elevated here";
    const std::string refusal = "INFO \t: The record folder \"";
    auto openToEveryone = [](const std::string& path) {
        return "\"" + path + (target().windows ? "\" may be changed by Everyone (S-1-1-0)."
                                                : "\" may be written by every user.");
    };
    const std::string home = productHome("product");
    const fs::path recordFile = record("inventory", "p.talve", home + "\n");
    const fs::path inventory = recordFile.parent_path();
    const fs::path file = installer();
    fs::permissions(inventory, fs::perms::all);
    Launch l = launch();
    RunResult result = l.run(file);
    EXPECT_EQ(runtimeUsed(l, result), unpackedRuntime(result)) << result.out;
    EXPECT_TRUE(contains(result.out, refusal + target().path(inventory) +
                                         "\" is not used by a run with administrator rights: " +
                                         openToEveryone(target().path(inventory))))
        << result.out;

    const fs::perms sound = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(inventory, sound);
    fs::permissions(scratch / "product" / "_jvm" / "bin", fs::perms::all);
    Launch changed = launch();
    result = changed.run(file);
    EXPECT_EQ(runtimeUsed(changed, result), unpackedRuntime(result)) << result.out;
    EXPECT_TRUE(contains(result.out, openToEveryone(home + sep + "_jvm" + sep + "bin"))) << result.out;
    fs::permissions(scratch / "product" / "_jvm" / "bin", sound);

    if (geteuid() == 0) {
        ASSERT_EQ(chown(recordFile.c_str(), 65534, 65534), 0);
        Launch planted = launch();
        result = planted.run(file);
        EXPECT_EQ(runtimeUsed(planted, result), unpackedRuntime(result)) << result.out;
        EXPECT_TRUE(contains(result.out, "The product record \"" + target().path(recordFile) +
                                             "\" is not used by a run with administrator rights: \"" +
                                             target().path(recordFile) + "\" belongs to " +
                                             (target().windows ? "NT AUTHORITY\\ANONYMOUS LOGON (S-1-5-7)."
                                                               : "user 65534.")))
            << result.out;
        ASSERT_EQ(chown(recordFile.c_str(), 0, 0), 0);
    }
    Launch trusted = launch();
    result = trusted.run(file);
    EXPECT_EQ(runtimeUsed(trusted, result), home + sep + "_jvm" + sep) << result.out;

    // Wine gives every run an elevated token: there is no unelevated run to try.
    if (target().windows) return;
    fs::permissions(inventory, fs::perms::all);
    const std::string nobody = nobodyProblem();
    if (!nobody.empty()) GTEST_SKIP() << "the unelevated run needs an account to run as: " << nobody;
    shareWithNobody(scratch);
    Launch plain = launch();
    result = plain.asNobody().run(file);
    EXPECT_EQ(runtimeUsed(plain, result), home + "/_jvm/") << result.out << result.err;
}

// What a runtime loads besides its launcher (its libraries) counts as much:
// an elevated run refuses a runtime with any entry another account could
// change or add to, at any depth, or a link leading to such a place.
TEST_F(RuntimeReuse, AnElevatedRunRefusesARuntimeAnyEntryOfWhichAnotherUserCouldChange) {
    if (!target().windows && geteuid() != 0) GTEST_SKIP() << "only a root run is elevated here";
    const std::string home = productHome("product");
    record("inventory", "p.talve", home + "\n");
    // Where each system's java finds the virtual machine it loads.
    const std::string serverFolder = target().windows ? "bin/server" : "lib/server";
    const fs::path server = scratch / "product" / "_jvm" / serverFolder;
    const fs::path library =
        scratch.write("product/_jvm/" + serverFolder + (target().windows ? "/jvm.dll" : "/libjvm.so"), "library");
    const fs::path file = installer();
    const fs::perms sound = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec;
    auto refusedFor = [&](const std::string& what, const RunResult& result, Launch& l) {
        EXPECT_EQ(runtimeUsed(l, result), unpackedRuntime(result)) << what << "\n" << result.out;
        EXPECT_TRUE(contains(result.out, "INFO \t: The jvm located in \"" + home + sep + "_jvm" +
                                             "\" is not used by a run with administrator rights: " + what))
            << result.out;
    };
    const std::string serverSeen = target().path(server);

    fs::permissions(server, fs::perms::all);
    Launch open = launch();
    RunResult result = open.run(file);
    refusedFor("\"" + serverSeen + (target().windows ? "\" may be changed by Everyone (S-1-1-0)."
                                                     : "\" may be written by every user."),
               result, open);
    fs::permissions(server, sound);

    if (geteuid() == 0) {
        ASSERT_EQ(chown(library.c_str(), 65534, 65534), 0);
        Launch planted = launch();
        result = planted.run(file);
        refusedFor("\"" + target().path(library) + "\" belongs to " +
                       (target().windows ? "NT AUTHORITY\\ANONYMOUS LOGON (S-1-5-7)." : "user 65534."),
                   result, planted);
        ASSERT_EQ(chown(library.c_str(), 0, 0), 0);
    }

    if (!target().windows) {
        // Links are refused outright under Windows; here one is judged by where it leads.
        const fs::path elsewhere = scratch / "elsewhere";
        fs::create_directories(elsewhere);
        fs::permissions(elsewhere, fs::perms::all);
        fs::create_directory_symlink(elsewhere, scratch / "product" / "_jvm" / "lib" / "extra");
        Launch linked = launch();
        result = linked.run(file);
        refusedFor("\"" + elsewhere.string() + "\" may be written by every user.", result, linked);
        fs::permissions(elsewhere, sound);
    }

    Launch trusted = launch();
    result = trusted.run(file);
    EXPECT_EQ(runtimeUsed(trusted, result), home + sep + "_jvm" + sep) << result.out;

    if (target().windows) return;
    const std::string nobody = nobodyProblem();
    if (!nobody.empty()) GTEST_SKIP() << "the unelevated run needs an account to run as: " << nobody;
    fs::permissions(server, fs::perms::all);
    shareWithNobody(scratch);
    Launch plain = launch();
    result = plain.asNobody().run(file);
    EXPECT_EQ(runtimeUsed(plain, result), home + "/_jvm/") << result.out << result.err;
}

TEST_F(RuntimeReuse, RecordDirectoriesAreSearchedInTheirOrder) {
    const fs::path inventory = record("inventory", "p.talve", productHome("first") + "\n");
    const fs::path common = record("Common Files/talve", "p.talve", productHome("second") + "\n");
    record("all users/talve", "p.talve", productHome("third") + "\n");
    const fs::path file = installer();
    for (const std::string expected : {"first", "second", "third"}) {
        Launch l = launch();
        RunResult result = l.run(file);
        EXPECT_EQ(runtimeUsed(l, result), target().path(scratch / expected) + sep + "_jvm" + sep) << result.out;
        fs::remove(expected == std::string("first") ? inventory : common);
    }
    Launch l = launch();
    RunResult result = l.run(file);
    EXPECT_TRUE(contains(result.out, "Analyzing directory : \"" + target().path(scratch / "Common Files") + sep +
                                         "talve" + sep + "\""))
        << result.out;
}

TEST_F(RuntimeReuse, RuntimeAndTemporaryPathsWithBlanksAreAccepted) {
    const std::string home = productHome("Program Files (x86)/Product Home");
    record("inventory", "product.talve", home + "\n");
    fs::create_directories(scratch / "temp dir");
    Launch l = launch();
    l.arguments({"-console", "-tempdir", target().path(scratch / "temp dir")});
    RunResult result = l.run(installer());
    EXPECT_EQ(runtimeUsed(l, result), home + sep + "_jvm" + sep) << result.out;
    EXPECT_TRUE(fs::is_empty(scratch / "temp dir")) << "temporary directory left behind";
}

} // namespace
} // namespace e2e

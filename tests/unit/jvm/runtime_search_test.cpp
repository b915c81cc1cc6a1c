#include "jvm/product_record.h"
#include "payload/bootstrap_table_format.h"
#include "payload/jar_extractor.h"
#include "unit/support/context_bench.h"
#include "unit/support/installer_builder.h"
#include "unit/support/scratch_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace talve {
namespace {

namespace fs = std::filesystem;
using test::ContextBench;
using test::FakePlatform;
using Lines = std::vector<std::string>;

constexpr std::uint64_t MiB = 1 << 20;

// A launcher in the middle of a run: an installer file carrying a checking
// jar and a requirement file, a temporary directory whose path has a blank,
// and runtimes and product records as real files in a scratch directory.
// With the Windows style, "a\b" is one file name on the test's file system,
// so that the paths the search composes are checked exactly as composed.
// Extracted payloads land in the current directory, which is the scratch
// directory while the bench lives.
class SearchBench {
public:
    explicit SearchBench(FakePlatform::Style style = FakePlatform::Style::Posix)
        : bench(style), sep(bench.context.pathSeparator), previousDirectory(fs::current_path()) {
        fs::current_path(scratch.path());
        bench.context.tempDir = "/tmp dir/TALVE_TEMP_1";
        bench.platform.freeBytes = 100 * MiB;
        installer.payload(table::jvmCheckingJarEntry, "checking jar", "check.jar");
        installer.payload(table::requirementEntry, "java.feature.min=17\n", "req.txt");
    }
    ~SearchBench() { fs::current_path(previousDirectory); }

    JarExtractor& reader() {
        if (!reader_) {
            installer.write(scratch.file("setup"));
            reader_ = std::make_unique<JarExtractor>(bench.context);
            EXPECT_TRUE(reader_->open(scratch.file("setup")));
        }
        return *reader_;
    }

    std::string path(const std::string& name) const { return scratch.path() + sep + name; }

    // A product home whose _jvm holds a java launcher and the jvm.properties
    // naming it; returns the home.
    std::string home(const std::string& name) {
        const std::string home = path(name);
        const std::string launcher = "bin" + sep + "java" + bench.platform.conventions().executableSuffix;
        writeCreatingParents(home + sep + "_jvm" + sep + launcher, "launcher");
        test::writeFile(home + sep + "_jvm" + sep + "jvm.properties", "java.bin.path=" + launcher + "\n");
        return home;
    }

    // Record files in a record directory, listed in the order given.
    void records(const std::string& directory, const std::vector<std::pair<std::string, std::string>>& files) {
        std::vector<std::string>& names = bench.platform.listings[directory];
        for (const auto& [name, content] : files) {
            writeCreatingParents(directory + sep + name, content);
            names.push_back(name);
        }
    }

    // The runtimes the checking jar was run for, in order.
    Lines checked() const {
        Lines runtimes;
        const std::string prefix = "INFO \t: Checking validity of jvm located in : ";
        for (const std::string& line : bench.log.lines())
            if (line.rfind(prefix, 0) == 0) runtimes.push_back(line.substr(prefix.size()));
        return runtimes;
    }

    test::ScratchDirectory scratch;
    ContextBench bench;
    const std::string sep;
    test::InstallerBuilder installer;

private:
    static void writeCreatingParents(const std::string& file, const std::string& content) {
        fs::create_directories(fs::path(file).parent_path());
        test::writeFile(file, content);
    }

    fs::path previousDirectory;
    std::unique_ptr<JarExtractor> reader_;
};

TEST(IsJvmValid, RunsTheCheckingJarWithQuotedPathsAndAcceptsOnlyTheAnswer32) {
    SearchBench search;
    const std::string runtime = search.home("home with blanks") + "/_jvm";
    search.bench.platform.queueOutcome(true, 32);
    EXPECT_TRUE(search.reader().isJvmValid(runtime));
    ASSERT_EQ(search.bench.platform.processCalls.size(), 1u);
    EXPECT_EQ(search.bench.platform.processCalls[0].commandLine,
              "\"" + runtime + "/bin/java\" -jar \"/tmp dir/TALVE_TEMP_1/check.jar\" \"/tmp dir/TALVE_TEMP_1/req.txt\"");
    EXPECT_EQ(test::readFile(search.scratch.file("check.jar")), "checking jar");
    EXPECT_EQ(test::readFile(search.scratch.file("req.txt")), "java.feature.min=17\n");
    EXPECT_TRUE(search.bench.log.has("INFO \t: The jvm located in \"" + runtime + "\" is valid"));

    // Refusals, the code of a failed program, and a java that never started.
    for (ProcessOutcome outcome : {ProcessOutcome{true, 0}, ProcessOutcome{true, 33}, ProcessOutcome{true, 1},
                                   ProcessOutcome{false, 32}}) {
        search.bench.platform.outcomes.push_back(outcome);
        EXPECT_FALSE(search.reader().isJvmValid(runtime)) << outcome.exitCode;
        EXPECT_EQ(search.bench.log.lines().back(), "INFO \t: The jvm located in \"" + runtime + "\" is not valid");
    }
    // A refusal is an answer: nothing for the console, nothing that keeps the window open at the end.
    EXPECT_TRUE(search.bench.log.has("INFO \t: Process failed to execute successfully. Return code was : 1"));
    EXPECT_TRUE(search.bench.log.errors().empty());
    EXPECT_FALSE(search.bench.context.logger().hadError());
}

// A checking program that never answers holds up the run only until its
// time limit; the runtime is then passed over like one it refused, and the
// search goes on with the next.
TEST(IsJvmValid, ACheckThatNeverEndsIsStoppedAtItsLimitAndCountsAsARefusal) {
    SearchBench search;
    const std::string hung = search.home("hung"), good = search.home("good");
    ProcessOutcome stopped;
    stopped.timedOut = true;
    search.bench.platform.outcomes.push_back(stopped);
    search.bench.platform.queueOutcome(true, 32);
    EXPECT_FALSE(search.reader().isJvmValid(hung + "/_jvm"));
    EXPECT_TRUE(search.reader().isJvmValid(good + "/_jvm"));
    ASSERT_EQ(search.bench.platform.processCalls.size(), 2u);
    for (const FakePlatform::ProcessCall& call : search.bench.platform.processCalls)
        EXPECT_EQ(call.timeLimit, std::chrono::milliseconds(60000)) << call.commandLine;
    const std::string command = search.bench.platform.processCalls[0].commandLine;
    EXPECT_TRUE(search.bench.log.has("INFO \t: The command did not end within 60 seconds and was stopped with the "
                                     "programs it started : " + command));
    EXPECT_TRUE(search.bench.log.has("INFO \t: The jvm located in \"" + hung + "/_jvm\" is not valid"));
    EXPECT_TRUE(search.bench.log.errors().empty());
}

TEST(IsJvmValid, NamesTheWindowsLauncherAndQuotesItsFolder) {
    SearchBench search(FakePlatform::Style::Windows);
    search.bench.context.tempDir = "C:\\Users\\Ann Lee\\AppData\\Local\\Temp\\TALVE_TEMP_1";
    const std::string runtime = search.home("Program Files (x86)") + "\\_jvm";
    search.bench.platform.queueOutcome(true, 32);
    EXPECT_TRUE(search.reader().isJvmValid(runtime));
    EXPECT_EQ(search.bench.platform.processCalls.at(0).commandLine,
              "\"" + runtime + "\\bin\\java.exe\" -jar \"C:\\Users\\Ann Lee\\AppData\\Local\\Temp\\TALVE_TEMP_1\\check.jar\" "
              "\"C:\\Users\\Ann Lee\\AppData\\Local\\Temp\\TALVE_TEMP_1\\req.txt\"");
}

TEST(IsJvmValid, RejectsWithoutRunningAnythingWhenJavaOrTheCheckingJarIsMissing) {
    SearchBench search;
    const std::string missing = search.home("nothing") + "/_jvm";
    fs::remove(missing + "/bin/java");
    const std::string folder = search.home("folder") + "/_jvm";
    fs::remove(folder + "/bin/java");
    fs::create_directories(folder + "/bin/java"); // a directory by that name is no launcher
    for (const std::string& runtime : {missing, folder}) {
        EXPECT_FALSE(search.reader().isJvmValid(runtime));
        const Lines lines = search.bench.log.lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "DEBUG \t: Cannot find java executable for jvm located in : " + runtime);
        EXPECT_EQ(lines.back(), "INFO \t: This jvm located in \"" + runtime + "\" is not valid");
    }

    SearchBench unchecked;
    unchecked.installer.row(table::jvmCheckingJarEntry) = BootstrapEntry{};
    const std::string runtime = unchecked.home("h") + "/_jvm";
    EXPECT_FALSE(unchecked.reader().isJvmValid(runtime));
    const Lines lines = unchecked.bench.log.lines();
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
              (Lines{"DEBUG \t: No jvm checking jar has been provided",
                     "INFO \t: Unable to check the jvm located in : " + runtime}));
    for (const SearchBench* bench : {&search, &unchecked}) {
        EXPECT_TRUE(bench->bench.platform.processCalls.empty());
        EXPECT_TRUE(bench->bench.platform.freeSpaceQueries.empty());
        EXPECT_TRUE(bench->bench.log.errors().empty());
    }
}

// The same rule as for -javaHome: no runtime without its jvm.properties; and
// the checking jar runs on the launcher that file names, the one that would
// run the installer, not on a bin/java beside it.
TEST(IsJvmValid, ChecksTheLauncherTheRuntimePropertiesNameAndNothingWithoutThem) {
    SearchBench search;
    const std::string runtime = search.home("h") + "/_jvm";
    fs::create_directories(runtime + "/jre/bin");
    test::writeFile(runtime + "/jre/bin/java", "the launcher that runs");
    test::writeFile(runtime + "/jvm.properties", "java.bin.path=bin/java\njava.bin.path=jre/bin/java\n");
    search.bench.platform.queueOutcome(true, 32);
    EXPECT_TRUE(search.reader().isJvmValid(runtime));
    ASSERT_EQ(search.bench.platform.processCalls.size(), 1u);
    EXPECT_EQ(search.bench.platform.processCalls[0].commandLine.rfind("\"" + runtime + "/jre/bin/java\" -jar ", 0), 0u)
        << search.bench.platform.processCalls[0].commandLine;

    fs::remove(runtime + "/jre/bin/java");
    EXPECT_FALSE(search.reader().isJvmValid(runtime));
    EXPECT_TRUE(search.bench.log.has("DEBUG \t: Cannot find java executable for jvm located in : " + runtime));

    const std::string properties = runtime + "/jvm.properties";
    for (const std::string& content : {std::string("java.bin.path=../../elsewhere/java\n"),
                                       std::string("java.bin.path=/usr/bin/java\n")}) {
        test::writeFile(properties, content);
        EXPECT_FALSE(search.reader().isJvmValid(runtime)) << content;
        EXPECT_EQ(search.bench.log.lines().back(), "INFO \t: This jvm located in \"" + runtime + "\" is not valid");
    }
    fs::remove(properties);
    EXPECT_FALSE(search.reader().isJvmValid(runtime));
    EXPECT_TRUE(search.bench.log.has("DEBUG \t: The file \"" + properties + "\" does not exist."));
    EXPECT_EQ(search.bench.platform.processCalls.size(), 1u) << "a refused runtime was run";
    EXPECT_TRUE(search.bench.log.errors().empty());
}

TEST(IsJvmValid, WithoutARequirementFileTheCheckStillRunsAndNothingIsReportedAsAnError) {
    SearchBench search;
    search.installer.row(table::requirementEntry) = BootstrapEntry{};
    const std::string runtime = search.home("h") + "/_jvm";
    search.bench.platform.queueOutcome(true, 34);
    EXPECT_FALSE(search.reader().isJvmValid(runtime));
    EXPECT_EQ(search.bench.platform.processCalls.size(), 1u);
    EXPECT_TRUE(search.bench.log.errors().empty());
    EXPECT_FALSE(test::fileExists(search.scratch.file("req.txt")));
}

TEST(IsJvmValid, NeedsRoomForTheCheckingJarAndItsRequirements) {
    SearchBench search;
    search.installer.row(table::jvmCheckingJarEntry).diskspace = static_cast<std::uint32_t>(2 * MiB);
    search.installer.row(table::requirementEntry).diskspace = static_cast<std::uint32_t>(MiB);
    const std::string runtime = search.home("h") + "/_jvm";
    search.bench.platform.freeBytes = 4 * MiB - 1;
    EXPECT_FALSE(search.reader().isJvmValid(runtime));
    EXPECT_EQ(search.bench.log.errors(),
              Lines{"ERROR \t: There isn't enough space in the temporary directory (/tmp dir/TALVE_TEMP_1) to extract "
                    "the jvm checking jar and the requirement file"});
    EXPECT_TRUE(search.bench.platform.processCalls.empty());
    search.bench.platform.freeBytes = 4 * MiB;
    search.bench.platform.queueOutcome(true, 32);
    EXPECT_TRUE(search.reader().isJvmValid(runtime));

    // Under a megabyte each, 1 is needed, and an unknown free space counts as 1.
    SearchBench small;
    small.bench.platform.freeBytes.reset();
    small.bench.platform.queueOutcome(true, 32);
    EXPECT_TRUE(small.reader().isJvmValid(small.home("h") + "/_jvm"));

    // A size beyond 2 GiB must not turn negative and pass.
    SearchBench huge;
    huge.installer.row(table::jvmCheckingJarEntry).diskspace = 0xC0000000u;
    EXPECT_FALSE(huge.reader().isJvmValid(huge.home("h") + "/_jvm"));
    EXPECT_EQ(huge.bench.log.errors().size(), 1u);
}

TEST(ProductHomeOf, TakesTheFirstLineUncutOrNothing) {
    EXPECT_EQ(productHomeOf("/opt/product\n/second/line\n"), "/opt/product");
    EXPECT_EQ(productHomeOf("/opt/product"), "/opt/product");
    EXPECT_EQ(productHomeOf("C:\\Product\r\n"), "C:\\Product\r");
    EXPECT_EQ(productHomeOf(" /opt/product \n"), " /opt/product ");
    EXPECT_EQ(productHomeOf("\nnext"), "");
    EXPECT_EQ(productHomeOf(""), std::nullopt);
    EXPECT_EQ(productHomeOf(std::string("/opt\0/x\n", 8)), std::nullopt);
    // 2046 characters and the line feed fill the buffer; one more and the
    // record is passed over rather than read as a shorter, different path.
    const std::string longest(2046, 'a');
    EXPECT_EQ(productHomeOf(longest + "\n"), longest);
    EXPECT_EQ(productHomeOf(longest + "a\n/opt/product\n"), std::nullopt);
    EXPECT_EQ(productHomeOf(longest + "a"), longest + "a");
    EXPECT_EQ(productHomeOf(longest + "aa"), std::nullopt);
}

TEST(GetJvmFromDir, TriesOnlyRecordsInListingOrderUntilOneIsAccepted) {
    SearchBench search;
    const std::string inventory = search.path("inventory");
    const std::string good = search.home("good"), second = search.home("second");
    fs::create_directories(search.path("inventory/folder.talve"));
    search.bench.platform.listings[inventory] = {".", "..", "folder.talve"};
    search.records(inventory, {{"upper.TALVE", good + "\n"},
                               {"talve", good + "\n"},
                               {"old.talve.bak", good + "\n"},
                               {"crlf.talve", good + "\r\n"},
                               {"norun.talve", search.path("empty home") + "\n"},
                               {"refused.talve", good + "\n"},
                               {".talve", second + "\n/ignored\n"},
                               {"later.talve", good + "\n"}});
    search.bench.platform.queueOutcome(true, 0);
    search.bench.platform.queueOutcome(true, 32);

    std::string location;
    ASSERT_TRUE(search.reader().getJvmFromDir(location, inventory.c_str()));
    EXPECT_EQ(location, second + "/_jvm/");
    EXPECT_EQ(search.checked(), (Lines{good + "\r/_jvm", search.path("empty home") + "/_jvm", good + "/_jvm", second + "/_jvm"}));
    EXPECT_TRUE(search.bench.log.has("DEBUG \t: Analyzing directory : \"" + inventory + "\""));
    EXPECT_TRUE(search.bench.log.has("DEBUG \t: talve File : " + inventory + "/folder.talve"));
    EXPECT_TRUE(search.bench.log.has("DEBUG \t: talve File : " + inventory + "/crlf.talve"));
    EXPECT_FALSE(search.bench.log.has("DEBUG \t: talve File : " + inventory + "/later.talve"));

    std::string untouched = "unchanged";
    EXPECT_FALSE(search.reader().getJvmFromDir(untouched, nullptr));
    EXPECT_FALSE(search.reader().getJvmFromDir(untouched, search.path("unlistable").c_str()));
    EXPECT_EQ(untouched, "unchanged");
}

TEST(GetJvmFromDir, PassesOverPathsBeyondTheSearchBuffers) {
    SearchBench search;
    search.bench.platform.queueOutcome(true, 32);
    // The result, separator included, must stay within 259 characters.
    std::string home = search.path("h");
    home += std::string(259 - std::string("/_jvm/").size() - home.size(), 'h');
    std::string location;
    search.bench.context.locationGiven = true;
    search.bench.context.location = home + "x";
    search.home(home.substr(search.scratch.path().size() + 1) + "x");
    EXPECT_FALSE(search.reader().getJvmFromProductHome(location));
    EXPECT_TRUE(search.checked().empty());
    search.bench.context.location = search.home(home.substr(search.scratch.path().size() + 1));
    EXPECT_TRUE(search.reader().getJvmFromProductHome(location));
    EXPECT_EQ(location.size(), 259u);

    const std::string longDirectory = "/" + std::string(997, 'd');
    EXPECT_FALSE(search.reader().getJvmFromDir(location, longDirectory.c_str()));
    EXPECT_TRUE(search.bench.platform.listedDirectories.empty());

    // Record paths of 2047 characters are read; one more, and the record is passed over.
    const std::string directory = search.path("r");
    const std::string longest = std::string(2047 - directory.size() - 7, 'n') + ".talve";
    search.bench.platform.listings[directory] = {longest, "n" + longest};
    EXPECT_FALSE(search.reader().getJvmFromDir(location, directory.c_str()));
    EXPECT_TRUE(search.bench.log.has("DEBUG \t: talve File : " + directory + "/" + longest));
    EXPECT_FALSE(search.bench.log.has("DEBUG \t: talve File : " + directory + "/n" + longest));
}

// A run with administrator rights would run the java of whoever can plant a
// record or change a runtime: it passes over what others could change, and
// says why; a plain run asks nothing.
TEST(GetJvmFromDir, AnElevatedRunPassesOverWhatOthersCouldChange) {
    SearchBench search;
    const std::string directory = search.path("records");
    const std::string planted = search.home("planted"), open = search.home("open"), sound = search.home("sound");
    search.records(directory, {{"a.talve", planted + "\n"}, {"b.talve", open + "\n"}, {"c.talve", sound + "\n"}});
    search.bench.platform.elevated = true;
    search.bench.platform.openToOthers = {
        {directory + "/a.talve", "\"" + directory + "/a.talve\" belongs to user 1000"},
        {open + "/_jvm", "\"" + open + "/_jvm/lib/server\" may be written by every user"}};
    search.bench.platform.queueOutcome(true, 32);
    std::string location;
    ASSERT_TRUE(search.reader().getJvmFromDir(location, directory.c_str()));
    EXPECT_EQ(location, sound + "/_jvm/");
    EXPECT_TRUE(search.bench.log.has("INFO \t: The product record \"" + directory +
                                     "/a.talve\" is not used by a run with administrator rights: \"" + directory +
                                     "/a.talve\" belongs to user 1000."));
    EXPECT_TRUE(search.bench.log.has("INFO \t: The jvm located in \"" + open +
                                     "/_jvm\" is not used by a run with administrator rights: \"" + open +
                                     "/_jvm/lib/server\" may be written by every user."));
    EXPECT_EQ(search.checked(), (Lines{open + "/_jvm", sound + "/_jvm"})) << "the planted record was read";
    EXPECT_EQ(search.bench.platform.processCalls.size(), 1u);
    // The folder with all above it, where others may add records of their
    // own; each record alone; each runtime as a whole tree, where nobody
    // else may add anything.
    const Lines expected{directory + " +a",  directory + "/a.talve ", directory + "/b.talve ",
                         open + "/_jvm tree", directory + "/c.talve ", sound + "/_jvm tree"};
    EXPECT_EQ(search.bench.platform.rightsQuestions, expected);
    EXPECT_TRUE(search.bench.log.errors().empty());

    // A folder others could change is not even listed.
    search.bench.platform.openToOthers[directory] = "\"" + directory + "\" may be written by group 100";
    EXPECT_FALSE(search.reader().getJvmFromDir(location, directory.c_str()));
    EXPECT_TRUE(search.bench.log.has("INFO \t: The record folder \"" + directory +
                                     "\" is not used by a run with administrator rights: \"" + directory +
                                     "\" may be written by group 100."));
    EXPECT_EQ(search.bench.platform.listedDirectories.size(), 1u);

    SearchBench plain;
    plain.records(directory, {{"a.talve", plain.home("planted") + "\n"}});
    plain.bench.platform.openToOthers = search.bench.platform.openToOthers;
    plain.bench.platform.queueOutcome(true, 32);
    EXPECT_TRUE(plain.reader().getJvmFromDir(location, directory.c_str()));
    EXPECT_TRUE(plain.bench.platform.rightsQuestions.empty());
}

// Many records may name one home: its runtime is judged once in a run,
// and a verdict against it stands for every record, while each record is
// still judged on its own.
TEST(GetJvmFromDir, AnElevatedRunJudgesEachRuntimeOnce) {
    SearchBench search;
    const std::string directory = search.path("records");
    const std::string open = search.home("open"), sound = search.home("sound");
    search.records(directory, {{"a.talve", open + "\n"}, {"b.talve", open + "\n"}, {"c.talve", sound + "\n"},
                               {"d.talve", open + "\n"}});
    search.bench.platform.elevated = true;
    search.bench.platform.openToOthers = {{open + "/_jvm", "\"" + open + "/_jvm/lib\" belongs to user 1000"}};
    search.bench.platform.queueOutcome(true, 0);
    std::string location;
    EXPECT_FALSE(search.reader().getJvmFromDir(location, directory.c_str()));
    const Lines expected{directory + " +a", directory + "/a.talve ", open + "/_jvm tree",  directory + "/b.talve ",
                         directory + "/c.talve ", sound + "/_jvm tree", directory + "/d.talve "};
    EXPECT_EQ(search.bench.platform.rightsQuestions, expected);
    EXPECT_EQ(search.checked(), (Lines{open + "/_jvm", open + "/_jvm", sound + "/_jvm", open + "/_jvm"}));
    EXPECT_EQ(search.bench.platform.processCalls.size(), 1u) << "only the sound runtime reaches the checking jar";

    // The same reader later in the run asks no more.
    search.bench.platform.rightsQuestions.clear();
    EXPECT_FALSE(search.reader().getJvmFromDir(location, directory.c_str()));
    EXPECT_EQ(search.bench.platform.rightsQuestions.size(), 5u) << "the folder and the four records only";
}

TEST(GetJVMLocation, TriesTheProductHomeThenTheThreeRecordDirectoriesInOrder) {
    SearchBench search;
    search.bench.context.locationGiven = true;
    search.bench.context.location = search.path("given");
    search.bench.platform.environment = {{"KORVU_INVENTORY_LOCATION", "/inv"},
                                         {"CommonProgramFiles", "/common"},
                                         {"ALLUSERSPROFILE", "/all users"}};
    std::string location;
    EXPECT_FALSE(search.reader().getJVMLocation(location));
    EXPECT_EQ(search.checked(), Lines{search.path("given") + "/_jvm"});
    EXPECT_EQ(search.bench.platform.listedDirectories, (Lines{"/inv", "/common/talve/", "/all users/talve/"}));

    // A valid home given with -location wins before any directory is listed.
    search.bench.platform.listedDirectories.clear();
    search.home("given");
    search.bench.platform.queueOutcome(true, 32);
    EXPECT_TRUE(search.reader().getJVMLocation(location));
    EXPECT_EQ(location, search.path("given") + "/_jvm/");
    EXPECT_TRUE(search.bench.platform.listedDirectories.empty());

    // The first directory with an accepted record ends the search.
    search.bench.context.locationGiven = false;
    search.bench.platform.environment = {{"CommonProgramFiles", search.scratch.path()},
                                         {"ALLUSERSPROFILE", search.path("all")}};
    search.records(search.path("talve/"), {{"p.talve", search.home("common home") + "\n"}});
    search.records(search.path("all/talve/"), {{"p.talve", search.home("all home") + "\n"}});
    search.bench.platform.queueOutcome(true, 32);
    EXPECT_TRUE(search.reader().getJVMLocation(location));
    EXPECT_EQ(location, search.path("common home") + "/_jvm/");
    EXPECT_EQ(search.bench.platform.listedDirectories.back(), search.path("talve/"));
}

TEST(GetJVMLocation, LooksInTheSystemRecordFolderWhereCommonProgramFilesIsNotSet) {
    SearchBench posix;
    std::string location;
    EXPECT_FALSE(posix.reader().getJVMLocation(location));
    EXPECT_EQ(posix.bench.platform.listedDirectories, Lines{"/var/lib/talve/"});

    SearchBench windows(FakePlatform::Style::Windows);
    EXPECT_FALSE(windows.reader().getJVMLocation(location));
    EXPECT_TRUE(windows.bench.platform.listedDirectories.empty());
    windows.bench.platform.environment = {{"CommonProgramFiles", "C:\\Program Files (x86)\\Common Files"},
                                          {"ALLUSERSPROFILE", "C:\\ProgramData"}};
    EXPECT_FALSE(windows.reader().getJVMLocation(location));
    EXPECT_EQ(windows.bench.platform.listedDirectories,
              (Lines{"C:\\Program Files (x86)\\Common Files\\talve\\", "C:\\ProgramData\\talve\\"}));
}

TEST(FindOrExtractJvm, ReusesAnAcceptedRuntimeOnlyWhenTheInstallerAsksForTheSearch) {
    SearchBench search;
    search.installer.payload(table::jvmEntry, "packed runtime", "jvm");
    search.installer.row(table::jvmEntry).data1 = "true, please";
    search.bench.platform.environment["KORVU_INVENTORY_LOCATION"] = search.path("inv");
    search.records(search.path("inv"), {{"p.talve", search.home("product") + "\n"}});
    search.bench.platform.queueOutcome(true, 32);
    EXPECT_EQ(search.reader().findOrExtractJvm(), 0);
    EXPECT_EQ(search.bench.platform.environment["KORVU_JVM_LOC"], search.path("product") + "/_jvm/");
    EXPECT_TRUE(search.bench.log.has("INFO \t: A jvm has been found at the following location : " +
                                     search.path("product") + "/_jvm/"));
    EXPECT_EQ(search.bench.platform.processCalls.size(), 1u) << "the carried runtime was unpacked";

    // Refused: the carried runtime is unpacked instead.
    search.bench.platform.queueOutcome(true, 0);
    EXPECT_EQ(search.reader().findOrExtractJvm(), 0);
    EXPECT_EQ(search.bench.platform.processCalls.back().commandLine, "\"./jvm\" -o");
    EXPECT_EQ(search.bench.platform.environment["KORVU_JVM_LOC"], "/tmp dir/TALVE_TEMP_1/_jvm/");

    SearchBench notAsked;
    notAsked.installer.payload(table::jvmEntry, "packed runtime", "jvm");
    notAsked.bench.context.locationGiven = true;
    notAsked.bench.context.location = notAsked.home("product");
    EXPECT_EQ(notAsked.reader().findOrExtractJvm(), 0);
    EXPECT_TRUE(notAsked.checked().empty());
}

} // namespace
} // namespace talve

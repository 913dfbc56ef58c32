// The console front end run as a process, as a script would run it.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "data/DataFileReader.h"
#include "support/ProcessRun.h"
#include "support/TempDir.h"

namespace hx::test {
namespace {

namespace fs = std::filesystem;

class HeadlessProgram : public ::testing::Test {
  protected:
    // A home of its own: profile, documents and runtime folder.
    std::vector<std::string> environment() const {
        return {"HOME=" + home.path().string(), "XDG_CONFIG_HOME=" + (home.path() / "config").string(),
                "XDG_RUNTIME_DIR=" + (home.path() / "run").string(),
                "XDG_DOCUMENTS_DIR=" + (home.path() / "Documents").string()};
    }
    ProcessRun run(std::vector<std::string> arguments) {
        fs::create_directories(home.path() / "run");
        fs::permissions(home.path() / "run", fs::perms::owner_all);
        return runProgram("halnor40ku", arguments, environment(), 120);
    }
    std::vector<std::string> resultLines(const std::string& out) {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("result ", 0) == 0) lines.push_back(line);
        return lines;
    }
    TempDir home;
};

TEST_F(HeadlessProgram, ThreeMeasurementsAreReportedAndSaved) {
    std::string data = home.folder() + "data";
    // What a run killed in mid-write left behind goes at the start.
    fs::create_directories(data);
    const fs::path leftover = fs::path(data) / ".hx40k-killed0000.part";
    std::ofstream(leftover) << "x";
    fs::last_write_time(leftover, fs::last_write_time(leftover) - std::chrono::hours(1));
    // A still animal: every result here must be a valid one.
    ProcessRun r = run({"--headless", "--simulate", "--fast", "--artefacts", "none", "--measurements", "3",
                        "--data-folder", data, "--animal-id", "42"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_NE(r.out.find("title: Halnor40KU (Connected)->1"), std::string::npos) << r.out;
    auto lines = resultLines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    const std::regex shape(
        R"(result N=(\d+) HR=(\d+) SBP=(\d+) MBP=(\d+|---) DBP=(\d+|---) time=(\d\d:\d\d:\d\d) error=0 file=(\S+))");
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
        // Plausible for the simulated dog, and the file holds the same values.
        int sbp = std::stoi(m[3]);
        EXPECT_GT(sbp, 100);
        EXPECT_LT(sbp, 200);
        std::string path = m[7];
        EXPECT_EQ(fs::path(path).parent_path(), fs::path(data));
        EXPECT_EQ(fs::path(path).extension(), ".042");
        DataFileParse file = readDataFile(path);
        ASSERT_TRUE(file.ok) << file.error;
        EXPECT_EQ((file.contents.sbp + 1) / 2, sbp);
        EXPECT_EQ(file.contents.animal.animalNo, "42");
    }
    // The profile keeps the animal and folder accepted in the dialog.
    std::ifstream profile(home.path() / "config" / "Quarvel40K" / "Halnor40KU.ini");
    std::stringstream text;
    text << profile.rdbuf();
    EXPECT_NE(text.str().find("ID_NO=42"), std::string::npos) << text.str();
}

TEST_F(HeadlessProgram, TimerFileRunsASeriesToItsEnd) {
    fs::path timerFile = home.path() / "series.tm";
    std::ofstream(timerFile) << "60\n120\n";
    ProcessRun r = run({"--headless", "--simulate", "--fast", "--timer-file", timerFile.string(),
                        "--data-folder", home.folder() + "data"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("status: Complete Timer Mode recording."), std::string::npos);
    EXPECT_GE(resultLines(r.out).size(), 2u) << r.out;
    EXPECT_EQ(r.out.find("warning:"), std::string::npos) << r.out;
}

TEST_F(HeadlessProgram, SlotsShorterThanAMeasurementEndTheSeriesWithTheirCount) {
    // Each slot cuts the measurement before it short: the series still ends,
    // says so once at its start, and the status tells that slots gave no result.
    fs::path timerFile = home.path() / "short.tm";
    std::ofstream(timerFile) << "1\n1\n1\n";
    ProcessRun r = runProgram("halnor40ku",
                              {"--headless", "--simulate", "--fast", "--timer-file", timerFile.string(),
                               "--data-folder", home.folder() + "data"},
                              environment(), 60);
    EXPECT_EQ(r.status, 5) << r.out << r.err;
    std::size_t warning = r.out.find("warning: The schedule has intervals shorter than a measurement");
    EXPECT_NE(warning, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("warning:", warning + 1), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" slots produced a result"), std::string::npos) << r.out;
}

TEST_F(HeadlessProgram, AnOutOfRangeIntervalIsToldAndItsCountdownPrintedOnceASecond) {
    fs::create_directories(home.path() / "run");
    fs::path timerFile = home.path() / "far.tm";
    std::ofstream(timerFile) << "99999999999\n";
    ProcessRun r =
        runProgram("/bin/sh",
                   {"-c", binFolder() + "/halnor40ku --headless --simulate --fast --timer-file " +
                              timerFile.string() + " & pid=$!; sleep 4; kill -TERM $pid; wait $pid"},
                   environment(), 60);
    EXPECT_NE(r.out.find("out of range and held at 2147483647 s"), std::string::npos) << r.out;
    std::size_t countdowns = 0;
    for (std::size_t at = 0; (at = r.out.find("status: Next Recording", at)) != std::string::npos; ++at)
        ++countdowns;
    EXPECT_GE(countdowns, 1u) << r.out;
    EXPECT_LE(countdowns, 6u);
}

TEST_F(HeadlessProgram, AnotherUsersRuntimeFolderIsNotUsed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a folder of another user";
    // Without XDG_RUNTIME_DIR the folder is TMPDIR/runtime-<user>, here made by "nobody" for all to write.
    const passwd* me = ::getpwuid(::geteuid());
    ASSERT_NE(me, nullptr);
    const fs::path foreign = home.path() / ("runtime-" + std::string(me->pw_name));
    fs::create_directories(foreign);
    ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    fs::permissions(foreign, fs::perms::all);
    std::vector<std::string> env = environment();
    env.erase(std::remove_if(env.begin(), env.end(),
                             [](const std::string& e) { return e.rfind("XDG_RUNTIME_DIR=", 0) == 0; }),
              env.end());
    env.push_back("TMPDIR=" + home.path().string());
    ProcessRun r =
        runProgram("/usr/bin/env",
                   {"-u", "XDG_RUNTIME_DIR", binFolder() + "/halnor40ku", "--headless", "--simulate",
                    "--fast", "--measurements", "1", "--data-folder", home.folder() + "data"},
                   env, 60);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const std::size_t told = r.err.find("is not private to this user");
    EXPECT_NE(told, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("is not private", told + 1), std::string::npos) << "said once";
    EXPECT_TRUE(fs::is_empty(foreign));
}

TEST_F(HeadlessProgram, ResultsThatCannotBeSavedGiveTheirOwnStatus) {
    // A folder that exists and takes no files, not even from root.
    ProcessRun r = run({"--headless", "--simulate", "--fast", "--artefacts", "none", "--measurements", "1",
                        "--data-folder", "/proc"});
    EXPECT_EQ(r.status, 6) << r.out << r.err;
    EXPECT_NE(r.out.find("1 result(s) could not be saved"), std::string::npos) << r.out;
}

TEST_F(HeadlessProgram, AFileSizeLimitFailsTheSaveInsteadOfKillingTheProgram) {
    // ulimit -f 8: 4 KiB, room for the log's row and the profile, not for a data file.
    const std::string data = home.folder() + "data";
    fs::create_directories(home.path() / "run");
    fs::permissions(home.path() / "run", fs::perms::owner_all);
    ProcessRun r =
        runProgram("/bin/sh",
                   {"-c", "ulimit -f 8 && exec \"$0\" \"$@\"", binFolder() + "/halnor40ku", "--headless",
                    "--simulate", "--fast", "--measurements", "1", "--data-folder", data},
                   environment(), 120);
    EXPECT_EQ(r.status, 6) << r.out << r.err;
    std::ifstream log(fs::path(data) / "results.csv");
    std::string header, row;
    std::getline(log, header);
    std::getline(log, row);
    EXPECT_NE(row.find("(write failed)"), std::string::npos) << row;
    EXPECT_TRUE(fs::exists(home.path() / "config" / "Quarvel40K" / "Halnor40KU.ini"));
}

TEST_F(HeadlessProgram, ARelativeDataFolderIsTakenFromTheWorkingFolder) {
    fs::create_directories(home.path() / "run");
    fs::permissions(home.path() / "run", fs::perms::owner_all);
    ProcessRun r =
        runProgram("/bin/sh",
                   {"-c", "cd \"$HOME\" && exec \"$0\" \"$@\"", binFolder() + "/halnor40ku", "--headless",
                    "--simulate", "--fast", "--measurements", "1", "--data-folder", "rel"},
                   environment(), 120);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("file=" + home.folder() + "rel/B"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(home.path() / "rel" / "results.csv"));
}

TEST_F(HeadlessProgram, TheSimulatedAnimalIsChosenOnTheCommandLine) {
    ProcessRun r = run({"--headless", "--simulate", "--fast", "--animal-type", "rat", "--artefacts", "none",
                        "--measurements", "1", "--data-folder", home.folder() + "data"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto lines = resultLines(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(lines[0], m, std::regex(R"(HR=(\d+) .* error=0 )"))) << lines[0];
    EXPECT_GT(std::stoi(m[1]), 300) << "a rat's heart, not the dog's";
}

TEST_F(HeadlessProgram, ADamagedProfileLineCostsThatLineOnlyAndIsTold) {
    // Before: the broken quote swallowed the data folder after it (files went
    // to ~/Documents) and only stderr said that the profile was not saved.
    const fs::path profile = home.path() / "config" / "Quarvel40K" / "Halnor40KU.ini";
    fs::create_directories(profile.parent_path());
    const std::string data = home.folder() + "kept-folder/";
    const std::string text = "[HalnorEWU_1]\nCOMMENT=\"cut\ndataFolder=" + data + "\n";
    std::ofstream(profile) << text;
    ProcessRun r = run({"--headless", "--simulate", "--fast", "--measurements", "1"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("warning: The profile " + profile.string() + " cannot be read at line 2"),
              std::string::npos)
        << r.out;
    auto lines = resultLines(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    EXPECT_NE(lines[0].find("file=" + data), std::string::npos) << lines[0];
    std::ifstream after(profile);
    std::stringstream kept;
    kept << after.rdbuf();
    EXPECT_EQ(kept.str(), text);
}

TEST_F(HeadlessProgram, WithoutAUnitItSaysSoAndFails) {
    ProcessRun r = run({"--headless", "--connect-timeout", "2"});
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_NE(r.out.find("no unit connected"), std::string::npos) << r.out;

    // Where no USB vendor ID is set (none built in, none given), all units' console says what to
    // set as the one unit's does.
    ProcessRun all = run({"--headless", "--all-units", "--connect-timeout", "2"});
    EXPECT_EQ(all.status, 3) << all.out << all.err;
    const std::string notSet = "\nerror: No unit can be found: the units' USB vendor ID is not set.";
    EXPECT_EQ(("\n" + all.out).find(notSet) != std::string::npos,
              ("\n" + r.out).find(notSet) != std::string::npos)
        << r.out << all.out;
}

TEST_F(HeadlessProgram, BadOptionsAreRefused) {
    EXPECT_EQ(run({"--headless", "--measurements", "zero"}).status, 1);
    EXPECT_EQ(run({"--headless", "--simulate=17"}).status, 1);
    EXPECT_EQ(run({"--headless", "--fast"}).status, 1);
    EXPECT_EQ(run({"--headless", "--simulate", "--fast", "--data-folder", ""}).status, 1);
    // Not folders, and none can be made there: refused rather than replaced by ~/Documents.
    std::ofstream(home.path() / "plain") << "x";
    ::mkfifo((home.path() / "fifo").c_str(), 0600);
    for (const std::string& folder :
         {std::string("/dev/null"), home.folder() + "plain", home.folder() + "fifo"})
        EXPECT_EQ(run({"--headless", "--simulate", "--fast", "--data-folder", folder}).status, 1) << folder;
    EXPECT_EQ(run({"--headless", "--simulate", "--animal-type", "cat"}).status, 1);
    EXPECT_EQ(run({"--headless", "--simulate", "--artefacts", "some"}).status, 1);
    // An option of the other front end is refused, not ignored.
    EXPECT_EQ(run({"--headless", "--simulate", "--screenshot", "x.png"}).status, 1);
    EXPECT_EQ(run({"--headless", "--simulate", "--seed=x"}).status, 1);
    ProcessRun missing = run({"--headless", "--simulate", "--fast", "--timer-file", "/nonexistent/x.tm"});
    EXPECT_EQ(missing.status, 2) << missing.out;

    // Before: a character of 128 or above passed and was bent on its way
    // through the unit's 7-bit animal block.
    for (const char* option : {"--animal-id", "--study-no", "--weight", "--sex-age", "--comment"}) {
        ProcessRun eightBit = run({"--headless", "--simulate", "--fast", option, "r\xc3\xa4t"});
        EXPECT_EQ(eightBit.status, 1) << option;
        EXPECT_NE(eightBit.err.find("7-bit"), std::string::npos) << option << eightBit.err;
    }
}

TEST_F(HeadlessProgram, HelpAndVersionPrintAndEnd) {
    // Which options --help names is checked against the README (readme_options).
    ProcessRun help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--connect-timeout S"), std::string::npos) << help.out;
    ProcessRun version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("Halnor40KU", 0), 0u) << version.out;
}

class HeadlessEnding : public HeadlessProgram {
  protected:
    void expectNormalShutdown(const ProcessRun& r) {
        // The socket of the window property went with it, and the profile was written.
        for (const auto& entry : fs::directory_iterator(home.path() / "run"))
            EXPECT_EQ(entry.path().filename().string().rfind("halnor40ku-", 0), std::string::npos) << r.out;
        EXPECT_TRUE(fs::exists(home.path() / "config" / "Quarvel40K" / "Halnor40KU.ini")) << r.out << r.err;
    }
};

TEST_F(HeadlessEnding, SigtermAndSighupEndThroughTheNormalShutdown) {
    // A real-time run that would go on for minutes ends at once.
    for (const char* signal : {"TERM", "HUP"}) {
        const int status = std::string(signal) == "TERM" ? 143 : 129;
        fs::remove_all(home.path() / "config");
        fs::create_directories(home.path() / "run");
        ProcessRun r = runProgram("/bin/sh",
                                  {"-c", binFolder() +
                                             "/halnor40ku --headless --simulate --measurements 50 & pid=$!; "
                                             "sleep 3; kill -" +
                                             signal + " $pid; wait $pid; echo status=$?"},
                                  environment(), 60);
        EXPECT_NE(r.out.find("exit: " + std::to_string(status)), std::string::npos)
            << signal << r.out << r.err;
        EXPECT_NE(r.out.find("status=" + std::to_string(status)), std::string::npos) << r.out;
        expectNormalShutdown(r);
    }
}

TEST_F(HeadlessEnding, AClosedOutputPipeEndsThroughTheNormalShutdown) {
    fs::create_directories(home.path() / "run");
    const std::string statusFile = home.folder() + "status";
    ProcessRun r = runProgram("/bin/sh",
                              {"-c", "{ " + binFolder() +
                                         "/halnor40ku --headless --simulate --measurements 50; "
                                         "echo $? > " +
                                         statusFile + "; } | head -3"},
                              environment(), 60);
    std::ifstream in(statusFile);
    int status = -1;
    in >> status;
    EXPECT_EQ(status, 141) << r.out << r.err;
    expectNormalShutdown(r);
}

TEST_F(HeadlessProgram, CtlListsTheRunningCopyAndSendsItACommand) {
    fs::create_directories(home.path() / "run");
    const std::string bin = binFolder() + "/halnor40ku";
    ProcessRun r = runProgram("/bin/sh",
                              {"-c", bin + " --headless --simulate --measurements 50 > " + home.folder() +
                                         "copy.log & pid=$!; "
                                         "for i in $(seq 100); do grep -q 'title: Halnor40KU (Connected)' " +
                                         home.folder() + "copy.log && break; sleep 0.1; done; " + bin +
                                         " ctl list; " + bin + " ctl send $pid 32773; " + bin +
                                         " ctl send $pid 32782; echo refused=$?; "
                                         "kill -TERM $pid; wait $pid"},
                              environment(), 60);
    // One copy, bound to the unit seen as ID 1 (272), takes the graph layout
    // command and refuses one that only the window's own buttons send.
    EXPECT_NE(r.out.find(" 272\n"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("ok\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("refused=1"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace hx::test

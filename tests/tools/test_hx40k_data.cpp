// The hx40k-data tool run as a process, as a researcher would run it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "data/DataFileReader.h"
#include "data/DataFileWriter.h"
#include "session/ResultsLog.h"
#include "support/DataFileFixture.h"
#include "support/FakeMessagePort.h"
#include "support/ProcessRun.h"
#include "support/TempDir.h"

namespace hx {
namespace {

namespace fs = std::filesystem;

using ToolRun = test::ProcessRun;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The built programs sit in HX40K_TEST_BIN (set by ctest), else beside this test.
fs::path toolPath() {
    if (const char* bin = std::getenv("HX40K_TEST_BIN"); bin && *bin) return fs::path(bin) / "hx40k-data";
    return fs::read_symlink("/proc/self/exe").parent_path() / "hx40k-data";
}

class Hx40kDataTool : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(toolPath())) GTEST_SKIP() << "hx40k-data is not built at " << toolPath();
    }

    ToolRun run(const std::vector<std::string>& args) { return test::runProgram(toolPath().string(), args); }

    std::string path(const std::string& name) const { return (m_dir.path() / name).string(); }

    test::TempDir m_dir;
};

std::size_t count(const std::string& text, char c) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

// The text of one "key": [...] line of the JSON.
std::string arrayLine(const std::string& json, const std::string& key) {
    const auto at = json.find("\"" + key + "\": [");
    if (at == std::string::npos) return {};
    return json.substr(at, json.find('\n', at) - at);
}

TEST_F(Hx40kDataTool, SampleIsAReadableDataFileAndTheSameForASeed) {
    ASSERT_EQ(run({"sample", path("a.dat"), "--seed", "7"}).status, 0);
    ASSERT_EQ(run({"sample", path("b.dat"), "--seed", "7"}).status, 0);
    ASSERT_EQ(run({"sample", path("c.dat"), "--seed", "8"}).status, 0);
    EXPECT_EQ(slurp(path("a.dat")), slurp(path("b.dat")));
    EXPECT_NE(slurp(path("a.dat")), slurp(path("c.dat")));

    const DataFileParse parse = readDataFile(path("a.dat"));
    ASSERT_TRUE(parse.ok) << parse.error;
    const auto& c = parse.contents;
    // A let-down from about 160 mmHg, SBP above MBP above DBP, beats marked.
    const auto top = *std::max_element(c.pressure.begin(), c.pressure.end());
    EXPECT_GT(top, 2 * 150);
    EXPECT_LT(top, 2 * 180);
    EXPECT_GT(c.sbp, c.mbp);
    EXPECT_GT(c.mbp, c.dbp);
    EXPECT_GT(c.pulseMarks.size(), 10u);
    EXPECT_LT(c.firstMarker, c.secondMarker);
}

TEST_F(Hx40kDataTool, DumpCsvAndAnalyseOfASample) {
    ASSERT_EQ(run({"sample", path("s.dat")}).status, 0);
    const DataFileParse parse = readDataFile(path("s.dat"));
    ASSERT_TRUE(parse.ok) << parse.error;

    const ToolRun dump = run({"dump", path("s.dat")});
    EXPECT_EQ(dump.status, 0) << dump.err;
    EXPECT_TRUE(dump.err.empty());
    EXPECT_NE(dump.out.find("\"sbp\": " + std::to_string(parse.contents.sbp) + ","), std::string::npos);
    EXPECT_NE(dump.out.find("\"date\": \"12/03/15\","), std::string::npos);
    EXPECT_EQ(count(arrayLine(dump.out, "pressure"), ','), 4000u)
        << "3999 between the values, 1 after the array";
    EXPECT_EQ(count(arrayLine(dump.out, "wave"), ','), 3999u) << "the last field has no comma after it";

    const ToolRun csv = run({"csv", path("s.dat")});
    EXPECT_EQ(csv.status, 0);
    EXPECT_EQ(count(csv.out, '\n'), 4001u);
    EXPECT_EQ(csv.out.rfind("index,pressure,wave\n", 0), 0u);
    const std::string line = "\n1234," + std::to_string(parse.contents.pressure[1234]) + "," +
                             std::to_string(parse.contents.wave[1234]) + "\n";
    EXPECT_NE(csv.out.find(line), std::string::npos);

    const ToolRun analyse = run({"analyse", path("s.dat")});
    EXPECT_EQ(analyse.status, 0) << analyse.err;
    for (const char* key : {"\"baseline\": ", "\"peaks\": [", "\"coefficients\": [", "\"envelope\": ["})
        EXPECT_NE(analyse.out.find(key), std::string::npos) << key;
    const std::string envelope = arrayLine(analyse.out, "envelope");
    EXPECT_EQ(count(envelope, ','), 3999u);
    EXPECT_NE(envelope.find("null"), std::string::npos) << "no curve before the first fitted pulse";
    EXPECT_EQ(count(arrayLine(analyse.out, "coefficients"), ','), 4u);
}

TEST_F(Hx40kDataTool, DamagedOrForeignFilesExitWithStatus2) {
    ASSERT_EQ(run({"sample", path("s.dat")}).status, 0);
    const std::string good = slurp(path("s.dat"));
    std::ofstream(path("cut.dat"), std::ios::binary) << good.substr(0, good.size() - 10);
    std::ofstream(path("long.dat"), std::ios::binary) << good << "junk";
    std::ofstream(path("text.dat"), std::ios::binary) << "index,pressure,wave\n0,1,2\n";

    for (const char* name : {"cut.dat", "long.dat", "text.dat", "missing.dat"}) {
        for (const char* command : {"dump", "csv", "analyse"}) {
            const ToolRun result = run({command, path(name)});
            EXPECT_EQ(result.status, 2) << command << " " << name;
            EXPECT_TRUE(result.out.empty()) << command << " " << name;
            EXPECT_NE(result.err.find(name), std::string::npos) << result.err;
        }
    }
    EXPECT_NE(run({"dump", path("long.dat")}).err.find("trailing garbage"), std::string::npos);
    EXPECT_EQ(run({"sample", path("no/such/folder/s.dat")}).status, 2);
}

TEST_F(Hx40kDataTool, ManyFilesInOneRun) {
    ASSERT_EQ(run({"sample", path("a.dat"), "--seed", "1"}).status, 0);
    ASSERT_EQ(run({"sample", path("b.dat"), "--seed", "2"}).status, 0);
    std::ofstream(path("bad.dat"), std::ios::binary) << "not a data file";
    const std::vector<std::string> files = {path("a.dat"), path("bad.dat"), path("b.dat")};

    // One JSON line per file in the order given, the same values as one file
    // alone; the bad file is a line with its error, and the run fails.
    for (const char* command : {"dump", "analyse"}) {
        std::vector<std::string> args = {command};
        args.insert(args.end(), files.begin(), files.end());
        const ToolRun many = run(args);
        EXPECT_EQ(many.status, 2) << command;
        EXPECT_NE(many.err.find("bad.dat"), std::string::npos);
        std::istringstream lines(many.out);
        std::vector<std::string> line(3);
        for (auto& l : line) std::getline(lines, l);
        EXPECT_EQ(count(many.out, '\n'), 3u) << command;
        EXPECT_EQ(line[0].rfind("{\"file\":\"" + path("a.dat") + "\",\"", 0), 0u) << line[0];
        EXPECT_EQ(line[1].rfind("{\"file\":\"" + path("bad.dat") + "\",\"error\":", 0), 0u) << line[1];
        const std::string alone = run({command, path("b.dat")}).out;
        const std::string key = command == std::string("dump") ? "pressure" : "envelope";
        const std::string values = arrayLine(alone, key).substr(key.size() + 4);
        EXPECT_NE(line[2].find(values.substr(0, values.size() - 1)), std::string::npos) << command;
    }

    // One CSV per file into the folder, named after the file.
    const ToolRun csv = run({"csv", "--out", path("out"), path("a.dat"), path("b.dat")});
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_TRUE(csv.out.empty());
    EXPECT_EQ(slurp(path("out/b.dat.csv")), run({"csv", path("b.dat")}).out);
    EXPECT_TRUE(fs::exists(path("out/a.dat.csv")));
}

TEST_F(Hx40kDataTool, UsageErrorsExitWithStatus1) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"frobnicate", "x"},
        {"dump"},
        {"csv", "a", "b"},
        {"analyse", "--out", "d", "a"},
        {"sample"},
        {"sample", "x", "--seed"},
        {"sample", "x", "--seed", "-1"},
        {"sample", "x", "--seed", "99999999999"},
        {"sample", "x", "--speed", "3"},
    };
    for (const auto& args : wrong) {
        const ToolRun result = run(args);
        EXPECT_EQ(result.status, 1) << (args.empty() ? "(none)" : args[0]);
        EXPECT_NE(result.err.find("usage: hx40k-data"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(path("x")));
}

TEST_F(Hx40kDataTool, TextsAreEscapedInTheDump) {
    test::FakeMessagePort port;
    test::DataFileFixture data(2);
    data.request.animal = {"\"q\"\\", std::string("\x01\t\n", 3), "\xe4\xb5", "ok", "end"};
    data.request.filenameType = 2;
    port.nextSavePath = path("texts.dat");
    ASSERT_EQ(writeDataFile(data.request, port), 0);

    const ToolRun dump = run({"dump", path("texts.dat")});
    ASSERT_EQ(dump.status, 0) << dump.err;
    EXPECT_NE(dump.out.find(R"("animalNo": "\"q\"\\",)"), std::string::npos) << dump.out.substr(0, 300);
    EXPECT_NE(dump.out.find(R"("studyNo": "\u0001\t\n",)"), std::string::npos);
    EXPECT_NE(dump.out.find(R"("weight": "\u00e4\u00b5",)"), std::string::npos);
    EXPECT_TRUE(std::all_of(dump.out.begin(), dump.out.end(),
                            [](char ch) { return ch == '\n' || (ch >= 0x20 && ch < 0x7F); }));
}

TEST_F(Hx40kDataTool, StatsOfTheLogsLastOrChosenSessionAndOfDataFilesAlone) {
    for (int i = 0; i < 4; ++i) {
        ResultsLogRow r;
        r.deviceId = 1;
        r.animalNo = i < 3 ? "R1" : "R2";
        r.n = std::to_string(i + 1);
        r.hr = "300";
        r.sbp = std::to_string(120 + 2 * i);
        r.mbp = r.dbp = "90";
        r.session = i < 3 ? 1 : 2;
        ASSERT_EQ(appendResultsLog(m_dir.folder(), r), "");
    }
    const ToolRun last = run({"stats", m_dir.path().string()});
    EXPECT_EQ(last.status, 0) << last.err;
    EXPECT_NE(last.out.find("animal R2"), std::string::npos);
    EXPECT_NE(last.out.find("Accepted 1 of 1 cycles"), std::string::npos);

    const ToolRun chosen =
        run({"stats", "--acclimation", "1", "--json", "--animal", "R1", path("results.csv")});
    EXPECT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_NE(chosen.out.find("\"SBP\":{\"n\":2,\"mean\":123,"), std::string::npos) << chosen.out;
    EXPECT_EQ(run({"stats", "--animal", "R9", m_dir.path().string()}).status, 2);
    EXPECT_EQ(run({"stats", "--outlier-k", "-2", m_dir.path().string()}).status, 1);

    ASSERT_EQ(run({"sample", path("B1.001"), "--seed", "3"}).status, 0);
    const ToolRun files = run({"stats", path("B1.001")});
    EXPECT_EQ(files.status, 0) << files.err;
    EXPECT_NE(files.out.find("HR   not stored in data files"), std::string::npos);
    EXPECT_EQ(run({"stats", path("B1.001"), path("results.csv")}).status, 2);  // a log is no data file
}

TEST_F(Hx40kDataTool, StatsOfAFolderOfManyDataFilesInTheOrderMeasured) {
    // Enough files for several readers; listed, named and measured in three different orders.
    constexpr int kFiles = 300;
    test::DataFileFixture data(4);
    const std::vector<std::uint8_t> good = buildDataFileBytes(data.request);
    auto write = [&](const std::string& name, std::vector<std::uint8_t> bytes, int minute) {
        char date[17];
        std::snprintf(date, sizeof date, "26/03/01%02d:%02d:00", minute / 60, minute % 60);
        std::copy(date, date + 16, bytes.begin() + datafile::kDate);
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    };
    std::vector<std::string> expected(kFiles);
    for (int i = 0; i < kFiles; ++i) {
        const int minute = (i * 7) % kFiles;
        const int sbp = i % 2 ? 130 : 120;
        std::vector<std::uint8_t> bytes = good;
        bytes[datafile::kResultBlock + datafile::kSbp] = static_cast<std::uint8_t>(2 * sbp & 0xFF);
        bytes[datafile::kResultBlock + datafile::kSbp + 1] = static_cast<std::uint8_t>(2 * sbp >> 8);
        expected[static_cast<std::size_t>(minute)] = "F" + std::to_string(kFiles - i);
        write(expected[static_cast<std::size_t>(minute)], bytes, minute);
    }
    write("cut", std::vector<std::uint8_t>(good.begin(), good.end() - 1), 0);
    fs::create_directory(path("folder"));
    fs::create_symlink("nowhere", path("zz-dangling"));

    const ToolRun stats = run({"stats", m_dir.path().string()});
    ASSERT_EQ(stats.status, 0) << stats.err;
    EXPECT_EQ(stats.err, "hx40k-data: 1 files that are not data files left out\n");
    EXPECT_EQ(stats.out.rfind(std::to_string(kFiles) + " data files\n", 0), 0u);
    std::size_t at = 0;
    for (const std::string& name : expected) {
        at = stats.out.find("  " + name + " ", at);
        ASSERT_NE(at, std::string::npos) << name << " missing or out of order";
    }
    EXPECT_NE(stats.out.find("SBP  n=300  125.0 "), std::string::npos)
        << stats.out.substr(stats.out.size() - 300);
}

TEST_F(Hx40kDataTool, StudyOfAFolderInItsThreeFormsWithTheRulesAndTheHandReview) {
    for (int day = 1; day <= 2; ++day) {
        for (int i = 0; i < 6; ++i) {
            ResultsLogRow r;
            r.dateTime = "2026-03-0" + std::to_string(day) + " 10:0" + std::to_string(i) + ":00";
            r.deviceId = 1;
            r.animalNo = "R1";
            r.n = std::to_string(i + 1);
            r.hr = "380";
            r.sbp = std::to_string(120 + i);
            r.mbp = r.dbp = "90";
            r.session = day;
            ASSERT_EQ(appendResultsLog(m_dir.folder(), r), "");
        }
    }
    {
        std::ofstream animals(path("animals.csv"), std::ios::binary);
        animals << "Animal No,Group\r\nR1,Saline\r\n";
        std::ofstream review(path("review-log.csv"), std::ios::binary);
        review << "Time,User,Date time,Device ID,Animal No,N,Data file,Old verdict,New verdict,Reason\r\n"
                  "2026-03-02 12:00:00,me,2026-03-02 10:00:00,1,R1,1,,accepted,rejected,movement\r\n"
                  "2026-03-02 12:00:00,me,2026-03-02 10:09:00,1,R1,10,,accepted,rejected,movement\r\n";
    }
    const ToolRun wide = run({"study", "--wide", "--min-cycles", "6", m_dir.path().string()});
    ASSERT_EQ(wide.status, 0) << wide.err;
    EXPECT_NE(wide.out.find("R1,Saline,6,122.5,90.0,90.0,380.0,5,,,,\r\n"), std::string::npos) << wide.out;
    EXPECT_NE(wide.out.find("Valid day: at least 6 accepted cycles"), std::string::npos);
    EXPECT_NE(wide.err.find("review-log.csv: line 3: no cycle 2026-03-02 10:09:00"), std::string::npos)
        << wide.err;

    const ToolRun json = run({"study", "--json", "--type", "dog", m_dir.path().string()});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_NE(json.out.find("\"reason\":\"0 accepted cycles (at least 5)\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("(the unit's TYPE: dog)"), std::string::npos);
    const ToolRun longForm = run({"study", m_dir.path().string()});
    EXPECT_NE(longForm.out.find("R1,Saline,2026-03-02,2,no,6,5,123.0,"), std::string::npos) << longForm.out;

    EXPECT_EQ(run({"study", "--outlier-method", "median", m_dir.path().string()}).status, 1);
    EXPECT_EQ(run({"study", path("nothing")}).status, 2);

    // The PDF reports of the study and of a sitting (the build without Qt has none).
    for (const std::vector<std::string>& which :
         {std::vector<std::string>{}, {"--animal", "R1", "--date", "2026-03-01"}}) {
        std::vector<std::string> args = {"report", m_dir.path().string(), "--pdf", path("report.pdf")};
        args.insert(args.end(), which.begin(), which.end());
        const ToolRun report = run(args);
        if (report.status == 1 && report.err.find("without Qt") != std::string::npos)
            GTEST_SKIP() << report.err;
        ASSERT_EQ(report.status, 0) << report.err;
        EXPECT_EQ(slurp(path("report.pdf")).substr(0, 5), "%PDF-");
        fs::remove(path("report.pdf"));
    }
    EXPECT_EQ(run({"report", m_dir.path().string(), "--animal", "R7", "--pdf", path("r.pdf")}).status, 2);
}

}  // namespace
}  // namespace hx

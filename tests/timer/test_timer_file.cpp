// The ".tm" timer file: line rules when reading, the written form, and what
// the user sees when a file cannot be read or written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "app/ReplaceFile.h"
#include "support/FakeMessagePort.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"
#include "timer/TimerFileLines.h"
#include "timer/TimerSchedule.h"

namespace hx {
namespace {

using Entries = std::vector<std::int32_t>;

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class TimerFileTest : public ::testing::Test {
  protected:
    std::string pathOf(const std::string& name) const { return (m_dir.path() / name).string(); }
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    test::TempDir m_dir;
    test::FakeMessagePort m_port;
    CTimerSchedule m_schedule{&m_port};
};

TEST(TimerLines, ValueOfALine) {
    EXPECT_EQ(parseTimerLine("60"), 60);
    EXPECT_EQ(parseTimerLine("  \t120  "), 120);
    EXPECT_EQ(parseTimerLine("12abc"), 12);
    EXPECT_EQ(parseTimerLine("-300"), -300);
    EXPECT_EQ(parseTimerLine("0"), 0);
    EXPECT_EQ(parseTimerLine("-"), 0);
    bool held = false;
    EXPECT_EQ(parseTimerLine("2147483647", &held), 2147483647);
    EXPECT_FALSE(held);
    EXPECT_EQ(parseTimerLine("99999999999", &held), 2147483647);
    EXPECT_TRUE(held);
    EXPECT_EQ(parseTimerLine("-99999999999"), -2147483647);
    EXPECT_FALSE(parseTimerLine("+12"));
    EXPECT_FALSE(parseTimerLine("# note"));
    EXPECT_FALSE(parseTimerLine(""));
    EXPECT_FALSE(parseTimerLine("   "));
}

TEST(TimerLines, LineEndsAndRunsOfThem) {
    std::string text = "a\r\n\r\nb\rc\n\n\nd";
    CTimerFileLineReader lines([&text](char* buffer, std::size_t size) {
        const std::size_t n = std::min(size, text.size());
        text.copy(buffer, n);
        text.erase(0, n);
        return static_cast<long>(n);
    });
    std::vector<std::string> got;
    while (auto line = lines.nextLine()) got.push_back(*line);
    EXPECT_EQ(got, (std::vector<std::string>{"a", "b", "c", "d"}));
}

// Files saved by editors that start with a byte-order mark keep their first
// interval; entries the dialog cannot hold and values held at 32 bits are told.
TEST(TimerLines, ByteOrderMarkAndWhatReadingTells) {
    CTimerSchedule schedule;
    schedule.readTimerText(
        "\xEF\xBB\xBF"
        "30\r\n60\r\n");
    EXPECT_EQ(schedule.intervals(), (Entries{30, 60}));
    EXPECT_EQ(schedule.readWarning(), "");

    std::string many;
    for (int i = 0; i < 104; ++i) many += "60\n";
    schedule.readTimerText(many + "99999999999\n-600\n");
    EXPECT_EQ(schedule.readWarning(),
              "The timer file holds 106 entries; only the first 100 are kept.\n"
              "1 value(s) of the timer file are larger than 2147483647 seconds and are held at that value.");
}

TEST(TimerLines, LongLinesAreCutIntoPiecesOf1024) {
    CTimerSchedule schedule;
    // 1023 blanks then "7" fill the first window exactly; "5" starts the next piece.
    schedule.readTimerText("1" + std::string(1022, ' ') + "75\n8\n");
    EXPECT_EQ(schedule.intervals(), (Entries{1, 5, 8}));

    schedule.readTimerText(std::string(3000, '#') + "\n9\n");
    EXPECT_EQ(schedule.intervals(), (Entries{9}));
}

TEST(TimerLines, ReadErrorKeepsWhatWasRead) {
    int calls = 0;
    CTimerFileLineReader lines([&calls](char* buffer, std::size_t) -> long {
        if (calls++ > 0) return -1;
        std::string("4\n5").copy(buffer, 3);
        return 3;
    });
    EXPECT_EQ(lines.nextLine(), "4");
    EXPECT_EQ(lines.nextLine(), "5");
    EXPECT_FALSE(lines.nextLine());
}

TEST_F(TimerFileTest, ReadsTheExampleWithBlanksCommentsAndCrLf) {
    writeText(pathOf("a.tm"), "60\r\n\r\n  120  \r\n# note\r\n-300\r\n");
    EXPECT_EQ(m_schedule.readTimerFile(pathOf("a.tm")), 0);
    EXPECT_EQ(m_schedule.intervals(), (Entries{60, 120}));
    EXPECT_EQ(m_schedule.offsets(), (Entries{60, 180}));
    EXPECT_EQ(m_schedule.repeatPeriod(), 300);
    EXPECT_TRUE(m_port.shown.empty());
}

TEST_F(TimerFileTest, FirstNegativeValueEndsTheReading) {
    writeText(pathOf("b.tm"), "60\n-300\n90\n");
    ASSERT_EQ(m_schedule.readTimerFile(pathOf("b.tm")), 0);
    EXPECT_EQ(m_schedule.intervals(), (Entries{60}));
    EXPECT_EQ(m_schedule.repeatPeriod(), 300);

    writeText(pathOf("c.tm"), "0\n12abc\n+12\n5");
    ASSERT_EQ(m_schedule.readTimerFile(pathOf("c.tm")), 0);
    EXPECT_EQ(m_schedule.intervals(), (Entries{0, 12, 5})) << "0 is an interval, +12 is skipped";
    EXPECT_EQ(m_schedule.repeatPeriod(), 0);
}

TEST_F(TimerFileTest, HasNoLimitOnLinesAndKeepsARunningSeriesOnItsStart) {
    std::string text;
    for (int i = 1; i <= 5000; ++i) text += std::to_string(i % 7 + 1) + "\n";
    writeText(pathOf("long.tm"), text);
    m_schedule.startSeries(1'700'000'000);
    ASSERT_EQ(m_schedule.readTimerFile(pathOf("long.tm")), 0);
    EXPECT_EQ(m_schedule.intervals().size(), 5000u);
    EXPECT_EQ(m_schedule.startTime(), 1'700'000'000);
    EXPECT_TRUE(m_schedule.started());
}

TEST_F(TimerFileTest, OpenFailuresKeepTheSchedule) {
    m_schedule.setEntries(Entries{60, -300});

    EXPECT_EQ(m_schedule.readTimerFile(pathOf("missing.tm")), 1);
    EXPECT_TRUE(m_port.shown.empty()) << "a missing file is silent";
    EXPECT_EQ(m_schedule.readTimerFile(""), 1);
    EXPECT_TRUE(m_port.shown.empty());

    EXPECT_EQ(m_schedule.readTimerFile(m_dir.path().string()), 1) << "a folder is not a timer file";
    // Neither blocks: a pipe without a writer, a device without an end.
    ASSERT_EQ(::mkfifo(pathOf("fifo.tm").c_str(), 0600), 0);
    EXPECT_EQ(m_schedule.readTimerFile(pathOf("fifo.tm")), 1);
    EXPECT_EQ(m_schedule.readTimerFile("/dev/zero"), 1);
    if (::geteuid() != 0) {
        writeText(pathOf("locked.tm"), "5\n");
        ::chmod(pathOf("locked.tm").c_str(), 0);
        EXPECT_EQ(m_schedule.readTimerFile(pathOf("locked.tm")), 1);
    }
    for (const auto& shown : m_port.shown) {
        EXPECT_EQ(shown.text, "File Open Error");
        EXPECT_EQ(shown.caption, "Error in Read Timerfile");
        EXPECT_EQ(shown.icon, MsgIcon::Stop);
    }
    EXPECT_FALSE(m_port.shown.empty());
    EXPECT_EQ(m_schedule.intervals(), (Entries{60}));
    EXPECT_EQ(m_schedule.repeatPeriod(), 300);
}

TEST_F(TimerFileTest, WritesOneLinePerEntryAndReadsItBack) {
    m_schedule.setEntries(Entries{60, 120, -300});
    ASSERT_EQ(m_schedule.writeTimerFile(pathOf("w.tm")), 0);
    EXPECT_EQ(readText(pathOf("w.tm")), "60\n120\n-300\n");

    CTimerSchedule again;
    ASSERT_EQ(again.readTimerFile(pathOf("w.tm")), 0);
    EXPECT_EQ(again.intervals(), m_schedule.intervals());
    EXPECT_EQ(again.repeatPeriod(), 300);

    CTimerSchedule empty;
    ASSERT_EQ(empty.writeTimerFile(pathOf("empty.tm")), 0);
    EXPECT_EQ(readText(pathOf("empty.tm")), "");
    EXPECT_EQ(leftovers().size(), 2u) << "no temporary file is left behind";
}

TEST_F(TimerFileTest, ReplacesAnOldFileWhole) {
    writeText(pathOf("w.tm"), "1\n2\n3\n4\n5\n6\n7\n8\n");
    m_schedule.setEntries(Entries{9});
    ASSERT_EQ(m_schedule.writeTimerFile(pathOf("w.tm")), 0);
    EXPECT_EQ(readText(pathOf("w.tm")), "9\n");
}

TEST_F(TimerFileTest, WriteFailuresShowOneMessageAndKeepTheOldFile) {
    EXPECT_EQ(m_schedule.writeTimerFile(""), 1);
    EXPECT_TRUE(m_port.shown.empty());

    EXPECT_EQ(m_schedule.writeTimerFile(pathOf("no/such/folder.tm")), 1);
    ASSERT_EQ(m_port.shown.size(), 1u);
    EXPECT_EQ(m_port.shown[0].text, "File Open Error");
    EXPECT_EQ(m_port.shown[0].caption, "Error in Read Timerfile");
    EXPECT_EQ(m_port.shown[0].icon, MsgIcon::Stop);

    EXPECT_EQ(m_schedule.writeTimerFile(m_dir.path().string()), 1) << "a folder cannot be replaced";
    EXPECT_EQ(m_port.shown.size(), 2u);

    if (::geteuid() != 0) {
        writeText(pathOf("old.tm"), "42\n");
        ::chmod(m_dir.path().c_str(), 0555);
        m_schedule.setEntries(Entries{1});
        EXPECT_EQ(m_schedule.writeTimerFile(pathOf("old.tm")), 1);
        ::chmod(m_dir.path().c_str(), 0755);
        EXPECT_EQ(readText(pathOf("old.tm")), "42\n");
        EXPECT_EQ(m_port.shown.size(), 3u);
    }
    EXPECT_TRUE(std::filesystem::is_directory(m_dir.path()));
}

TEST_F(TimerFileTest, OnlyRegularFilesAreReplacedAndNeverGainSpecialModeBits) {
    m_schedule.setEntries(Entries{7});
    ASSERT_EQ(::mkfifo(pathOf("fifo.tm").c_str(), 0600), 0);
    writeText(pathOf("real.tm"), "42\n");
    std::filesystem::create_symlink(pathOf("real.tm"), pathOf("link.tm"));
    EXPECT_EQ(m_schedule.writeTimerFile(pathOf("fifo.tm")), 1);
    EXPECT_EQ(m_schedule.writeTimerFile(pathOf("link.tm")), 1);
    EXPECT_TRUE(std::filesystem::is_fifo(pathOf("fifo.tm")));
    EXPECT_TRUE(std::filesystem::is_symlink(pathOf("link.tm")));
    EXPECT_EQ(readText(pathOf("real.tm")), "42\n");

    ::chmod(pathOf("real.tm").c_str(), 06755);
    ASSERT_EQ(m_schedule.writeTimerFile(pathOf("real.tm")), 0);
    struct stat info {};
    ASSERT_EQ(::stat(pathOf("real.tm").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
}

TEST_F(TimerFileTest, StaleTemporaryFilesOfAStoppedRunAreRemoved) {
    const std::time_t now = std::time(nullptr);
    for (const char* name :
         {".hx40k-stale.part", ".hx40k-held.part", ".hx40k-fresh.part", "B0101.part", "keep.tm"})
        writeText(pathOf(name), "x");
    auto age = [&](const char* name) {
        const std::filesystem::file_time_type old =
            std::filesystem::last_write_time(pathOf(name)) - std::chrono::hours(1);
        std::filesystem::last_write_time(pathOf(name), old);
    };
    for (const char* name : {".hx40k-stale.part", ".hx40k-held.part", "B0101.part", "keep.tm"}) age(name);
    // A running copy holds its temporary file locked while it writes.
    const int held = ::open(pathOf(".hx40k-held.part").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    EXPECT_EQ(removeStaleTemporaryFiles(m_dir.path().string(), now), 1u);
    ::close(held);
    auto names = leftovers();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{".hx40k-fresh.part", ".hx40k-held.part", "B0101.part", "keep.tm"}));
}

TEST_F(TimerFileTest, WriteErrorAfterCreationIsReportedAndLeavesNoPartialFile) {
    writeText(pathOf("old.tm"), "42\n");
    std::vector<std::int32_t> many(100, 123456);
    m_schedule.setEntries(many);
    {
        test::FileSizeLimit full(64);
        ASSERT_TRUE(full.active());
        EXPECT_EQ(m_schedule.writeTimerFile(pathOf("old.tm")), 1);
        EXPECT_EQ(m_schedule.writeTimerFile(pathOf("new.tm")), 1);
    }
    ASSERT_EQ(m_port.shown.size(), 2u);
    EXPECT_EQ(m_port.shown[0].text, "File Write Error!");
    EXPECT_EQ(m_port.shown[0].caption, "Error in Read Timerfile");
    EXPECT_EQ(m_port.shown[0].icon, MsgIcon::Stop);
    EXPECT_EQ(readText(pathOf("old.tm")), "42\n");
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"old.tm"}));
}

}  // namespace
}  // namespace hx

// Writing data files: names and folders, the byte layout of the three blocks,
// and what happens when the file cannot be written.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "data/DataFileWriter.h"
#include "data/WavePacking.h"
#include "support/DataFileFixture.h"
#include "support/FakeMessagePort.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

namespace hx {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

Bytes readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class DataFileWriterTest : public ::testing::Test {
  protected:
    DataFileWriterTest() : m_data(1, m_dir.folder()) {
        m_data.sample.result.dateTime = "120315093005";
        m_data.request.animal.animalNo = "7";
    }
    DataFileRequest& request() { return m_data.request; }
    MeasurementResult& result() { return m_data.sample.result; }

    test::TempDir m_dir;
    test::FakeMessagePort m_port;
    test::DataFileFixture m_data;
};

TEST(DataFileNames, SuffixIsTheLastThreeOfTheTrimmedAnimalNumber) {
    EXPECT_EQ(dataFileSuffix("12"), "012");
    EXPECT_EQ(dataFileSuffix(""), "000");
    EXPECT_EQ(dataFileSuffix("   "), "000");
    EXPECT_EQ(dataFileSuffix("1234"), "234");
    EXPECT_EQ(dataFileSuffix("AB123456"), "456");
    EXPECT_EQ(dataFileSuffix(" \t12 "), "012");
    EXPECT_EQ(dataFileSuffix("a b"), "a b");
}

TEST(DataFileNames, SuffixNeverLeavesTheDataFolder) {
    EXPECT_EQ(dataFileSuffix("../"), ".._");
    EXPECT_EQ(dataFileSuffix("x/y"), "x_y");
    EXPECT_EQ(dataFileSuffix(std::string("1\0"
                                         "2",
                                         3)),
              "1_2");
}

TEST_F(DataFileWriterTest, StampFollowsFilenameTypeAndTimerMode) {
    request().filenameType = 0;
    EXPECT_EQ(dataFileName(request()), "B03150930.007");
    request().filenameType = 1;
    EXPECT_EQ(dataFileName(request()), "B15093005.007");

    request().timerMode = 1;
    for (int type : {0, 1, 2}) {
        request().filenameType = type;
        EXPECT_EQ(buildDataFilePath(request(), m_port), m_dir.folder() + "B15093005.007") << type;
    }
    EXPECT_TRUE(m_port.dialogs.empty()) << "timer mode never asks for a name";
}

TEST_F(DataFileWriterTest, OddDateTimeTextsStillMakeAPlainName) {
    result().dateTime = "1203/5";
    EXPECT_EQ(dataFileName(request()), "B_5______.007");
    result().dateTime.clear();
    EXPECT_EQ(dataFileName(request()), "B________.007");
}

TEST_F(DataFileWriterTest, FreeModeAsksForThePath) {
    request().filenameType = 2;
    const std::string chosen = m_dir.folder() + "mine.dat";
    m_port.nextSavePath = chosen;
    EXPECT_EQ(writeDataFile(request(), m_port), 0);
    EXPECT_EQ(m_port.dialogs, (std::vector<std::string>{m_dir.folder() + "B03150930.007|007"}));
    EXPECT_TRUE(fs::exists(chosen));

    m_port.nextSavePath.reset();
    EXPECT_EQ(writeDataFile(request(), m_port), 0) << "cancel writes nothing";
    EXPECT_EQ(filesIn(m_dir.path()), (std::vector<std::string>{"mine.dat"}));
    EXPECT_TRUE(m_port.shown.empty());
}

TEST_F(DataFileWriterTest, IdentificationBlockByteForByte) {
    request().animal = {"AB123456789", "S1", "12345678", "F/3m", std::string(40, 'c')};
    result().resultByte15 = 0x5A;
    result().resultByte16 = 0xC3;
    const Bytes bytes = buildDataFileBytes(request());
    Bytes expected(128, 0);
    auto put = [&](std::size_t at, const std::string& text) {
        std::copy(text.begin(), text.end(), expected.begin() + static_cast<long>(at));
    };
    put(0, "12/03/15");
    put(8, "09:30:05");
    put(16, "AB123456");
    put(24, "S1");
    put(32, "12345678");
    put(40, "F/3m");
    put(48, std::string(32, 'c'));
    expected[96] = 0x5A;
    expected[102] = 1;
    expected[105] = 0xC3;
    expected[108] = 1;
    expected[109] = 2;
    expected[113] = 1;
    expected[120] = 'B';
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 128), expected);
    EXPECT_EQ(dataFileName(request()).substr(10), "789") << "the suffix takes the end, the block the start";
}

TEST_F(DataFileWriterTest, ResultAndPulseMarkBlocksByteForByte) {
    result().sbp = 281;
    result().mbp = 211;
    result().dbp = -171;
    result().firstMarker = 1234;
    result().secondMarker = 3210;
    result().resultWord6 = -2;
    result().hr = 777;
    result().errorCode = 16;
    result().pulseMarks.fill(0);
    result().pulseMarks[0] = 400;
    result().pulseMarks[1] = 480;
    result().pulseMarks[3] = 9;  // after the ending 0, still written
    const Bytes bytes = buildDataFileBytes(request());

    Bytes expected(800, 0);
    auto put = [&](std::size_t at, std::int16_t v) {
        expected[at] = static_cast<std::uint8_t>(v & 0xFF);
        expected[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    };
    put(0, 281), put(2, -171), put(4, 211), put(62, 1234), put(64, 3210);
    put(720, 281), put(722, -171), put(724, 211), put(760, -2), put(778, 9), put(782, 1234), put(784, 3210);
    EXPECT_EQ(Bytes(bytes.begin() + 128, bytes.begin() + 928), expected) << "no heart rate, no error code";

    Bytes marks(128, 0);
    marks[0] = 400 & 0xFF, marks[1] = 400 >> 8, marks[2] = 480 & 0xFF, marks[3] = 480 >> 8, marks[6] = 9;
    EXPECT_EQ(Bytes(bytes.begin() + 928, bytes.begin() + 1056), marks);
}

TEST_F(DataFileWriterTest, WavesFollowTheBlocksPressureFirst) {
    const Bytes bytes = buildDataFileBytes(request());
    const Bytes pressure = packWave(m_data.sample.pressure);
    const Bytes wave = packWave(m_data.sample.wave);
    ASSERT_EQ(bytes.size(), 1056 + pressure.size() + wave.size());
    EXPECT_TRUE(std::equal(pressure.begin(), pressure.end(), bytes.begin() + 1056));
    EXPECT_TRUE(std::equal(wave.begin(), wave.end(), bytes.end() - static_cast<long>(wave.size())));
}

TEST_F(DataFileWriterTest, NeverReplacesAnEarlierFileOfTheSameName) {
    // Before: the second result of a minute replaced the first file.
    request().filenameType = 0;
    ASSERT_EQ(writeDataFile(request(), m_port), 0);
    const Bytes first = buildDataFileBytes(request());
    EXPECT_EQ(readBytes(m_dir.path() / "B03150930.007"), first);

    // The same minute: the day-time stamp; the same second (a clock set
    // back): numbered copies of it. The earlier files stay as they were.
    result().dateTime = "120315093059";
    std::vector<Bytes> written{first};
    std::vector<std::string> paths;
    for (int n = 0; n < 3; ++n) {
        result().sbp = static_cast<std::int16_t>(300 + n);
        std::string path;
        ASSERT_EQ(writeDataFile(request(), m_port, &path), 0);
        paths.push_back(path);
        written.push_back(buildDataFileBytes(request()));
    }
    EXPECT_EQ(paths,
              (std::vector<std::string>{m_dir.folder() + "B15093059.007", m_dir.folder() + "B15093059-2.007",
                                        m_dir.folder() + "B15093059-3.007"}));
    EXPECT_EQ(filesIn(m_dir.path()), (std::vector<std::string>{"B03150930.007", "B15093059-2.007",
                                                               "B15093059-3.007", "B15093059.007"}));
    EXPECT_EQ(readBytes(m_dir.path() / "B03150930.007"), written[0]);
    EXPECT_EQ(readBytes(paths[0]), written[1]);
    EXPECT_EQ(readBytes(paths[2]), written[3]);
    EXPECT_TRUE(m_port.shown.empty());

    // The "Free" form keeps its own question and replaces what the user chose.
    request().filenameType = 2;
    m_port.nextSavePath = paths[0];
    ASSERT_EQ(writeDataFile(request(), m_port), 0);
    EXPECT_EQ(readBytes(paths[0]), buildDataFileBytes(request()));
}

TEST_F(DataFileWriterTest, ResultByte15ZeroWritesNothing) {
    result().resultByte15 = 0;
    EXPECT_EQ(writeDataFile(request(), m_port), -1);
    request().filenameType = 2;
    m_port.nextSavePath = m_dir.folder() + "x";
    EXPECT_EQ(writeDataFile(request(), m_port), -1);
    EXPECT_EQ(m_port.dialogs.size(), 1u) << "the free-mode dialog comes first";
    EXPECT_TRUE(filesIn(m_dir.path()).empty());
    EXPECT_TRUE(m_port.shown.empty());

    request().result = nullptr;
    EXPECT_EQ(writeDataFile(request(), m_port), -1);
}

TEST_F(DataFileWriterTest, UnwritableFolderShowsOneMessageAndWritesNothing) {
    request().dataFolder = m_dir.folder() + "missing/";
    EXPECT_EQ(writeDataFile(request(), m_port), 1);
    ASSERT_EQ(m_port.shown.size(), 1u);
    EXPECT_EQ(m_port.shown[0].text, "File Write Error!");
    EXPECT_EQ(m_port.shown[0].buttons, MsgButtons::Ok);

    // A plain file where the folder should be.
    std::ofstream(m_dir.path() / "plain") << "x";
    request().dataFolder = m_dir.folder() + "plain/";
    EXPECT_EQ(writeDataFile(request(), m_port), 1);
    EXPECT_EQ(m_port.shown.size(), 2u);
    EXPECT_EQ(filesIn(m_dir.path()), (std::vector<std::string>{"plain"}));

    if (::geteuid() != 0) {  // permissions do not stop root
        fs::create_directory(m_dir.path() / "locked");
        fs::permissions(m_dir.path() / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        request().dataFolder = m_dir.folder() + "locked/";
        EXPECT_EQ(writeDataFile(request(), m_port), 1);
        EXPECT_EQ(m_port.shown.size(), 3u);
        EXPECT_TRUE(fs::is_empty(m_dir.path() / "locked"));
    }
}

TEST_F(DataFileWriterTest, FailedRewriteKeepsTheEarlierFileWhole) {
    ASSERT_EQ(writeDataFile(request(), m_port), 0);
    const fs::path path = m_dir.path() / "B15093005.007";
    const Bytes earlier = readBytes(path);

    result().sbp = 1;
    {
        test::FileSizeLimit full(1500);  // room for the blocks, not for the waves
        ASSERT_TRUE(full.active());
        EXPECT_EQ(writeDataFile(request(), m_port), 1);
    }
    ASSERT_EQ(m_port.shown.size(), 1u);
    EXPECT_EQ(m_port.shown[0].text, "File Write Error!");
    EXPECT_EQ(readBytes(path), earlier);
    EXPECT_EQ(filesIn(m_dir.path()), (std::vector<std::string>{"B15093005.007"})) << "no temporary file left";
}

TEST_F(DataFileWriterTest, MissingRingsAreAFailureNotACrash) {
    request().waveRing = nullptr;
    EXPECT_EQ(writeDataFile(request(), m_port), 1);
    EXPECT_EQ(m_port.shown.size(), 1u);
    EXPECT_TRUE(filesIn(m_dir.path()).empty());
}

}  // namespace
}  // namespace hx

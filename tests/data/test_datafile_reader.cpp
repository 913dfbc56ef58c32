// Reading data files back: what the writer wrote comes back field for field,
// and damaged or foreign files are refused with a reason.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "data/DataFileReader.h"
#include "data/DataFileWriter.h"
#include "support/DataFileFixture.h"
#include "support/FakeMessagePort.h"
#include "support/TempDir.h"

namespace hx {
namespace {

using Bytes = std::vector<std::uint8_t>;

// What a reader must find in the file written for request.
DataFileContents expectedContents(const DataFileRequest& request) {
    const MeasurementResult& r = *request.result;
    DataFileContents c;
    c.date = r.dateTime.substr(0, 2) + "/" + r.dateTime.substr(2, 2) + "/" + r.dateTime.substr(4, 2);
    c.time = r.dateTime.substr(6, 2) + ":" + r.dateTime.substr(8, 2) + ":" + r.dateTime.substr(10, 2);
    c.animal = {request.animal.animalNo.substr(0, 8), request.animal.studyNo.substr(0, 8),
                request.animal.weight.substr(0, 8), request.animal.sexAge.substr(0, 8),
                request.animal.comment.substr(0, 32)};
    c.resultByte15 = r.resultByte15;
    c.resultByte16 = r.resultByte16;
    c.sbp = r.sbp, c.dbp = r.dbp, c.mbp = r.mbp;
    c.firstMarker = r.firstMarker, c.secondMarker = r.secondMarker, c.resultWord6 = r.resultWord6;
    for (std::int16_t mark : r.pulseMarks) {
        if (mark == 0) break;
        c.pulseMarks.push_back(mark);
    }
    c.pressure = *request.pressureRing;
    c.wave = *request.waveRing;
    return c;
}

void expectSameFields(const DataFileContents& got, const DataFileContents& want) {
    EXPECT_EQ(got.date, want.date);
    EXPECT_EQ(got.time, want.time);
    EXPECT_EQ(got.animal.animalNo, want.animal.animalNo);
    EXPECT_EQ(got.animal.studyNo, want.animal.studyNo);
    EXPECT_EQ(got.animal.weight, want.animal.weight);
    EXPECT_EQ(got.animal.sexAge, want.animal.sexAge);
    EXPECT_EQ(got.animal.comment, want.animal.comment);
    EXPECT_EQ(got.resultByte15, want.resultByte15);
    EXPECT_EQ(got.resultByte16, want.resultByte16);
    EXPECT_EQ(got.sbp, want.sbp);
    EXPECT_EQ(got.dbp, want.dbp);
    EXPECT_EQ(got.mbp, want.mbp);
    EXPECT_EQ(got.firstMarker, want.firstMarker);
    EXPECT_EQ(got.secondMarker, want.secondMarker);
    EXPECT_EQ(got.resultWord6, want.resultWord6);
    EXPECT_EQ(got.pulseMarks, want.pulseMarks);
    EXPECT_TRUE(got.pressure == want.pressure);
    EXPECT_TRUE(got.wave == want.wave);
}

std::string randomText(std::mt19937& random, std::size_t maxLength) {
    std::uniform_int_distribution<std::size_t> length(0, maxLength);
    std::uniform_int_distribution<int> byte(1, 255);
    std::string text(length(random), ' ');
    for (char& c : text) c = static_cast<char>(byte(random));
    return text;
}

TEST(DataFileReader, ReadsBackWhatTheWriterWrote) {
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        test::DataFileFixture data(seed);
        const DataFileParse parse = parseDataFile(buildDataFileBytes(data.request));
        ASSERT_TRUE(parse.ok) << parse.error;
        expectSameFields(parse.contents, expectedContents(data.request));
    }
}

TEST(DataFileReader, RoundTripOfRandomResultsTextsAndRings) {
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> sample(-2048, 2047);
    std::uniform_int_distribution<int> word(-32768, 32767);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 30; ++round) {
        test::DataFileFixture data(static_cast<std::uint32_t>(round));
        MeasurementResult& r = data.sample.result;
        r.sbp = static_cast<std::int16_t>(word(random));
        r.dbp = static_cast<std::int16_t>(word(random));
        r.mbp = static_cast<std::int16_t>(word(random));
        r.resultWord6 = static_cast<std::int16_t>(word(random));
        r.resultByte15 = static_cast<std::uint8_t>(byte(random) | 1);
        r.resultByte16 = static_cast<std::uint8_t>(byte(random));
        for (auto& mark : r.pulseMarks) mark = static_cast<std::int16_t>(word(random));
        const int smooth = round % 3;  // jumpy, gentle, flat
        for (Ring* ring : {&data.sample.pressure, &data.sample.wave}) {
            int value = sample(random);
            for (auto& s : *ring) {
                if (smooth == 0) value = sample(random);
                if (smooth == 1) value = std::clamp(value + sample(random) / 200, -2048, 2047);
                s = static_cast<std::int16_t>(value);
            }
        }
        data.request.animal = {randomText(random, 12), randomText(random, 8), randomText(random, 3),
                               randomText(random, 9), randomText(random, 40)};
        const DataFileParse parse = parseDataFile(buildDataFileBytes(data.request));
        ASSERT_TRUE(parse.ok) << parse.error;
        expectSameFields(parse.contents, expectedContents(data.request));
    }
}

TEST(DataFileReader, ReadsAFileFromDisk) {
    test::TempDir dir;
    test::FakeMessagePort port;
    test::DataFileFixture data(5, dir.folder());
    ASSERT_EQ(writeDataFile(data.request, port), 0);
    const std::string path = dir.folder() + dataFileName(data.request);
    const DataFileParse parse = readDataFile(path);
    ASSERT_TRUE(parse.ok) << parse.error;
    expectSameFields(parse.contents, expectedContents(data.request));
    EXPECT_EQ(parse.contents.pressureBlockLength + parse.contents.waveBlockLength + 1056,
              std::filesystem::file_size(path));
}

TEST(DataFileReader, FieldsAloneAsTheWholeReadGivesThemAndTheFramingChecked) {
    test::TempDir dir;
    test::DataFileFixture data(5, dir.folder());
    const Bytes good = buildDataFileBytes(data.request);
    const int folder = ::open(dir.folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    // Read by path and, as for a folder's listing, in one read by name: the same answer.
    auto fields = [&](const Bytes& bytes) {
        std::ofstream(dir.path() / "f", std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        const DataFileParse byPath = readDataFileFields(dir.folder() + "f");
        const DataFileParse byName = readDataFileFieldsAt(folder, "f", dir.folder() + "f");
        EXPECT_EQ(byName.ok, byPath.ok) << bytes.size();
        EXPECT_EQ(byName.error, byPath.error);
        if (byName.ok && byPath.ok) expectSameFields(byName.contents, byPath.contents);
        return byPath;
    };
    const DataFileParse whole = parseDataFile(good);
    const DataFileParse parse = fields(good);
    ASSERT_TRUE(parse.ok) << parse.error;
    DataFileContents expected = whole.contents;
    expected.pressure = {};
    expected.wave = {};
    expectSameFields(parse.contents, expected);

    // A file whose blocks do not fill it exactly is refused; a sample that is
    // out of range is not looked at.
    for (std::size_t cut : {good.size() - 1, std::size_t{1100}, std::size_t{500}})
        EXPECT_FALSE(fields(Bytes(good.begin(), good.begin() + static_cast<long>(cut))).ok) << cut;
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(fields(longer).ok);
    Bytes wrongLength = good;
    ++wrongLength[1056];
    EXPECT_NE(fields(wrongLength).error.find("do not add up"), std::string::npos);
    Bytes badSample = good;
    badSample[1058] = 0xFF, badSample[1059] = 0x7F;
    EXPECT_FALSE(parseDataFile(badSample).ok);
    EXPECT_TRUE(fields(badSample).ok);
    EXPECT_NE(fields(Bytes(kMaxDataFileSize + 1)).error.find("larger than"), std::string::npos);
    EXPECT_NE(readDataFileFields(dir.folder() + "missing").error.find("No such file"), std::string::npos);

    // A link put where the listing saw a file, and a file gone since, are told apart as by path.
    fields(good);
    std::filesystem::rename(dir.path() / "f", dir.path() / "g");
    std::filesystem::create_symlink("g", dir.path() / "f");
    const DataFileParse throughLink = readDataFileFieldsAt(folder, "f", dir.folder() + "f");
    EXPECT_TRUE(throughLink.ok) << throughLink.error;
    EXPECT_NE(readDataFileFieldsAt(folder, "gone", dir.folder() + "gone").error.find("No such file"),
              std::string::npos);
    ::close(folder);
}

TEST(DataFileReader, RefusesEveryTruncation) {
    test::DataFileFixture data(3);
    const Bytes bytes = buildDataFileBytes(data.request);
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        const DataFileParse parse = parseDataFile(std::span(bytes).first(size));
        ASSERT_FALSE(parse.ok) << "cut at " << size;
        ASSERT_FALSE(parse.error.empty());
    }
    EXPECT_NE(parseDataFile(std::span(bytes).first(100)).error.find("too short"), std::string::npos);
}

TEST(DataFileReader, RefusesWrongLengthsAndTrailingBytes) {
    test::DataFileFixture data(4);
    const Bytes good = buildDataFileBytes(data.request);

    Bytes trailing = good;
    trailing.push_back(0);
    EXPECT_NE(parseDataFile(trailing).error.find("1 bytes of trailing garbage"), std::string::npos);

    for (int delta : {-1, 1}) {
        Bytes wrong = good;
        wrong[1056] = static_cast<std::uint8_t>(wrong[1056] + delta);
        const DataFileParse parse = parseDataFile(wrong);
        EXPECT_FALSE(parse.ok) << delta;
        EXPECT_NE(parse.error.find("wave"), std::string::npos) << parse.error;
    }

    Bytes zeroLength = good;
    zeroLength[1056] = 0, zeroLength[1057] = 0;
    EXPECT_NE(parseDataFile(zeroLength).error.find("pressure wave at byte 1056"), std::string::npos);

    Bytes allZero(good.size(), 0);  // a file of zeros is no data file
    EXPECT_FALSE(parseDataFile(allZero).ok);
}

TEST(DataFileReader, RefusesWhatIsNotAReadableDataFile) {
    test::TempDir dir;
    EXPECT_NE(readDataFile(dir.folder() + "missing").error.find("No such file"), std::string::npos);
    EXPECT_NE(readDataFile(dir.path().string()).error.find("not a regular file"), std::string::npos);
    // Neither blocks: a pipe without a writer, a device without an end.
    ASSERT_EQ(::mkfifo((dir.folder() + "fifo").c_str(), 0600), 0);
    EXPECT_NE(readDataFile(dir.folder() + "fifo").error.find("not a regular file"), std::string::npos);
    EXPECT_NE(readDataFile("/dev/zero").error.find("not a regular file"), std::string::npos);

    const auto big = dir.path() / "big";
    std::ofstream(big, std::ios::binary) << std::string(kMaxDataFileSize + 1, 'x');
    EXPECT_NE(readDataFile(big.string()).error.find("larger than any data file"), std::string::npos);

    const auto text = dir.path() / "text";
    std::ofstream(text, std::ios::binary) << std::string(6000, 'x');
    const DataFileParse parse = readDataFile(text.string());
    EXPECT_FALSE(parse.ok);
    EXPECT_FALSE(parse.error.empty());
}

TEST(DataFileReader, FullTextFieldsHaveNoTerminator) {
    test::DataFileFixture data(6);
    data.request.animal = {"12345678", "ABCDEFGH", "", "x", std::string(32, 'k')};
    const DataFileParse parse = parseDataFile(buildDataFileBytes(data.request));
    ASSERT_TRUE(parse.ok) << parse.error;
    EXPECT_EQ(parse.contents.animal.animalNo, "12345678");
    EXPECT_EQ(parse.contents.animal.studyNo, "ABCDEFGH") << "does not run on into the next field";
    EXPECT_EQ(parse.contents.animal.weight, "");
    EXPECT_EQ(parse.contents.animal.comment, std::string(32, 'k'));
}

}  // namespace
}  // namespace hx

// The text forms the hx40k-data tool prints.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "data/DataFileJson.h"
#include "data/DataFileWriter.h"
#include "support/DataFileFixture.h"

namespace hx {
namespace {

TEST(DataFileJson, StringsAreEscapedToPlainAscii) {
    EXPECT_EQ(jsonString("plain 12"), "\"plain 12\"");
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString("\n\r\t"), "\"\\n\\r\\t\"");
    EXPECT_EQ(jsonString(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(jsonString(std::string("\0", 1)), "\"\\u0000\"");
    EXPECT_EQ(jsonString("\xe4\xff\x80"), "\"\\u00e4\\u00ff\\u0080\"") << "bytes read as Latin-1";
    EXPECT_EQ(jsonString("</script>"), "\"</script>\"");
}

TEST(DataFileJson, NumbersReadBackExactlyAndNonFiniteIsNull) {
    EXPECT_EQ(jsonNumber(0.1), "0.10000000000000001");
    EXPECT_EQ(std::stod(jsonNumber(-1.9145373093416031e-08)), -1.9145373093416031e-08);
    EXPECT_EQ(jsonNumber(std::nan("")), "null");
    EXPECT_EQ(jsonNumber(std::numeric_limits<double>::infinity()), "null");
}

TEST(DataFileJson, DumpHoldsEveryFieldOnce) {
    test::DataFileFixture data(9);
    data.request.animal.comment = "tab\there";
    const DataFileParse parse = parseDataFile(buildDataFileBytes(data.request));
    ASSERT_TRUE(parse.ok) << parse.error;
    const std::string json = dataFileJson(parse.contents);
    for (const char* key : {"date", "time", "animalNo", "studyNo", "weight", "sexAge", "comment",
                            "resultByte15", "resultByte16", "sbp", "dbp", "mbp", "firstMarker",
                            "secondMarker", "resultWord6", "pulseMarks", "pressure", "wave"}) {
        const std::string quoted = "\"" + std::string(key) + "\": ";
        const auto at = json.find(quoted);
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_EQ(json.find(quoted, at + 1), std::string::npos) << key;
    }
    EXPECT_NE(json.find("\"sbp\": " + std::to_string(data.sample.result.sbp) + ","), std::string::npos);
    EXPECT_NE(json.find("\"comment\": \"tab\\there\","), std::string::npos);
    EXPECT_EQ(json.front(), '{');
    EXPECT_EQ(json.substr(json.size() - 4), "]\n}\n");
}

TEST(DataFileJson, CsvHasHeaderAndOneLinePerSample) {
    test::DataFileFixture data(10);
    const DataFileParse parse = parseDataFile(buildDataFileBytes(data.request));
    ASSERT_TRUE(parse.ok) << parse.error;
    const std::string csv = dataFileCsv(parse.contents);
    EXPECT_EQ(csv.rfind("index,pressure,wave\n0," + std::to_string(data.sample.pressure[0]) + "," +
                            std::to_string(data.sample.wave[0]) + "\n",
                        0),
              0u);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4001);
    const std::string last = "3999," + std::to_string(data.sample.pressure[3999]) + "," +
                             std::to_string(data.sample.wave[3999]) + "\n";
    EXPECT_EQ(csv.substr(csv.size() - last.size()), last);
}

}  // namespace
}  // namespace hx

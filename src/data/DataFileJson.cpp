#include "data/DataFileJson.h"

#include <cmath>
#include <cstdio>

namespace hx {

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20 || u >= 0x7F) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", u);
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string jsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string jsonIntArray(std::span<const std::int16_t> values) {
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) out += ',';
        out += std::to_string(values[i]);
    }
    return out + "]";
}

std::string dataFileJson(const DataFileContents& c) {
    auto field = [](const char* name, const std::string& value) {
        return "  \"" + std::string(name) + "\": " + value;
    };
    auto number = [](int value) { return std::to_string(value); };
    const std::string lines[] = {
        field("date", jsonString(c.date)),
        field("time", jsonString(c.time)),
        field("animalNo", jsonString(c.animal.animalNo)),
        field("studyNo", jsonString(c.animal.studyNo)),
        field("weight", jsonString(c.animal.weight)),
        field("sexAge", jsonString(c.animal.sexAge)),
        field("comment", jsonString(c.animal.comment)),
        field("resultByte15", number(c.resultByte15)),
        field("resultByte16", number(c.resultByte16)),
        field("sbp", number(c.sbp)),
        field("dbp", number(c.dbp)),
        field("mbp", number(c.mbp)),
        field("firstMarker", number(c.firstMarker)),
        field("secondMarker", number(c.secondMarker)),
        field("resultWord6", number(c.resultWord6)),
        field("pulseMarks", jsonIntArray(c.pulseMarks)),
        field("pressure", jsonIntArray(c.pressure)),
        field("wave", jsonIntArray(c.wave)),
    };
    std::string out = "{\n";
    for (std::size_t i = 0; i < std::size(lines); ++i)
        out += lines[i] + (i + 1 < std::size(lines) ? ",\n" : "\n");
    return out + "}\n";
}

std::string dataFileCsv(const DataFileContents& c) {
    std::string out = "index,pressure,wave\n";
    out.reserve(kRingSize * 16);
    for (std::size_t i = 0; i < kRingSize; ++i) {
        out +=
            std::to_string(i) + "," + std::to_string(c.pressure[i]) + "," + std::to_string(c.wave[i]) + "\n";
    }
    return out;
}

}  // namespace hx

#include "study/Sittings.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "study/Csv.h"
#include "study/ReviewLog.h"

namespace hx {

namespace {

const std::vector<std::string> kColumns = {"Time",
                                           "User",
                                           "Device ID",
                                           "Session",
                                           "Animal No",
                                           "Platform temperature (C)",
                                           "Room temperature (C)",
                                           "Restrainer",
                                           "Operator",
                                           "Notes"};

bool parseWhole(const std::string& text, int& out) {
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && p == text.data() + text.size() && !text.empty();
}

}  // namespace

bool validTemperature(const std::string& text) {
    if (text.empty()) return true;
    if (text.size() > 6 || text.find_first_not_of("-0123456789.") != std::string::npos) return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(v) && v >= -20 && v <= 60;
}

SittingsFile parseSittings(std::string_view text) {
    SittingsFile file;
    const auto records = parseCsvRecords(text);
    if (records.empty()) return file;
    if (records.front().fields != kColumns) {  // not this file: nothing is taken
        file.damagedLines = records.size();
        return file;
    }
    for (std::size_t k = 1; k < records.size(); ++k) {
        const auto& f = records[k].fields;
        SittingConditions c;
        if (f.size() != kColumns.size() || !parseWhole(f[2], c.deviceId) || !parseWhole(f[3], c.session)) {
            if (!(k + 1 == records.size() && !records[k].terminated)) ++file.damagedLines;
            continue;
        }
        c.time = f[0];
        c.user = f[1];
        c.animalNo = f[4];
        c.platformTemperature = f[5];
        c.roomTemperature = f[6];
        c.restrainer = f[7];
        c.operatorName = f[8];
        c.notes = f[9];
        file.latest[{c.deviceId, c.session}] = std::move(c);
    }
    return file;
}

std::optional<SittingsFile> readSittings(const std::string& folder, std::string& reason) {
    std::string text;
    bool missing = false;
    if (!readWholeFile(joinFolder(folder, kSittingsFileName), text, reason, &missing)) {
        if (missing) {
            reason.clear();
            return SittingsFile{};
        }
        return std::nullopt;
    }
    return parseSittings(text);
}

std::string appendSittingConditions(const std::string& folder, SittingConditions c) {
    if (!validTemperature(c.platformTemperature) || !validTemperature(c.roomTemperature))
        return "a temperature is a number of degrees Celsius from -20 to 60";
    if (c.time.empty()) c.time = localTimeNow();
    if (c.user.empty()) c.user = currentUserName();
    return appendLocked(
        joinFolder(folder, kSittingsFileName), csvLine(kColumns),
        csvLine({c.time, c.user, std::to_string(c.deviceId), std::to_string(c.session), c.animalNo,
                 c.platformTemperature, c.roomTemperature, c.restrainer, c.operatorName, c.notes}));
}

}  // namespace hx

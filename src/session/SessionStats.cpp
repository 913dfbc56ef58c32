#include "session/SessionStats.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <tuple>

#include "data/DataFileJson.h"
#include "data/DataFileReader.h"
#include "data/MeasurementResult.h"
#include "settings/ProfileStore.h"

namespace hx {

namespace {

constexpr const char* kSection = "Session";
constexpr int kMaxAcclimation = 99;
constexpr double kMaxOutlierK = 100;

std::optional<double> parseValue(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 6)
        return std::nullopt;
    return std::strtod(text.c_str(), nullptr);
}

double median(std::vector<double> v) {
    const std::size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
    const double upper = v[mid];
    if (v.size() % 2) return upper;
    const double lower = *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid));
    return (lower + upper) / 2;
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// A cycle's value: whole mmHg as the history shows them, else one decimal.
std::string cellText(double v) {
    return v == std::floor(v) && std::fabs(v) < 1e9 ? std::to_string(static_cast<long long>(v))
                                                    : formatNumber(v);
}
std::string valueText(const std::optional<double>& v) { return v ? cellText(*v) : "---"; }

}  // namespace

std::optional<int> parseAcclimation(const std::string& text) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < 0 || v > kMaxAcclimation) return std::nullopt;
    return static_cast<int>(v);
}

std::optional<double> parseOutlierK(const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(v) || v < 0 || v > kMaxOutlierK) return std::nullopt;
    return v;
}

const char* outlierMethodName(OutlierMethod method) {
    switch (method) {
        case OutlierMethod::ScaledMad:
            return "scaled MAD";
        case OutlierMethod::Sd:
            return "SD";
        default:
            return "MAD";
    }
}

const char* outlierMethodKey(OutlierMethod method) {
    switch (method) {
        case OutlierMethod::ScaledMad:
            return "scaled-mad";
        case OutlierMethod::Sd:
            return "sd";
        default:
            return "mad";
    }
}

std::optional<OutlierMethod> parseOutlierMethod(const std::string& key) {
    for (auto m : {OutlierMethod::Mad, OutlierMethod::ScaledMad, OutlierMethod::Sd})
        if (key == outlierMethodKey(m)) return m;
    return std::nullopt;
}

std::optional<std::pair<int, int>> parseRange(const std::string& text) {
    if (text == "off") return std::pair{0, 0};
    const auto dash = text.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == text.size() || dash > 3 ||
        text.size() - dash - 1 > 3 || text.find_first_not_of("0123456789-") != std::string::npos ||
        text.find('-', dash + 1) != std::string::npos)
        return std::nullopt;
    const int lo = std::atoi(text.substr(0, dash).c_str());
    const int hi = std::atoi(text.substr(dash + 1).c_str());
    if (hi != 0 && lo > hi) return std::nullopt;
    return std::pair{lo, hi};
}

std::string rangeSettingText(int min, int max) {
    if (min == 0 && max == 0) return "off";
    return std::to_string(min) + "-" + std::to_string(max);
}

std::pair<int, int> heartRateRangeForType(int type) {
    // Resting heart rates of the species in laboratory-animal reference
    // tables, widened upwards for the stress of a restrainer and downwards
    // for a calm animal: rabbit about 130-325 and macaque about 120-250 per
    // minute, dog about 60-160, rat about 250-500; TYPE other also serves
    // mice (about 450-750).
    switch (type) {
        case 0:
            return {100, 350};
        case 1:
            return {50, 220};
        default:
            return {200, 800};
    }
}

std::optional<std::pair<int, int>> heartRateRangeForSpecies(std::string_view species) {
    std::string name(species);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // The same reference tables as the TYPE ranges above, one species each: a
    // rat alone is judged as before mice shared TYPE other with it, and a
    // mouse (about 450-750 in a restrainer) gets a range of its own.
    if (name == "mouse") return std::pair{300, 850};
    if (name == "rat") return std::pair{200, 650};
    if (name == "dog") return heartRateRangeForType(1);
    if (name == "rabbit" || name == "monkey") return heartRateRangeForType(0);
    return std::nullopt;
}

SessionSettings loadSessionSettings(IProfileStore& store) {
    SessionSettings s;
    const int acclimation = store.readInt(kSection, "acclimation", s.acclimation);
    if (acclimation >= 0 && acclimation <= kMaxAcclimation) s.acclimation = acclimation;
    s.rejectErrors = store.readInt(kSection, "rejectErrors", 1) != 0;
    if (auto k = parseOutlierK(store.readText(kSection, "outlierK", "3"))) s.outlierK = *k;
    if (auto m = parseOutlierMethod(store.readText(kSection, "outlierMethod", "mad"))) s.outlierMethod = *m;
    if (auto r = parseRange(store.readText(kSection, "sbpRange", "60-250")))
        std::tie(s.sbpMin, s.sbpMax) = *r;
    if (auto r = parseRange(store.readText(kSection, "hrRange", "off"))) std::tie(s.hrMin, s.hrMax) = *r;
    return s;
}

void storeSessionSettings(IProfileStore& store, const SessionSettings& s) {
    store.writeInt(kSection, "acclimation", s.acclimation);
    store.writeInt(kSection, "rejectErrors", s.rejectErrors ? 1 : 0);
    store.writeText(kSection, "outlierK", formatNumber(s.outlierK));
    store.writeText(kSection, "outlierMethod", outlierMethodKey(s.outlierMethod));
    store.writeText(kSection, "sbpRange", rangeSettingText(s.sbpMin, s.sbpMax));
    store.writeText(kSection, "hrRange", rangeSettingText(s.hrMin, s.hrMax));
}

SessionCycle cycleFromLogRow(const ResultsLogRow& row) {
    SessionCycle c;
    c.dateTime = row.dateTime;
    c.label = row.n;
    c.hr = parseValue(row.hr);
    c.sbp = parseValue(row.sbp);
    c.mbp = parseValue(row.mbp);
    c.dbp = parseValue(row.dbp);
    c.errorCode = row.errorCode;
    c.errorText =
        row.errorText.empty() && row.errorCode != 0 ? resultErrorName(row.errorCode) : row.errorText;
    return c;
}

SessionCycle cycleFromDataFile(const DataFileContents& file, const std::string& name) {
    SessionCycle c;
    // "YY/MM/DD" and "hh:mm:ss" as stored become the log's "YYYY-MM-DD hh:mm:ss".
    if (file.date.size() == 8 && file.date[2] == '/' && file.date[5] == '/')
        c.dateTime = "20" + file.date.substr(0, 2) + "-" + file.date.substr(3, 2) + "-" +
                     file.date.substr(6, 2) + " " + file.time;
    else
        c.dateTime = file.date + " " + file.time;
    c.label = name;
    c.sbp = halve(file.sbp);
    c.mbp = halve(file.mbp);
    c.dbp = halve(file.dbp);
    return c;
}

namespace {

bool outside(const std::optional<double>& v, int lo, int hi) {
    return v && ((lo != 0 && *v < lo) || (hi != 0 && *v > hi));
}

}  // namespace

SessionStats computeSessionStats(std::vector<SessionCycle> cycles, const SessionSettings& settings) {
    SessionStats st;
    st.cycles = std::move(cycles);
    st.verdicts.resize(st.cycles.size());
    for (std::size_t i = 0; i < st.cycles.size(); ++i) {
        auto& v = st.verdicts[i];
        const auto& c = st.cycles[i];
        if (c.handAccepted) {
            // The user's verdict stands; the automatic rules do not judge it.
            v = *c.handAccepted
                    ? CycleVerdict{CycleStatus::Accepted, "accepted by hand", true}
                    : CycleVerdict{
                          CycleStatus::Hand,
                          "rejected by hand" + (c.handReason.empty() ? std::string() : ": " + c.handReason),
                          true};
        } else if (static_cast<int>(i) < settings.acclimation) {
            v = {CycleStatus::Acclimation, "acclimation"};
        } else if (settings.rejectErrors && c.errorCode != 0) {
            v = {CycleStatus::Error, c.errorText.empty() ? resultErrorName(c.errorCode) : c.errorText};
        } else if (outside(c.sbp, settings.sbpMin, settings.sbpMax)) {
            v = {CycleStatus::Implausible, "SBP out of range"};
        } else if (outside(c.hr, settings.hrMin, settings.hrMax)) {
            v = {CycleStatus::Implausible, "HR out of range"};
        } else {
            v = {CycleStatus::Accepted, "accepted"};
        }
    }

    // The outlier rule judges the SBP of the cycles still in (those accepted
    // by hand count for the centre and spread but are never rejected); it
    // needs three of them to tell an outlier from a pair. The values are
    // whole mmHg, so a spread below that resolution counts as 1 mmHg:
    // identical readings do not turn the next one off by a single mmHg into
    // an outlier.
    if (settings.outlierK > 0) {
        std::vector<double> sbp;
        for (std::size_t i = 0; i < st.cycles.size(); ++i)
            if (st.verdicts[i].status == CycleStatus::Accepted && st.cycles[i].sbp)
                sbp.push_back(*st.cycles[i].sbp);
        if (sbp.size() >= 3) {
            st.sbpMedian = median(sbp);
            std::vector<double> deviation;
            for (double x : sbp) deviation.push_back(std::fabs(x - st.sbpMedian));
            st.sbpMad = median(deviation);
            double centre = st.sbpMedian, spread = st.sbpMad;
            if (settings.outlierMethod == OutlierMethod::ScaledMad) {
                spread = kMadScale * st.sbpMad;
            } else if (settings.outlierMethod == OutlierMethod::Sd) {
                double sum = 0, squares = 0;
                for (double x : sbp) sum += x;
                centre = sum / static_cast<double>(sbp.size());
                for (double x : sbp) squares += (x - centre) * (x - centre);
                spread = std::sqrt(squares / static_cast<double>(sbp.size() - 1));
            }
            const double limit = settings.outlierK * std::max(spread, 1.0);
            for (std::size_t i = 0; i < st.cycles.size(); ++i) {
                auto& v = st.verdicts[i];
                if (v.status == CycleStatus::Accepted && !v.byHand && st.cycles[i].sbp &&
                    std::fabs(*st.cycles[i].sbp - centre) > limit)
                    v = {CycleStatus::Outlier, "outlier"};
            }
        }
    }

    std::array<std::vector<double>, kValueCount> values;
    for (std::size_t i = 0; i < st.cycles.size(); ++i) {
        if (st.verdicts[i].status != CycleStatus::Accepted) continue;
        ++st.accepted;
        const auto& c = st.cycles[i];
        const std::optional<double>* in[kValueCount] = {&c.sbp, &c.mbp, &c.dbp, &c.hr};
        for (int k = 0; k < kValueCount; ++k)
            if (*in[k]) values[k].push_back(**in[k]);
    }
    for (int k = 0; k < kValueCount; ++k) st.summary[k] = summariseValues(values[k]);
    return st;
}

ValueSummary summariseValues(const std::vector<double>& v) {
    ValueSummary s;
    s.n = v.size();
    if (v.empty()) return s;
    double sum = 0;
    for (double x : v) sum += x;
    s.mean = sum / static_cast<double>(v.size());
    double squares = 0;
    for (double x : v) squares += (x - s.mean) * (x - s.mean);
    s.sd = v.size() >= 2 ? std::sqrt(squares / static_cast<double>(v.size() - 1)) : 0;
    s.min = *std::min_element(v.begin(), v.end());
    s.max = *std::max_element(v.begin(), v.end());
    return s;
}

std::vector<SessionRows> splitSessions(const std::vector<ResultsLogRow>& rows) {
    std::vector<SessionRows> sessions;
    std::map<int, std::size_t> open;  // device ID -> its current session in `sessions`
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& r = rows[i];
        auto it = open.find(r.deviceId);
        if (it == open.end() || sessions[it->second].session != r.session ||
            sessions[it->second].animalNo != r.animalNo) {
            sessions.push_back({r.deviceId, r.session, r.animalNo, {}});
            open[r.deviceId] = sessions.size() - 1;
            it = open.find(r.deviceId);
        }
        sessions[it->second].rows.push_back(i);
    }
    return sessions;
}

std::string formatNumber(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
    std::string text = buffer;
    return text == "-0.0" ? "0.0" : text;
}

std::string meanSdText(const ValueSummary& s) {
    if (s.n == 0) return "-";
    return formatNumber(s.mean) + " \xC2\xB1 " + (s.n >= 2 ? formatNumber(s.sd) : "-");
}

std::string rangeText(const ValueSummary& s) {
    if (s.n == 0) return "-";
    return formatNumber(s.min) + "-" + formatNumber(s.max);
}

std::string formatSessionText(const SessionStats& st, bool hrStored) {
    std::string out;
    char line[512];
    std::snprintf(line, sizeof line, "%4s  %-19s  %-12s %6s %6s %6s %6s  %s\n", "#", "Date time", "N", "HR",
                  "SBP", "MBP", "DBP", "Status");
    out += line;
    for (std::size_t i = 0; i < st.cycles.size(); ++i) {
        const auto& c = st.cycles[i];
        std::snprintf(line, sizeof line, "%4zu  %-19s  %-12s %6s %6s %6s %6s  %s\n", i + 1,
                      c.dateTime.c_str(), c.label.c_str(), hrStored ? valueText(c.hr).c_str() : "n/s",
                      valueText(c.sbp).c_str(), valueText(c.mbp).c_str(), valueText(c.dbp).c_str(),
                      st.verdicts[i].text.c_str());
        out += line;
    }
    std::snprintf(line, sizeof line, "\nAccepted %zu of %zu cycles\n", st.accepted, st.cycles.size());
    out += line;
    for (int k = 0; k < kValueCount; ++k) {
        const auto& s = st.summary[k];
        if (k == kHr && !hrStored) {
            out += "HR   not stored in data files\n";
            continue;
        }
        std::snprintf(line, sizeof line, "%-4s n=%-4zu %-16s %s\n", kSessionValueNames[k], s.n,
                      meanSdText(s).c_str(), rangeText(s).c_str());
        out += line;
    }
    return out;
}

std::string formatSessionCsv(const SessionStats& st, bool hrStored) {
    std::string out = "Cycle,Date time,N,HR,SBP,MBP,DBP,Status\r\n";
    for (std::size_t i = 0; i < st.cycles.size(); ++i) {
        const auto& c = st.cycles[i];
        const auto plain = [](const std::optional<double>& v) { return v ? cellText(*v) : std::string(); };
        out += std::to_string(i + 1) + "," + csvField(c.dateTime) + "," + csvField(c.label) + "," +
               (hrStored ? plain(c.hr) : "not stored") + "," + plain(c.sbp) + "," + plain(c.mbp) + "," +
               plain(c.dbp) + "," + csvField(st.verdicts[i].text) + "\r\n";
    }
    out += "\r\nValue,n,Mean,SD,Min,Max\r\n";
    for (int k = 0; k < kValueCount; ++k) {
        const auto& s = st.summary[k];
        out += kSessionValueNames[k];
        if (k == kHr && !hrStored) {
            out += ",not stored,,,,\r\n";
            continue;
        }
        out += "," + std::to_string(s.n);
        if (s.n == 0) {
            out += ",,,,\r\n";
            continue;
        }
        out += "," + formatNumber(s.mean) + "," + (s.n >= 2 ? formatNumber(s.sd) : "") + "," +
               formatNumber(s.min) + "," + formatNumber(s.max) + "\r\n";
    }
    return out;
}

std::string formatSessionJson(const SessionStats& st, bool hrStored) {
    const auto value = [](const std::optional<double>& v) {
        return v ? jsonNumber(*v) : std::string("null");
    };
    std::string out = "{\"cycles\":[";
    for (std::size_t i = 0; i < st.cycles.size(); ++i) {
        const auto& c = st.cycles[i];
        if (i) out += ",";
        out += "{\"dateTime\":" + jsonString(c.dateTime) + ",\"n\":" + jsonString(c.label) +
               ",\"hr\":" + (hrStored ? value(c.hr) : std::string("\"not stored\"")) +
               ",\"sbp\":" + value(c.sbp) + ",\"mbp\":" + value(c.mbp) + ",\"dbp\":" + value(c.dbp) +
               ",\"errorCode\":" + std::to_string(c.errorCode) +
               ",\"status\":" + jsonString(st.verdicts[i].text) + "}";
    }
    out += "],\"accepted\":" + std::to_string(st.accepted) + ",\"summary\":{";
    for (int k = 0; k < kValueCount; ++k) {
        const auto& s = st.summary[k];
        if (k) out += ",";
        out += jsonString(kSessionValueNames[k]) + ":";
        if (k == kHr && !hrStored) {
            out += "\"not stored\"";
            continue;
        }
        out += "{\"n\":" + std::to_string(s.n);
        if (s.n > 0)
            out += ",\"mean\":" + jsonNumber(s.mean) + ",\"sd\":" + (s.n >= 2 ? jsonNumber(s.sd) : "null") +
                   ",\"min\":" + jsonNumber(s.min) + ",\"max\":" + jsonNumber(s.max);
        out += "}";
    }
    return out + "}}\n";
}

}  // namespace hx

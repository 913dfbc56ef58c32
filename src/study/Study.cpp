#include "study/Study.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string_view>
#include <tuple>

#include "data/DataFileJson.h"
#include "settings/ProfileStore.h"
#include "study/Csv.h"

namespace hx {

namespace {

constexpr const char* kSection = "Study";
constexpr int kMaxDays = 99;

// Days since 1970-01-01 of "YYYY-MM-DD"; nullopt for anything else.
std::optional<long> civilDay(const std::string& date) {
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') return std::nullopt;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (date[i] < '0' || date[i] > '9') return std::nullopt;
    long y = std::atol(date.substr(0, 4).c_str());
    const long m = std::atol(date.substr(5, 2).c_str());
    const long d = std::atol(date.substr(8, 2).c_str());
    if (m < 1 || m > 12 || d < 1 || d > 31) return std::nullopt;
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// Animal numbers as people sort them: "2" before "10".
bool animalLess(const std::string& a, const std::string& b) {
    const bool da = !a.empty() && a.find_first_not_of("0123456789") == std::string::npos;
    const bool db = !b.empty() && b.find_first_not_of("0123456789") == std::string::npos;
    if (da && db && a.size() != b.size()) return a.size() < b.size();
    if (da != db) return da;
    return a < b;
}

std::string number(double v) { return formatNumber(v); }

// A JSON string of UTF-8 text (the files are UTF-8); a byte that is not part
// of a UTF-8 character is taken as Latin-1.
std::string jsonText(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else if (c >= 0x80) {
            const std::size_t len = c >= 0xF0 && c <= 0xF4   ? 4
                                    : c >= 0xE0              ? 3
                                    : c >= 0xC2 && c <= 0xDF ? 2
                                                             : 0;
            bool valid = len != 0 && i + len <= text.size();
            for (std::size_t k = 1; valid && k < len; ++k)
                valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            if (valid) {
                out.append(text.substr(i, len));
                i += len;
                continue;
            }
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

}  // namespace

StudyRules loadStudyRules(IProfileStore& store) {
    StudyRules r;
    r.cycles = loadSessionSettings(store);
    r.hrByType = store.readInt(kSection, "hrByType", 1) != 0;
    const int minCycles = store.readInt(kSection, "minCycles", r.minCycles);
    if (minCycles >= 1 && minCycles <= kMaxDays) r.minCycles = minCycles;
    const double sd = std::strtod(store.readText(kSection, "maxSbpSd", "0").c_str(), nullptr);
    if (std::isfinite(sd) && sd >= 0 && sd <= 100) r.maxSbpSd = sd;
    const int training = store.readInt(kSection, "trainingDays", 0);
    if (training >= 0 && training <= kMaxDays) r.trainingDays = training;
    return r;
}

void storeStudyRules(IProfileStore& store, const StudyRules& r) {
    storeSessionSettings(store, r.cycles);
    store.writeInt(kSection, "hrByType", r.hrByType ? 1 : 0);
    store.writeInt(kSection, "minCycles", r.minCycles);
    store.writeText(kSection, "maxSbpSd", formatNumber(r.maxSbpSd));
    store.writeInt(kSection, "trainingDays", r.trainingDays);
}

void applyUnitType(StudyRules& rules, int type) {
    if (!rules.hrByType) return;
    rules.hrType = type;
    std::tie(rules.cycles.hrMin, rules.cycles.hrMax) = heartRateRangeForType(type);
}

SessionSettings cycleRulesFor(const StudyRules& rules, const std::string& species) {
    SessionSettings s = rules.cycles;
    if (rules.hrByType)
        if (auto range = heartRateRangeForSpecies(species)) std::tie(s.hrMin, s.hrMax) = *range;
    return s;
}

std::vector<std::string> studyRuleLines(const StudyRules& r) {
    const auto& c = r.cycles;
    std::vector<std::string> lines;
    lines.push_back("Acclimation: the first " + std::to_string(c.acclimation) +
                    " cycles of each sitting dropped");
    lines.push_back(std::string("Results with an error code: ") + (c.rejectErrors ? "rejected" : "kept"));
    lines.push_back("Plausible SBP: " + (c.sbpMin || c.sbpMax ? rangeSettingText(c.sbpMin, c.sbpMax) + " mmHg"
                                                              : std::string("any")));
    static const char* kTypes[] = {"rabbit/monkey", "dog", "other (rat or mouse)"};
    std::string hr = c.hrMin || c.hrMax ? rangeSettingText(c.hrMin, c.hrMax) + " per minute" : "any";
    if (r.hrByType && r.hrType >= 0 && r.hrType <= 2)
        hr += std::string(" (the unit's TYPE: ") + kTypes[r.hrType] + ")";
    if (r.hrByType) {
        hr = "by the species in animals.csv (mouse 300-850, rat 200-650, dog 50-220, rabbit or monkey "
             "100-350 per minute); animals without one: " +
             hr;
    }
    lines.push_back("Plausible HR: " + hr);
    lines.push_back(c.outlierK > 0 ? "SBP outlier: further than " + number(c.outlierK) + " x " +
                                         outlierMethodName(c.outlierMethod) + " from the sitting's " +
                                         (c.outlierMethod == OutlierMethod::Sd ? "mean" : "median")
                                   : std::string("SBP outlier: off"));
    lines.push_back("Cycles reviewed by hand: the last change in " + std::string(kReviewLogName) + " wins");
    lines.push_back("Valid day: at least " + std::to_string(r.minCycles) + " accepted cycles");
    lines.push_back("Maximum SD of SBP for a valid day: " +
                    (r.maxSbpSd > 0 ? number(r.maxSbpSd) + " mmHg" : std::string("off")));
    lines.push_back("Training days: the first " + std::to_string(r.trainingDays) +
                    " days each animal was measured, left out of the figures");
    return lines;
}

const DayFigures* AnimalFigures::day(const std::string& date) const {
    auto it = std::lower_bound(days.begin(), days.end(), date,
                               [](const DayFigures& d, const std::string& x) { return d.date < x; });
    return it != days.end() && it->date == date ? &*it : nullptr;
}

std::vector<SessionCycle> reviewedCycles(const std::vector<ResultsLogRow>& rows,
                                         const std::vector<std::size_t>& indexes,
                                         const std::map<CycleKey, const ReviewChange*>& latest) {
    std::vector<SessionCycle> cycles;
    cycles.reserve(indexes.size());
    for (std::size_t i : indexes) {
        cycles.push_back(cycleFromLogRow(rows[i]));
        if (latest.empty()) continue;
        if (auto it = latest.find(cycleKeyOf(rows[i])); it != latest.end()) {
            cycles.back().handAccepted = it->second->newAccepted;
            cycles.back().handReason = it->second->reason;
        }
    }
    return cycles;
}

StudyFigures computeStudy(const std::vector<ResultsLogRow>& rows, const AnimalsTable& animals,
                          const ReviewLog& review, const StudyRules& rules) {
    StudyFigures study;
    study.rules = rules;
    study.rows = rows.size();
    const auto latest = review.latest();
    std::set<CycleKey> matched;

    // Accepted values per animal and date; counts of all cycles too.
    struct Bucket {
        std::size_t cycles = 0, hand = 0;
        std::array<std::vector<double>, kValueCount> values;
    };
    std::map<std::string, std::map<std::string, Bucket>> byAnimal;
    const auto species = animals.species();
    for (const SessionRows& sitting : splitSessions(rows)) {
        const auto named = species.find(sitting.animalNo);
        const SessionStats st =
            computeSessionStats(reviewedCycles(rows, sitting.rows, latest),
                                cycleRulesFor(rules, named != species.end() ? named->second : std::string()));
        auto& days = byAnimal[sitting.animalNo];
        for (std::size_t k = 0; k < sitting.rows.size(); ++k) {
            const ResultsLogRow& row = rows[sitting.rows[k]];
            Bucket& b = days[row.dateTime.substr(0, 10)];
            ++b.cycles;
            if (st.verdicts[k].byHand) {
                ++b.hand;
                matched.insert(cycleKeyOf(row));
            }
            if (st.verdicts[k].status != CycleStatus::Accepted) continue;
            const auto& c = st.cycles[k];
            const std::optional<double>* in[kValueCount] = {&c.sbp, &c.mbp, &c.dbp, &c.hr};
            for (int v = 0; v < kValueCount; ++v)
                if (*in[v]) b.values[v].push_back(**in[v]);
        }
    }
    study.handChanges = matched.size();
    for (const auto& [key, change] : latest)
        if (!matched.count(key)) study.unknownChanges.push_back(*change);

    std::set<std::string> dateSet;
    for (const auto& [animal, days] : byAnimal)
        for (const auto& [date, bucket] : days) dateSet.insert(date);
    study.dates.assign(dateSet.begin(), dateSet.end());
    // Calendar days from the first date; by position when a date is not one.
    const long first = study.dates.empty() ? -1 : civilDay(study.dates.front()).value_or(-1);
    auto dayNumber = [&](const std::string& date) {
        const long d = civilDay(date).value_or(-1);
        if (first >= 0 && d >= 0) return static_cast<int>(d - first + 1);
        return static_cast<int>(std::lower_bound(study.dates.begin(), study.dates.end(), date) -
                                study.dates.begin() + 1);
    };

    // Animals: listed ones in the table's order, grouped; then the others.
    const auto groupOf = animals.groups();
    std::vector<std::string> order = animals.groupOrder();
    std::vector<std::string> listed;
    for (const auto& r : animals.rows) listed.push_back(animals.field(r, "Animal No"));
    std::vector<std::string> unlisted;
    for (const auto& [animal, days] : byAnimal)
        if (!groupOf.count(animal)) unlisted.push_back(animal);
    std::sort(unlisted.begin(), unlisted.end(), animalLess);
    if (!unlisted.empty() && std::find(order.begin(), order.end(), kNoGroup) == order.end())
        order.push_back(kNoGroup);
    // "(none)" goes last.
    std::stable_partition(order.begin(), order.end(), [](const std::string& g) { return g != kNoGroup; });

    for (const std::string& group : order) {
        std::vector<std::string> members;
        for (const auto& a : listed)
            if (groupOf.at(a) == group) members.push_back(a);
        if (group == kNoGroup) members.insert(members.end(), unlisted.begin(), unlisted.end());
        for (const std::string& animal : members) {
            AnimalFigures af;
            af.animal = animal;
            af.group = group;
            af.listed = groupOf.count(animal) != 0;
            int measuredDays = 0;
            if (auto it = byAnimal.find(animal); it != byAnimal.end()) {
                for (const auto& [date, b] : it->second) {
                    DayFigures d;
                    d.date = date;
                    d.dayNumber = dayNumber(date);
                    d.cycles = b.cycles;
                    d.handChanged = b.hand;
                    for (int v = 0; v < kValueCount; ++v) d.values[v] = summariseValues(b.values[v]);
                    d.training = measuredDays++ < rules.trainingDays;
                    if (d.accepted() < static_cast<std::size_t>(rules.minCycles)) {
                        d.reason = std::to_string(d.accepted()) + " accepted cycles (at least " +
                                   std::to_string(rules.minCycles) + ")";
                    } else if (rules.maxSbpSd > 0 && d.values[kSbp].sd > rules.maxSbpSd) {
                        d.reason = "SD of SBP " + number(d.values[kSbp].sd) + " > " + number(rules.maxSbpSd);
                    } else {
                        d.valid = true;
                    }
                    af.days.push_back(std::move(d));
                }
            }
            study.animals.push_back(std::move(af));
        }
    }

    for (const std::string& group : order) {
        GroupFigures gf;
        gf.group = group;
        for (const std::string& date : study.dates) {
            GroupDay gd;
            gd.date = date;
            gd.dayNumber = dayNumber(date);
            std::array<std::vector<double>, kValueCount> means;
            for (const auto& a : study.animals) {
                if (a.group != group) continue;
                const DayFigures* d = a.day(date);
                if (!d || !d->valid || d->training) continue;
                ++gd.animals;
                for (int v = 0; v < kValueCount; ++v)
                    if (d->values[v].n) means[v].push_back(d->values[v].mean);
            }
            for (int v = 0; v < kValueCount; ++v) {
                const ValueSummary s = summariseValues(means[v]);
                gd.values[v] = {s.n, s.mean, s.n >= 2 ? s.sd / std::sqrt(static_cast<double>(s.n)) : 0};
            }
            gf.days.push_back(gd);
        }
        study.groups.push_back(std::move(gf));
    }
    return study;
}

std::string groupValueText(const GroupValue& v) {
    if (v.n == 0) return "-";
    return number(v.mean) + " \xC2\xB1 " + (v.n >= 2 ? number(v.sem) : "-");
}

namespace {

std::string rulesCsv(const StudyFigures& study) {
    std::string out = "\r\nRules\r\n";
    for (const auto& line : studyRuleLines(study.rules)) out += csvQuote(line) + "\r\n";
    if (!study.unknownChanges.empty())
        out += csvQuote(std::to_string(study.unknownChanges.size()) +
                        " hand changes name cycles that are not in the results log") +
               "\r\n";
    return out;
}

std::string meanCell(const ValueSummary& s) { return s.n ? number(s.mean) : ""; }
std::string sdCell(const ValueSummary& s) { return s.n >= 2 ? number(s.sd) : ""; }

}  // namespace

std::string formatStudyLong(const StudyFigures& study) {
    std::string out =
        "Animal No,Group,Date,Day,Training,Cycles,n,SBP mean,SBP SD,MBP mean,MBP SD,DBP mean,DBP SD,HR mean,"
        "HR SD,Hand changes,Valid,Reason\r\n";
    for (const auto& a : study.animals) {
        for (const auto& d : a.days) {
            std::vector<std::string> f = {a.animal,
                                          a.group,
                                          d.date,
                                          std::to_string(d.dayNumber),
                                          d.training ? "yes" : "no",
                                          std::to_string(d.cycles),
                                          std::to_string(d.accepted())};
            for (int v = 0; v < kValueCount; ++v) {
                f.push_back(meanCell(d.values[v]));
                f.push_back(sdCell(d.values[v]));
            }
            f.push_back(std::to_string(d.handChanged));
            f.push_back(d.valid ? "yes" : "no");
            f.push_back(d.reason);
            out += csvLine(f);
        }
    }
    out += "\r\nGroup,Date,Day,Animals,SBP mean,SBP SEM,MBP mean,MBP SEM,DBP mean,DBP SEM,HR mean,HR SEM\r\n";
    for (const auto& g : study.groups) {
        for (const auto& d : g.days) {
            std::vector<std::string> f = {g.group, d.date, std::to_string(d.dayNumber),
                                          std::to_string(d.animals)};
            for (int v = 0; v < kValueCount; ++v) {
                f.push_back(d.values[v].n ? number(d.values[v].mean) : "");
                f.push_back(d.values[v].n >= 2 ? number(d.values[v].sem) : "");
            }
            out += csvLine(f);
        }
    }
    return out + rulesCsv(study);
}

std::string formatStudyWide(const StudyFigures& study) {
    std::vector<std::string> header = {"Animal No", "Group"};
    // Day numbers come from any group's days (every group has one per date).
    std::vector<int> numbers;
    if (!study.groups.empty())
        for (const auto& d : study.groups.front().days) numbers.push_back(d.dayNumber);
    for (std::size_t i = 0; i < study.dates.size(); ++i) {
        const std::string prefix = "Day " +
                                   std::to_string(i < numbers.size() ? numbers[i] : static_cast<int>(i + 1)) +
                                   " (" + study.dates[i] + ") ";
        header.push_back(prefix + "n");
        for (int v = 0; v < kValueCount; ++v) header.push_back(prefix + kSessionValueNames[v]);
    }
    std::string out = csvLine(header);
    for (const auto& a : study.animals) {
        std::vector<std::string> f = {a.animal, a.group};
        for (const auto& date : study.dates) {
            const DayFigures* d = a.day(date);
            const bool use = d && d->valid && !d->training;
            f.push_back(d ? std::to_string(d->accepted()) : "");
            for (int v = 0; v < kValueCount; ++v) f.push_back(use ? meanCell(d->values[v]) : "");
        }
        out += csvLine(f);
    }
    return out + rulesCsv(study);
}

std::string formatStudyJson(const StudyFigures& study) {
    const auto summary = [](const ValueSummary& s) {
        if (s.n == 0) return std::string("null");
        return "{\"mean\":" + jsonNumber(s.mean) + ",\"sd\":" + (s.n >= 2 ? jsonNumber(s.sd) : "null") + "}";
    };
    std::string out = "{\"rules\":[";
    const auto lines = studyRuleLines(study.rules);
    for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? "," : "") + jsonText(lines[i]);
    const auto& c = study.rules.cycles;
    out += "],\"settings\":{\"acclimation\":" + std::to_string(c.acclimation) +
           ",\"rejectErrors\":" + (c.rejectErrors ? "true" : "false") +
           ",\"outlierK\":" + jsonNumber(c.outlierK) +
           ",\"outlierMethod\":" + jsonText(outlierMethodKey(c.outlierMethod)) +
           ",\"sbpRange\":" + jsonText(rangeSettingText(c.sbpMin, c.sbpMax)) +
           ",\"hrRange\":" + jsonText(rangeSettingText(c.hrMin, c.hrMax)) +
           ",\"hrBySpecies\":" + (study.rules.hrByType ? "true" : "false") +
           ",\"minCycles\":" + std::to_string(study.rules.minCycles) +
           ",\"maxSbpSd\":" + jsonNumber(study.rules.maxSbpSd) +
           ",\"trainingDays\":" + std::to_string(study.rules.trainingDays) +
           "},\"rows\":" + std::to_string(study.rows) +
           ",\"handChanges\":" + std::to_string(study.handChanges) + ",\"dates\":[";
    for (std::size_t i = 0; i < study.dates.size(); ++i) out += (i ? "," : "") + jsonText(study.dates[i]);
    out += "],\"animals\":[";
    for (std::size_t i = 0; i < study.animals.size(); ++i) {
        const auto& a = study.animals[i];
        out += std::string(i ? "," : "") + "{\"animal\":" + jsonText(a.animal) +
               ",\"group\":" + jsonText(a.group) + ",\"listed\":" + (a.listed ? "true" : "false") +
               ",\"days\":[";
        for (std::size_t k = 0; k < a.days.size(); ++k) {
            const auto& d = a.days[k];
            out += std::string(k ? "," : "") + "{\"date\":" + jsonText(d.date) +
                   ",\"day\":" + std::to_string(d.dayNumber) +
                   ",\"training\":" + (d.training ? "true" : "false") +
                   ",\"cycles\":" + std::to_string(d.cycles) + ",\"n\":" + std::to_string(d.accepted());
            for (int v = 0; v < kValueCount; ++v)
                out += ",\"" +
                       std::string(v == kSbp   ? "sbp"
                                   : v == kMbp ? "mbp"
                                   : v == kDbp ? "dbp"
                                               : "hr") +
                       "\":" + summary(d.values[v]);
            out += ",\"handChanges\":" + std::to_string(d.handChanged) +
                   ",\"valid\":" + (d.valid ? "true" : "false") + ",\"reason\":" + jsonText(d.reason) + "}";
        }
        out += "]}";
    }
    out += "],\"groups\":[";
    for (std::size_t i = 0; i < study.groups.size(); ++i) {
        const auto& g = study.groups[i];
        out += std::string(i ? "," : "") + "{\"group\":" + jsonText(g.group) + ",\"days\":[";
        for (std::size_t k = 0; k < g.days.size(); ++k) {
            const auto& d = g.days[k];
            out += std::string(k ? "," : "") + "{\"date\":" + jsonText(d.date) +
                   ",\"day\":" + std::to_string(d.dayNumber) + ",\"animals\":" + std::to_string(d.animals);
            for (int v = 0; v < kValueCount; ++v) {
                const auto& gv = d.values[v];
                out += ",\"" +
                       std::string(v == kSbp   ? "sbp"
                                   : v == kMbp ? "mbp"
                                   : v == kDbp ? "dbp"
                                               : "hr") +
                       "\":";
                out += gv.n ? "{\"n\":" + std::to_string(gv.n) + ",\"mean\":" + jsonNumber(gv.mean) +
                                  ",\"sem\":" + (gv.n >= 2 ? jsonNumber(gv.sem) : "null") + "}"
                            : "null";
            }
            out += "}";
        }
        out += "]}";
    }
    out += "],\"unknownHandChanges\":[";
    for (std::size_t i = 0; i < study.unknownChanges.size(); ++i) {
        const auto& u = study.unknownChanges[i];
        out += std::string(i ? "," : "") + "{\"line\":" + std::to_string(u.line) +
               ",\"dateTime\":" + jsonText(u.cycle.dateTime) +
               ",\"deviceId\":" + std::to_string(u.cycle.deviceId) +
               ",\"animal\":" + jsonText(u.cycle.animalNo) + ",\"n\":" + jsonText(u.cycle.n) + "}";
    }
    return out + "]}\n";
}

}  // namespace hx

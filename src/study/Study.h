#pragma once
// A study: the animals of a data folder, in their groups, measured day after
// day. From the results log, the animals' table and the hand review it
// computes, per animal and calendar day, the accepted cycles' mean and SD and
// whether the day is valid, and per group and day the mean and SEM of the
// animals' daily means.
//
// A cycle's verdict is the one the session statistics give it in its sitting
// (acclimation, error, plausible ranges, outlier rule, hand review), so the
// session window, the study and every export agree on it. The day rules
// (minimum accepted cycles, maximum SD of SBP, training days) are the study's.
// Plain C++ shared by the window and hx40k-data.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "session/ResultsLog.h"
#include "session/SessionStats.h"
#include "study/Animals.h"
#include "study/ReviewLog.h"

namespace hx {

class IProfileStore;

struct StudyRules {
    SessionSettings cycles;  // per sitting; the profile's "Session" group, shared with the session window
    // The heart-rate range follows each animal's species in animals.csv
    // (heartRateRangeForSpecies) and, for animals without one, the unit's TYPE
    // (heartRateRangeForType), unless the user set one range for all;
    // cycles.hrMin/hrMax hold the range of animals without a species.
    bool hrByType = true;
    int hrType = -1;       // the TYPE the range came from; -1 when not known
    int minCycles = 5;     // accepted cycles for a valid day (1 to 99)
    double maxSbpSd = 0;   // mmHg; a day whose SD of SBP exceeds it is invalid; 0 = off
    int trainingDays = 0;  // the first days each animal was measured, left out of the figures (0 to 99)
};
// The day rules from the profile's "Study" group and the cycle rules from its
// "Session" group (defaults for missing or unusable values), and back.
StudyRules loadStudyRules(IProfileStore& store);
void storeStudyRules(IProfileStore& store, const StudyRules& rules);
// Sets the heart-rate range from the unit's TYPE when the rules follow it.
void applyUnitType(StudyRules& rules, int type);
// The cycle rules of an animal of species (the animals.csv text, "" when none).
SessionSettings cycleRulesFor(const StudyRules& rules, const std::string& species);
// One line per rule, as every export and report prints them.
std::vector<std::string> studyRuleLines(const StudyRules& rules);

struct DayFigures {
    std::string date;   // "YYYY-MM-DD", the result's local date
    int dayNumber = 0;  // 1 for the first date of the study
    bool training = false;
    std::size_t cycles = 0;  // of the day, accepted or not
    std::size_t handChanged = 0;
    std::array<ValueSummary, kValueCount> values{};  // of the accepted cycles; values[kSbp].n is n
    bool valid = false;
    std::string
        reason;  // why not valid: "training", "3 accepted cycles (at least 5)", "SD of SBP 17.2 > 15.0"
    std::size_t accepted() const { return values[kSbp].n; }
};

struct AnimalFigures {
    std::string animal, group;
    bool listed = false;           // in animals.csv
    std::vector<DayFigures> days;  // in date order; only the days it was measured
    const DayFigures* day(const std::string& date) const;
};

struct GroupValue {
    std::size_t n = 0;         // animals with a valid day and this value
    double mean = 0, sem = 0;  // sem only when n >= 2
};
struct GroupDay {
    std::string date;
    int dayNumber = 0;
    std::size_t animals = 0;  // with a valid, non-training day
    std::array<GroupValue, kValueCount> values{};
};
struct GroupFigures {
    std::string group;
    std::vector<GroupDay> days;  // one per date of the study
};

struct StudyFigures {
    StudyRules rules;
    std::vector<std::string> dates;      // every date measured, in order
    std::vector<AnimalFigures> animals;  // by group (animals.csv order, "(none)" last), then as listed
    std::vector<GroupFigures> groups;
    std::size_t rows = 0;
    std::size_t handChanges = 0;               // cycles whose verdict a hand change set
    std::vector<ReviewChange> unknownChanges;  // the last change of each cycle the log does not hold
};

StudyFigures computeStudy(const std::vector<ResultsLogRow>& rows, const AnimalsTable& animals,
                          const ReviewLog& review, const StudyRules& rules);

// Cycles of a sitting's rows with the hand review applied (latest change per cycle).
std::vector<SessionCycle> reviewedCycles(const std::vector<ResultsLogRow>& rows,
                                         const std::vector<std::size_t>& indexes,
                                         const std::map<CycleKey, const ReviewChange*>& latest);

// Outputs of hx40k-data study and the window's export. Long: one row per
// animal and day, then the groups' days, then the rules. Wide: one row per
// animal with a column per day and measure (empty where the day is not
// valid or is a training day), then the rules. JSON: all of it.
std::string formatStudyLong(const StudyFigures& study);
std::string formatStudyWide(const StudyFigures& study);
std::string formatStudyJson(const StudyFigures& study);
// "mean ± SEM" or "-".
std::string groupValueText(const GroupValue& v);

}  // namespace hx

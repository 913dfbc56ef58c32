#pragma once
// Statistics of a session: the run of results for one animal. The first
// cycles are acclimation and are discarded, results with an error code are
// rejected (by default), readings outside the plausible SBP and HR ranges are
// rejected, and a cycle whose SBP lies further than k x MAD (or k x the
// scaled MAD, or k x SD) from the centre of the remaining cycles is an
// outlier. A cycle reviewed by hand keeps the verdict the user gave it. The
// accepted cycles are summarised per value: n, mean, SD, min and max.
//
// Plain C++ shared by the window, the console and the hx40k-data tool, so all
// of them show the same numbers. Values are mmHg and beats per minute.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "session/ResultsLog.h"

namespace hx {

class IProfileStore;

// How the SBP outlier rule measures the spread: k x MAD around the median
// (the program's first rule), k x 1.4826 x MAD around the median (the scaled
// MAD, which estimates the SD for normally distributed readings, so k keeps
// the meaning it has with SD), or k x SD around the mean.
enum class OutlierMethod { Mad, ScaledMad, Sd };
const char* outlierMethodName(OutlierMethod method);  // "MAD", "scaled MAD", "SD"
const char* outlierMethodKey(OutlierMethod method);   // "mad", "scaled-mad", "sd"
std::optional<OutlierMethod> parseOutlierMethod(const std::string& key);
inline constexpr double kMadScale = 1.4826;

struct SessionSettings {
    int acclimation = 0;       // cycles discarded at the start (0 to 99)
    bool rejectErrors = true;  // results with an error code are rejected
    double outlierK = 3.0;     // SBP outlier rule; 0 = off (0 to 100)
    OutlierMethod outlierMethod = OutlierMethod::Mad;
    // Plausible readings (mmHg, beats per minute); a bound of 0 is no bound.
    int sbpMin = 60, sbpMax = 250;
    int hrMin = 0, hrMax = 0;
    bool operator==(const SessionSettings&) const = default;
};
// The settings from the profile's "Session" group (defaults for missing or
// unusable values), and back.
SessionSettings loadSessionSettings(IProfileStore& store);
void storeSessionSettings(IProfileStore& store, const SessionSettings& settings);
// Parses a number as the settings take it; nullopt when it is not one or out of range.
std::optional<int> parseAcclimation(const std::string& text);
std::optional<double> parseOutlierK(const std::string& text);
// "MIN-MAX" in whole units (0 to 999 each, MIN <= MAX unless MAX is 0), or "off".
std::optional<std::pair<int, int>> parseRange(const std::string& text);
std::string rangeSettingText(int min, int max);  // "60-250", "off"
// The plausible heart rate of the unit's TYPE menu setting (0 rabbit/monkey,
// 1 dog, 2 other: a rat or a mouse), wide enough for an animal in a restrainer.
std::pair<int, int> heartRateRangeForType(int type);
// The plausible heart rate of a species named in the animals' table ("mouse",
// "rat", "dog", "rabbit", "monkey"; any case); nullopt for any other name.
std::optional<std::pair<int, int>> heartRateRangeForSpecies(std::string_view species);

// One measurement cycle. A value is absent when it was not measured or not
// shown (the history's "---"), or not stored (heart rate in data files).
struct SessionCycle {
    std::string dateTime;
    std::string label;  // N from the log, or the data file's name
    std::optional<double> hr, sbp, mbp, dbp;
    int errorCode = 0;
    std::string errorText;
    // Set when the user reviewed the cycle by hand: true accepted, false rejected.
    std::optional<bool> handAccepted;
    std::string handReason;
};
SessionCycle cycleFromLogRow(const ResultsLogRow& row);
// A cycle from a data file alone: SBP, MBP and DBP (halved as the program
// shows them); the heart rate and the error code are not stored there.
struct DataFileContents;
SessionCycle cycleFromDataFile(const DataFileContents& file, const std::string& name);

enum class CycleStatus { Accepted, Acclimation, Error, Implausible, Outlier, Hand };
struct CycleVerdict {
    CycleStatus status = CycleStatus::Accepted;
    // "accepted", "acclimation", the error text, "SBP out of range", "HR out
    // of range", "outlier"; "accepted by hand", "rejected by hand: REASON".
    std::string text;
    bool byHand = false;
};

struct ValueSummary {
    std::size_t n = 0;
    double mean = 0, sd = 0, min = 0, max = 0;  // sd only when n >= 2
};
enum SessionValue { kSbp, kMbp, kDbp, kHr, kValueCount };
inline constexpr std::array<const char*, kValueCount> kSessionValueNames = {"SBP", "MBP", "DBP", "HR"};

struct SessionStats {
    std::vector<SessionCycle> cycles;
    std::vector<CycleVerdict> verdicts;  // one per cycle
    std::size_t accepted = 0;
    std::array<ValueSummary, kValueCount> summary{};
    double sbpMedian = 0, sbpMad = 0;  // of the cycles the outlier rule judged
};
SessionStats computeSessionStats(std::vector<SessionCycle> cycles, const SessionSettings& settings);
// n, mean, SD (n - 1; 0 below two), min and max of values.
ValueSummary summariseValues(const std::vector<double>& values);

// Where sessions begin in a log: the rows of one device form one run while
// their session number and animal number stay the same; a change of either
// begins the next. Rows of other devices in between do not split a session.
struct SessionRows {
    int deviceId = 0;
    int session = 0;
    std::string animalNo;
    std::vector<std::size_t> rows;  // indexes into the log's rows, in order
};
std::vector<SessionRows> splitSessions(const std::vector<ResultsLogRow>& rows);

// Texts shared by the console, the tool and the window's export.
std::string formatNumber(double value);  // one decimal place
// "mean ± SD" (SD "-" for fewer than two), "min-max"; "-" when n is 0.
std::string meanSdText(const ValueSummary& s);
std::string rangeText(const ValueSummary& s);
// A plain-text table of the cycles and the summary. hrStored false marks the
// heart rate as not stored (data files).
std::string formatSessionText(const SessionStats& stats, bool hrStored);
// CSV of the same (RFC 4180, "\r\n"): a header, one row per cycle, an empty
// line, then the summary rows.
std::string formatSessionCsv(const SessionStats& stats, bool hrStored);
// JSON of the same (ASCII, one object).
std::string formatSessionJson(const SessionStats& stats, bool hrStored);

}  // namespace hx

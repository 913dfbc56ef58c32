#pragma once
// The results log: "results.csv" in the data folder, one row per result the
// program handled (saved or not), with what the data files cannot hold (heart
// rate, error code, the save rule) and the session each result belongs to.
//
// The file is UTF-8 CSV (RFC 4180 quoting) with one header line. Appending
// never harms earlier rows: a row is written whole under an exclusive flock
// (so two copies of the program writing into one folder never interleave),
// a row that could not be written whole is cut off again, and the file is
// synced before the append reports success. Plain C++ and POSIX; callers may
// use it from any thread, one append at a time per object.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/MeasurementResult.h"  // resultErrorName, for the rows' error texts

namespace hx {

inline constexpr const char* kResultsLogName = "results.csv";
inline constexpr const char* kResultsLogBesideName = "results-hx40k.csv";

// One row of the log. Values are kept as the texts the log holds; the
// pressures and N/HR are the texts of the history list ("---" when the list
// shows none).
struct ResultsLogRow {
    std::string dateTime;  // "YYYY-MM-DD hh:mm:ss" of the result (the unit's clock)
    int deviceId = 0;      // as the title shows it (1 to 16)
    std::string animalNo, studyNo, weight, sexAge, comment;
    std::string n, hr, sbp, mbp, dbp;
    int errorCode = 0;
    std::string errorText;  // "" without error, else "Lo", "Hi", "Air", "Err<code>"
    bool saved = false;
    std::string saveRule;  // "Always", "No Error", "Never", or the answer "Yes"/"No"
    std::string dataFile;  // the data file's name (no folder); "" when none written
    std::string unitVersion, programVersion;
    int session = 1;  // numbered by the program writing the row; a new number starts a session
};

// The header line's fields, in the order of the row.
const std::array<std::string_view, 20>& resultsLogColumns();

// "YYYY-MM-DD hh:mm:ss" from the unit's 12-digit "YYMMDDhhmmss" text; other
// texts are returned unchanged.
std::string resultsLogDateTime(const std::string& unitDateTime);
// The save rule's text for the "outputFile" preference (0, 1, 2) or, for any
// other value, the user's answer.
std::string saveRuleText(int outputFile, bool answeredYes);

// One CSV line (with the final "\r\n"), fields quoted where they must be.
std::string formatResultsLogRow(const ResultsLogRow& row);
std::string resultsLogHeader();

// Appends row to folder's log (creating it with its header). folder may end
// in "/" or not; "" means the current folder. Returns "" on success, else the
// reason (the system's text) and the log is as it was before. A file that is
// not a regular file or not a log is never written to.
std::string appendResultsLog(const std::string& folder, const ResultsLogRow& row);

// Reading: the header is checked before anything else is read, and each
// physical line is one row (the program never writes a line break inside a
// field), so one damaged line costs that row only.
struct ResultsLogContents {
    std::vector<ResultsLogRow> rows;
    std::size_t damagedLines = 0;  // lines with the wrong number of fields, bad numbers or open quotes
};
// Reads a whole log (the file itself, not a folder), streaming its lines.
// nullopt with reason set when the file cannot be read, is not a regular
// file (a FIFO is refused, never waited on) or its first line is not the
// log's header.
std::optional<ResultsLogContents> readResultsLog(const std::string& path, std::string& reason);
// Parses the text of a log (for tests and fuzzing; same rules as the file).
std::optional<ResultsLogContents> parseResultsLog(std::string_view text, std::string& reason);

// The rows appended to a log since byte position `offset` (0, or the offset an earlier call returned),
// so a reader that follows a growing log pays for the new rows only. Only whole lines are taken: a row
// still being written is read by the next call. A log shorter than offset was replaced; its rows are
// read from the first and `restarted` is set. Reading stops at byte `until` (the rows whose lines end
// by then), so a reader can take back a stretch of rows it read before by their starts.
struct LogRowsSince {
    std::vector<ResultsLogRow> rows;
    std::vector<std::uint64_t> starts;  // where each row's line begins in the file
    std::uint64_t offset = 0;           // where the next call starts
    bool restarted = false;
    std::size_t damagedLines = 0;
};
std::optional<LogRowsSince> readResultsLogSince(
    const std::string& path, std::uint64_t offset, std::string& reason,
    std::uint64_t until = std::numeric_limits<std::uint64_t>::max());

// The newest session that accept() takes, read from the end of the log, so
// its cost follows the session's size rather than the log's: the rows of the
// newest accepted row's unit with that row's session number and animal
// number, back to where either changes (other units' rows in between do not
// end it; the same rule as splitSessions). Reads at most maxBytes from the end.
struct NewestSession {
    std::vector<ResultsLogRow> rows;  // oldest first; empty when no row was accepted
    int maxSession = 0;               // the highest session number among the rows read
    std::size_t damagedLines = 0;     // among the lines read
    bool complete = false;            // the session's first row (or the log's) was reached
};
std::optional<NewestSession> readNewestSession(
    const std::string& path, std::string& reason, const std::function<bool(const ResultsLogRow&)>& accept,
    std::uint64_t maxBytes = std::numeric_limits<std::uint64_t>::max());

// The path of the log in folder: "results.csv", or, when a file of that name
// holds something else (someone's own table), "results-hx40k.csv" beside it.
std::string resultsLogPath(const std::string& folder);
bool resultsLogBesideForeignFile(const std::string& folder);

}  // namespace hx

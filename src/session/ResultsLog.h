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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hx {

inline constexpr const char* kResultsLogName = "results.csv";

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

// "Lo", "Hi", "Air", "Err<code>"; "" for 0.
std::string resultErrorName(int code);
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
// reason (the system's text) and the log is as it was before.
std::string appendResultsLog(const std::string& folder, const ResultsLogRow& row);

struct ResultsLogContents {
    std::vector<ResultsLogRow> rows;
    std::size_t damagedLines = 0;  // records with the wrong number of fields or bad numbers
};
// Reads a whole log (the file itself, not a folder). nullopt with reason set
// when the file cannot be read or its first line is not the log's header.
std::optional<ResultsLogContents> readResultsLog(const std::string& path, std::string& reason);
// Parses the text of a log (for tests and fuzzing; same rules as the file).
std::optional<ResultsLogContents> parseResultsLog(std::string_view text, std::string& reason);

// The path of the log in folder.
std::string resultsLogPath(const std::string& folder);

}  // namespace hx

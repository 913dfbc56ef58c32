#pragma once
// Reading and writing the study's small CSV files (animals.csv,
// review-log.csv): UTF-8, RFC 4180 quoting, records ended by CRLF or LF.
// Each record keeps the line of the file it starts on, so a message can name
// the line a person has to mend in a spreadsheet.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace hx {

struct CsvRecord {
    std::vector<std::string> fields;
    std::size_t line = 0;    // 1-based line of the file where the record starts
    std::string text;        // the record as it stands in the file, without its line end
    bool terminated = true;  // false: the file ended inside the record (no line end)
    bool quoteOpen = false;  // the file ended inside a quoted field
};

// Every record of text; empty lines are left out.
std::vector<CsvRecord> parseCsvRecords(std::string_view text);

// One field quoted where it must be (a comma, a quote, a line end, or a
// space at either end).
std::string csvQuote(const std::string& field);
// Fields joined with "," and ended with "\r\n".
std::string csvLine(const std::vector<std::string>& fields);

// The whole of a file; false with reason (the system's text) when it cannot be
// read. A missing file is reported with missing set.
bool readWholeFile(const std::string& path, std::string& text, std::string& reason, bool* missing = nullptr);

// Appends bytes to path (created with header first when it is empty) as one
// write under an exclusive flock, synced; a write that fails is cut off again,
// so the file holds whole records only. A file whose last line is unfinished
// gets a line end first. Returns "" or the reason.
std::string appendLocked(const std::string& path, const std::string& header, const std::string& bytes);

// "folder/name" ("name" for an empty folder).
std::string joinFolder(const std::string& folder, const std::string& name);

}  // namespace hx

#pragma once
// The animals of a study: "animals.csv" in the data folder (UTF-8, RFC 4180,
// header "Animal No,Group,Sex,Date of birth,Notes", and "Species" in files the
// program starts), edited in the program's table or in a spreadsheet. Columns
// a user adds are kept, in their place; a file without "Species" reads as
// before (no animal's species known).
//
// A row that cannot be read (a field too many, an open quote, no animal
// number, an animal listed twice) is kept as it stands with its line and the
// reason; the program refuses to save over a file that holds such a row, so
// no row a person typed is ever lost. Plain C++; any thread.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hx {

inline constexpr const char* kAnimalsFileName = "animals.csv";
// The group of an animal that is measured but not listed.
inline constexpr const char* kNoGroup = "(none)";

struct AnimalsRow {
    std::vector<std::string> fields;  // one per column of the header
    std::size_t line = 0;             // in the file read; 0 for a row added since
};

struct AnimalsDamage {
    std::size_t line = 0;
    std::string text;    // the row as it stands
    std::string reason;  // e.g. "7 fields, the header has 5"
};

struct AnimalsTable {
    std::vector<std::string> columns;  // the header; starts with the standard five for a new file
    std::vector<AnimalsRow> rows;
    std::vector<AnimalsDamage> damaged;
    // When the header itself cannot be read, no row is taken and this says why.
    std::string headerProblem;

    static std::vector<std::string> standardColumns();
    // The column's index, nullopt when the file has no such column.
    std::optional<std::size_t> column(std::string_view name) const;
    std::string field(const AnimalsRow& row, std::string_view column) const;
    // Animal number -> group ("" in the file counts as kNoGroup), and the
    // groups in the order they first appear.
    std::map<std::string, std::string> groups() const;
    std::vector<std::string> groupOrder() const;
    // Animal number -> the "Species" column's text, for the animals that have one.
    std::map<std::string, std::string> species() const;
    // "line 4: 7 fields, the header has 5" for the first damage, "" when none.
    std::string firstProblem() const;
};

AnimalsTable parseAnimals(std::string_view text);
// The file of folder; a missing file is an empty table with the standard
// columns. reason is set (and the table empty) when it exists but cannot be read.
AnimalsTable readAnimals(const std::string& folder, std::string& reason);
std::string formatAnimals(const AnimalsTable& table);
// Replaces folder's file by table. Refused (with the reason, naming the line)
// when the file as it is now on disk holds a row or header the program cannot
// read, or when table itself holds one. Returns "" on success.
std::string saveAnimals(const std::string& folder, const AnimalsTable& table);

}  // namespace hx

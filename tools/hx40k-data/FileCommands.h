#pragma once
// hx40k-data dump, csv and analyse: one data file, or many in one run.
//
//   dump FILE / analyse FILE      one JSON object (as it always was)
//   dump FILE FILE...             JSON lines: one line per file, in the order
//   analyse FILE FILE...          given: {"file":PATH,"dump":{...}} or
//                                 {"file":PATH,"analysis":{...}}; a file that
//                                 cannot be read gives {"file":PATH,"error":WHY}
//   csv FILE                      index,pressure,wave on standard output
//   csv --out DIR FILE...         DIR/<file name>.csv for each file (DIR is made)
//
// A file that cannot be read is named on stderr and the others are still
// done; the exit status is then 2.

#include <string>
#include <vector>

namespace hxdata {

// args[0] is "dump", "csv" or "analyse". Returns the exit status.
int fileCommand(const std::vector<std::string>& args);

extern const char* const kFileUsage;

}  // namespace hxdata

// Arbitrary text through the results log parser (the log is shared by copies
// of the program and edited by people in spreadsheets). Every row it accepts
// must come back whole when written out and read again.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "session/ResultsLog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string reason;
    const auto parsed = hx::parseResultsLog(text, reason);
    if (!parsed) return 0;
    std::string again = hx::resultsLogHeader();
    for (const hx::ResultsLogRow& row : parsed->rows) again += hx::formatResultsLogRow(row);
    const auto reparsed = hx::parseResultsLog(again, reason);
    if (!reparsed || reparsed->damagedLines != 0 || reparsed->rows.size() != parsed->rows.size())
        std::abort();
    for (std::size_t i = 0; i < parsed->rows.size(); ++i)
        if (hx::formatResultsLogRow(reparsed->rows[i]) != hx::formatResultsLogRow(parsed->rows[i]))
            std::abort();
    return 0;
}

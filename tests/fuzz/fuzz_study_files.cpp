// Arbitrary text through the readers of the study's files (animals.csv and
// review-log.csv are edited by people in spreadsheets). What the animals'
// reader accepts comes back the same when written out and read again, and a
// review log's changes survive the same round trip.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "study/Animals.h"
#include "study/ReviewLog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const hx::AnimalsTable table = hx::parseAnimals(text);
    if (table.headerProblem.empty()) {
        const hx::AnimalsTable again = hx::parseAnimals(hx::formatAnimals(table));
        if (!again.damaged.empty() || again.rows.size() != table.rows.size() ||
            hx::formatAnimals(again) != hx::formatAnimals(table))
            std::abort();
    }
    std::string reason;
    const hx::ReviewLog log = hx::parseReviewLog(text, reason);
    std::string out = hx::reviewLogHeader();
    for (const auto& c : log.changes) out += hx::formatReviewChange(c);
    const hx::ReviewLog back = hx::parseReviewLog(out, reason);
    if (back.changes.size() != log.changes.size() || back.damagedLines != 0) std::abort();
    for (std::size_t i = 0; i < log.changes.size(); ++i)
        if (hx::formatReviewChange(back.changes[i]) != hx::formatReviewChange(log.changes[i])) std::abort();
    return 0;
}

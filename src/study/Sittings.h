#pragma once
// The conditions of a sitting (one session of one unit): platform and room
// temperature, restrainer size, operator and notes, typed in the session
// window and printed in reports.
//
// They live in "sessions.csv" beside the results log, not in the log's rows:
// the log's columns are fixed (other copies of the program and the tool
// check its header), and conditions are typed while or after the sitting
// runs and may be corrected later. Each save appends one row (whole, synced,
// under a flock); the last row of a sitting wins, so nothing is rewritten.
//
// Header: Time,User,Device ID,Session,Animal No,Platform temperature (C),Room
// temperature (C),Restrainer,Operator,Notes.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace hx {

inline constexpr const char* kSittingsFileName = "sessions.csv";

struct SittingConditions {
    int deviceId = 0;
    int session = 0;
    std::string animalNo;
    std::string platformTemperature, roomTemperature;  // degrees Celsius as typed ("" when not given)
    std::string restrainer, operatorName, notes;
    std::string time, user;  // of the save; filled in on append when empty
    bool empty() const {
        return platformTemperature.empty() && roomTemperature.empty() && restrainer.empty() &&
               operatorName.empty() && notes.empty();
    }
};

// "" or a temperature from -20 to 60 degrees Celsius ("37", "37.5").
bool validTemperature(const std::string& text);

using SittingKey = std::pair<int, int>;  // device ID, session
struct SittingsFile {
    std::map<SittingKey, SittingConditions> latest;
    std::size_t damagedLines = 0;
};
SittingsFile parseSittings(std::string_view text);
// folder's file; empty when there is none. nullopt with reason when unreadable.
std::optional<SittingsFile> readSittings(const std::string& folder, std::string& reason);
// Appends the conditions (refused when a temperature is not one). Returns "" or why not.
std::string appendSittingConditions(const std::string& folder, SittingConditions conditions);

}  // namespace hx

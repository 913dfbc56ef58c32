// The timer-file reader on arbitrary bytes: any text gives a consistent
// schedule, and the schedule's own file text reads back to the same schedule.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "timer/TimerSchedule.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    hx::CTimerSchedule schedule;
    schedule.readTimerText(std::string_view(reinterpret_cast<const char*>(data), size));

    const auto& intervals = schedule.intervals();
    const auto& offsets = schedule.offsets();
    if (intervals.size() != offsets.size() || schedule.repeatPeriod() < 0) __builtin_trap();
    for (std::size_t i = 0; i < intervals.size(); ++i) {
        if (intervals[i] < 0) __builtin_trap();
        if (i > 0 && offsets[i] < offsets[i - 1]) __builtin_trap();
    }

    hx::CTimerSchedule again;
    again.readTimerText(schedule.timerText());
    if (again.intervals() != intervals || again.repeatPeriod() != schedule.repeatPeriod()) __builtin_trap();

    std::array<std::int32_t, 101> entries{};
    const std::size_t written = schedule.getEntries(std::span(entries).first(100));
    if (written > 100 || entries[100] != 0) __builtin_trap();

    schedule.startSeries(1'700'000'000);
    for (std::time_t now : {1'700'000'000L, 1'700'000'061L, 1'800'000'000L}) {
        if (schedule.secondsUntilNextRecording(now) < 0) __builtin_trap();
    }
    return 0;
}

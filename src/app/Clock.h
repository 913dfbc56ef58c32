#pragma once
// Time as the program sees it. Everything that waits, sleeps or reads the time
// goes through an IClock, so tests and the --fast mode can run in virtual time.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <thread>

namespace hx {

class IClock {
public:
    virtual ~IClock() = default;
    // Monotonic milliseconds (arbitrary origin), for timers and time-outs.
    virtual std::int64_t nowMs() const = 0;
    // Wall-clock time in seconds since 1970 (the unit's clock, timer schedule).
    virtual std::time_t wallTime() const = 0;
    // Sleeps; a virtual clock may return at once.
    virtual void sleepMs(int ms) = 0;
};

class CSystemClock final : public IClock {
public:
    std::int64_t nowMs() const override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    std::time_t wallTime() const override { return std::time(nullptr); }
    void sleepMs(int ms) override {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    static CSystemClock& instance() {
        static CSystemClock clock;
        return clock;
    }
};

}  // namespace hx

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

    // In virtual time the loop may jump the clock only when nothing is in
    // flight. A record counts from the moment the simulated unit hands it to
    // its pipe (beginActivity) until the receiver thread has posted or dropped
    // it (endActivity). The real clock ignores both.
    virtual void beginActivity() {}
    virtual void endActivity() {}
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

#include "ControlRig.h"

#include <mutex>

namespace hx::test {

namespace {
std::mutex g_mutex;
std::vector<std::string> g_lines;
}  // namespace

LogCapture::LogCapture() {
    {
        std::lock_guard lock(g_mutex);
        g_lines.clear();
    }
    // Not under g_mutex: the observer runs under the log channel's lock and
    // takes g_mutex, so taking them the other way round could deadlock.
    setLogLineObserver([](std::string_view text, char, char) {
        std::lock_guard lock(g_mutex);
        g_lines.emplace_back(text);
    });
}

LogCapture::~LogCapture() { setLogLineObserver(nullptr); }

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard lock(g_mutex);
    return g_lines;
}

int LogCapture::count(const std::string& text) const {
    std::lock_guard lock(g_mutex);
    return static_cast<int>(std::count(g_lines.begin(), g_lines.end(), text));
}

}  // namespace hx::test

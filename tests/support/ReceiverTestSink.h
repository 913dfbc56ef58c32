#pragma once
// A receiver sink that records what the receiver thread tells the main window
// and plays the user-interface thread: sends run a handler the test gives, the
// menu notice can be held open until the test closes it. And a clock that
// records the receiver's pauses and record activity instead of sleeping.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "app/Clock.h"
#include "protocol/ReceiverThread.h"

namespace hx::test {

class ReceiverTestSink : public IReceiverSink {
  public:
    void post(WindowMessage message) override {
        if (onPost) onPost(message);
        record(std::move(message), false);
    }

    void send(WindowMessage message) override {
        if (onSend) onSend(message);
        record(std::move(message), true);
    }

    void showMenuNotice() override {
        std::unique_lock lock(m_mutex);
        ++m_menuNotices;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_menuGateOpen || m_stopping; });
    }

    void stopRequested() override {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_changed.notify_all();
    }

    // The menu notice stays open until openMenuGate (or a stop).
    void closeMenuGate() {
        std::lock_guard lock(m_mutex);
        m_menuGateOpen = false;
    }
    void openMenuGate() {
        std::lock_guard lock(m_mutex);
        m_menuGateOpen = true;
        m_changed.notify_all();
    }

    bool waitForMessages(std::size_t count, int timeoutMs = 5000) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_messages.size() >= count; });
    }
    bool waitForMenuNotices(int count, int timeoutMs = 5000) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_menuNotices >= count; });
    }

    std::vector<WindowMessage> messages() const {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    std::vector<bool> wasSent() const {
        std::lock_guard lock(m_mutex);
        return m_sent;
    }
    int menuNotices() const {
        std::lock_guard lock(m_mutex);
        return m_menuNotices;
    }

    // Run on the receiver thread inside send() (as the UI thread's handler
    // would run before send returns) and inside post() (standing in for a
    // handler that runs soon after). Set before the thread starts.
    std::function<void(const WindowMessage&)> onSend;
    std::function<void(const WindowMessage&)> onPost;

  private:
    void record(WindowMessage message, bool sent) {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(std::move(message));
        m_sent.push_back(sent);
        m_changed.notify_all();
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<WindowMessage> m_messages;
    std::vector<bool> m_sent;
    int m_menuNotices = 0;
    bool m_menuGateOpen = true;
    bool m_stopping = false;
};

// Records pauses and activity; never sleeps.
class RecordingClock : public IClock {
  public:
    std::int64_t nowMs() const override { return 0; }
    std::time_t wallTime() const override { return 0; }
    void sleepMs(int ms) override {
        std::lock_guard lock(m_mutex);
        m_sleeps.push_back(ms);
    }
    void beginActivity() override {
        std::lock_guard lock(m_mutex);
        ++m_begun;
    }
    void endActivity() override {
        std::lock_guard lock(m_mutex);
        ++m_ended;
    }
    std::vector<int> sleeps() const {
        std::lock_guard lock(m_mutex);
        return m_sleeps;
    }
    int activitiesEnded() const {
        std::lock_guard lock(m_mutex);
        return m_ended;
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<int> m_sleeps;
    int m_begun = 0;
    int m_ended = 0;
};

}  // namespace hx::test

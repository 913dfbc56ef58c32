#include "protocol/ReceiverThread.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <string>

#include "app/LogChannel.h"
#include "protocol/CommandChannel.h"
#include "protocol/RecordDecoding.h"

namespace hx {
namespace {

// wParam of kMsgVersionRecord: non-zero means "a text is attached" (the text
// itself travels in WindowMessage::text).
constexpr std::uintptr_t kVersionTextAttached = 1;

WindowMessage message(std::uint32_t id, std::uintptr_t wParam, std::intptr_t lParam = 0,
                      std::string text = {}) {
    WindowMessage m;
    m.id = id;
    m.wParam = wParam;
    m.lParam = lParam;
    m.text = std::move(text);
    return m;
}

void copyResultPiece(const ReceiverParams& p, const std::uint8_t* record, int piece) {
    std::memcpy(p.resultArea + kResultPieceOffset[piece], record + 2, kResultPieceSize);
}

// Copies a whole record to the start of an area after clearing the area's
// first 64 bytes, so bytes past a short record read as 0.
void copyWholeRecord(std::uint8_t* area, const std::uint8_t* record, std::size_t length) {
    std::memset(area, 0, kRecordSize);
    std::memcpy(area, record, length);
}

std::string versionText(const std::uint8_t* record, std::size_t length) {
    const char* text = reinterpret_cast<const char*>(record + 1);
    return std::string(text, strnlen(text, length - 1));
}

// Ends the virtual-time activity of one record however its dispatch ends.
class CRecordActivity {
  public:
    explicit CRecordActivity(IClock& clock) : m_clock(clock) {}
    ~CRecordActivity() { m_clock.endActivity(); }
    CRecordActivity(const CRecordActivity&) = delete;
    CRecordActivity& operator=(const CRecordActivity&) = delete;

  private:
    IClock& m_clock;
};

}  // namespace

bool dispatchRecord(const ReceiverParams& p, const std::uint8_t* record, std::size_t length) {
    length = std::min(length, kRecordSize);
    if (length == 0) return false;
    switch (recordType(record[0])) {
        case kRecordMenuNotice:
        case kRecordMenuNoticeAlt:
            p.sink->showMenuNotice();
            return false;
        case kRecordResultFirst:
            copyResultPiece(p, record, 0);
            return false;
        case kRecordResultSecond:
            copyResultPiece(p, record, 1);
            return false;
        case kRecordWavePacket:
            p.handOverEvent->reset();
            copyWholeRecord(p.waveArea, record, length);
            p.sink->post(message(kMsgWavePacket, p.messageValue));
            return true;
        case kRecordResultThird:
            p.handOverEvent->reset();
            copyResultPiece(p, record, 2);
            p.sink->post(message(kMsgResultReady, p.messageValue));
            return true;
        case kRecordAnimalInfo:
            p.handOverEvent->reset();
            copyWholeRecord(p.animalArea, record, length);
            p.sink->send(message(kMsgAnimalBlock, p.messageValue));
            return true;
        case kRecordVersion:
            p.sink->post(message(kMsgVersionRecord, kVersionTextAttached,
                                 static_cast<std::intptr_t>(length - 1), versionText(record, length)));
            return false;
        default:
            return false;  // types 0 and 8 to 14 carry nothing for us
    }
}

CReceiverThread::~CReceiverThread() {
    if (m_thread.joinable() && m_params.channel == nullptr) {
        // Stopped already, but the thread had not ended in time (a read that
        // hangs): it owns what it still needs, so it may end on its own.
        std::unique_lock lock(m_shared->mutex);
        if (!m_shared->changed.wait_for(lock, std::chrono::milliseconds(kStopWaitMs),
                                        [this] { return m_shared->ended; })) {
            lock.unlock();
            m_thread.detach();
            return;
        }
        lock.unlock();
        m_thread.join();
        return;
    }
    if (m_thread.joinable()) {
        if (m_params.stopEvent != nullptr) m_params.stopEvent->set();
        {
            std::lock_guard lock(m_shared->mutex);
            if (!m_shared->channelClosed) {
                m_shared->channelClosed = true;
                if (m_shared->inChannel) m_params.channel->cancelRead();
            }
        }
        if (m_params.sink != nullptr) m_params.sink->stopRequested();
        m_thread.join();
    }
}

void CReceiverThread::reapEndedThread() {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard lock(m_shared->mutex);
        if (!m_shared->ended) return;
    }
    m_thread.join();
    m_shared.reset();
}

bool CReceiverThread::waitingForHandOver() const {
    std::shared_ptr<Shared> shared = m_shared;
    return shared && shared->waitingForHandOver.load();
}

bool CReceiverThread::isRunning() const {
    if (!m_shared) return false;
    std::lock_guard lock(m_shared->mutex);
    return !m_shared->ended;
}

bool CReceiverThread::complete(const ReceiverParams& params) {
    return params.channel != nullptr && params.sink != nullptr && params.stopEvent != nullptr &&
           params.goEvent != nullptr && params.handOverEvent != nullptr && params.resultArea != nullptr &&
           params.waveArea != nullptr && params.animalArea != nullptr;
}

bool CReceiverThread::start(const ReceiverParams& params) {
    reapEndedThread();
    if (m_thread.joinable()) return false;  // the previous thread has not ended yet
    if (m_polled && isRunning()) return false;
    if (!complete(params)) return false;
    m_polled = false;
    params.stopEvent->reset();
    m_params = params;
    m_shared = std::make_shared<Shared>();
    m_thread = std::thread(
        [tag = threadLogTag()](ReceiverParams p, IClock* clock, std::shared_ptr<Shared> shared) {
            setThreadLogTag(tag);  // its lines name the unit it reads
            run(std::move(p), clock, std::move(shared));
        },
        m_params, &params.channel->clock(), m_shared);
    m_params.goEvent->set();
    return true;
}

void CReceiverThread::stop() {
    if (m_params.stopEvent != nullptr) m_params.stopEvent->set();
    const bool wasStarted = m_params.channel != nullptr;
    if (m_thread.joinable() && m_shared) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
        std::unique_lock lock(m_shared->mutex);
        // From here on the thread does not enter the channel; a read already
        // under way is cancelled and waited for, within the time limit.
        if (!m_shared->channelClosed) {
            m_shared->channelClosed = true;
            if (m_shared->inChannel) m_params.channel->cancelRead();
        }
        m_shared->changed.wait_until(lock, deadline, [this] { return !m_shared->inChannel; });
        lock.unlock();
        m_params.sink->stopRequested();
        lock.lock();
        bool ended = m_shared->changed.wait_until(lock, deadline, [this] { return m_shared->ended; });
        lock.unlock();
        if (ended) {
            m_thread.join();
            m_shared.reset();
        }
    }
    if (m_polled && m_shared) {
        // Read on the loop's thread, which is the caller's: nothing to wait for.
        m_shared->end();
    }
    m_polled = false;
    m_params.channel = nullptr;  // no longer ours to touch
    m_params.keepAlive.reset();
    if (wasStarted) writeLinkLine(m_log, "stop thread! ");
}

CReceiverThread::ReadOutcome CReceiverThread::afterRead(const ReceiverParams& p, IClock& clock,
                                                        Shared& shared, const RecordRead& read,
                                                        const std::uint8_t* record) {
    if (read.unitLost) {
        shared.closeChannel();
        // The cause goes with the message, for the user to be told.
        p.sink->post(message(kMsgReadError, p.messageValue, static_cast<std::intptr_t>(read.error)));
        return ReadOutcome::Lost;
    }
    if (read.error != LinkError::None) return ReadOutcome::Failed;
    if (read.bytes == 0) return ReadOutcome::Empty;
    CRecordActivity activity(clock);
    if (!dispatchRecord(p, record, read.bytes)) return ReadOutcome::Passed;
    // Marked before the record's activity ends: a loop that looks again at
    // that moment sees the reader waiting for it.
    shared.waitingForHandOver = true;
    return ReadOutcome::Held;
}

void CReceiverThread::run(ReceiverParams p, IClock* clock, std::shared_ptr<Shared> shared) {
    try {
        std::array<std::uint8_t, kRecordSize> buffer{};
        for (;;) {
            if (CEvent::waitAny(*p.stopEvent, *p.goEvent) == 0) break;
            {
                std::lock_guard lock(shared->mutex);
                if (shared->channelClosed) break;
                shared->inChannel = true;
            }
            buffer.fill(0);
            RecordRead read;
            try {
                read = p.channel->readRecord(buffer.data(), buffer.size());
            } catch (...) {
                read = RecordRead{0, LinkError::Io, false};
                shared->closeChannel();
            }
            {
                std::lock_guard lock(shared->mutex);
                shared->inChannel = false;
                shared->changed.notify_all();
                // Stopped while the read was under way: the read's outcome
                // belongs to nobody any more.
                if (shared->channelClosed) break;
            }
            const ReadOutcome outcome = afterRead(p, *clock, *shared, read, buffer.data());
            if (outcome == ReadOutcome::Lost) break;
            if (outcome == ReadOutcome::Failed) {
                clock->sleepMs(kEmptyReadPauseMs);
                continue;
            }
            if (outcome == ReadOutcome::Held) {
                CEvent::waitAny(*p.stopEvent, *p.handOverEvent);
                shared->waitingForHandOver = false;
            }
            clock->sleepMs(kRecordPauseMs);
        }
    } catch (...) {
        // Whatever went wrong, the thread ends quietly.
    }
    shared->end();
}

bool CReceiverThread::startPolled(const ReceiverParams& params) {
    reapEndedThread();
    if (m_thread.joinable() || isRunning() || !complete(params)) return false;
    params.stopEvent->reset();
    m_params = params;
    m_shared = std::make_shared<Shared>();
    m_polled = true;
    m_params.goEvent->set();
    return true;
}

bool CReceiverThread::poll() {
    if (!m_polled || m_polling || !m_shared) return false;
    Shared& shared = *m_shared;
    {
        std::lock_guard lock(shared.mutex);
        if (shared.ended) return false;
    }
    if (m_params.stopEvent->isSet() || !m_params.goEvent->isSet()) return false;
    if (shared.waitingForHandOver) {
        if (!m_params.handOverEvent->isSet()) return false;
        shared.waitingForHandOver = false;
    }
    // A send made by the dispatch may run a nested loop that looks here again.
    m_polling = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{m_polling};
    ReadOutcome outcome = ReadOutcome::Lost;
    try {
        m_pollBuffer.fill(0);
        const RecordRead read = m_params.channel->readRecordNow(m_pollBuffer.data(), m_pollBuffer.size());
        outcome = afterRead(m_params, m_params.channel->clock(), shared, read, m_pollBuffer.data());
    } catch (...) {
        // As on the thread: whatever went wrong, reading ends quietly.
    }
    if (outcome == ReadOutcome::Lost) {
        shared.end();
        return true;
    }
    // Nothing read, or a read that failed (it is tried again at the loop's
    // next look): time may pass meanwhile.
    return outcome == ReadOutcome::Passed || outcome == ReadOutcome::Held;
}

}  // namespace hx

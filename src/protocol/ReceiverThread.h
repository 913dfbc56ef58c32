#pragma once
// The receiver thread: one worker per opened unit that reads the unit's records
// from the inbound pipe, sorts them by type (low 4 bits of byte 0), copies them
// into the document's record areas and tells the main window:
//
//   type 1, 15  menu notice: the "ID_MENU" box, the thread waits until it closes
//   type 2, 3   result pieces 1 and 2: bytes 2..63 to result area offsets 0, 62
//   type 4      wave packet: to the wave area, posts kMsgWavePacket, hand-over
//   type 5      result piece 3: bytes 2..63 to offset 124, posts kMsgResultReady,
//               hand-over
//   type 6      animal block: to the animal area, sends kMsgAnimalBlock, hand-over
//   type 7      version text: posts kMsgVersionRecord with the text
//   others      dropped
//
// Hand-over: for types 4, 5 and 6 the thread resets the hand-over event before
// it writes the area and reads nothing more until the main window sets the
// event again (or stop is requested). That event is the only protection of the
// record areas.
//
// In virtual time the event loop may read instead of a thread (startPolled,
// poll): the same dispatch and hand-over, one record a call.
//
// Ownership: the main window owns the three events, the sink and the record
// areas, and keeps them alive until stop() has returned and the thread has
// ended (isRunning() false, or the CReceiverThread destroyed).

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "app/Clock.h"
#include "app/Event.h"
#include "app/WindowMessages.h"
#include "base/RecordAreas.h"
#include "usb/LinkLog.h"

namespace hx {

class CCommandChannel;
struct RecordRead;

// What the receiver thread tells the main window. Called on the receiver thread.
class IReceiverSink {
  public:
    virtual ~IReceiverSink() = default;
    // Queues a message for the user-interface thread and returns at once.
    virtual void post(WindowMessage message) = 0;
    // Delivers a message to the user-interface thread and returns when it has
    // been handled (also while a modal dialog of that thread is open).
    virtual void send(WindowMessage message) = 0;
    // Shows the "ID_MENU" box (OK button) and returns when it has been closed.
    virtual void showMenuNotice() = 0;
    // Called on the user-interface thread by stop() before it waits for the
    // thread: a send or menu notice in progress on the receiver thread should
    // return soon (dropping the message is fine), since the thread that would
    // handle it is the one waiting.
    virtual void stopRequested() {}
};

// The thread's parameter block, filled by the main window before start and not
// changed while the thread runs. All pointers are borrowed.
struct ReceiverParams {
    CCommandChannel* channel = nullptr;  // whose readRecord the thread calls
    IReceiverSink* sink = nullptr;       // the main window
    CEvent* stopEvent = nullptr;         // manual-reset; set: the thread is to end
    CEvent* goEvent = nullptr;           // manual-reset; set: the thread may read
    CEvent* handOverEvent = nullptr;     // manual-reset; set by the main window when done with a record
    std::uintptr_t messageValue = 0;     // wParam of the notifications; no meaning
    std::uint8_t* resultArea = nullptr;  // kResultAreaSize bytes
    std::uint8_t* waveArea = nullptr;    // kWaveAreaSize bytes
    std::uint8_t* animalArea = nullptr;  // kAnimalAreaSize bytes
    // Shares ownership of the channel with the thread (optional): a thread that
    // stop could not wait for, stuck in a unit reset, keeps the channel alive
    // until its read returns; it then ends without touching anything else.
    std::shared_ptr<void> keepAlive;
};

class CReceiverThread {
  public:
    CReceiverThread() = default;
    ~CReceiverThread();  // stops the thread; waits for it to end, at most 1000 ms
    CReceiverThread(const CReceiverThread&) = delete;
    CReceiverThread& operator=(const CReceiverThread&) = delete;

    // Where "stop thread! " goes (default: the log channel). Set before use.
    void setLogWriter(LinkLogWriter writer) { m_log = std::move(writer); }

    // Starts the thread: only when none is running and the parameter block has a
    // channel, a sink, the three events and the three areas. Resets the stop
    // event and sets the go event. User-interface thread.
    bool start(const ReceiverParams& params);

    // The same reader without a thread, for an event loop in virtual time that
    // reads on its own thread (the channel's readsWithoutWaiting() true): the
    // loop calls poll() whenever it looks for work, and each call reads at most
    // one record and dispatches it as the thread would. A record that waits for
    // the hand-over holds the next read back until the event is set. poll()
    // returns true when it read a record (or the unit was lost), false when
    // nothing could be read. stop() ends it. User-interface thread only.
    bool startPolled(const ReceiverParams& params);
    bool poll();

    // Sets the stop event and cancels a pending read, and waits up to 1000 ms
    // in all for the thread to leave the channel and end. Once it returns the
    // thread never enters the channel again; a read still under way (a unit
    // reset that hangs) is left to return by itself, and the thread then ends
    // without touching the sink or the areas. The channel may be deleted when
    // the thread left it in time, and always when the parameter block's
    // keepAlive owns it. A thread held up in the sink (a send or the menu
    // notice waiting for the user-interface thread) is left to end by itself
    // and is joined later. Writes "stop thread! " once per started thread.
    // User-interface thread.
    void stop();

    // True while a thread exists that has not ended.
    bool isRunning() const;
    // True while the thread waits for the main window to release a record it
    // handed over (wave packet, result, animal block). Any thread.
    bool waitingForHandOver() const;

    // Pacing of the loop, in milliseconds (through the channel's clock).
    static constexpr int kEmptyReadPauseMs = 2;
    static constexpr int kRecordPauseMs = 5;
    static constexpr int kStopWaitMs = 1000;

  private:
    // State shared between the thread and its owner.
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        bool inChannel = false;      // the thread is inside readRecord
        bool channelClosed = false;  // stop(): the thread may not enter the channel again
        bool ended = false;
        std::atomic<bool> waitingForHandOver{false};

        // The reader leaves the channel for good: it will not enter it again.
        void closeChannel() {
            std::lock_guard lock(mutex);
            channelClosed = true;
        }
        // Reading has ended (the channel left with it).
        void end() {
            std::lock_guard lock(mutex);
            channelClosed = true;
            ended = true;
            changed.notify_all();
        }
    };

    // What one read came to, and so what the reader does next.
    enum class ReadOutcome {
        Lost,    // the unit is gone for good: reading ends
        Failed,  // no record this time; try again after a pause
        Empty,   // nothing queued
        Passed,  // a record dispatched; read on
        Held,    // a record dispatched that waits for the hand-over
    };
    static ReadOutcome afterRead(const ReceiverParams& p, IClock& clock, Shared& shared,
                                 const RecordRead& read, const std::uint8_t* record);
    static bool complete(const ReceiverParams& params);
    void reapEndedThread();
    static void run(ReceiverParams params, IClock* clock, std::shared_ptr<Shared> shared);

    ReceiverParams m_params;
    bool m_polled = false;   // started by startPolled: no thread, poll() reads
    bool m_polling = false;  // inside poll()
    std::array<std::uint8_t, kRecordSize> m_pollBuffer{};
    std::thread m_thread;
    std::shared_ptr<Shared> m_shared;
    LinkLogWriter m_log;
};

// One record through the dispatch, without the thread: copies it into the areas
// and notifies the sink as the thread does. Returns true when the record is one
// that waits for the hand-over (types 4, 5, 6); the hand-over event has then
// been reset. record holds at least kRecordSize bytes (zero beyond length).
bool dispatchRecord(const ReceiverParams& params, const std::uint8_t* record, std::size_t length);

}  // namespace hx

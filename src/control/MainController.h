#pragma once
// CMainController: the main window's logic without a window. It follows the
// unit's states, takes wave packets and results from the receiver thread,
// routes the user's commands, runs the connection sequence and device
// discovery. The front end's main window owns one and forwards its messages,
// timers and commands; everything here runs on the UI thread unless a method
// says otherwise.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analysis/OscillometricAnalysis.h"
#include "app/Application.h"
#include "app/Event.h"
#include "control/EventLoop.h"
#include "control/UiPort.h"
#include "data/DocumentListener.h"
#include "data/Halnor55KUDoc.h"
#include "protocol/CommandChannel.h"
#include "session/ResultsSession.h"
#include "usb/UnitDriver.h"

namespace hx {

class CCommandChannel;
class CReceiverThread;
class CTransport;
class CReceiverSinkAdapter;

// Timers of the main window.
enum TimerId : int {
    kTimerConnect = 101,
    kTimerSecond = 102,
    kTimerStatePoll = 104,
    kTimerClock = 106,
    kTimerRecheck = 107,  // without device notices: re-check the attached units
    kTimerToView = 108,   // asks a unit that is not in View yet to go there, every 200 ms
};
// How often the attached units are re-checked when no device notices come.
constexpr int kRecheckIntervalMs = 2000;

// The device-change message (arrival or removal of a unit interface); the
// driver's notice travels to the UI thread as this, text = device path.
constexpr std::uint32_t WM_DEVICECHANGE = 0x0219;
constexpr std::uintptr_t DBT_DEVICEARRIVAL = 0x8000;
constexpr std::uintptr_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

class CMainController final : public IMessageTarget, public IDocumentListener {
  public:
    // receiverClock is what the receiver thread sleeps on (a virtual clock lets
    // it run free); the loop's clock is used for the UI thread's own waits.
    CMainController(CHalnor40KUApp& app, CHalnor55KUDoc& doc, IUnitDriver& driver, IEventLoop& loop,
                    IUiPort& ui, IClock& receiverClock);
    ~CMainController() override;
    CMainController(const CMainController&) = delete;
    CMainController& operator=(const CMainController&) = delete;

    // Window creation: registers for device notices (a failure is shown and
    // discovery then re-checks on every device change).
    void create();
    // Window destruction, in its order: command 254, frame rectangle, receiver
    // thread stopped, property removed, channel deleted.
    void destroy(std::array<std::int32_t, 4> frameRect = {0, 0, 0, 0});

    // IMessageTarget
    void handleMessage(const WindowMessage& message) override;
    void handleTimer(int timerId) override;

    // A command from the toolbar, a key, the menu or outside. Dropped when disabled.
    void command(int commandId);
    bool commandEnabled(int commandId) const;

    // Called when the window property changes (15, then 272 + device ID).
    void setPropertyListener(std::function<void(int)> listener) { m_propertyListener = std::move(listener); }

    // State, for front ends and tests.
    bool connected() const { return m_channel != nullptr; }
    bool receiverRunning() const;
    // Connected and the connection's set-up finished (the state poll runs).
    bool setUpComplete() const;
    // Set up, the unit in View and Start enabled: a Start now begins a
    // measurement.
    bool readyForMeasurement() const;
    // One step of a series of measurements, as a user would press Start: when
    // ready, Start begins a measurement (returns true); on a shown result, Start
    // brings the live view back; otherwise nothing happens.
    bool startNextMeasurement();
    UnitState unitState() const { return m_unitState; }
    WindowLayout layoutMode() const { return m_layoutMode; }
    int nextRecordingCountdown() const { return m_nextRecordingCountdown; }
    int resultCountdown() const { return m_resultCountdown; }
    int versionRequestCount() const { return m_versionRequestCount; }
    bool animalDialogRunning() const { return m_animalDialogRunning; }
    bool clockDialogRunning() const { return m_clockDialogRunning; }
    const COscillometricAnalysis& analysis() const { return *m_analysis; }
    CHalnor55KUDoc& document() { return m_doc; }
    const std::string& lastDataFile() const { return m_lastDataFile; }
    // The results log and the current session (statistics window, console).
    CResultsSession& session() { return m_session; }

    // Named operations (also used by the commands).
    void enterLiveView();
    void restartLiveView();
    // The unit's state as it reports it now; -1 without a connection.
    UnitState deviceState();
    void scheduleNextRecording();
    void showClockDialog();
    void setClockFromPc();
    bool runAnimalDialog();

    // Discovery: one enumeration and the update of the document's list by mode.
    enum DiscoveryMode : int {
        kDiscoverInitial = 0,  // the list from scratch
        kDiscoverArrival = 1,  // the unit deviceId arrived
        kDiscoverRemoval = 2,  // the unit deviceId was removed
        kDiscoverRecheck = 3,  // full re-check: add the new, drop the vanished
    };
    // Without a channel, a unit is then selected; a periodic re-check
    // (selectOnGrowthOnly) selects only when the list gained a unit, so a unit
    // that cannot be opened is not chosen again every round.
    int enumerateUnits(DiscoveryMode mode, int deviceId, bool selectOnGrowthOnly = false);

  private:
    // IDocumentListener
    void onLiveHeartRate(std::int16_t hr) override;
    void onSensorLevel(int level) override;
    void onSweepRestart() override;
    void onErrorFlagChanged(int flag) override;
    void onHistoryRow(int errorCode, const HistoryRow& row) override;

    // Message handlers.
    void onWavePacket();
    void onResult();
    // Appends the handled result to the results log (one message while it fails).
    void logResult(const HistoryRow& history, bool save, bool writeFailed);
    void onAnimalBlock();
    void onVersionRecord(const std::string& text);
    void onReadError(LinkError cause);
    void onStateLeft(int leftState, int previousState);
    void onDeviceChange(std::uintptr_t event, const std::string& path);
    void onEnumDevice();
    void startConnecting();
    void selectUnit();
    void bringUnitToView();
    void toViewStep();
    void updateTitle();

    void beginLiveView(bool restart);

    // Timers.
    void connectionStep();
    void setUp();
    // The set-up's Animal ID question asked without waiting, where the window
    // can: true when asked (set-up finishes with the answer).
    bool askSetUpAnimalQuestion();
    void afterSetUpAnimalQuestion();
    void finishSetUp();
    void prepareAnimalModel();
    bool applyAnimalAnswer(bool ok);  // sends the answer to the unit on OK
    void onceASecond();
    void pollState();
    void refreshClockDialog();
    void readUnitClock();

    // Commands.
    void startCommand();
    void sweepSpeedCommand();
    void unitMenuCommand();
    void animalCommand();
    void timerCommand();
    void monitorCommand();
    void switchToWaveLayout();
    void switchToGraphLayout();

    // Connection.
    // Opens the chosen unit's channel; None, or why not (told to the UI port).
    LinkError openUnit();
    // Takes a new unit state over and tells the UI port (state, then commands).
    void setUnitState(UnitState state);
    // Tells the UI port what follows a change of the state or the connection:
    // the information pane's state and the commands' enabling.
    void stateOrConnectionChanged();
    // Tells the UI port the link's cause when it changed (None: the unit opened).
    void reportLinkProblem(LinkError cause);
    // Shows why no unit is connected in the error pane until one is.
    void keepErrorPane(const std::string& text);
    void startReceiver();
    void stopReceiver();
    void deleteChannel();
    void closeConnectionAfterRemoval();
    void tearDownConnection();
    void recheckUnits();
    bool sendCmd(UnitCommand code);
    void sleepMs(int ms) { m_loop.clock().sleepMs(ms); }
    void setProperty(int value);
    void showDuplicateIds();

    CHalnor40KUApp& m_app;
    CHalnor55KUDoc& m_doc;
    IUnitDriver& m_driver;
    IEventLoop& m_loop;
    IUiPort& m_ui;
    IClock& m_receiverClock;

    std::unique_ptr<CTransport> m_transport;
    std::shared_ptr<CCommandChannel> m_channel;  // shared with a receiver thread that stop left behind
    std::unique_ptr<CReceiverThread> m_receiver;
    std::unique_ptr<CReceiverSinkAdapter> m_sink;
    std::unique_ptr<COscillometricAnalysis> m_analysis;

    // Receiver thread events (all manual-reset, none set at creation).
    CEvent m_stopEvent{CEvent::Reset::Manual, false};
    CEvent m_goEvent{CEvent::Reset::Manual, false};
    CEvent m_handOverEvent{CEvent::Reset::Manual, false};

    // State of the measurement state machine.
    bool m_opened = false;
    // The error pane tells why no unit is connected (duplicate IDs, a unit that
    // cannot be opened, no vendor ID): kept there until a unit is connected.
    bool m_errorPaneKept = false;
    bool m_acceptWaves = false;
    UnitState m_unitState = kStateAdjust;
    std::int16_t m_lastState = kStateAdjust;
    std::int16_t m_lastMeasuringState = kStateAdjust;
    bool m_stateChangeArmed = false;
    int m_animalDialogMode = 0;
    bool m_restartWait = false;
    int m_resultCountdown = 0;
    int m_nextRecordingCountdown = 0;
    int m_versionRequestCount = 0;
    int m_toViewRounds = 0;                 // asks left to bring the unit to View
    std::uintptr_t m_connectionNumber = 0;  // tells a late read error of an earlier connection apart
    WindowLayout m_layoutMode = kLayoutWave;
    bool m_secondTimerEverStarted = false;
    bool m_noticesRegistered = false;
    LinkError m_linkProblem = LinkError::None;  // last told to the UI port
    bool m_destroyed = false;
    bool m_setUpQuestionOpen = false;  // the set-up's Animal ID question, asked without waiting

    AnimalDialogModel m_animalModel;
    bool m_animalDialogRunning = false;
    ClockDialogModel m_clockModel;
    bool m_clockDialogRunning = false;

    std::string m_lastDataFile;
    CResultsSession m_session;
    bool m_resultsLogFailing = false;  // the failure was shown; quiet until a row is written
    std::function<void(int)> m_propertyListener;
};

}  // namespace hx

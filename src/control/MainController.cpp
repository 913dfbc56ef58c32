// The main window's logic: construction, message dispatch, commands, layouts
// and destruction. The measurement state machine, the connection sequence and
// discovery live in their own files as parts of the same class.

#include "control/MainController.h"

#include <algorithm>
#include <iterator>

#include "app/LogChannel.h"
#include "control/DisplayTexts.h"
#include "control/ReceiverSinkAdapter.h"
#include "protocol/CommandChannel.h"
#include "protocol/ReceiverThread.h"
#include "usb/Transport.h"

namespace hx {

namespace {
const std::string kBlankGeneralPane(17, ' ');

// The commands that act on the unit (a key, a mode or one of its dialogs).
bool talksToUnit(int id) {
    static constexpr int kUnitCommands[] = {kCmdStart,      kCmdUp,    kCmdDown,    kCmdMenu, kCmdAnimal,
                                            kCmdSweepSpeed, kCmdTimer, kCmdMonitor, kCmdView, kCmdClock};
    return std::find(std::begin(kUnitCommands), std::end(kUnitCommands), id) != std::end(kUnitCommands);
}
}  // namespace

CMainController::CMainController(CHalnor40KUApp& app, CHalnor55KUDoc& doc, IUnitDriver& driver,
                                 IEventLoop& loop, IUiPort& ui, IClock& receiverClock)
    : m_app(app),
      m_doc(doc),
      m_driver(driver),
      m_loop(loop),
      m_ui(ui),
      m_receiverClock(receiverClock),
      m_transport(std::make_unique<CTransport>(driver)),
      m_receiver(std::make_unique<CReceiverThread>()),
      m_analysis(std::make_unique<COscillometricAnalysis>()) {
    m_sink = std::make_unique<CReceiverSinkAdapter>(m_loop, m_ui, m_stopEvent);
    m_doc.setListener(this);
    m_ui.resultsSession(m_session);
    // Records queued behind one the window holds cannot move until it acts.
    m_loop.setQuietCondition(
        [this] { return m_receiver && m_receiver->waitingForHandOver() && !m_handOverEvent.isSet(); });
}

CMainController::~CMainController() {
    if (!m_destroyed) destroy();
    m_doc.setListener(nullptr);
    m_driver.setNoticeHandler(nullptr);
    m_loop.removePoller(this);
    m_loop.setQuietCondition(nullptr);
}

void CMainController::create() {
    // Device notices arrive on a driver thread; they reach us as posted messages.
    const LinkError notices = m_driver.setNoticeHandler([this](DeviceNotice notice, const std::string& path) {
        WindowMessage message;
        message.id = WM_DEVICECHANGE;
        message.wParam = notice == DeviceNotice::Arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
        message.text = path;
        m_loop.post(std::move(message));
    });
    m_noticesRegistered = notices == LinkError::None;
    if (notices == LinkError::NotConfigured) {
        // No unit can be listed at all: say why, instead of "Not Connected" alone.
        keepErrorPane(linkProblemText(0, notices));
    } else if (!m_noticesRegistered) {
        m_ui.dialogs().messageBox("No arrival and removal notices of units: " + linkErrorText(notices),
                                  "Halnor40KU", MsgIcon::Information, MsgButtons::Ok);
        // No device-change event will come to trigger a re-check, so the
        // units are re-checked on a timer, connected or not.
        m_loop.startTimer(kTimerRecheck, kRecheckIntervalMs);
    }
    m_layoutMode = kLayoutWave;
    updateTitle();
}

void CMainController::destroy(std::array<std::int32_t, 4> frameRect) {
    if (m_destroyed) return;
    m_destroyed = true;
    if (m_channel) {
        sendCmd(kUnitCommand254);
        std::this_thread::yield();
    }
    m_doc.saveFrameRect(frameRect[0], frameRect[1], frameRect[2], frameRect[3]);
    // A question still open beside the window must not answer into a
    // controller that is gone.
    if (m_setUpQuestionOpen) m_ui.dialogs().endAnimalDialog();
    stopReceiver();
    m_driver.setNoticeHandler(nullptr);
    for (int id : {kTimerConnect, kTimerSecond, kTimerStatePoll, kTimerClock, kTimerToView})
        m_loop.killTimer(id);
    deleteChannel();
    closeLogChannel();
}

// ---------------------------------------------------------------------------
// Dispatch

void CMainController::handleMessage(const WindowMessage& m) {
    switch (m.id) {
        case kMsgWavePacket:
            onWavePacket();
            break;
        case kMsgResultReady:
            onResult();
            break;
        case kMsgAnimalBlock:
            onAnimalBlock();
            break;
        case kMsgVersionRecord:
            onVersionRecord(m.text);
            break;
        case kMsgReadError:
            // A read error of a connection that has already been closed (the
            // unit was removed meanwhile) is no news.
            if (m.wParam == m_connectionNumber && m_channel) onReadError(static_cast<LinkError>(m.lParam));
            break;
        case kMsgStateLeft:
            onStateLeft(static_cast<int>(m.wParam), static_cast<int>(m.lParam));
            break;
        case kMsgToView:
            bringUnitToView();
            break;
        case kMsgStartConnecting:
            startConnecting();
            break;
        case kMsgSelectUnit:
            selectUnit();
            break;
        case kMsgSetTitle:
            updateTitle();
            break;
        case WM_ENUM_DEVICE:
            onEnumDevice();
            break;
        case WM_DEVICECHANGE:
            onDeviceChange(m.wParam, m.text);
            break;
        case WM_COMMAND:
            command(static_cast<int>(m.wParam));
            break;
        default:
            break;
    }
}

void CMainController::handleTimer(int timerId) {
    switch (timerId) {
        case kTimerConnect:
            connectionStep();
            break;
        case kTimerSecond:
            onceASecond();
            break;
        case kTimerStatePoll:
            pollState();
            break;
        case kTimerClock:
            refreshClockDialog();
            break;
        case kTimerRecheck:
            recheckUnits();
            break;
        case kTimerToView:
            toViewStep();
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------
// Commands

void CMainController::setUnitState(UnitState state) {
    if (state == m_unitState) return;
    m_unitState = state;
    m_ui.unitStateChanged(state);
    stateOrConnectionChanged();
}

void CMainController::stateOrConnectionChanged() {
    m_ui.informationPane().setUnitState(m_channel ? m_unitState : -1);
    m_ui.commandsChanged();
}

bool CMainController::commandEnabled(int id) const {
    // While the set-up's Animal ID question waits beside the window, the unit
    // is not ready for anything: its commands wait for the answer too.
    if (m_setUpQuestionOpen && talksToUnit(id)) return false;
    switch (id) {
        case kCmdStart:
        case kCmdUp:
        case kCmdDown:
        case kCmdMenu:
        case kCmdAnimal:
            return m_channel && m_unitState != kStateAdjust;
        case kCmdSweepSpeed:
            return m_channel && m_unitState != kStatePress && m_unitState != kStateRecord;
        default:
            return true;
    }
}

void CMainController::command(int id) {
    if (!commandEnabled(id)) return;  // a disabled command is dropped
    switch (id) {
        case kCmdStart:
            startCommand();
            break;
        case kCmdUp:
            sendCmd(kUnitKeyUp);
            break;
        case kCmdDown:
            sendCmd(kUnitKeyDown);
            break;
        case kCmdSweepSpeed:
            sweepSpeedCommand();
            break;
        case kCmdMenu:
            unitMenuCommand();
            break;
        case kCmdAnimal:
            animalCommand();
            break;
        case kCmdTimer:
            timerCommand();
            break;
        case kCmdMonitor:
            monitorCommand();
            break;
        case kCmdWaveLayout:
            switchToWaveLayout();
            break;
        case kCmdGraphLayout:
            switchToGraphLayout();
            break;
        case kCmdView:
            if (m_channel) sendCmd(CR_VIEW);
            break;
        case kCmdClock:
            if (m_channel) showClockDialog();
            break;
        case kCmdAbout:
            m_ui.dialogs().showAbout(m_app.aboutTexts());
            break;
        case kCmdSessionStatistics:
            m_session.follow(m_doc.dataFolder(), m_doc.deviceId() + 1);
            m_ui.showSessionStatistics(m_session);
            break;
        case kCmdNewSession:
            m_session.startNewSession();
            break;
        case kCmdExit:
            m_loop.quit(0);
            break;
        default:
            break;
    }
}

void CMainController::startCommand() {
    m_ui.statusBar().setGeneralPane(kBlankGeneralPane);
    UnitState state = deviceState();
    sendCmd(kUnitKeyStart);
    switch (state) {
        case kStateView:
            // A series already started keeps its times.
            m_doc.stampScheduleTime();
            m_doc.setMeasurementPhase(CHalnor55KUDoc::kPhaseSweep);
            scheduleNextRecording();
            break;
        case kStateResult:
            enterLiveView();
            m_ui.informationPane().repaint();
            break;
        case kStateWait:
            enterLiveView();
            sendCmd(CR_RESTARTVIEW);
            m_ui.informationPane().repaint();
            break;
        case kStateBrowse:
        case kState13:
            m_ui.informationPane().repaint();
            break;
        default:
            break;
    }
}

void CMainController::sweepSpeedCommand() {
    if (deviceState() == kStateView) {
        m_restartWait = true;
        m_doc.setLiveUpdate(false);
        sendCmd(CR_RESTARTVIEW);
        m_ui.wavePane().toggleSweepSpeed();
        sleepMs(1);
        m_doc.setLiveUpdate(true);
    } else {
        m_ui.wavePane().toggleSweepSpeed();
        m_ui.wavePane().repaint();
    }
}

void CMainController::unitMenuCommand() {
    m_stateChangeArmed = false;
    m_nextRecordingCountdown = 0;
    m_resultCountdown = 0;
    m_doc.timerSchedule().stopSeries();
    m_ui.statusBar().setGeneralPane(kBlankGeneralPane);

    m_doc.setLiveUpdate(false);
    m_ui.wavePane().resetSweep();

    MenuSettings read = m_doc.menuSettings();
    if (m_channel && m_channel->getMenu(read)) m_doc.setMenuSettings(read);

    MenuSettings edited = m_doc.menuSettings();
    if (m_ui.dialogs().runMenuDialog(edited) && m_channel) {
        m_doc.setMenuSettings(edited);
        m_channel->sendMenu(edited);
        m_doc.setLiveUpdate(true);
        if (edited[MenuSettings::kTime] == 1) showClockDialog();
    }
    sendCmd(CR_RESTARTVIEW);
    enterLiveView();
    m_doc.setShowMbpDbp(m_doc.menuSettings()[MenuSettings::kDbp] == 1);
    m_ui.informationPane().repaint();
}

void CMainController::animalCommand() {
    m_stateChangeArmed = false;
    bool requested = false;
    if (m_channel) {
        m_animalDialogMode = 1;
        requested = m_channel->getAnimalInfo();
        if (requested) m_ui.statusBar().setAnimalPane("Animal No:" + m_doc.preference().animal().animalNo);
        m_doc.setLiveUpdate(false);
        m_ui.wavePane().resetSweep();
        runAnimalDialog();
        sleepMs(20);
        sendCmd(CR_RESTARTVIEW);
        sendCmd(CR_VIEW);
        sleepMs(20);
        m_doc.setLiveUpdate(true);
        m_handOverEvent.set();
        if (requested) return;
    }
    m_ui.statusBar().setErrorPane(errorPaneText(129));
    m_animalDialogMode = 0;
}

void CMainController::timerCommand() {
    std::vector<std::int32_t> entries(CTimerSchedule::kMaxEntries, 0);
    std::size_t n = m_doc.scheduleEntries(entries);
    entries.resize(n);
    if (m_ui.dialogs().runTimerDialog(m_doc.timerSchedule(), entries)) {
        entries.push_back(0);
        m_doc.setScheduleEntries(entries);
        // Said once, when the schedule is taken, rather than at every slot.
        if (m_doc.timerSchedule().cutsMeasurementsShort())
            m_ui.dialogs().messageBox(CTimerSchedule::kShortSlotWarning, "Timer Mode", MsgIcon::Warning,
                                      MsgButtons::Ok);
        if (m_doc.timerSchedule().refusedRepeatPeriod())
            m_ui.dialogs().messageBox(m_doc.timerSchedule().refusedRepeatPeriodWarning(), "Timer Mode",
                                      MsgIcon::Warning, MsgButtons::Ok);
    }
}

void CMainController::monitorCommand() {
    if (m_doc.editMonitorSettings(
            [this](MonitorValues& values) { return m_ui.dialogs().runMonitorDialog(values); }) == 1) {
        m_ui.wavePane().newPens();
        m_ui.resultPane().newPens();
    }
}

void CMainController::switchToWaveLayout() {
    if (m_layoutMode == kLayoutWave) return;
    if (!m_secondTimerEverStarted) {
        m_secondTimerEverStarted = true;
        m_loop.startTimer(kTimerSecond, 1000);
    }
    m_layoutMode = kLayoutWave;
    m_ui.setLayout(kLayoutWave);
    m_ui.informationPane().repaint();
}

void CMainController::switchToGraphLayout() {
    if (m_layoutMode == kLayoutGraph) return;
    // The result pane analyses the frozen recording before it is shown.
    m_analysis->analyse(m_doc.resultPressureRing(), m_doc.resultWaveRing(), m_doc.result().errorCode);
    m_ui.resultPane().analysed(*m_analysis);
    m_layoutMode = kLayoutGraph;
    m_ui.setLayout(kLayoutGraph);
}

bool CMainController::receiverRunning() const { return m_receiver && m_receiver->isRunning(); }

bool CMainController::setUpComplete() const { return connected() && m_loop.timerRunning(kTimerStatePoll); }

bool CMainController::readyForMeasurement() const {
    return setUpComplete() && m_unitState == kStateView && commandEnabled(kCmdStart);
}

bool CMainController::startNextMeasurement() {
    if (readyForMeasurement()) {
        command(kCmdStart);
        return true;
    }
    if (setUpComplete() && m_unitState == kStateResult) command(kCmdStart);  // dropped while disabled
    return false;
}

void CMainController::updateTitle() {
    m_ui.statusBar().setTitle(windowTitle(m_channel != nullptr, m_doc.deviceId()));
}

void CMainController::setProperty(int value) {
    if (m_propertyListener) m_propertyListener(value);
}

bool CMainController::sendCmd(UnitCommand code) { return m_channel && m_channel->sendCMD(code); }

UnitState CMainController::deviceState() {
    return static_cast<UnitState>(m_channel ? m_channel->getState() : -1);
}

// ---------------------------------------------------------------------------
// Document notifications

void CMainController::onLiveHeartRate(std::int16_t hr) {
    if (m_layoutMode == kLayoutWave) m_ui.informationPane().liveHeartRate(hr, m_unitState);
}

void CMainController::onSensorLevel(int level) {
    if (m_layoutMode == kLayoutWave) m_ui.informationPane().sensorLevel(level);
}

void CMainController::onSweepRestart() {
    m_ui.wavePane().resetSweep();
    m_ui.informationPane().repaint();
}

void CMainController::onErrorFlagChanged(int flag) {
    m_ui.statusBar().setErrorPane(errorPaneText(m_unitState == kStateRecord && flag != 0 ? 1 : 0));
}

void CMainController::onHistoryRow(int errorCode, const HistoryRow& row) {
    m_ui.historyPane().addRow(row, errorCode, m_doc.showMbpDbp());
}

}  // namespace hx

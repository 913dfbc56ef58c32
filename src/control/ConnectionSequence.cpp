// Binding this copy of the program to its unit and keeping it bound: unit
// selection, opening, the version handshake, the set-up, bringing the unit to
// View, losing it and connecting again; and the device clock dialog.

#include <cstring>
#include <ctime>

#include "app/LogChannel.h"
#include "control/DisplayTexts.h"
#include "control/MainController.h"
#include "control/ReceiverSinkAdapter.h"
#include "protocol/CommandChannel.h"
#include "protocol/ReceiverThread.h"
#include "protocol/RecordDecoding.h"
#include "usb/DeviceDiscovery.h"
#include "usb/Transport.h"

namespace hx {

void CMainController::startConnecting() {
    m_doc.setVersionMark(0);
    m_opened = false;
    m_loop.startTimer(kTimerConnect, 1500);
}

void CMainController::selectUnit() {
    if (m_channel) return;
    m_loop.killTimer(kTimerConnect);

    const auto& listed = m_doc.deviceIds();
    if (m_doc.presetDeviceId() != -1) {
        m_doc.setDeviceId(m_doc.presetDeviceId());
    } else if (listed.size() > 1) {
        // The dialog offers the sixteen IDs a unit can carry; others are ignored.
        std::vector<std::int16_t> choosable;
        for (std::int16_t id : listed)
            if (id >= 0 && id < 16) choosable.push_back(id);
        std::optional<int> chosen = m_ui.dialogs().chooseDeviceId(choosable);
        if (chosen && *chosen >= 0 && *chosen < 16) {
            m_doc.setDeviceId(static_cast<std::int16_t>(*chosen));
        } else {
            // Closed, or OK without a choice: the first listed unit.
            m_doc.setDeviceId(choosable.empty() ? listed.front() : choosable.front());
        }
    } else if (listed.size() == 1) {
        m_doc.setDeviceId(listed.front());
    }
    enterLiveView();
    m_doc.setVersionMark(0);
    m_opened = false;
    m_loop.startTimer(kTimerConnect, 1000);
}

LinkError CMainController::openUnit() {
    if (m_channel) return LinkError::None;
    m_stateChangeArmed = false;
    auto channel = std::make_unique<CCommandChannel>(*m_transport, m_receiverClock);
    const LinkError opened =
        channel->ResetPipe(static_cast<std::uint16_t>(kProductIdBase + m_doc.deviceId()));
    if (opened != LinkError::None && opened != m_linkProblem)
        keepErrorPane(linkProblemText(m_doc.deviceId(), opened));
    reportLinkProblem(opened);
    if (opened != LinkError::None) return opened;
    m_channel = std::move(channel);
    stateOrConnectionChanged();
    m_doc.setPresetDeviceId(m_doc.deviceId());
    setProperty((kProductIdBase + m_doc.deviceId()) & 0xFFF);
    return LinkError::None;
}

void CMainController::reportLinkProblem(LinkError cause) {
    if (cause == m_linkProblem) return;
    m_linkProblem = cause;
    m_ui.linkProblem(m_doc.deviceId(), cause);
}

void CMainController::keepErrorPane(const std::string& text) {
    m_errorPaneKept = true;
    m_ui.statusBar().setErrorPane(text);
}

void CMainController::startReceiver() {
    if (!m_channel || m_receiver->isRunning()) return;
    m_stopEvent.reset();
    ReceiverParams parameters;
    parameters.channel = m_channel.get();
    parameters.keepAlive = m_channel;
    parameters.sink = m_sink.get();
    parameters.messageValue = ++m_connectionNumber;
    parameters.stopEvent = &m_stopEvent;
    parameters.goEvent = &m_goEvent;
    parameters.handOverEvent = &m_handOverEvent;
    parameters.resultArea = m_doc.resultArea();
    parameters.waveArea = m_doc.waveArea();
    parameters.animalArea = m_doc.animalArea();
    // A loop in virtual time reads the pipe itself when the driver can read
    // without waiting; otherwise the receiver reads on its own thread.
    if (m_channel->readsWithoutWaiting() && m_loop.addPoller(this, [this] { return m_receiver->poll(); })) {
        m_receiver->startPolled(parameters);
    } else {
        m_receiver->start(parameters);
    }
    m_goEvent.set();
}

void CMainController::stopReceiver() {
    // Sets the stop event and cancels a pending read: after this no thread
    // enters the channel again (a thread left in a hanging read owns it).
    m_stopEvent.set();
    m_loop.removePoller(this);
    m_receiver->stop();
}

void CMainController::deleteChannel() {
    stopReceiver();
    const bool hadChannel = m_channel != nullptr;
    m_channel.reset();
    if (hadChannel) stateOrConnectionChanged();
}

void CMainController::connectionStep() {
    if (m_doc.deviceIds().empty()) return;
    if (!m_opened) {
        m_acceptWaves = false;
        const bool ok = openUnit() == LinkError::None;
        if (ok && m_channel) {
            m_opened = true;
            sendCmd(kUnitCommand254);
            startReceiver();
        }
        writeLogLinef('N', 'P', "Timer:Open dev. Result:%d, ID:%d", ok ? 0 : 1, m_doc.deviceId());
        if (!m_opened) return;
    }
    if (m_doc.versionMark() == 0) {
        if (m_channel) m_channel->getDeviceVer();
        if (++m_versionRequestCount > 5) {
            // Six requests without an answer: give the unit up and choose again.
            deleteChannel();
            m_versionRequestCount = 0;
            m_doc.setPresetDeviceId(-1);
            WindowMessage select;
            select.id = kMsgSelectUnit;
            select.wParam = static_cast<std::uintptr_t>(m_doc.deviceId());
            m_loop.send(std::move(select));
            return;
        }
    }
    if (m_doc.versionMark() == 0) return;
    setUp();
}

void CMainController::setUp() {
    setUnitState(deviceState());
    m_versionRequestCount = 0;

    std::string software = softwareVersionText();
    if (software != "Undefined" && m_channel) {
        m_channel->sendPcVer(software);
    }

    sendCmd(CR_RESTARTVIEW);
    m_acceptWaves = true;
    m_doc.clearLiveData();
    m_loop.killTimer(kTimerConnect);
    m_loop.post(WindowMessage{kMsgSetTitle, 0, 0, {}});

    enterLiveView();
    sendCmd(CR_VIEW);

    MenuSettings menu = m_doc.menuSettings();
    if (m_channel && m_channel->getMenu(menu)) m_doc.setMenuSettings(menu);
    if (m_doc.menuSettings()[MenuSettings::kTime] == 1 && m_unitState != kStateAdjust) showClockDialog();
    if (!m_channel) return;

    m_doc.setShowMbpDbp(m_doc.menuSettings()[MenuSettings::kDbp] == 1);

    enterLiveView();
    sleepMs(5);
    m_animalDialogMode = m_unitState != kStateAdjust ? 1 : 0;
    sendCmd(CR_VIEW);
    if (m_channel) m_channel->getAnimalInfo();
    m_doc.setLiveUpdate(false);

    if (m_animalDialogMode == 1 && m_unitState != kStateAdjust) {
        // Where the window asks without waiting, set-up goes on with the answer.
        if (askSetUpAnimalQuestion()) return;
        runAnimalDialog();
        afterSetUpAnimalQuestion();
    }
    finishSetUp();
}

void CMainController::afterSetUpAnimalQuestion() {
    sleepMs(5);
    sendCmd(CR_RESTARTVIEW);
    sendCmd(CR_VIEW);
}

bool CMainController::askSetUpAnimalQuestion() {
    if (m_animalDialogRunning) return false;
    prepareAnimalModel();
    m_animalDialogRunning = true;
    const std::uintptr_t connection = m_connectionNumber;
    m_setUpQuestionOpen = true;
    const bool asked = m_ui.dialogs().askAnimalDialog(m_animalModel, [this, connection](bool ok) {
        m_animalDialogRunning = false;
        m_setUpQuestionOpen = false;
        // Answered after the connection ended (the unit pulled, the window
        // closing): that connection's set-up ends here.
        if (m_destroyed || connection != m_connectionNumber || !m_channel) return;
        applyAnimalAnswer(ok);
        afterSetUpAnimalQuestion();
        finishSetUp();
        stateOrConnectionChanged();
    });
    if (!asked) {
        m_animalDialogRunning = false;
        m_setUpQuestionOpen = false;
        return false;
    }
    stateOrConnectionChanged();  // the unit's commands wait for the answer
    return true;
}

void CMainController::finishSetUp() {
    m_ui.wavePane().resetSweep();
    m_doc.setLiveUpdate(true);
    sleepMs(5);

    if (!m_channel) return;
    m_handOverEvent.set();  // releases the animal block held since the request
    m_secondTimerEverStarted = true;
    m_loop.startTimer(kTimerSecond, 1000);
    m_loop.startTimer(kTimerStatePoll, 500);
    m_loop.post(WindowMessage{kMsgToView, 0, 0, {}});
}

void CMainController::bringUnitToView() {
    if (!m_channel) return;
    sendCmd(CR_VIEW);
    UnitState state = deviceState();
    if (state == kStateAdjust) return;
    if (state == kStateResult) sendCmd(kUnitKeyStart);
    if (state == kStateView) return;
    // Up to 20 asks, 200 ms apart, as timer steps: the loop goes on serving
    // everything else (other units' channels too) while this unit gets there.
    m_toViewRounds = 20;
    m_loop.startTimer(kTimerToView, 200);
    toViewStep();
}

void CMainController::toViewStep() {
    if (!m_channel || m_toViewRounds <= 0) {
        m_loop.killTimer(kTimerToView);
        return;
    }
    --m_toViewRounds;
    sendCmd(CR_VIEW);
    if (deviceState() == kStateView) m_toViewRounds = 0;
    if (m_toViewRounds == 0) m_loop.killTimer(kTimerToView);
}

void CMainController::onVersionRecord(const std::string& text) {
    m_ui.statusBar().setVersionPane(text);
    applyDeviceVersion(m_doc, text);
}

// The connection is gone (read error or removal of the served unit): channel
// and receiver go, open dialogs end, and connecting starts over.
void CMainController::tearDownConnection() {
    m_doc.setVersionMark(0);
    deleteChannel();
    m_ui.dialogs().endAnimalDialog();
    m_ui.dialogs().endClockDialog();
    m_opened = false;
    m_loop.startTimer(kTimerConnect, 1000);
    updateTitle();
    m_stopEvent.reset();
}

void CMainController::onReadError(LinkError cause) {
    writeLogLine("OnUsb_ReadError!", 'N', 'P');
    reportLinkProblem(cause);
    tearDownConnection();
    m_ui.informationPane().repaint();
}

void CMainController::closeConnectionAfterRemoval() {
    m_loop.killTimer(kTimerStatePoll);
    tearDownConnection();
}

// ---------------------------------------------------------------------------
// Animal ID dialog and device clock dialog

bool CMainController::runAnimalDialog() {
    if (m_animalDialogRunning) return false;  // already showing
    prepareAnimalModel();
    m_animalDialogRunning = true;
    bool ok = m_ui.dialogs().runAnimalDialog(m_animalModel);
    m_animalDialogRunning = false;
    return applyAnimalAnswer(ok);
}

void CMainController::prepareAnimalModel() {
    const CPreference& preference = m_doc.preference();
    m_animalModel.texts = preference.animal();
    m_animalModel.dataFolder = preference.dataFolder();
    m_animalModel.longId = m_app.isLongId();
    m_animalModel.caption = dialogCaption(m_doc.deviceId());
}

bool CMainController::applyAnimalAnswer(bool ok) {
    if (!ok || !m_channel) return false;
    CPreference& preference = m_doc.preference();
    preference.animal() = m_animalModel.texts;
    preference.setDataFolder(m_animalModel.dataFolder);
    std::span<const std::uint8_t, 64> block = buildAnimalBlock(m_doc);
    sleepMs(5);
    if (m_channel && m_channel->sendAnimalInfo(block.data()))
        m_ui.statusBar().setAnimalPane("Animal No:" + preference.animal().animalNo);
    preference.writeAnimalGroup();
    return true;
}

void CMainController::showClockDialog() {
    if (!m_channel || m_clockDialogRunning) return;
    m_loop.startTimer(kTimerClock, 1000);
    readUnitClock();
    m_clockModel.setClockRequested = [this] { setClockFromPc(); };
    m_acceptWaves = false;
    m_clockDialogRunning = true;
    m_ui.dialogs().runClockDialog(m_clockModel);
    m_clockDialogRunning = false;
    sendCmd(CR_RESTARTVIEW);
    sleepMs(20);
    m_acceptWaves = true;
    m_doc.clearLiveData();
    m_loop.killTimer(kTimerClock);
}

void CMainController::refreshClockDialog() {
    if (!m_channel || !m_clockDialogRunning) return;
    readUnitClock();
    if (m_clockModel.refresh) m_clockModel.refresh();
}

void CMainController::setClockFromPc() {
    if (!m_channel) return;
    std::time_t now = m_loop.clock().wallTime();
    std::tm local{};
    localtime_r(&now, &local);
    m_channel->setTime(makeClockFrame(local));
    readUnitClock();
    if (m_clockModel.refresh) m_clockModel.refresh();
}

}  // namespace hx

namespace hx {

void CMainController::readUnitClock() {
    // A failed read leaves the time last shown.
    UnitClock time;
    if (m_channel && m_channel->getTime(time))
        m_clockModel.unitTime = {time.year, time.month, time.day, time.hour, time.minute, time.second};
}

}  // namespace hx

// Following the unit: live view, wave packets, results, the state poll, the
// once-a-second timer and timed recordings.

#include <cstdio>

#include "BuildInfo.h"
#include "app/LogChannel.h"
#include "control/DisplayTexts.h"
#include "control/MainController.h"
#include "protocol/CommandChannel.h"
#include "protocol/RecordDecoding.h"

namespace hx {

namespace {
bool isMeasuring(int state) { return state == kStatePress || state == kStateRecord; }
bool isQuietState(int state) {
    return state == kStateMenu || state == kStateCancel || state == kStateWait || state == kStateAnimal;
}
}  // namespace

void CMainController::enterLiveView() { beginLiveView(false); }

void CMainController::restartLiveView() { beginLiveView(true); }

// Entering asks the unit for its live view first; restarting resets the
// sweep first and then asks the unit to restart it.
void CMainController::beginLiveView(bool restart) {
    if (m_layoutMode != kLayoutWave) switchToWaveLayout();
    if (!restart) sendCmd(CR_VIEW);
    m_doc.setLiveUpdate(false);
    m_ui.wavePane().resetSweep();
    if (restart) sendCmd(CR_RESTARTVIEW);
    m_doc.setLiveUpdate(true);
    m_goEvent.set();
    m_doc.setMeasurementPhase(CHalnor55KUDoc::kPhaseStarted);
    m_doc.setDrawMode(0);
    m_ui.informationPane().repaint();
    // Without a unit the kept message is the only reason the user sees for
    // "Not Connected": it stays until a unit is connected.
    if (m_errorPaneKept && !m_channel) return;
    m_errorPaneKept = false;
    m_ui.statusBar().setErrorPane(errorPaneText(0));
}

void CMainController::scheduleNextRecording() {
    if (m_doc.preference().monitor().timerMode != 1) return;
    std::int32_t seconds = m_doc.scheduleNextRecording();
    if (seconds >= 1) {
        m_nextRecordingCountdown = seconds;
    } else {
        m_ui.statusBar().setGeneralPane("Complete Timer Mode recording.");  // the document ended the series
    }
}

// ---------------------------------------------------------------------------
// Records handed over by the receiver thread

void CMainController::onWavePacket() {
    if (!m_acceptWaves) {
        m_handOverEvent.set();
        return;
    }
    int stored = decodeWavePacket(m_doc);
    m_handOverEvent.set();
    if (stored == kWaveRefused || !m_doc.liveUpdate()) return;
    if (m_doc.measurementPhase() == CHalnor55KUDoc::kPhaseResult) restartLiveView();
    if (!m_restartWait) {
        m_ui.wavePane().drawBatch();
    } else if (stored == kWaveStoredAtZero) {
        m_ui.wavePane().drawBatch();
        m_restartWait = false;
    }
}

void CMainController::onResult() {
    decodeResultRecord(m_doc);
    m_handOverEvent.set();
    m_doc.setDrawMode(1);
    m_doc.setMeasurementPhase(CHalnor55KUDoc::kPhaseResult);
    switchToGraphLayout();
    m_ui.informationPane().drawResult();
    m_ui.wavePane().resetSweep();
    m_ui.wavePane().repaint();

    const MeasurementResult& result = m_doc.result();
    const HistoryRow row = m_doc.historyRow();

    m_lastDataFile.clear();
    const bool save = m_doc.saveDecision();
    bool writeFailed = false;
    if (save) {
        m_doc.sendHistoryRow(result.errorCode);
        const int written = m_doc.writeDataFile();
        if (written == 0) m_lastDataFile = m_doc.lastDataFilePath();
        writeFailed = written == 1;
    }
    logResult(row, save, writeFailed);
    m_ui.focusMainWindow();
    if (m_doc.timerAndTraceMode()) m_resultCountdown = 10;
    m_ui.resultHandled(row, result.errorCode, m_doc.showMbpDbp(), m_lastDataFile);
}

void CMainController::logResult(const HistoryRow& history, bool save, bool writeFailed) {
    const MeasurementResult& result = m_doc.result();
    const AnimalTexts& animal = m_doc.preference().animal();
    const HistoryCells cells = historyCells(history, result.errorCode, m_doc.showMbpDbp());
    ResultsLogRow row;
    row.dateTime = resultsLogDateTime(history.dateTime);
    row.deviceId = m_doc.deviceId() + 1;
    row.animalNo = animal.animalNo;
    row.studyNo = animal.studyNo;
    row.weight = animal.weight;
    row.sexAge = animal.sexAge;
    row.comment = animal.comment;
    row.n = cells.text[0];
    row.hr = cells.text[1];
    row.sbp = cells.text[2];
    row.mbp = cells.text[3];
    row.dbp = cells.text[4];
    row.errorCode = result.errorCode;
    row.errorText = resultErrorName(result.errorCode);
    row.saved = !m_lastDataFile.empty();
    row.saveRule = saveRuleText(m_doc.preference().monitor().outputFile, save);
    if (writeFailed) row.saveRule += " (write failed)";
    row.dataFile = m_lastDataFile.substr(m_lastDataFile.find_last_of('/') + 1);
    row.unitVersion = m_app.deviceVersionText();
    row.programVersion = HX_PRODUCT_VERSION;
    const bool saved = row.saved;
    const std::string error = m_session.record(m_doc.dataFolder(), std::move(row));
    if (error.empty()) {
        m_resultsLogFailing = false;
        if (const std::string notice = m_session.takeNotice(); !notice.empty()) {
            writeLogLinef('N', 'P', "Results log: %s", notice.c_str());
            m_ui.dialogs().messageBox(notice, "Results log", MsgIcon::Information, MsgButtons::Ok);
        }
    } else if (!m_resultsLogFailing) {
        // Once until the log can be written again: the measurement goes on and
        // the data file is written regardless.
        m_resultsLogFailing = true;
        writeLogLinef('N', 'P', "Results log write error: %s", error.c_str());
        m_ui.dialogs().messageBox("The results log " + resultsLogPath(m_doc.dataFolder()) +
                                      " cannot be written (" + error + "). Measurements go on" +
                                      (saved ? " and data files are still saved." : "."),
                                  "Results log", MsgIcon::Warning, MsgButtons::Ok);
    }
}

void CMainController::onAnimalBlock() {
    decodeAnimalBlock(m_doc);
    const AnimalTexts& texts = m_doc.preference().animal();
    if (m_animalDialogMode == 1) {
        // The dialog is open: it shows what the unit holds; whoever opened it
        // releases the hand-over once it has closed.
        m_animalModel.texts = texts;
        m_animalModel.dataFolder = m_doc.preference().dataFolder();
        if (m_animalModel.refresh) m_animalModel.refresh();
    } else {
        m_handOverEvent.set();
    }
    m_ui.statusBar().setAnimalPane("Animal No:" + texts.animalNo);
    writeLogLinef('N', 'P', "Read animalNo:%s", texts.animalNo.c_str());
}

// ---------------------------------------------------------------------------
// Timers

void CMainController::onceASecond() {
    if (!m_channel) {
        m_loop.killTimer(kTimerSecond);
        return;
    }
    if (m_doc.measurementPhase() == CHalnor55KUDoc::kPhaseSweep)
        m_ui.informationPane().pressure(m_doc.cuffPressureForDisplay());

    if (m_resultCountdown != 0) {
        if (--m_resultCountdown <= 0) {
            m_resultCountdown = 0;
            if (deviceState() == kStateResult) sendCmd(CR_VIEW);
        }
    }

    if (m_nextRecordingCountdown == 0) return;
    if (m_doc.recordingDue()) {
        m_nextRecordingCountdown = 0;
        m_resultCountdown = 0;
        UnitState state = deviceState();
        m_ui.statusBar().setStatePane(unitStateName(state));
        if (state == kStateRecord) {  // the slot falls while the unit records: skip it
            scheduleNextRecording();
            return;
        }
        if (state == kStateResult) enterLiveView();
        m_ui.statusBar().setGeneralPane("start Recording");
        sendCmd(kUnitKeyStart);
        scheduleNextRecording();
    } else {
        m_nextRecordingCountdown = std::max(1, m_nextRecordingCountdown - 1);
        char text[64];
        std::snprintf(text, sizeof text, "Next Recording %02d:%02d", m_nextRecordingCountdown / 60,
                      m_nextRecordingCountdown % 60);
        m_ui.statusBar().setGeneralPane(text);
    }
}

void CMainController::pollState() {
    if (!m_channel) {
        m_loop.killTimer(kTimerStatePoll);
        return;
    }
    sleepMs(2);
    UnitState state = deviceState();
    setUnitState(state);
    m_ui.statusBar().setStatePane(unitStateName(state));

    if (isMeasuring(state)) {
        m_lastState = m_lastMeasuringState = static_cast<std::int16_t>(state);
        return;
    }
    if (isQuietState(state)) {
        m_lastState = static_cast<std::int16_t>(state);
        return;
    }
    if (state == m_lastState) return;

    WindowMessage left;
    left.id = kMsgStateLeft;
    if (isMeasuring(m_lastMeasuringState)) {
        left.wParam = static_cast<std::uintptr_t>(m_lastMeasuringState);
        left.lParam = m_lastState;
        m_stateChangeArmed = true;
        m_lastMeasuringState = static_cast<std::int16_t>(state);
    } else {
        left.wParam = static_cast<std::uintptr_t>(m_lastState);
        left.lParam = state;
    }
    m_loop.post(std::move(left));
    m_lastState = static_cast<std::int16_t>(state);
    writeLogLine("Dev state changed!", 'N', 'D');
}

void CMainController::onStateLeft(int leftState, int previousState) {
    if (!m_stateChangeArmed) {
        m_stateChangeArmed = true;
        return;
    }
    switch (leftState) {
        case kStatePress:
        case kStateRecord:
            // A measurement that ended with a result is the result handler's.
            if (isQuietState(previousState)) {
                m_doc.setWaitForStart(true);
                restartLiveView();
            }
            break;
        case kStateMenu: {
            sendCmd(CR_VIEW);
            MenuSettings menu = m_doc.menuSettings();
            if (m_channel && m_channel->getMenu(menu)) m_doc.setMenuSettings(menu);
            m_doc.setWaitForStart(true);
            sendCmd(CR_RESTARTVIEW);
            m_ui.wavePane().resetSweep();
            break;
        }
        case kStateWait:
            m_doc.setWaitForStart(true);
            restartLiveView();
            break;
        case kStateAnimal:
            m_animalDialogMode = 0;
            sendCmd(CR_VIEW);
            if (m_channel) m_channel->getAnimalInfo();
            m_doc.setWaitForStart(true);
            sendCmd(CR_RESTARTVIEW);
            m_ui.wavePane().resetSweep();
            break;
        default:
            break;
    }
}

}  // namespace hx

#pragma once
// The UI port: everything the main window's logic asks of a front end. The
// GUI implements it with widgets, the console front end prints, tests record.
// Every call comes on the UI thread. Pane notifications have empty defaults
// so a front end overrides only what it shows.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/MessagePort.h"
#include "data/DocumentListener.h"
#include "data/MenuSettings.h"
#include "settings/Preference.h"

namespace hx {

class COscillometricAnalysis;
class CTimerSchedule;

// The Animal ID dialog's texts while it runs. The main window writes them when
// the unit's animal block arrives during the dialog and then calls refresh.
struct AnimalDialogModel {
    AnimalTexts texts;
    std::string dataFolder;
    bool longId = false;    // limits 8 (letters and digits) instead of 3 (digits)
    std::string caption;    // "Halnor40KU: ID->n"
    std::function<void()> refresh;  // set by the front end while the dialog shows
};

// The device clock dialog's state while it runs.
struct ClockDialogModel {
    std::array<std::int16_t, 6> unitTime{};  // year, month, day, hour, minute, second
    std::function<void()> setClockRequested;   // button "Set HX-40K clock to PC clock"
    std::function<void()> refresh;             // set by the front end while the dialog shows
};

class IUiPort : public IMessagePort {
public:
    // Status bar panes.
    virtual void setGeneralPane(const std::string&) {}
    virtual void setAnimalPane(const std::string&) {}
    virtual void setStatePane(const std::string&) {}
    virtual void setVersionPane(const std::string&) {}
    virtual void setErrorPane(const std::string&) {}
    virtual void setTitle(const std::string&) {}

    // Layout: 1 wave layout, 3 graph layout.
    virtual void setLayout(int) {}

    // Wave pane.
    virtual void waveDrawBatch() {}
    virtual void waveResetSweep() {}
    virtual void waveNewPens() {}
    virtual void waveToggleSweepSpeed() {}
    virtual void waveRepaint() {}
    // Information pane.
    virtual void infoLiveHeartRate(int /*hr*/, int /*unitState*/) {}
    virtual void infoSensorLevel(int) {}
    virtual void infoPressure(int) {}
    virtual void infoDrawResult() {}
    virtual void infoRepaint() {}
    // History pane.
    virtual void historyAddRow(const HistoryRow&, int /*errorCode*/, bool /*showMbpDbp*/) {}
    // Result pane: the analysis has run on the frozen rings.
    virtual void resultAnalysed(const COscillometricAnalysis&) {}
    virtual void resultNewPens() {}
    virtual void focusMainWindow() {}

    // A result arrived and was handled (saved to path, or not saved: empty).
    // For front ends that report results (the console).
    virtual void resultHandled(const HistoryRow&, int /*errorCode*/, bool /*showMbpDbp*/,
                               const std::string& /*savedPath*/) {}
    // The unit state changed (the state pane text is set separately).
    virtual void unitStateChanged(int) {}

    // Modal dialogs: each returns the user's answer. A dialog may pump events
    // while it is open (through the event loop), which is how the unit's animal
    // block reaches an open Animal ID dialog.
    // Device-ID choice: the chosen ID, or nothing (closed, or OK without choice).
    virtual std::optional<int> chooseDeviceId(const std::vector<std::int16_t>& listedIds) = 0;
    virtual bool runAnimalDialog(AnimalDialogModel& model) = 0;
    virtual void endAnimalDialog() = 0;  // ends it with Cancel if it is showing
    virtual bool runMenuDialog(MenuSettings& settings) = 0;
    virtual void runClockDialog(ClockDialogModel& model) = 0;
    virtual void endClockDialog() = 0;  // ends it with Cancel if it is showing
    virtual bool runMonitorDialog(MonitorValues& values) = 0;
    // Timer mode dialog over the schedule (Read/Write buttons act on it); on OK
    // entries holds the edited entry array.
    virtual bool runTimerDialog(CTimerSchedule& schedule, std::vector<std::int32_t>& entries) = 0;
    virtual void showAbout(const AboutTexts&) {}
};

}  // namespace hx

#pragma once
// The UI port: everything the main window's logic asks of a front end, split
// by what receives the calls (status bar, the four panes, the dialogs, the
// window). The GUI implements the pieces with widgets, the console front end
// prints, tests record. Every call comes on the UI thread. Notifications have
// empty defaults so a front end overrides only what it shows.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/MessagePort.h"
#include "base/MenuSettings.h"
#include "data/DocumentListener.h"
#include "protocol/UnitState.h"
#include "settings/Preference.h"
#include "usb/LinkError.h"

namespace hx {

class COscillometricAnalysis;
class CResultsSession;
class CTimerSchedule;

// The Animal ID dialog's texts while it runs. The main window writes them when
// the unit's animal block arrives during the dialog and then calls refresh.
struct AnimalDialogModel {
    AnimalTexts texts;
    std::string dataFolder;
    bool longId = false;            // limits 8 (letters and digits) instead of 3 (digits)
    std::string caption;            // "Halnor40KU: ID->n"
    std::function<void()> refresh;  // set by the front end while the dialog shows
};

// The device clock dialog's state while it runs.
struct ClockDialogModel {
    std::array<std::int16_t, 6> unitTime{};   // year, month, day, hour, minute, second
    std::function<void()> setClockRequested;  // button "Set HX-40K clock to PC clock"
    std::function<void()> refresh;            // set by the front end while the dialog shows
};

// The window's two layouts.
enum WindowLayout : int {
    kLayoutWave = 1,   // wave pane and information pane
    kLayoutGraph = 3,  // history and result panes beside them
};

// The status bar's five panes and the window title.
class IStatusBar {
  public:
    virtual ~IStatusBar() = default;
    virtual void setGeneralPane(const std::string&) {}
    virtual void setAnimalPane(const std::string&) {}
    virtual void setStatePane(const std::string&) {}
    virtual void setVersionPane(const std::string&) {}
    virtual void setErrorPane(const std::string&) {}
    virtual void setTitle(const std::string&) {}
};

// The wave pane draws from the document's live rings. drawBatch comes once per
// wave packet: it must stay cheap (draw into the pane's kept image, no
// allocation, no repaint of the screen; the pane updates the screen at its own
// pace). repaint redraws the whole pane.
class IWavePane {
  public:
    virtual ~IWavePane() = default;
    virtual void drawBatch() {}
    virtual void resetSweep() {}
    virtual void newPens() {}
    virtual void toggleSweepSpeed() {}
    virtual void repaint() {}
};

// The information pane: live heart rate, sensor level, cuff pressure, result.
class IInformationPane {
  public:
    virtual ~IInformationPane() = default;
    virtual void liveHeartRate(int /*hr*/, UnitState) {}
    virtual void sensorLevel(int) {}
    virtual void pressure(int) {}
    virtual void drawResult() {}
    virtual void repaint() {}
    // The unit state the next full repaint lays the pane out for (-1: no unit
    // connected); told after every change of state or connection, repaints nothing.
    virtual void setUnitState(int /*state*/) {}
};

// The history pane: one row per result.
class IHistoryPane {
  public:
    virtual ~IHistoryPane() = default;
    virtual void addRow(const HistoryRow&, int /*errorCode*/, bool /*showMbpDbp*/) {}
};

// The result pane: the analysis has run on the frozen rings.
class IResultPane {
  public:
    virtual ~IResultPane() = default;
    virtual void analysed(const COscillometricAnalysis&) {}
    virtual void newPens() {}
};

// Message boxes, questions and modal dialogs: each returns the user's answer.
// A dialog may pump events while it is open (through the event loop), which is
// how the unit's animal block reaches an open Animal ID dialog.
class IDialogs : public IMessagePort {
  public:
    // Device-ID choice: the chosen ID, or nothing (closed, or OK without choice).
    virtual std::optional<int> chooseDeviceId(const std::vector<std::int16_t>& listedIds) = 0;
    virtual bool runAnimalDialog(AnimalDialogModel& model) = 0;
    // The same question without waiting for its answer, where the front end
    // keeps it open beside the rest of the window (several units on one
    // screen: one unit's question does not hold the others' answers behind
    // it). answered(ok) follows on the UI thread when it closes, also when
    // endAnimalDialog ends it. False: this front end only asks by waiting.
    virtual bool askAnimalDialog(AnimalDialogModel& model, std::function<void(bool ok)> answered) {
        (void)model;
        (void)answered;
        return false;
    }
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

// The front end as the main window's logic sees it: it hands out its pieces
// (each lives as long as the port) and takes the window-level calls. A front
// end that does not show a pane keeps the default, which ignores every call.
class IUiPort {
  public:
    virtual ~IUiPort() = default;

    virtual IStatusBar& statusBar() { return s_none.status; }
    virtual IWavePane& wavePane() { return s_none.wave; }
    virtual IInformationPane& informationPane() { return s_none.information; }
    virtual IHistoryPane& historyPane() { return s_none.history; }
    virtual IResultPane& resultPane() { return s_none.result; }
    virtual IDialogs& dialogs() = 0;

    virtual void setLayout(WindowLayout) {}
    virtual void focusMainWindow() {}
    // A result arrived and was handled (saved to path, or not saved: empty).
    // For front ends that report results (the console).
    virtual void resultHandled(const HistoryRow&, int /*errorCode*/, bool /*showMbpDbp*/,
                               const std::string& /*savedPath*/) {}
    // The controller's results session, told once when the controller is made;
    // it outlives every later call of the port.
    virtual void resultsSession(CResultsSession&) {}
    // Session statistics were asked for: the session follows the data folder
    // and the unit of the moment.
    virtual void showSessionStatistics(CResultsSession&) {}
    // The unit state changed (the state pane text is set separately); the
    // controller holds the new state already.
    virtual void unitStateChanged(UnitState) {}
    // The commands' enabled states may have changed (after every change of the
    // unit state or of the connection): read them with commandEnabled().
    virtual void commandsChanged() {}
    // Why the unit with this device ID (zero-based) cannot be used: it could
    // not be opened (NoPermission, Busy, UnitGone, ...) or its link failed for
    // good. Told when the cause changes, not at every retry of the connection;
    // None once the unit is open again.
    virtual void linkProblem(int /*deviceId*/, LinkError) {}

  private:
    // The panes of a front end that does not show them; they keep no state.
    struct NoPanes {
        IStatusBar status;
        IWavePane wave;
        IInformationPane information;
        IHistoryPane history;
        IResultPane result;
    };
    static inline NoPanes s_none;
};

}  // namespace hx

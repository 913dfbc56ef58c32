#pragma once
// The whole program in virtual time against simulated units: the shell, the
// controller, the receiver thread and the simulated driver, with a UI port
// that records what the window would show and answers dialogs as told.

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/LogChannel.h"
#include "app/VirtualClock.h"
#include "control/ApplicationShell.h"
#include "control/DisplayTexts.h"
#include "control/VirtualEventLoop.h"
#include "settings/ProfileStore.h"
#include "sim/SimDriver.h"
#include "sim/SimUnit.h"
#include "support/ReceiverReads.h"
#include "support/SimulatedPorts.h"
#include "support/TempDir.h"

namespace hx::test {

struct ResultSeen {
    HistoryRow row;
    int errorCode;
    bool showMbpDbp;
    std::string path;
};

class RecordingUi : public IUiPort,
                    public IStatusBar,
                    public IWavePane,
                    public IHistoryPane,
                    public IDialogs {
  public:
    explicit RecordingUi(IEventLoop& loop) : m_loop(loop) {}

    IStatusBar& statusBar() override { return *this; }
    IWavePane& wavePane() override { return *this; }
    IHistoryPane& historyPane() override { return *this; }
    IDialogs& dialogs() override { return *this; }

    MsgAnswer messageBox(const std::string& text, const std::string& caption, MsgIcon,
                         MsgButtons buttons) override {
        messages.push_back(caption + "|" + text);
        if (buttons == MsgButtons::YesNo) return saveAnswer;
        return MsgAnswer::Ok;
    }
    std::optional<std::string> saveFileDialog(const std::string& initialPath, const std::string&) override {
        fileDialogs.push_back(initialPath);
        return freeFilePath;
    }

    void setGeneralPane(const std::string& t) override { general.push_back(t); }
    void setAnimalPane(const std::string& t) override { animalPane = t; }
    void setStatePane(const std::string& t) override { statePane = t; }
    void setVersionPane(const std::string& t) override { versionPane = t; }
    void setErrorPane(const std::string& t) override { errorPanes.push_back(t); }
    void setTitle(const std::string& t) override { titles.push_back(t); }
    void setLayout(WindowLayout mode) override { layouts.push_back(mode); }
    void drawBatch() override { ++drawBatches; }
    void addRow(const HistoryRow& row, int code, bool show) override {
        history.push_back(historyCells(row, code, show));
    }
    void resultHandled(const HistoryRow& row, int code, bool show, const std::string& path) override {
        results.push_back({row, code, show, path});
    }
    void linkProblem(int deviceId, LinkError cause) override { linkProblems.emplace_back(deviceId, cause); }
    void commandsChanged() override {
        if (onCommandsChanged) onCommandsChanged();
    }

    std::optional<int> chooseDeviceId(const std::vector<std::int16_t>& ids) override {
        choiceLists.push_back(ids);
        return deviceChoice;
    }
    bool runAnimalDialog(AnimalDialogModel& model) override {
        ++animalDialogs;
        bool arrived = false;
        ended = false;
        model.refresh = [&] { arrived = true; };
        m_loop.pumpUntil([&] { return arrived || ended; }, 3000);
        model.refresh = nullptr;
        animalModelSeen = model;
        if (ended) return false;
        if (animalAnswer) {
            model.texts = animalAnswer->first;
            model.dataFolder = animalAnswer->second;
        }
        return animalOk;
    }
    bool askAnimalDialog(AnimalDialogModel& model, std::function<void(bool)> answered) override {
        if (!askWithoutWaiting) return false;
        ++animalDialogs;
        questionModel = &model;
        question = std::move(answered);
        return true;
    }
    // Answers the question asked without waiting (OK with the animal number, or Cancel).
    void answerQuestion(std::optional<std::string> animalNo) {
        if (animalNo) questionModel->texts.animalNo = *animalNo;
        auto answered = std::move(question);
        question = nullptr;
        answered(animalNo.has_value());
    }
    void endAnimalDialog() override {
        ended = true;
        if (question) answerQuestion(std::nullopt);
    }
    bool runMenuDialog(MenuSettings& settings) override {
        ++menuDialogs;
        if (menuEdit) menuEdit(settings);
        return menuOk;
    }
    void runClockDialog(ClockDialogModel& model) override {
        ++clockDialogs;
        clockModel = &model;
        if (duringClock) duringClock(model);
        clockModel = nullptr;
    }
    void endClockDialog() override {}
    bool runMonitorDialog(MonitorValues&) override { return false; }
    bool runTimerDialog(CTimerSchedule&, std::vector<std::int32_t>& entries) override {
        if (!timerAnswer) return false;
        entries = *timerAnswer;
        return true;
    }

    std::string title() const { return titles.empty() ? "" : titles.back(); }
    bool generalShown(const std::string& t) const {
        return std::find(general.begin(), general.end(), t) != general.end();
    }

    // Answers.
    MsgAnswer saveAnswer = MsgAnswer::Yes;
    std::optional<std::vector<std::int32_t>> timerAnswer;  // the Timer mode dialog's OK
    std::optional<std::string> freeFilePath;
    std::optional<int> deviceChoice;
    bool animalOk = true;
    std::optional<std::pair<AnimalTexts, std::string>> animalAnswer;
    bool menuOk = false;
    std::function<void(MenuSettings&)> menuEdit;
    std::function<void(ClockDialogModel&)> duringClock;
    std::function<void()> onCommandsChanged;
    bool askWithoutWaiting = false;      // the Animal ID question asked beside the window
    std::function<void(bool)> question;  // while such a question is open
    AnimalDialogModel* questionModel = nullptr;

    // What was shown.
    std::vector<std::string> messages, fileDialogs, general, errorPanes, titles;
    std::vector<int> layouts;
    std::string animalPane, statePane, versionPane;
    std::vector<HistoryCells> history;
    std::vector<ResultSeen> results;
    std::vector<std::vector<std::int16_t>> choiceLists;
    std::vector<std::pair<int, LinkError>> linkProblems;
    int drawBatches = 0, animalDialogs = 0, menuDialogs = 0, clockDialogs = 0;
    AnimalDialogModel animalModelSeen;
    ClockDialogModel* clockModel = nullptr;
    bool ended = false;

  private:
    IEventLoop& m_loop;
};

// Collects the diagnostic log lines written while a rig lives.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    std::vector<std::string> lines() const;
    int count(const std::string& text) const;
};

class ControlRig {
  public:
    // Units are added before start(); ids are zero-based device IDs.
    explicit ControlRig(CVirtualEventLoop::ReceiverReads reads = test::receiverReadsUnderTest())
        : sim(clock), loop(clock, reads), ui(loop) {
        ports = ShellPorts(test::simulatedPorts(loop, profile, sim, clock, dir.folder()), &ui);
    }
    ~ControlRig() { stop(); }

    CSimUnit& addUnit(int id, SimUnitOptions options = {}) {
        if (options.adjustMs == 3000) options.adjustMs = 1000;
        return sim.addUnit(id, options);
    }

    void start() {
        profile.writeText("HalnorEWU_1", "dataFolder", dir.folder() + "data/");
        shell = std::make_unique<CApplicationShell>(ports);
        shell->startUp();
    }
    void stop() {
        if (shell) shell->shutDown();
        shell.reset();
    }

    bool runUntil(const std::function<bool()>& done, std::int64_t ms = 60000) {
        return loop.runUntil(done, ms);
    }
    void runFor(std::int64_t ms) { loop.runFor(ms); }

    CMainController& controller() { return shell->controller(); }
    CHalnor55KUDoc& doc() { return shell->document(); }

    bool connectedAndReady() {
        return shell && controller().setUpComplete() && controller().unitState() == kStateView;
    }
    bool waitReady(std::int64_t ms = 30000) {
        return runUntil([this] { return connectedAndReady(); }, ms);
    }
    void command(int id) { controller().command(id); }

    // A read that fails is not a record in flight, so virtual time does not
    // wait for the receiver thread to report it. This runs the program in
    // small steps of virtual time and gives the thread real time between them.
    bool settleUntil(const std::function<bool()>& done, std::int64_t ms) {
        for (std::int64_t elapsed = 0; elapsed < ms; elapsed += 20) {
            if (done()) return true;
            runFor(20);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return done();
    }

    TempDir dir;
    CVirtualClock clock;
    CSimDriver sim;
    CVirtualEventLoop loop;
    RecordingUi ui;
    CMemoryProfileStore profile;
    ShellPorts ports;
    std::unique_ptr<CApplicationShell> shell;
};

}  // namespace hx::test

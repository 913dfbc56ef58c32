#pragma once
// The console front end's UI port: prints what the window would show (status
// texts as they change, one line per result) and answers dialogs from the
// command-line options.

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "control/EventLoop.h"
#include "control/UiPort.h"

namespace hx {

struct ConsoleAnswers {
    std::optional<std::string> animalNo, studyNo, weight, sexAge, comment, dataFolder;
    // One of the five animal texts was given: they must reach the unit.
    bool animalTextsGiven() const { return animalNo || studyNo || weight || sexAge || comment; }
};

// One object serves as the port, its status bar and its dialogs; the panes it
// does not show keep the port's defaults.
class CConsoleUi final : public IUiPort, public IStatusBar, public IDialogs {
  public:
    CConsoleUi(IEventLoop& loop, ConsoleAnswers answers, std::FILE* out = stdout);

    // Called with every handled result (after its line was printed).
    std::function<void(const HistoryRow&, int errorCode, const std::string& path)> onResult;
    // Called with every text of the general pane.
    std::function<void(const std::string&)> onGeneralText;
    // Called with the text of every message box.
    std::function<void(const std::string&)> onMessage;
    // Called when the Animal ID dialog was answered OK with the given texts.
    std::function<void()> onAnimalAnswered;

    const ConsoleAnswers& answers() const { return m_answers; }
    // One channel of several: every line names it ("dev=3"), a result line
    // right after "result".
    void setChannelTag(std::string tag) { m_tag = std::move(tag); }

    IStatusBar& statusBar() override { return *this; }
    IDialogs& dialogs() override { return *this; }

    // IMessagePort
    MsgAnswer messageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                         MsgButtons buttons) override;
    std::optional<std::string> saveFileDialog(const std::string& initialPath,
                                              const std::string& defaultExtension) override;

    // Status bar
    void setGeneralPane(const std::string& text) override;
    void setAnimalPane(const std::string& text) override { printChange(m_animal, text, "animal"); }
    void setStatePane(const std::string& text) override { printChange(m_state, text, "state"); }
    void setVersionPane(const std::string& text) override { printChange(m_version, text, "version"); }
    void setErrorPane(const std::string& text) override { printChange(m_error, text, "error"); }
    void setTitle(const std::string& text) override { printChange(m_title, text, "title"); }

    // Window
    void resultHandled(const HistoryRow& row, int errorCode, bool showMbpDbp,
                       const std::string& savedPath) override;
    // "link: ID 3: no permission to open the unit: ..."; "link: ID 3: open" once it opened.
    void linkProblem(int deviceId, LinkError cause) override;

    // Dialogs
    std::optional<int> chooseDeviceId(const std::vector<std::int16_t>& listedIds) override;
    bool runAnimalDialog(AnimalDialogModel& model) override;
    void endAnimalDialog() override { m_endAnimal = true; }
    bool runMenuDialog(MenuSettings& settings) override;
    void runClockDialog(ClockDialogModel& model) override;
    void endClockDialog() override {}
    bool runMonitorDialog(MonitorValues& values) override;
    bool runTimerDialog(CTimerSchedule& schedule, std::vector<std::int32_t>& entries) override;

    // A console that can no longer be written to (a closed pipe, a full
    // disk) ends the run through the normal shutdown, once, with
    // kExitOutputLost; later lines are dropped.
    void print(const std::string& line);
    static constexpr int kExitOutputLost = 128 + 13;  // as SIGPIPE would have ended it

  private:
    void printChange(std::string& last, const std::string& text, const char* label);

    IEventLoop& m_loop;
    ConsoleAnswers m_answers;
    std::FILE* m_out;
    std::string m_tag;
    std::string m_general, m_animal, m_state, m_version, m_error, m_title;
    bool m_endAnimal = false;
    bool m_outputLost = false;
    std::optional<std::chrono::steady_clock::time_point> m_lastCountdownPrint;
};

// The result line: the values exactly as the history list shows them.
std::string resultLine(const HistoryRow& row, int errorCode, bool showMbpDbp, const std::string& savedPath);

}  // namespace hx

#include "headless/ConsoleUi.h"

#include <chrono>
#include <ctime>

#include "control/DisplayTexts.h"

namespace hx {

CConsoleUi::CConsoleUi(IEventLoop& loop, ConsoleAnswers answers, std::FILE* out)
    : m_loop(loop), m_answers(std::move(answers)), m_out(out) {}

void CConsoleUi::print(const std::string& line) {
    if (m_outputLost) return;
    std::string tagged;
    if (!m_tag.empty())
        tagged = line.rfind("result ", 0) == 0 ? "result " + m_tag + line.substr(6) : m_tag + " " + line;
    const std::string& text = m_tag.empty() ? line : tagged;
    if (std::fprintf(m_out, "%s\n", text.c_str()) < 0 || std::fflush(m_out) != 0) {
        m_outputLost = true;
        m_loop.quit(kExitOutputLost);
    }
}

void CConsoleUi::linkProblem(int deviceId, LinkError cause) {
    print("link: ID " + std::to_string(deviceId + 1) + ": " +
          (cause == LinkError::None ? std::string("open") : linkErrorText(cause)));
}

void CConsoleUi::printChange(std::string& last, const std::string& text, const char* label) {
    if (text == last) return;
    last = text;
    print(std::string(label) + ": " + text);
}

MsgAnswer CConsoleUi::messageBox(const std::string& text, const std::string& caption, MsgIcon,
                                 MsgButtons buttons) {
    if (onMessage) onMessage(text);
    if (buttons == MsgButtons::YesNo) {
        print("question: " + caption + ": " + text + " -> yes");
        return MsgAnswer::Yes;
    }
    print("message: " + caption + ": " + text);
    return MsgAnswer::Ok;
}

std::optional<std::string> CConsoleUi::saveFileDialog(const std::string& initialPath, const std::string&) {
    print("save file: " + initialPath);
    return initialPath;
}

void CConsoleUi::setGeneralPane(const std::string& text) {
    bool blank = text.find_first_not_of(' ') == std::string::npos;
    // The countdown changes every second of the program's time, which in
    // virtual time is thousands of times a second: print it at most once a
    // second of real time.
    if (text.rfind("Next Recording", 0) == 0) {
        const auto now = std::chrono::steady_clock::now();
        if (m_lastCountdownPrint && now - *m_lastCountdownPrint < std::chrono::seconds(1)) {
            if (onGeneralText) onGeneralText(text);
            return;
        }
        m_lastCountdownPrint = now;
    }
    if (!blank)
        printChange(m_general, text, "status");
    else
        m_general.clear();
    if (onGeneralText) onGeneralText(text);
}

std::string resultLine(const HistoryRow& row, int errorCode, bool showMbpDbp, const std::string& savedPath) {
    HistoryCells cells = historyCells(row, errorCode, showMbpDbp);
    return "result N=" + cells.text[0] + " HR=" + cells.text[1] + " SBP=" + cells.text[2] +
           " MBP=" + cells.text[3] + " DBP=" + cells.text[4] +
           " time=" + (cells.text[5].empty() ? "-" : cells.text[5]) + " error=" + std::to_string(errorCode) +
           " file=" + (savedPath.empty() ? "-" : savedPath);
}

void CConsoleUi::resultHandled(const HistoryRow& row, int errorCode, bool showMbpDbp,
                               const std::string& savedPath) {
    print(resultLine(row, errorCode, showMbpDbp, savedPath));
    if (onResult) onResult(row, errorCode, savedPath);
}

std::optional<int> CConsoleUi::chooseDeviceId(const std::vector<std::int16_t>& listedIds) {
    std::string ids;
    for (std::int16_t id : listedIds) ids += " " + std::to_string(id + 1);
    print("choose unit:" + ids + " -> first");
    return std::nullopt;
}

bool CConsoleUi::runAnimalDialog(AnimalDialogModel& model) {
    // Keep the program running while the unit's animal block comes in, as
    // the open dialog would, then answer OK with the texts given.
    bool arrived = false;
    m_endAnimal = false;
    model.refresh = [&arrived] { arrived = true; };
    m_loop.pumpUntil([&] { return arrived || m_endAnimal; }, 2000);
    model.refresh = nullptr;
    if (m_endAnimal) {
        print("animal dialog: cancelled");
        return false;
    }
    if (m_answers.animalNo) model.texts.animalNo = *m_answers.animalNo;
    if (m_answers.studyNo) model.texts.studyNo = *m_answers.studyNo;
    if (m_answers.weight) model.texts.weight = *m_answers.weight;
    if (m_answers.sexAge) model.texts.sexAge = *m_answers.sexAge;
    if (m_answers.comment) model.texts.comment = *m_answers.comment;
    if (m_answers.dataFolder) model.dataFolder = *m_answers.dataFolder;
    print("animal dialog: OK (" + model.caption + ", Animal No:" + model.texts.animalNo + ", folder " +
          model.dataFolder + ")");
    if (onAnimalAnswered) onAnimalAnswered();
    return true;
}

bool CConsoleUi::runMenuDialog(MenuSettings&) {
    print("menu dialog: OK (unchanged)");
    return true;
}

void CConsoleUi::runClockDialog(ClockDialogModel& model) {
    std::time_t now = m_loop.clock().wallTime();
    std::tm local{};
    localtime_r(&now, &local);
    auto lines = clockDialogLines(local, model.unitTime);
    print("clock dialog: " + lines[0] + " | " + lines[1]);
}

bool CConsoleUi::runMonitorDialog(MonitorValues&) { return false; }

bool CConsoleUi::runTimerDialog(CTimerSchedule&, std::vector<std::int32_t>&) { return false; }

}  // namespace hx

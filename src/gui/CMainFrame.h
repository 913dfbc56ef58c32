#pragma once
// CMainFrame: the program's one top-level window. It holds the four panes, the
// toolbar that stands for the unit's keys, the status bar with its five panes
// and the menus, and it is the front end the main window's logic
// (CMainController) talks to: the status bar, title, layouts, pane
// notifications, message boxes and dialogs all arrive here.
//
// Commands are QActions owned by the window. The toolbar button, the menu item
// and a pane's key trigger the same action; one pass sets every action's
// enabled state from the controller after each change of state, and a disabled
// action does nothing, whoever asks.
//
// Layout of the client area: the information pane at the top left (192 x 230),
// the history pane below it, the wave pane (wave layout) or the result pane
// (graph layout) from x = 192 to the right edge.
//
// UI thread only. The document and the controller are not owned; attach()
// hands them over once start-up has made them, and they must outlive the
// window's use of them (the window is destroyed after the shell shut down).

#include <QLabel>
#include <QMainWindow>
#include <array>
#include <cstdint>
#include <map>
#include <memory>

#include "control/UiPort.h"
#include "gui/CDialogStandIns.h"

class QAction;

namespace hx {

class CHalnor55KUDoc;
class CMainController;
class CWaveView;
class CInformationView;
class CHistoryView;
class CResultView;
class IEventLoop;

class CMainFrame final : public QMainWindow, public IUiPort {
    Q_OBJECT
public:
    static constexpr int kLeftPaneWidth = 192;
    static constexpr int kInformationHeight = 230;

    explicit CMainFrame(IEventLoop& loop, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Start-up has made the document and the controller: the panes read the
    // document from now on, the commands go to the controller. Restores the
    // window rectangle the preferences kept.
    void attach(CHalnor55KUDoc& doc, CMainController& controller);

    // The window rectangle (left, top, right, bottom) as the preferences keep it.
    std::array<std::int32_t, 4> frameRect() const;

    // Sets every command's enabled state from the controller.
    void updateCommandEnabling();

    QAction* action(int commandId) const;
    CWaveView& wavePane() { return *m_wave; }
    CInformationView& informationPane() { return *m_information; }
    CHistoryView& historyPane() { return *m_history; }
    CResultView& resultPane() { return *m_result; }
    QLabel& statusPane(int index) { return *m_statusPanes[static_cast<std::size_t>(index)]; }
    int layoutMode() const { return m_layoutMode; }
    CDialogStandIns& dialogStandIns() { return m_standIns; }

    // IMessagePort
    MsgAnswer messageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                         MsgButtons buttons) override;
    std::optional<std::string> saveFileDialog(const std::string& initialPath,
                                              const std::string& defaultExtension) override;

    // IUiPort
    void setGeneralPane(const std::string& text) override;
    void setAnimalPane(const std::string& text) override;
    void setStatePane(const std::string& text) override;
    void setVersionPane(const std::string& text) override;
    void setErrorPane(const std::string& text) override;
    void setTitle(const std::string& text) override;
    void setLayout(int mode) override;
    void waveDrawBatch() override;
    void waveResetSweep() override;
    void waveNewPens() override;
    void waveToggleSweepSpeed() override;
    void waveRepaint() override;
    void infoLiveHeartRate(int hr, int unitState) override;
    void infoSensorLevel(int level) override;
    void infoPressure(int value) override;
    void infoDrawResult() override;
    void infoRepaint() override;
    void historyAddRow(const HistoryRow& row, int errorCode, bool showMbpDbp) override;
    void resultAnalysed(const COscillometricAnalysis& analysis) override;
    void resultNewPens() override;
    void focusMainWindow() override;
    void unitStateChanged(int state) override;
    std::optional<int> chooseDeviceId(const std::vector<std::int16_t>& listedIds) override;
    bool runAnimalDialog(AnimalDialogModel& model) override { return m_standIns.runAnimalDialog(model); }
    void endAnimalDialog() override { m_standIns.endAnimalDialog(); }
    bool runMenuDialog(MenuSettings& settings) override { return m_standIns.runMenuDialog(settings); }
    void runClockDialog(ClockDialogModel& model) override { m_standIns.runClockDialog(model); }
    void endClockDialog() override { m_standIns.endClockDialog(); }
    bool runMonitorDialog(MonitorValues& values) override { return m_standIns.runMonitorDialog(values); }
    bool runTimerDialog(CTimerSchedule& schedule, std::vector<std::int32_t>& entries) override {
        return m_standIns.runTimerDialog(schedule, entries);
    }
    void showAbout(const AboutTexts& texts) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void createActions();
    void createStatusBar();
    void layOutPanes();
    // A pane's key: the command runs later, as a posted command would, and
    // only if enabled at that moment.
    void postCommand(int commandId);
    QWidget* activePane() const;

    IEventLoop& m_loop;
    CHalnor55KUDoc* m_doc = nullptr;
    CMainController* m_controller = nullptr;
    CDialogStandIns m_standIns;
    QWidget* m_client;
    CWaveView* m_wave;
    CInformationView* m_information;
    CHistoryView* m_history;
    CResultView* m_result;
    std::array<QLabel*, 5> m_statusPanes{};
    std::map<int, QAction*> m_actions;
    int m_layoutMode = 1;
};

}  // namespace hx

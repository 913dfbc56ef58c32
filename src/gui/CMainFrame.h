#pragma once
// CMainFrame: the program's one top-level window. It holds the four panes, the
// toolbar that stands for the unit's keys, the status bar with its five panes
// and the menus, and it is the front end the main window's logic
// (CMainController) talks to through uiPort(): the status bar and title arrive
// here, the pane calls go to the panes themselves, the dialogs to
// CWindowDialogs.
//
// Commands are QActions owned by the window. The toolbar button, the menu item
// and a pane's key trigger the same action; one pass sets every action's
// enabled state from the controller after each change of state, and a disabled
// action does nothing, whoever asks.
//
// File -> Open Recording... shows a saved data file in the result and
// information panes (a CRecordingReview of its own: the live document is not
// touched and the unit stays connected). Page Up / Page Down step to the data
// file before / after it in its folder, Escape or the next live result ends
// the review and the live panes come back as the unit left them.
//
// Layout of the client area: the information pane at the top left (192 x 230),
// the history pane below it, the wave pane (wave layout) or the result pane
// (graph layout) from x = 192 to the right edge.
//
// UI thread only. The document and the controller are not owned; attach()
// hands them over once start-up has made them, and they must outlive the
// window's use of them (the window is destroyed after the shell shut down).

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <map>
#include <memory>

#include "control/UiPort.h"
#include "gui/CWindowDialogs.h"
#include "gui/views/CStatusPane.h"

class QAction;
class QMenu;

namespace hx {

class CHalnor55KUDoc;
class CMainController;
class CWaveView;
class CInformationView;
class CHistoryView;
class CResultView;
class CSessionWindow;
class CResultsSession;
class CRecordingReview;
class CRecordingFolder;
class CRecordingVerdicts;
class CStudyWindows;
struct StudyPlace;
class IEventLoop;

class CMainFrame final : public QMainWindow, public IStatusBar {
    Q_OBJECT
  public:
    static constexpr int kLeftPaneWidth = 192;
    static constexpr int kInformationHeight = 230;

    explicit CMainFrame(IEventLoop& loop, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // What the main window's logic talks to; lives as long as the window.
    IUiPort& uiPort();

    // Start-up has made the document and the controller: the panes read the
    // document from now on, the commands go to the controller. Restores the
    // window rectangle the preferences kept when it lies on a screen (else the
    // default size on the primary screen).
    void attach(CHalnor55KUDoc& doc, CMainController& controller);

    // The window rectangle (left, top, right, bottom) as the preferences keep it.
    std::array<std::int32_t, 4> frameRect() const;

    // Sets every command's enabled state from the controller.
    void updateCommandEnabling();

    QAction* action(int commandId) const;
    // The File menu (the other menus are the menu bar's).
    QMenu* fileMenu() const { return m_fileMenu; }
    CWaveView& wavePane() { return *m_wave; }
    CInformationView& informationPane() { return *m_information; }
    CHistoryView& historyPane() { return *m_history; }
    CResultView& resultPane() { return *m_result; }
    CStatusPane& statusPane(int index) { return *m_statusPanes[static_cast<std::size_t>(index)]; }
    WindowLayout layoutMode() const { return m_layoutMode; }
    // Results that arrived, whether saved and listed or not.
    int resultsHandled() const { return m_resultsHandled; }
    CWindowDialogs& windowDialogs() { return m_dialogs; }

    // View -> Session statistics: the non-modal statistics window (made on
    // first use over the controller's session). Null before.
    CSessionWindow* sessionWindow() const { return m_sessionWindow; }
    // The Study menu's windows and File -> Report...; the place of the study
    // is the data folder, profile, unit TYPE and session of the moment.
    CStudyWindows& studyWindows() { return *m_study; }
    StudyPlace studyPlace() const;

    // Shows the data file at path for review. Returns "" on success, else the
    // reason the file was refused (nothing changed then). The menu command
    // shows that reason in a message box.
    std::string openRecording(const std::string& path);
    // Steps to the data file before (-1) or after (+1) the one under review;
    // false when there is none.
    bool stepRecording(int step);
    // Back to the live panes; does nothing when no review is on.
    void endReview();
    // The recording under review, or null.
    const CRecordingReview* review() const { return m_review.get(); }
    // Turns the verdict of the recording under review over by hand (accepted
    // -> rejected and back) with reason, appended to review-log.csv of the
    // file's folder as the session window does; the status pane shows the new
    // verdict. Returns "" or why not (no review, the file is not in that
    // folder's results log, the log cannot be written).
    std::string changeReviewVerdict(const std::string& reason);

    // IStatusBar
    void setGeneralPane(const std::string& text) override;
    void setAnimalPane(const std::string& text) override;
    void setStatePane(const std::string& text) override;
    void setVersionPane(const std::string& text) override;
    void setErrorPane(const std::string& text) override;
    void setTitle(const std::string& text) override;

    // Window-level calls of the port.
    void setLayout(WindowLayout layout);
    // The main pane takes the keyboard when the window is the active one;
    // otherwise the window only asks for attention, so a result never takes
    // the keys from the program the user is typing in.
    void focusMainWindow();
    void unitStateChanged(UnitState state);
    void showSessionStatistics(CResultsSession& session);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    class Port;
    void createActions();
    void createStatusBar();
    void layOutPanes();
    // A pane's key: the command runs later, as a posted command would, and
    // only if enabled at that moment.
    void postCommand(int commandId);
    bool graphShown() const;
    QWidget* activePane() const;
    QRect placeOnScreen(const QRect& kept) const;
    void showLayout();
    void chooseRecording();
    void showReview(std::unique_ptr<CRecordingReview> review);
    void showReviewStatus();
    void askReviewVerdict();
    CRecordingVerdicts& reviewVerdicts();

    IEventLoop& m_loop;
    CHalnor55KUDoc* m_doc = nullptr;
    CMainController* m_controller = nullptr;
    CWindowDialogs m_dialogs;
    std::unique_ptr<Port> m_port;
    QWidget* m_client;
    CWaveView* m_wave;
    CInformationView* m_information;
    CHistoryView* m_history;
    CResultView* m_result;
    std::array<CStatusPane*, 5> m_statusPanes{};
    std::map<int, QAction*> m_actions;
    WindowLayout m_layoutMode = kLayoutWave;
    int m_resultsHandled = 0;
    CSessionWindow* m_sessionWindow = nullptr;  // child window, owned by Qt
    CResultsSession* m_session = nullptr;       // the controller's, told through the port
    CStudyWindows* m_study = nullptr;           // the study menus and windows, owned by Qt
    std::unique_ptr<CRecordingReview> m_review;
    // The folder's order and its logs' verdicts, kept from step to step while reviewing.
    std::unique_ptr<CRecordingFolder> m_reviewFolder;
    std::unique_ptr<CRecordingVerdicts> m_reviewVerdicts;
    std::string m_liveGeneralText;       // the general pane's live text while reviewing
    QAction* m_reviewVerdict = nullptr;  // File -> Change Verdict of Recording..., while reviewing
    QMenu* m_fileMenu = nullptr;
};

}  // namespace hx

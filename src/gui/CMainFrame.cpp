#include "gui/CMainFrame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>
#include <filesystem>

#include "control/EventLoop.h"
#include "control/MainController.h"
#include "control/PaneKeys.h"
#include "data/Halnor55KUDoc.h"
#include "gui/CSessionWindow.h"
#include "gui/CStudyWindows.h"
#include "gui/views/CHistoryView.h"
#include "gui/views/CInformationView.h"
#include "gui/views/CResultView.h"
#include "gui/views/CWaveView.h"
#include "gui/views/PaneSupport.h"
#include "review/CRecordingFolder.h"
#include "review/CRecordingReview.h"
#include "study/RecordingVerdicts.h"
#include "study/ReviewLog.h"
#include "study/Sitting.h"
#include "study/Study.h"

// Resources of a static library are registered by hand (outside any namespace).
static void initResources() { Q_INIT_RESOURCE(halnor40ku); }

namespace hx {

namespace {

// Status bar panes from left to right with their widths (0: stretches).
enum StatusPane { kGeneral, kAnimal, kState, kVersion, kError };
constexpr int kStatusWidths[5] = {0, 120, 80, 120, 120};

struct ToolCommand {
    int id;
    const char* icon;
    const char* text;
};
// The toolbar in its order; 0 is a separator.
constexpr ToolCommand kToolbar[] = {
    {kCmdStart, "start", "Start (Enter)"},
    {0, nullptr, nullptr},
    {kCmdUp, "up", "Up (Up arrow)"},
    {kCmdDown, "down", "Down (Down arrow)"},
    {0, nullptr, nullptr},
    {kCmdMenu, "menu", "Unit menu (M)"},
    {0, nullptr, nullptr},
    {kCmdAnimal, "animal", "Animal ID (B)"},
    {kCmdSweepSpeed, "sweep", "Sweep speed (Space, S)"},
};

// A key as the program's key table names it (0: none of its keys). A key
// with Ctrl, Alt or Meta is another key.
int programKey(const QKeyEvent& event) {
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return 0;
    switch (event.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return '\r';
        case Qt::Key_Up:
            return kKeyUp;
        case Qt::Key_Down:
            return kKeyDown;
        default:
            // Qt names letters, digits and the space by their upper-case character.
            return event.key() < 0x80 ? event.key() : 0;
    }
}

}  // namespace

// The port the main window's logic talks to: the window's own pieces.
class CMainFrame::Port final : public IUiPort {
  public:
    explicit Port(CMainFrame& frame) : m_frame(frame) {}
    IStatusBar& statusBar() override { return m_frame; }
    IWavePane& wavePane() override { return *m_frame.m_wave; }
    IInformationPane& informationPane() override { return *m_frame.m_information; }
    IHistoryPane& historyPane() override { return *m_frame.m_history; }
    IResultPane& resultPane() override { return *m_frame.m_result; }
    IDialogs& dialogs() override { return m_frame.m_dialogs; }
    void setLayout(WindowLayout layout) override { m_frame.setLayout(layout); }
    void focusMainWindow() override { m_frame.focusMainWindow(); }
    void unitStateChanged(UnitState state) override { m_frame.unitStateChanged(state); }
    void commandsChanged() override { m_frame.updateCommandEnabling(); }
    void resultsSession(CResultsSession& session) override { m_frame.m_session = &session; }
    void showSessionStatistics(CResultsSession& session) override { m_frame.showSessionStatistics(session); }
    void resultHandled(const HistoryRow&, int, bool, const std::string&) override {
        ++m_frame.m_resultsHandled;
        m_frame.endReview();  // a live result takes the panes back
    }

  private:
    CMainFrame& m_frame;
};

CMainFrame::CMainFrame(IEventLoop& loop, QWidget* parent)
    : QMainWindow(parent), m_loop(loop), m_dialogs(*this, loop), m_port(std::make_unique<Port>(*this)) {
    initResources();
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    setWindowTitle(QStringLiteral("Halnor40KU (Not Connected)"));

    // Panes in their making order; the main area starts with the wave pane.
    m_client = new QWidget(this);
    m_wave = new CWaveView(m_client);
    m_information = new CInformationView(m_client);
    m_history = new CHistoryView(m_client);
    m_result = new CResultView(m_client);
    m_result->hide();
    setCentralWidget(m_client);
    // Every pane turns the same keys into commands; other keys keep their
    // default handling (the history list's Page Up, Home, ...).
    for (QWidget* pane : std::initializer_list<QWidget*>{m_wave, m_information, m_history, m_result})
        pane->installEventFilter(this);

    createActions();
    createStatusBar();
    // The smallest window has a client area of 400 x 150 below its menu (and
    // the width the status bar's fixed panes need, known once it is shown).
    setMinimumSize(400, 150 + menuBar()->sizeHint().height());
    resize(1024, 640);
    updateCommandEnabling();
    m_wave->setFocus();
}

CMainFrame::~CMainFrame() = default;

IUiPort& CMainFrame::uiPort() { return *m_port; }

void CMainFrame::createActions() {
    auto* toolbar = new QToolBar(QStringLiteral("Unit keys"), this);
    toolbar->setObjectName(QStringLiteral("unitKeys"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setIconSize(QSize(24, 24));
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    addToolBar(Qt::TopToolBarArea, toolbar);
    for (const ToolCommand& c : kToolbar) {
        if (c.id == 0) {
            toolbar->addSeparator();
            continue;
        }
        auto* a = new QAction(QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(c.icon))),
                              QString::fromLatin1(c.text), this);
        a->setToolTip(QString::fromLatin1(c.text));
        m_actions[c.id] = a;
        toolbar->addAction(a);
    }

    auto addMenuAction = [this](QMenu* menu, int id, const QString& text) {
        auto* a = menu->addAction(text);
        m_actions[id] = a;
        return a;
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("File(&F)"));
    m_fileMenu = file;
    // Reviewing a saved file does not depend on the unit: always enabled.
    QAction* open = file->addAction(QStringLiteral("Open Recording..."));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(open, &QAction::triggered, this, [this] {
        if (m_doc) chooseRecording();
    });
    m_reviewVerdict = file->addAction(QStringLiteral("Change Verdict of Recording..."));
    m_reviewVerdict->setEnabled(false);
    connect(m_reviewVerdict, &QAction::triggered, this, [this] { askReviewVerdict(); });
    m_study = new CStudyWindows(*this, [this] { return studyPlace(); });
    m_study->addReportAction(*file);
    addMenuAction(file, kCmdExit, QStringLiteral("Exit(&X)"));
    // The session's statistics do not depend on the unit: always enabled.
    QMenu* view = menuBar()->addMenu(QStringLiteral("View(&V)"));
    addMenuAction(view, kCmdSessionStatistics, QStringLiteral("Session statistics"));
    addMenuAction(view, kCmdNewSession, QStringLiteral("New session"));
    m_study->addStudyMenu(*menuBar());
    QMenu* setting = menuBar()->addMenu(QStringLiteral("Setting(&S)"));
    addMenuAction(setting, kCmdTimer, QStringLiteral("Timer"));
    addMenuAction(setting, kCmdMonitor, QStringLiteral("Monitor"));
    QMenu* help = menuBar()->addMenu(QStringLiteral("HELP(&H)"));
    addMenuAction(help, kCmdAbout, QStringLiteral("About Halnor40KU(&A)..."));

    for (auto& [id, a] : m_actions) {
        const int commandId = id;
        connect(a, &QAction::triggered, this, [this, commandId] {
            if (m_controller) m_controller->command(commandId);
        });
    }
}

void CMainFrame::createStatusBar() {
    QStatusBar* bar = statusBar();
    for (int i = 0; i < 5; ++i) {
        // The error pane widens to show a whole message (the duplicate-ID one
        // is three times its width) as far as the window allows.
        auto* label = new CStatusPane(kStatusWidths[i], i == kError, bar);
        if (kStatusWidths[i] == 0) {
            bar->addWidget(label, 1);
        } else {
            bar->addPermanentWidget(label);
        }
        m_statusPanes[static_cast<std::size_t>(i)] = label;
    }
}

void CMainFrame::attach(CHalnor55KUDoc& doc, CMainController& controller) {
    m_doc = &doc;
    m_controller = &controller;
    m_dialogs.attach(doc);
    const MonitorValues& monitor = doc.preference().monitor();
    const QRect kept(QPoint(monitor.frameLeft, monitor.frameTop),
                     QPoint(monitor.frameRight - 1, monitor.frameBottom - 1));
    if (const QRect placed = placeOnScreen(kept); placed.isValid()) setGeometry(placed);
    m_wave->attach(&doc);
    m_information->attach(&doc);
    m_result->attach(&doc);
    updateCommandEnabling();  // the first pass; after it the controller's notice drives enabling
}

void CMainFrame::showSessionStatistics(CResultsSession& session) {
    if (!m_sessionWindow) m_sessionWindow = new CSessionWindow(session, m_doc->preference().store(), this);
    m_sessionWindow->show();
    m_sessionWindow->raise();
    m_sessionWindow->activateWindow();
}

// The kept rectangle where it lies on a screen: moved and shrunk into the
// available area of the screen that holds most of it. A rectangle that no
// screen shows (a monitor since removed) gives way to the default size.
QRect CMainFrame::placeOnScreen(const QRect& kept) const {
    if (!kept.isValid()) return {};
    QRect area;
    int best = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect available = screen->availableGeometry();
        const QRect common = available.intersected(kept);
        const int shown = common.width() * common.height();
        if (shown > best) {
            best = shown;
            area = available;
        }
    }
    // Less than a title bar's worth on any screen: not where the user can reach it.
    if (best < 100 * 30) return {};
    QRect placed = kept;
    placed.setWidth(std::min(kept.width(), area.width()));
    placed.setHeight(std::min(kept.height(), area.height()));
    placed.moveLeft(std::clamp(placed.left(), area.left(), area.right() + 1 - placed.width()));
    placed.moveTop(std::clamp(placed.top(), area.top(), area.bottom() + 1 - placed.height()));
    return placed;
}

StudyPlace CMainFrame::studyPlace() const {
    if (!m_doc) return {};
    return {m_doc->dataFolder(), &m_doc->preference().store(), m_doc->menuSettings()[MenuSettings::kType],
            m_session};
}

std::array<std::int32_t, 4> CMainFrame::frameRect() const {
    const QRect r = normalGeometry().isValid() ? normalGeometry() : geometry();
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

QAction* CMainFrame::action(int commandId) const {
    auto it = m_actions.find(commandId);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::updateCommandEnabling() {
    for (auto& [id, a] : m_actions) a->setEnabled(m_controller && m_controller->commandEnabled(id));
    // Menu commands that do not depend on the unit stay usable before start-up ends.
    for (int id : {kCmdExit, kCmdAbout}) m_actions[id]->setEnabled(true);
}

void CMainFrame::postCommand(int commandId) {
    QMetaObject::invokeMethod(
        this,
        [this, commandId] {
            if (QAction* a = action(commandId)) a->trigger();  // does nothing while disabled
        },
        Qt::QueuedConnection);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && m_review) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_PageUp:
                stepRecording(-1);
                return true;
            case Qt::Key_PageDown:
                stepRecording(+1);
                return true;
            case Qt::Key_Escape:
                endReview();
                return true;
            default:
                break;
        }
    }
    if (event->type() == QEvent::KeyPress) {
        const auto& key = *static_cast<QKeyEvent*>(event);
        if (const PaneKey pane = paneKey(programKey(key)); pane.command != 0) {
            if (!key.isAutoRepeat() || pane.repeats) postCommand(pane.command);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    setMinimumWidth(std::max(400, statusBar()->minimumSizeHint().width()));
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    layOutPanes();
}

void CMainFrame::layOutPanes() {
    const QSize client = m_client->size();
    const int mainWidth = std::max(0, client.width() - kLeftPaneWidth);
    const QRect mainArea(kLeftPaneWidth, 0, mainWidth, client.height());
    m_wave->setGeometry(mainArea);
    m_result->setGeometry(mainArea);
    m_information->setGeometry(0, 0, kLeftPaneWidth, std::min(kInformationHeight, client.height()));
    m_history->setGeometry(0, kInformationHeight, kLeftPaneWidth,
                           std::max(0, client.height() - kInformationHeight));
}

// The result pane shows while a recording is under review, whatever layout the program chose.
bool CMainFrame::graphShown() const { return m_review || m_layoutMode == kLayoutGraph; }

QWidget* CMainFrame::activePane() const { return graphShown() ? static_cast<QWidget*>(m_result) : m_wave; }

void CMainFrame::closeEvent(QCloseEvent* event) {
    // The window goes through the program's normal shut-down: the loop ends,
    // then the shell's destruction sequence runs with this window's rectangle.
    event->ignore();
    m_loop.quit(0);
}

// ---------------------------------------------------------------------------
// Status bar and title

void CMainFrame::setGeneralPane(const std::string& text) {
    m_liveGeneralText = text;
    if (!m_review) m_statusPanes[kGeneral]->showText(QString::fromStdString(text));
}
void CMainFrame::setAnimalPane(const std::string& text) {
    m_statusPanes[kAnimal]->showText(QString::fromStdString(text));
}
void CMainFrame::setVersionPane(const std::string& text) {
    m_statusPanes[kVersion]->showText(QString::fromStdString(text));
}
void CMainFrame::setErrorPane(const std::string& text) {
    m_statusPanes[kError]->showText(QString::fromStdString(text));
}

void CMainFrame::setStatePane(const std::string& text) {
    m_statusPanes[kState]->showText(QString::fromStdString(text));
}

void CMainFrame::setTitle(const std::string& text) { setWindowTitle(QString::fromStdString(text)); }

void CMainFrame::unitStateChanged(UnitState state) {
    // The information pane's layout follows the unit state.
    m_information->repaintLayout(state);
}

// ---------------------------------------------------------------------------
// Layout and panes

void CMainFrame::setLayout(WindowLayout layout) {
    m_layoutMode = layout;
    showLayout();
}

void CMainFrame::showLayout() {
    const bool graph = graphShown();
    m_result->setVisible(graph);
    m_wave->setVisible(!graph);
    m_information->show();
    m_history->show();
    layOutPanes();
    activePane()->setFocus();
}

void CMainFrame::focusMainWindow() {
    if (isActiveWindow()) {
        activePane()->setFocus();
    } else {
        QApplication::alert(this);
    }
}

// ---------------------------------------------------------------------------
// Reviewing saved recordings

void CMainFrame::chooseRecording() {
    // Beside the file under review, else in the data folder.
    std::string start = m_doc->dataFolder();
    if (m_review) start = m_review->path();
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Open Recording"), QString::fromStdString(start),
                                     QStringLiteral("Data files (B*.*);;All files (*)"));
    if (path.isEmpty()) return;
    const std::string error = openRecording(path.toStdString());
    if (!error.empty())
        QMessageBox::warning(this, QStringLiteral("Open Recording"),
                             QStringLiteral("%1 is not a data file this program can show:\n%2")
                                 .arg(QFileInfo(path).fileName(), QString::fromStdString(error)));
}

std::string CMainFrame::openRecording(const std::string& path) {
    auto opened = CRecordingReview::open(path);
    if (auto* error = std::get_if<std::string>(&opened)) return error->empty() ? "unreadable" : *error;
    showReview(std::move(std::get<std::unique_ptr<CRecordingReview>>(opened)));
    return {};
}

bool CMainFrame::stepRecording(int step) {
    if (!m_review) return false;
    if (!m_reviewFolder) m_reviewFolder = std::make_unique<CRecordingFolder>();
    auto next = m_reviewFolder->step(m_review->path(), step);
    if (!next) return false;
    showReview(std::move(next));
    return true;
}

void CMainFrame::showReview(std::unique_ptr<CRecordingReview> review) {
    // The panes let go of the old review before it is destroyed.
    const RecordingView saved = review->view();
    m_result->showSaved(&saved);
    m_information->showSaved(&saved);
    m_review = std::move(review);
    showReviewStatus();
    m_reviewVerdict->setEnabled(true);
    showLayout();
}

namespace {

std::string folderOf(const std::string& path) {
    return std::filesystem::path(path).parent_path().string() + "/";
}

StudyRules rulesOf(const StudyPlace& place) {
    StudyRules rules = place.store ? loadStudyRules(*place.store) : StudyRules{};
    if (place.unitType >= 0) applyUnitType(rules, place.unitType);
    return rules;
}

}  // namespace

CRecordingVerdicts& CMainFrame::reviewVerdicts() {
    const std::string folder = folderOf(m_review->path());
    if (!m_reviewVerdicts || m_reviewVerdicts->folder() != folder)
        m_reviewVerdicts = std::make_unique<CRecordingVerdicts>(folder);
    return *m_reviewVerdicts;
}

// "Review: FILE (verdict)", the verdict as the cycle's sitting gives it.
void CMainFrame::showReviewStatus() {
    std::string reason;
    const auto verdict = reviewVerdicts().verdict(m_review->fileName(), rulesOf(studyPlace()), reason);
    QString text = QStringLiteral("Review: %1").arg(QString::fromStdString(m_review->fileName()));
    if (verdict) text += QStringLiteral(" (%1)").arg(QString::fromStdString(verdict->verdict.text));
    m_statusPanes[kGeneral]->showText(text);
}

std::string CMainFrame::changeReviewVerdict(const std::string& reason) {
    if (!m_review) return "no recording is under review";
    const std::string error =
        reviewVerdicts().changeVerdict(m_review->fileName(), rulesOf(studyPlace()), reason);
    showReviewStatus();
    return error;
}

void CMainFrame::askReviewVerdict() {
    if (!m_review) return;
    std::string problem;
    const auto now = reviewVerdicts().verdict(m_review->fileName(), rulesOf(studyPlace()), problem);
    if (!now) {
        QMessageBox::warning(
            this, QStringLiteral("Change Verdict"),
            QStringLiteral("%1 has no verdict to change: %2")
                .arg(QString::fromStdString(m_review->fileName()), QString::fromStdString(problem)));
        return;
    }
    const bool accepted = now->verdict.status == CycleStatus::Accepted;
    QStringList reasons;
    for (const auto& r : reviewReasons()) reasons << QString::fromStdString(r);
    if (!accepted) reasons.prepend(QStringLiteral("reading is sound"));
    bool ok = false;
    const QString reason = QInputDialog::getItem(
        this, QStringLiteral("Change Verdict"),
        QStringLiteral("%1 is %2.\n%3 it by hand. Reason:")
            .arg(QString::fromStdString(m_review->fileName()), QString::fromStdString(now->verdict.text),
                 accepted ? QStringLiteral("Reject") : QStringLiteral("Accept")),
        reasons, 0, true, &ok);
    if (!ok) return;
    const std::string error = changeReviewVerdict(reason.trimmed().toStdString());
    if (!error.empty())
        QMessageBox::warning(
            this, QStringLiteral("Change Verdict"),
            QStringLiteral("The change could not be kept: %1").arg(QString::fromStdString(error)));
}

void CMainFrame::endReview() {
    if (!m_review) return;
    m_result->showSaved(nullptr);
    m_information->showSaved(nullptr);
    m_review.reset();
    m_reviewFolder.reset();
    m_reviewVerdicts.reset();
    m_reviewVerdict->setEnabled(false);
    m_statusPanes[kGeneral]->showText(QString::fromStdString(m_liveGeneralText));
    showLayout();
}

}  // namespace hx

#include "gui/channels/CChannelsWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "control/MainController.h"
#include "data/Halnor55KUDoc.h"
#include "gui/CMainFrame.h"
#include "gui/channels/CChannelTile.h"
#include "gui/views/CWaveView.h"
#include "session/ResultsLog.h"

// Resources of a static library are registered by hand (outside any namespace).
static void initResources() { Q_INIT_RESOURCE(halnor40ku); }

namespace hx {

namespace {

enum Column { kDevice, kAnimal, kNumber, kHr, kSbp, kMbp, kDbp, kError, kFile, kColumns };
const char* const kColumnTitles[kColumns] = {"Device ID", "Animal", "N",     "HR",  "SBP",
                                             "MBP",       "DBP",    "Error", "File"};
constexpr int kTileHeight = 128;

}  // namespace

// A channel's UI port: its frame's port, with the tile (and the window's
// table and Start all) told of what they show.
class CChannelsWindow::Port final : public IUiPort, public IStatusBar {
  public:
    Port(CChannelsWindow& window, CMainFrame& frame, CChannelTile& tile, CChannel& channel)
        : m_window(window),
          m_frame(frame.uiPort()),
          m_tile(tile),
          m_channel(channel),
          m_wave(m_frame.wavePane(), tile),
          m_information(m_frame.informationPane(), tile) {}

    IStatusBar& statusBar() override { return *this; }
    IWavePane& wavePane() override { return m_wave; }
    IInformationPane& informationPane() override { return m_information; }
    IHistoryPane& historyPane() override { return m_frame.historyPane(); }
    IResultPane& resultPane() override { return m_frame.resultPane(); }
    IDialogs& dialogs() override { return m_frame.dialogs(); }

    void setLayout(WindowLayout layout) override { m_frame.setLayout(layout); }
    void focusMainWindow() override {
        // A result of a channel not shown never takes the keys from the one shown.
        if (m_window.m_selected == m_channel.deviceId()) m_frame.focusMainWindow();
    }
    void unitStateChanged(UnitState state) override { m_frame.unitStateChanged(state); }
    void resultsSession(CResultsSession& session) override { m_frame.resultsSession(session); }
    void showSessionStatistics(CResultsSession& session) override { m_frame.showSessionStatistics(session); }
    void commandsChanged() override {
        m_frame.commandsChanged();
        m_tile.setConnected(m_channel.controller().connected());
        m_window.updateStartAll();
    }
    void resultHandled(const HistoryRow& row, int code, bool show, const std::string& path) override {
        m_frame.resultHandled(row, code, show, path);
        m_tile.setResult(row, code, show);
        m_window.takeNewLogRows(m_channel);
    }
    void linkProblem(int deviceId, LinkError cause) override {
        m_frame.linkProblem(deviceId, cause);
        m_tile.setLinkProblem(cause);
    }

    void setGeneralPane(const std::string& t) override {
        m_frame.statusBar().setGeneralPane(t);
        m_tile.setGeneral(t);
    }
    void setAnimalPane(const std::string& t) override {
        m_frame.statusBar().setAnimalPane(t);
        m_tile.setAnimal(t);
    }
    void setStatePane(const std::string& t) override {
        m_frame.statusBar().setStatePane(t);
        m_tile.setState(t);
        // Readiness follows the set-up's end too, which tells no change of
        // commands; the state pane is told twice a second.
        m_window.updateStartAll();
    }
    void setVersionPane(const std::string& t) override { m_frame.statusBar().setVersionPane(t); }
    void setErrorPane(const std::string& t) override {
        m_frame.statusBar().setErrorPane(t);
        m_tile.setError(t);
    }
    void setTitle(const std::string& t) override {
        m_frame.statusBar().setTitle(t);
        m_tile.setConnected(m_channel.controller().connected());
    }

  private:
    // The frame's sweep and the tile's.
    class Wave final : public IWavePane {
      public:
        Wave(IWavePane& frame, CChannelTile& tile)
            : m_frame(frame), m_tileWidget(tile), m_tile(tile.wave()) {}
        void drawBatch() override {
            m_frame.drawBatch();
            m_tileWidget.liveBatch();
            m_tile.drawBatch();
        }
        void resetSweep() override {
            m_frame.resetSweep();
            m_tile.resetSweep();
        }
        void newPens() override {
            m_frame.newPens();
            m_tile.newPens();
        }
        void toggleSweepSpeed() override {
            m_frame.toggleSweepSpeed();
            m_tile.toggleSweepSpeed();
        }
        void repaint() override {
            m_frame.repaint();
            m_tile.repaintFromSlots();
        }

      private:
        IWavePane& m_frame;
        CChannelTile& m_tileWidget;
        CWaveView& m_tile;
    };
    // The frame's information pane and the tile's values.
    class Information final : public IInformationPane {
      public:
        Information(IInformationPane& frame, CChannelTile& tile) : m_frame(frame), m_tile(tile) {}
        void liveHeartRate(int hr, UnitState state) override {
            m_frame.liveHeartRate(hr, state);
            m_tile.setLiveHeartRate(hr);
        }
        void sensorLevel(int level) override {
            m_frame.sensorLevel(level);
            m_tile.setSensorLevel(level);
        }
        void pressure(int value) override {
            m_frame.pressure(value);
            m_tile.setPressure(value);
        }
        void drawResult() override { m_frame.drawResult(); }
        void repaint() override { m_frame.repaint(); }
        void setUnitState(int state) override { m_frame.setUnitState(state); }

      private:
        IInformationPane& m_frame;
        CChannelTile& m_tile;
    };

    CChannelsWindow& m_window;
    IUiPort& m_frame;
    CChannelTile& m_tile;
    CChannel& m_channel;
    Wave m_wave;
    Information m_information;
};

CChannelsWindow::CChannelsWindow(IEventLoop& loop, QWidget* parent) : QMainWindow(parent), m_loop(loop) {
    initResources();
    setWindowTitle(QStringLiteral("Halnor40KU - all units"));
    auto* toolbar = new QToolBar(QStringLiteral("All units"), this);
    toolbar->setObjectName(QStringLiteral("allUnits"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setIconSize(QSize(20, 20));
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    addToolBar(Qt::TopToolBarArea, toolbar);
    m_startAll = toolbar->addAction(QIcon(QStringLiteral(":/icons/start.svg")), QStringLiteral("Start all"));
    m_startAll->setToolTip(QStringLiteral("Start a measurement on every unit that is ready"));
    m_startAll->setEnabled(false);
    connect(m_startAll, &QAction::triggered, this, [this] { startAll(); });
    // A raised button, not a flat toolbar text: it is the window's one command of its own.
    if (auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(m_startAll)))
        button->setAutoRaise(false);

    m_file = new QMenu(QStringLiteral("File(&F)"), this);
    m_exit = new QAction(QStringLiteral("Exit(&X)"), this);
    connect(m_exit, &QAction::triggered, this, [this] { m_loop.quit(0); });
    showMenusOf(nullptr);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    m_searchProblem = new QLabel(central);
    m_searchProblem->setWordWrap(true);
    m_searchProblem->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold; padding: 6px;"));
    m_searchProblem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_searchProblem->hide();
    column->addWidget(m_searchProblem);
    m_tileArea = new QWidget(central);
    m_tileGrid = new QGridLayout(m_tileArea);
    m_tileGrid->setContentsMargins(0, 0, 0, 0);
    m_tileGrid->setSpacing(3);
    column->addWidget(m_tileArea);

    auto* split = new QSplitter(Qt::Horizontal, central);
    m_stack = new QStackedWidget(split);
    m_table = new QTableWidget(0, kColumns, split);
    QStringList titles;
    for (const char* title : kColumnTitles) titles << QString::fromLatin1(title);
    m_table->setHorizontalHeaderLabels(titles);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 4);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setFocusPolicy(Qt::NoFocus);  // the keys belong to the selected channel
    split->addWidget(m_stack);
    split->addWidget(m_table);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    column->addWidget(split, 1);
    setCentralWidget(central);
    resize(1280, 800);
}

CChannelsWindow::~CChannelsWindow() = default;

ChannelHooks CChannelsWindow::hooks() {
    ChannelHooks hooks;
    hooks.makeUi = [this](CChannel& channel) { return makeView(channel); };
    hooks.beforeEnumeration = [this](CChannel& channel) { attachView(channel); };
    hooks.searchProblem = [this](const std::string& text) { setSearchProblem(text); };
    return hooks;
}

std::unique_ptr<IUiPort> CChannelsWindow::makeView(CChannel& channel) {
    View& view = m_views[channel.deviceId()];
    view.channel = &channel;
    // The channel's whole main window, shown inside this one.
    view.frame = new CMainFrame(channel.loop(), m_stack);
    view.frame->setWindowFlags(Qt::Widget);
    // Its menus are shown in this window's menu bar while it is selected.
    view.frame->menuBar()->hide();
    m_stack->addWidget(view.frame);
    view.tile = new CChannelTile(channel.deviceId(), m_tileArea);
    // Units that connect together each ask their Animal ID question at once,
    // answered in any order; each unit goes on with its own answer.
    CChannelTile* tile = view.tile;
    view.frame->windowDialogs().setAnimalQuestionWithoutWaiting(true, [tile](const QSize& size) {
        // Under the unit's own tile, kept on the tile's screen.
        const QRect area = tile->screen()->availableGeometry();
        const QPoint below =
            tile->mapToGlobal(QPoint(tile->width() / 2 - size.width() / 2, tile->height() + 8));
        return QPoint(std::clamp(below.x(), area.left(), std::max(area.left(), area.right() - size.width())),
                      std::clamp(below.y(), area.top(), std::max(area.top(), area.bottom() - size.height())));
    });
    connect(view.tile, &CChannelTile::clicked, this, [this](int id) { select(id); });
    layOutTiles();
    return std::make_unique<Port>(*this, *view.frame, *view.tile, channel);
}

void CChannelsWindow::attachView(CChannel& channel) {
    View& view = m_views.at(channel.deviceId());
    view.frame->attach(channel.document(), channel.controller());
    view.frame->setGeometry(m_stack->contentsRect());  // not the one-unit window's kept place
    view.tile->attach(channel.document());
    // Only the rows that arrive from now on are listed.
    std::string reason;
    const std::string path = resultsLogPath(channel.document().dataFolder());
    if (!m_logReadTo.count(path)) {
        auto log = readResultsLogSince(path, 0, reason);
        m_logReadTo[path] = log ? log->offset : 0;
    }
    if (m_selected < 0) select(channel.deviceId());
}

bool CChannelsWindow::select(int deviceId) {
    auto it = m_views.find(deviceId);
    if (it == m_views.end()) return false;
    m_selected = deviceId;
    for (auto& [id, view] : m_views) view.tile->setSelected(id == deviceId);
    m_stack->setCurrentWidget(it->second.frame);
    showMenusOf(it->second.frame);
    it->second.frame->focusMainWindow();
    return true;
}

void CChannelsWindow::showMenusOf(CMainFrame* frame) {
    // Only this window's own actions are owned by it; clearing deletes none of the frame's.
    menuBar()->clear();
    m_file->clear();
    m_file->addAction(m_startAll);
    m_file->addSeparator();
    if (frame) {
        // The channel's Exit would end only that channel: this window's Exit ends the run.
        for (QAction* a : frame->fileMenu()->actions())
            if (a != frame->action(kCmdExit)) m_file->addAction(a);
        m_file->addSeparator();
    }
    m_file->addAction(m_exit);
    menuBar()->addMenu(m_file);
    if (!frame) return;
    for (QAction* menu : frame->menuBar()->actions())
        if (menu->menu() && menu->menu() != frame->fileMenu()) menuBar()->addAction(menu);
}

void CChannelsWindow::setSearchProblem(const std::string& text) {
    m_searchProblem->setText(QString::fromStdString(text));
    m_searchProblem->setVisible(!text.empty());
}

QString CChannelsWindow::searchProblem() const {
    return m_searchProblem->isHidden() ? QString() : m_searchProblem->text();
}

int CChannelsWindow::startAll() {
    int started = 0;
    for (auto& [id, view] : m_views) {
        CMainController& controller = view.channel->controller();
        if (!controller.readyForMeasurement()) continue;
        controller.command(kCmdStart);
        ++started;
    }
    return started;
}

void CChannelsWindow::updateStartAll() {
    bool any = false;
    for (auto& [id, view] : m_views) any = any || view.channel->controller().readyForMeasurement();
    m_startAll->setEnabled(any);
}

CMainFrame* CChannelsWindow::frame(int deviceId) {
    auto it = m_views.find(deviceId);
    return it == m_views.end() ? nullptr : it->second.frame;
}

CChannelTile* CChannelsWindow::tile(int deviceId) {
    auto it = m_views.find(deviceId);
    return it == m_views.end() ? nullptr : it->second.tile;
}

void CChannelsWindow::takeNewLogRows(CChannel& channel) {
    std::string reason;
    const std::string path = resultsLogPath(channel.document().dataFolder());
    // Only what was appended since the last look is read, so a long study's log costs its new rows.
    std::uint64_t& readTo = m_logReadTo[path];
    auto log = readResultsLogSince(path, readTo, reason);
    if (!log) return;
    readTo = log->offset;
    for (const ResultsLogRow& row : log->rows) {
        // Rows of units this window does not serve (another copy writing here) are left out.
        if (!m_views.count(row.deviceId - 1)) continue;
        const int r = m_table->rowCount();
        m_table->insertRow(r);
        const QString cells[kColumns] = {
            QString::number(row.deviceId),       QString::fromStdString(row.animalNo),
            QString::fromStdString(row.n),       QString::fromStdString(row.hr),
            QString::fromStdString(row.sbp),     QString::fromStdString(row.mbp),
            QString::fromStdString(row.dbp),     QString::fromStdString(row.errorText),
            QString::fromStdString(row.dataFile)};
        for (int c = 0; c < kColumns; ++c) m_table->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    m_table->scrollToBottom();
}

void CChannelsWindow::layOutTiles() {
    const int n = static_cast<int>(m_views.size());
    // Up to eight channels in rows of four; more in rows of eight.
    const int columns = n <= 4 ? std::max(1, n) : n <= 8 ? 4 : 8;
    for (int c = 0; c < 8; ++c) m_tileGrid->setColumnStretch(c, c < columns ? 1 : 0);
    int i = 0;
    for (auto& [id, view] : m_views) {
        m_tileGrid->removeWidget(view.tile);
        m_tileGrid->addWidget(view.tile, i / columns, i % columns);
        view.tile->setFixedHeight(kTileHeight);
        view.tile->show();
        ++i;
    }
}

void CChannelsWindow::closeEvent(QCloseEvent* event) {
    // The normal shut-down: the loop ends, then the channels are shut down.
    event->ignore();
    m_loop.quit(0);
}

}  // namespace hx

#pragma once
// CChannelsWindow: the window of several units at once. A tile per channel
// across the top (CChannelTile); below them the selected channel's whole main
// window (a CMainFrame of its own per channel, shown inside this window: the
// four panes, its toolbar and status bar, so keys and the toolbar act on that
// channel only) beside one table of every channel's results, taken from the
// results log as the rows arrive. "Start all" starts every channel that is
// ready for a measurement.
//
// One menu bar, this window's: its File menu holds Start all and Exit with the
// selected channel's File commands between them, and the selected channel's
// other menus follow. They are that channel's own menus and actions (the
// channel frames' menu bars are hidden), so a command acts on the selected
// channel only and is enabled as that channel's commands are; a new selection
// puts its channel's menus in their place.
//
// The window takes part in the channels' lives through hooks() (and shows the
// set's search problem above the tiles): a channel's UI
// port is its frame's port with the tile and the table told as well. A dialog
// of a channel (its caption names the device ID) waits for the user's answer,
// but the loop keeps serving every channel while it is open: the others go on
// streaming and measuring.
//
// UI thread only. The window must outlive the channel set's shut-down.

#include <QMainWindow>
#include <map>
#include <memory>
#include <string>

#include "control/ChannelSet.h"

class QAction;
class QGridLayout;
class QLabel;
class QMenu;
class QStackedWidget;
class QTableWidget;

namespace hx {

class CChannelTile;
class CMainFrame;

class CChannelsWindow final : public QMainWindow {
    Q_OBJECT
  public:
    explicit CChannelsWindow(IEventLoop& loop, QWidget* parent = nullptr);
    ~CChannelsWindow() override;

    // What the channel set calls for each channel (makeUi, beforeEnumeration).
    ChannelHooks hooks();

    // Shows this channel's panes and gives them the keys; false when there is none.
    bool select(int deviceId);
    int selected() const { return m_selected; }
    // Starts every channel that is ready for a measurement; how many were started.
    int startAll();

    std::size_t channelCount() const { return m_views.size(); }
    CMainFrame* frame(int deviceId);
    CChannelTile* tile(int deviceId);
    QAction* startAllAction() const { return m_startAll; }
    // What keeps units from being found at all (no vendor ID set), shown in red
    // above the tiles; "" hides it.
    void setSearchProblem(const std::string& text);
    QString searchProblem() const;
    QTableWidget& resultsTable() const { return *m_table; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    class Port;
    struct View {
        CChannel* channel = nullptr;
        CMainFrame* frame = nullptr;
        CChannelTile* tile = nullptr;
    };
    std::unique_ptr<IUiPort> makeView(CChannel& channel);
    void attachView(CChannel& channel);
    void layOutTiles();
    void updateStartAll();
    // The menu bar with the window's commands and those of frame (none: null).
    void showMenusOf(CMainFrame* frame);
    // Rows the results log of the channel's data folder gained since last read.
    void takeNewLogRows(CChannel& channel);

    IEventLoop& m_loop;
    QWidget* m_tileArea;
    QGridLayout* m_tileGrid;
    QStackedWidget* m_stack;
    QTableWidget* m_table;
    QAction* m_startAll;
    QAction* m_exit;
    QMenu* m_file;
    QLabel* m_searchProblem;
    std::map<int, View> m_views;  // by device ID
    int m_selected = -1;
    std::map<std::string, std::uint64_t> m_logReadTo;  // per results log path: the byte read up to
};

}  // namespace hx

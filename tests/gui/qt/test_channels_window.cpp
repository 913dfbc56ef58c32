// The window of several units: four simulated units in virtual time.

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTableWidget>
#include <QTest>
#include <algorithm>

#include "GuiTestSupport.h"
#include "app/VirtualClock.h"
#include "control/ChannelSet.h"
#include "control/DisplayTexts.h"
#include "control/MainController.h"
#include "control/VirtualEventLoop.h"
#include "gui/CMainFrame.h"
#include "gui/CSessionWindow.h"
#include "gui/channels/CChannelTile.h"
#include "gui/channels/CChannelsWindow.h"
#include "gui/dialogs/CAnimalIdDialog.h"
#include "gui/dialogs/CMenuDialog.h"
#include "gui/views/CHistoryView.h"
#include "gui/views/CWaveView.h"
#include "sim/SimDriver.h"
#include "support/SimulatedPorts.h"

namespace hx::test {
namespace {

class ChannelsWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int id : {0, 1, 2, 3}) {
            SimUnitOptions options;
            options.adjustMs = 20000;  // still adjusting when connected: no Animal ID question
            sim.addUnit(id, options);
        }
        profile.writeText("HalnorEWU_1", "dataFolder", dir.folder() + "data/");
        ports = test::simulatedPorts(loop, profile, sim, clock, dir.folder());
        set = std::make_unique<CChannelSet>(ports, window.hooks());
        set->startUp();
        window.show();
        ASSERT_TRUE(loop.runUntil(
            [this] { return set->size() == 4 && ready(0) && ready(1) && ready(2) && ready(3); }, 60000));
    }
    void TearDown() override { set->shutDown(); }

    CMainController& controller(int id) { return set->find(id)->controller(); }
    bool ready(int id) {
        CChannel* c = set->find(id);
        return c && c->controller().readyForMeasurement();
    }
    void run(std::int64_t ms) {
        QApplication::processEvents();
        loop.runFor(ms);
        QApplication::processEvents();
    }

    // The command of the window's menu bar with this menu title and text, or null.
    QAction* menuCommand(const QString& title, const QString& text) {
        for (QAction* menu : window.menuBar()->actions())
            if (menu->text() == title && menu->menu())
                for (QAction* a : menu->menu()->actions())
                    if (a->text() == text) return a;
        return nullptr;
    }

    const bool applicationReady = (ensureApplication(), true);
    TempDir dir;
    CVirtualClock clock;
    CSimDriver sim{clock};
    CVirtualEventLoop loop{clock};
    CMemoryProfileStore profile;
    ChannelSetPorts ports;
    CChannelsWindow window{loop};
    std::unique_ptr<CChannelSet> set;
};

TEST_F(ChannelsWindowTest, KeysAndToolbarActOnTheSelectedChannelStartAllOnEveryReadyOne) {
    ASSERT_TRUE(window.select(2));
    EXPECT_TRUE(window.tile(2)->selected());
    EXPECT_FALSE(window.tile(0)->selected());
    // Only the selected channel's panes and toolbar are shown.
    EXPECT_TRUE(window.frame(2)->isVisible());
    EXPECT_FALSE(window.frame(0)->isVisible());
    EXPECT_TRUE(window.frame(2)->action(kCmdStart)->isEnabled());

    QTest::keyClick(&window.frame(2)->wavePane(), Qt::Key_Return);
    run(3000);
    EXPECT_EQ(controller(2).unitState(), kStatePress);
    for (int id : {0, 1, 3}) EXPECT_EQ(controller(id).unitState(), kStateView) << id;

    // A click on a tile selects its channel.
    QTest::mouseClick(window.tile(1), Qt::LeftButton);
    EXPECT_EQ(window.selected(), 1);
    EXPECT_TRUE(window.frame(1)->isVisible());
    window.frame(1)->action(kCmdStart)->trigger();
    run(2000);
    EXPECT_EQ(controller(1).unitState(), kStatePress);
    EXPECT_EQ(controller(0).unitState(), kStateView);

    ASSERT_TRUE(window.startAllAction()->isEnabled());
    EXPECT_EQ(window.startAll(), 2);  // 0 and 3; 1 and 2 are measuring already
    run(2000);
    for (int id : {0, 3}) EXPECT_EQ(controller(id).unitState(), kStatePress) << id;
    EXPECT_TRUE(window.tile(0)->headerText().contains(QStringLiteral("Unit 1")));
}

TEST_F(ChannelsWindowTest, AnimalQuestionsOfUnitsConnectingTogetherStayOpenSideBySide) {
    for (int id : {4, 5}) {
        SimUnitOptions options;
        options.adjustMs = 1000;  // past adjusting when connected: each asks its question
        sim.addUnit(id, options);
    }
    auto question = [this](int id) -> CAnimalIdDialog* {
        CMainFrame* frame = window.frame(id);
        return frame && frame->windowDialogs().animalDialog().isShowing()
                   ? &frame->windowDialogs().animalDialog()
                   : nullptr;
    };
    ASSERT_TRUE(loop.runUntil(
        [&] {
            QApplication::processEvents();
            return question(4) && question(5);
        },
        60000));
    // Neither holds the window or the other: not modal, each under its own tile.
    EXPECT_FALSE(question(4)->isModal());
    EXPECT_TRUE(question(5)->isVisible());
    EXPECT_NE(question(4)->pos(), question(5)->pos());

    // The earlier question answered: that unit goes on, the later one still asks.
    question(4)->field(AnimalField::kAnimalNo)->setText(QStringLiteral("44"));
    question(4)->accept();
    ASSERT_TRUE(loop.runUntil([&] { return ready(4); }, 30000));
    EXPECT_TRUE(window.tile(4)->headerText().contains(QStringLiteral("Animal No:44")));
    ASSERT_NE(question(5), nullptr);
    EXPECT_FALSE(ready(5));
    question(5)->reject();
    EXPECT_TRUE(loop.runUntil([&] { return ready(5); }, 30000));
}

TEST_F(ChannelsWindowTest, AChannelsDialogDoesNotStopTheOthers) {
    for (int id : {1, 2, 3}) controller(id).command(kCmdStart);
    int resultsDuringDialog = 0;
    ModalAnswerer<CMenuDialog> answer{[&](CMenuDialog& dialog) {
        // While channel 1's Menu dialog is open the other three measure to their results.
        const int before = window.resultsTable().rowCount();
        loop.runUntil([&] { return window.resultsTable().rowCount() >= before + 3; }, 120000);
        resultsDuringDialog = window.resultsTable().rowCount() - before;
        dialog.reject();
    }};
    window.select(0);
    window.frame(0)->action(kCmdMenu)->trigger();
    EXPECT_EQ(resultsDuringDialog, 3);
    // The combined table lists each of them with its device ID.
    QStringList devices;
    for (int r = 0; r < window.resultsTable().rowCount(); ++r)
        devices << window.resultsTable().item(r, 0)->text();
    devices.sort();
    EXPECT_EQ(devices, (QStringList{"2", "3", "4"}));
    for (int id : {1, 2, 3}) EXPECT_EQ(window.frame(id)->resultsHandled(), 1) << id;
    EXPECT_FALSE(window.tile(1)->resultText().isEmpty());
    EXPECT_TRUE(window.tile(1)->showsResultTrace());  // the recording where the sweep was

    // The selected channel's history shows its row's every column, the time too, none scrolled away.
    window.select(1);
    QApplication::processEvents();
    CHistoryView& history = window.frame(1)->historyPane();
    ASSERT_EQ(history.rows().rowCount(), 1);
    int widths = 0;
    for (int c = 0; c < CHistoryModel::kColumns; ++c) widths += history.columnWidth(c);
    EXPECT_GT(history.columnWidth(CHistoryModel::kColumns - 1), 0);
    EXPECT_LE(widths, history.viewport()->width());
}

TEST_F(ChannelsWindowTest, OneMenuBarWhoseUnitMenusActOnTheSelectedChannel) {
    for (int id : {0, 1, 2, 3}) EXPECT_FALSE(window.frame(id)->menuBar()->isVisible()) << id;
    window.select(0);
    window.select(2);

    // Each title once, and no two menus (or two commands of a menu) share a mnemonic.
    auto mnemonicsUnique = [](const QList<QAction*>& actions) {
        QStringList keys;
        for (QAction* a : actions)
            if (const QKeySequence key = QKeySequence::mnemonic(a->text()); !key.isEmpty())
                keys << key.toString();
        return keys.removeDuplicates() == 0;
    };
    QStringList titles;
    for (QAction* menu : window.menuBar()->actions()) {
        titles << menu->text();
        if (menu->menu()) {
            EXPECT_TRUE(mnemonicsUnique(menu->menu()->actions())) << menu->text().toStdString();
        }
    }
    EXPECT_EQ(titles, (QStringList{"File(&F)", "View(&V)", "Study", "Setting(&S)", "HELP(&H)"}));
    EXPECT_TRUE(mnemonicsUnique(window.menuBar()->actions()));
    ASSERT_NE(menuCommand("File(&F)", "Start all"), nullptr);
    ASSERT_NE(menuCommand("File(&F)", "Open Recording..."), nullptr);
    const QList<QAction*> file = window.menuBar()->actions().front()->menu()->actions();
    EXPECT_EQ(std::count_if(file.begin(), file.end(), [](QAction* a) { return a->text() == "Exit(&X)"; }), 1);

    // The menus are the selected channel's: a command reaches it and no other.
    QAction* statistics = menuCommand("View(&V)", "Session statistics");
    ASSERT_NE(statistics, nullptr);
    statistics->trigger();
    ASSERT_NE(window.frame(2)->sessionWindow(), nullptr);
    window.frame(2)->sessionWindow()->close();
    for (int id : {0, 1, 3}) EXPECT_EQ(window.frame(id)->sessionWindow(), nullptr) << id;
}

TEST(ChannelsWindowSearch, WithoutAVendorIdTheWindowSaysWhatToSet) {
    ensureApplication();
    TempDir dir;
    CVirtualClock clock;
    CSimDriver sim{clock};
    sim.refuseNotices(LinkError::NotConfigured);
    CVirtualEventLoop loop{clock};
    CMemoryProfileStore profile;
    CChannelsWindow window{loop};
    CChannelSet set(test::simulatedPorts(loop, profile, sim, clock, dir.folder()), window.hooks());
    set.startUp();
    EXPECT_EQ(set.size(), 0u);
    EXPECT_EQ(window.searchProblem().toStdString(), linkProblemText(0, LinkError::NotConfigured));
    set.shutDown();
}

}  // namespace
}  // namespace hx::test

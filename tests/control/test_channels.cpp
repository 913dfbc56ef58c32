// Several units at once: a channel per unit on one loop, one driver, one log.

#include <gtest/gtest.h>

#include <set>

#include "ControlRig.h"
#include "control/ChannelSet.h"
#include "control/ControlSocket.h"
#include "session/ResultsLog.h"

namespace hx::test {
namespace {

class ChannelRig {
  public:
    ChannelRig() : sim(clock), loop(clock, test::receiverReadsUnderTest()) {
        ports = test::simulatedPorts(loop, profile, sim, clock, dir.folder());
        hooks.makeUi = [this](CChannel& channel) {
            auto ui = std::make_unique<RecordingUi>(channel.loop());
            ui->askWithoutWaiting = asksWithoutWaiting;
            uis[channel.deviceId()] = ui.get();
            return ui;
        };
    }
    ~ChannelRig() {
        if (set) set->shutDown();
    }
    CSimUnit& addUnit(int id) {
        SimUnitOptions options;
        options.adjustMs = 1000;
        return sim.addUnit(id, options);
    }
    void start() {
        profile.writeText("HalnorEWU_1", "dataFolder", dir.folder() + "data/");
        set = std::make_unique<CChannelSet>(ports, hooks);
        set->startUp();
    }
    CChannel& channel(int id) { return *set->find(id); }
    RecordingUi& ui(int id) { return *uis.at(id); }
    bool ready(int id) {
        CChannel* c = set->find(id);
        return c && c->controller().setUpComplete() && c->controller().unitState() == kStateView;
    }
    // Starts measurements on the channels that are ready (and back to the
    // live view from a result) until each of ids has n results or ms passed.
    bool measure(const std::vector<int>& ids, std::size_t n, std::int64_t ms = 600000) {
        for (std::int64_t t = 0; t < ms; t += 250) {
            bool done = true;
            for (int id : ids) done = done && ui(id).results.size() >= n;
            if (done) return true;
            for (std::size_t i = 0; i < set->size(); ++i) {
                CMainController& c = set->at(i).controller();
                const int id = set->at(i).deviceId();
                if (c.readyForMeasurement() && ui(id).results.size() >= awaited[id]) {
                    c.command(kCmdStart);
                    awaited[id] = ui(id).results.size() + 1;
                } else if (!c.connected()) {
                    awaited[id] = ui(id).results.size();  // what was started is lost with the unit
                } else if (c.setUpComplete() && c.unitState() == kStateResult && c.commandEnabled(kCmdStart))
                    c.command(kCmdStart);
            }
            loop.runFor(250);
        }
        for (std::size_t i = 0; i < set->size(); ++i) {
            CMainController& c = set->at(i).controller();
            std::printf("dev %d connected %d setup %d state %d results %zu title %s anim %d\n",
                        set->at(i).deviceId(), c.connected(), c.setUpComplete(), c.unitState(),
                        ui(set->at(i).deviceId()).results.size(), ui(set->at(i).deviceId()).title().c_str(),
                        ui(set->at(i).deviceId()).animalDialogs);
        }
        return false;
    }

    bool asksWithoutWaiting = false;  // the window's Animal ID questions
    TempDir dir;
    CVirtualClock clock;
    CSimDriver sim;
    CVirtualEventLoop loop;
    CMemoryProfileStore profile;
    ChannelSetPorts ports;
    ChannelHooks hooks;
    std::map<int, RecordingUi*> uis;
    std::map<int, std::size_t> awaited;  // a Start waits for this many results
    std::unique_ptr<CChannelSet> set;
};

TEST(Channels, FourUnitsMeasureAtOnceEachOnItsOwnChannel) {
    LogCapture log;
    ChannelRig rig;
    for (int id : {0, 1, 2, 3}) rig.addUnit(id);
    rig.start();
    ASSERT_EQ(rig.set->size(), 4u);
    ASSERT_TRUE(rig.measure({0, 1, 2, 3}, 3));

    std::string reason;
    auto logged = readResultsLog(resultsLogPath(rig.dir.folder() + "data/"), reason);
    ASSERT_TRUE(logged) << reason;
    std::map<std::string, int> deviceOfFile;
    for (const ResultsLogRow& row : logged->rows)
        if (!row.dataFile.empty()) deviceOfFile[row.dataFile] = row.deviceId;
    std::set<std::string> files;
    std::size_t results = 0;
    for (int id : {0, 1, 2, 3}) {
        EXPECT_EQ(rig.ui(id).title(), "Halnor40KU (Connected)->" + std::to_string(id + 1));
        for (const ResultSeen& r : rig.ui(id).results) {
            ++results;
            if (r.path.empty()) continue;
            EXPECT_TRUE(files.insert(r.path).second) << r.path;
            const std::string name = r.path.substr(r.path.rfind('/') + 1);
            EXPECT_EQ(deviceOfFile[name], id + 1) << name;
        }
        // The channel's lines, its receiver thread's included, name it.
        const std::string tag = "dev=" + std::to_string(id + 1) + " ";
        const auto lines = log.lines();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.rfind(tag, 0) == 0 && l.find("OnUsb") == std::string::npos;
        }));
    }
    EXPECT_EQ(logged->rows.size(), results);  // one log row per result, one shared log
}

TEST(Channels, APulledUnitStaysInItsChannelAndComesBack) {
    ChannelRig rig;
    std::vector<CSimUnit*> units;
    for (int id : {0, 1, 2, 3}) units.push_back(&rig.addUnit(id));
    rig.start();
    ASSERT_TRUE(rig.measure({0, 1, 2, 3}, 1));

    rig.sim.unplug(*units[2]);
    const std::size_t before = rig.ui(0).results.size();
    ASSERT_TRUE(rig.measure({0, 1, 3}, before + 2));
    EXPECT_FALSE(rig.channel(2).controller().connected());
    EXPECT_EQ(rig.ui(2).title(), "Halnor40KU (Not Connected)->3");

    // A unit that fails its reads loses only its own connection.
    units[1]->injectReadError(false);
    rig.sim.replug(*units[2]);
    const std::size_t three = rig.ui(2).results.size();
    ASSERT_TRUE(rig.measure({0, 3}, rig.ui(0).results.size() + 2));
    ASSERT_TRUE(rig.measure({2}, three + 1));
    units[1]->clearFaults();
    ASSERT_TRUE(rig.measure({1}, rig.ui(1).results.size() + 1));
    EXPECT_EQ(rig.set->size(), 4u);
}

TEST(Channels, AUnitPluggedInLaterGetsAChannel) {
    ChannelRig rig;
    rig.addUnit(0);
    rig.start();
    ASSERT_TRUE(rig.measure({0}, 1));
    rig.addUnit(5);
    rig.sim.flushNotices();
    ASSERT_TRUE(rig.loop.runUntil([&] { return rig.set->find(5) && rig.ready(5); }, 30000));
    ASSERT_TRUE(rig.measure({5}, 1));
}

// Keeps the longest gap between the wave batches a channel draws, in the
// loop's (virtual) time.
class GapUi : public RecordingUi {
  public:
    explicit GapUi(IEventLoop& loop) : RecordingUi(loop), m_clock(loop.clock()) {}
    void drawBatch() override {
        RecordingUi::drawBatch();
        const std::int64_t now = m_clock.nowMs();
        if (last >= 0) longestGap = std::max(longestGap, now - last);
        last = now;
    }
    std::int64_t last = -1, longestGap = 0;

  private:
    IClock& m_clock;
};

TEST(Channels, AReconnectingUnitDoesNotHoldUpTheOthers) {
    ChannelRig rig;
    GapUi* steady = nullptr;
    rig.hooks.makeUi = [&](CChannel& channel) {
        auto ui = std::make_unique<GapUi>(channel.loop());
        if (channel.deviceId() == 0) steady = ui.get();
        rig.uis[channel.deviceId()] = ui.get();
        return ui;
    };
    rig.addUnit(0);
    CSimUnit& faulty = rig.addUnit(1);
    rig.start();
    ASSERT_TRUE(rig.loop.runUntil([&] { return rig.ready(0) && rig.ready(1); }, 30000));
    steady->longestGap = 0;

    // It fails its reads in the middle of a measurement, is reset, connects
    // again and is brought back to its live view, while the other one streams on.
    rig.channel(1).controller().command(kCmdStart);
    rig.loop.runFor(2000);
    faulty.injectReadError(false);
    rig.loop.runFor(3000);
    EXPECT_FALSE(rig.channel(1).controller().connected());
    faulty.clearFaults();
    ASSERT_TRUE(rig.loop.runUntil([&] { return rig.channel(1).controller().setUpComplete(); }, 30000));
    rig.loop.runFor(10000);
    // A wave packet every 100 ms: the steady channel is late by less than one.
    EXPECT_LT(steady->longestGap, 200);
    EXPECT_GT(steady->drawBatches, 50);
}

TEST(Channels, AnimalQuestionsAskedAtOnceAreAnsweredInAnyOrder) {
    ChannelRig rig;
    rig.asksWithoutWaiting = true;
    CSimUnit& first = rig.addUnit(0);
    rig.addUnit(1);
    rig.start();
    auto asked = [&](int id) { return rig.uis.count(id) && rig.ui(id).question != nullptr; };
    ASSERT_TRUE(rig.loop.runUntil([&] { return asked(0) && asked(1); }, 30000));

    // The later question answered first: that unit goes on while the other
    // still waits, its commands off until it is answered.
    rig.ui(1).answerQuestion("22");
    ASSERT_TRUE(rig.loop.runUntil([&] { return rig.ready(1); }, 30000));
    EXPECT_EQ(rig.ui(1).animalPane, "Animal No:22");
    EXPECT_FALSE(rig.ready(0));
    EXPECT_FALSE(rig.channel(0).controller().commandEnabled(kCmdStart));

    // Pulled while asking: the question ends unanswered, and is asked again
    // when the unit is back.
    rig.sim.unplug(first);
    ASSERT_TRUE(rig.loop.runUntil([&] { return !asked(0); }, 30000));
    rig.sim.replug(first);
    ASSERT_TRUE(rig.loop.runUntil([&] { return asked(0); }, 60000));
    rig.ui(0).answerQuestion("11");
    ASSERT_TRUE(rig.loop.runUntil([&] { return rig.ready(0); }, 30000));
    EXPECT_EQ(rig.ui(0).animalPane, "Animal No:11");
    EXPECT_TRUE(rig.ready(1));
}

TEST(Channels, AnimalSettingsAreKeptPerUnitProgramSettingsShared) {
    CMemoryProfileStore shared;
    shared.writeText("HalnorEWU_1", "ID_NO", "A1");
    CChannelProfile three(shared, 2), four(shared, 3);
    EXPECT_EQ(three.readText("HalnorEWU_1", "ID_NO", ""), "A1");  // from the one-unit settings
    three.writeText("HalnorEWU_1", "ID_NO", "R7");
    three.writeInt("HalnorEWU_1", "backColorNo", 4);
    EXPECT_EQ(three.readText("HalnorEWU_1", "ID_NO", ""), "R7");
    EXPECT_EQ(four.readText("HalnorEWU_1", "ID_NO", ""), "A1");
    EXPECT_EQ(shared.raw("HalnorEWU_1_unit3", "ID_NO"), "R7");
    EXPECT_EQ(four.readInt("HalnorEWU_1", "backColorNo", 0), 4);
    // Ending a channel does not take the one-unit window's place.
    shared.writeInt("HalnorEWU_1", "frameRight", 900);
    three.writeInt("HalnorEWU_1", "frameRight", 0);
    EXPECT_EQ(shared.readInt("HalnorEWU_1", "frameRight", 0), 900);
}

TEST(Channels, TheControlSocketListsAndAddressesEachChannel) {
    ChannelRig rig;
    for (int id : {0, 2}) rig.addUnit(id);
    rig.start();
    ASSERT_TRUE(rig.loop.runUntil([&] { return rig.ready(0) && rig.ready(2); }, 30000));
    const std::string folder = rig.dir.folder() + "run/";
    auto listed = CControlSocket::listInstances(folder);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].deviceId, 1);
    EXPECT_EQ(listed[0].property, 272);
    EXPECT_EQ(listed[1].deviceId, 3);
    EXPECT_EQ(listed[1].property, 274);

    EXPECT_EQ(CControlSocket::sendCommand(::getpid(), kCmdGraphLayout, folder, 3), "ok");
    EXPECT_EQ(CControlSocket::sendCommand(::getpid(), kCmdGraphLayout, folder, 2), "no such channel");
    EXPECT_NE(CControlSocket::sendCommand(::getpid(), kCmdGraphLayout, folder), "ok");
    rig.loop.runFor(100);
    EXPECT_EQ(rig.channel(2).controller().layoutMode(), kLayoutGraph);
    EXPECT_EQ(rig.channel(0).controller().layoutMode(), kLayoutWave);
}

}  // namespace
}  // namespace hx::test

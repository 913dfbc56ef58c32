#include "AllUnitsConsole.h"

#include <QCoreApplication>
#include <string>

#include "ConsoleFrontEnd.h"
#include "DesktopPorts.h"
#include "app/LogChannel.h"
#include "control/ChannelSet.h"
#include "platform/QSettingsProfileStore.h"

namespace hx {

namespace {

// What the console keeps per channel.
struct ConsoleChannel {
    CConsoleUi* ui = nullptr;
    std::unique_ptr<CHeadlessSession> session;
};

}  // namespace

int runAllUnitsConsole(IUnitDriver& driver, IClock& receiverClock, IEventLoop& loop,
                       CVirtualEventLoop* virtualLoop, const ConsoleOptions& options) {
    CConsoleUi ui(loop, options.answers);  // the lines of the whole run
    CQSettingsProfileStore profile;
    printProfileProblems(profile, ui);
    ChannelSetPorts ports = desktopPorts(loop, profile, driver, receiverClock);

    CChannelSet* channels = nullptr;
    int status = 0;
    bool ended = false;
    auto end = [&](int code) {
        if (ended) return;
        ended = true;
        status = code;
        loop.quit(code);
    };
    const std::int64_t startMs = loop.clock().nowMs();

    ChannelHooks hooks;
    hooks.makeUi = [&](CChannel& channel) {
        auto channelUi = std::make_unique<CConsoleUi>(channel.loop(), options.answers);
        channelUi->setChannelTag(channelLogTag(channel.deviceId()));
        auto kept = std::make_shared<ConsoleChannel>();
        kept->ui = channelUi.get();
        channel.frontEnd = kept;
        return channelUi;
    };
    hooks.started = [&](CChannel& channel) {
        auto kept = std::static_pointer_cast<ConsoleChannel>(channel.frontEnd);
        if (options.answers.dataFolder) {
            channel.document().preference().setDataFolder(*options.answers.dataFolder);
            channel.shell().cleanUpDataFolder();
        }
        kept->session =
            std::make_unique<CHeadlessSession>(channel.shell(), channel.loop(), *kept->ui, options.goals);
        if (!kept->session->begin()) channel.loop().quit(CHeadlessSession::kExitBadTimerFile);
    };
    hooks.finished = [&](CChannel& channel, int code) {
        // A console that cannot be written to ends the whole run.
        if (code == CConsoleUi::kExitOutputLost) end(code);
        if (!channels->allFinished()) return;
        int first = 0;
        for (std::size_t i = 0; i < channels->size() && first == 0; ++i) first = channels->at(i).status();
        (void)channel;
        end(first);
    };
    // As the one-unit console's error line says it.
    hooks.searchProblem = [&](const std::string& text) { ui.print("error: " + text); };
    hooks.second = [&] {
        if (channels->size() == 0 &&
            loop.clock().nowMs() - startMs > options.goals.connectTimeoutS * 1000LL) {
            ui.print("error: no unit connected within " + std::to_string(options.goals.connectTimeoutS) +
                     " s");
            end(CHeadlessSession::kExitNoUnit);
        }
    };

    CChannelSet set(ports, hooks);
    channels = &set;
    set.startUp();
    ui.print("channels: " + std::to_string(set.size()));
    if (!ended) {
        const int ran = virtualLoop ? virtualLoop->run() : QCoreApplication::exec();
        if (!ended) status = ran;
        if (status < 0) {
            ui.print("error: nothing more can happen (no unit and no timer)");
            status = CHeadlessSession::kExitStalled;
        }
    }
    set.shutDown();
    ui.print("diagnostic lines: " + std::to_string(logLinesWritten()));
    ui.print("exit: " + std::to_string(status));
    return status;
}

}  // namespace hx

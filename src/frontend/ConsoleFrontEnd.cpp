#include "ConsoleFrontEnd.h"

#include <QCoreApplication>
#include <string>

#include "AllUnitsConsole.h"
#include "DesktopPorts.h"
#include "app/LogChannel.h"
#include "control/ApplicationShell.h"
#include "platform/QSettingsProfileStore.h"

namespace hx {

void printProfileProblems(const CQSettingsProfileStore& profile, CConsoleUi& ui) {
    if (!profile.readCleanly())
        ui.print("warning: " + profile.problem());
    else if (!profile.writable())
        ui.print("warning: " + profile.unwritableText());
}

int runConsoleFrontEnd(IUnitDriver& driver, IClock& receiverClock, IEventLoop& loop,
                       CVirtualEventLoop* virtualLoop, const ConsoleOptions& options) {
    if (options.allUnits) return runAllUnitsConsole(driver, receiverClock, loop, virtualLoop, options);
    CConsoleUi ui(loop, options.answers);
    CQSettingsProfileStore profile;
    printProfileProblems(profile, ui);
    ShellPorts ports(desktopPorts(loop, profile, driver, receiverClock), &ui);
    CApplicationShell shell(ports);

    int status = 0;
    auto beforeEnumeration = [&] {
        if (options.presetDeviceId >= 0)
            shell.document().setPresetDeviceId(static_cast<std::int16_t>(options.presetDeviceId));
    };
    if (shell.startUp(beforeEnumeration)) {
        if (options.answers.dataFolder) {
            shell.document().preference().setDataFolder(*options.answers.dataFolder);
            shell.cleanUpDataFolder();
        }
        // The console shows no session statistics: only the newest row is kept.
        shell.controller().session().setKeepRows(false);
        CHeadlessSession session(shell, loop, ui, options.goals);
        if (!session.begin()) {
            status = CHeadlessSession::kExitBadTimerFile;
        } else {
            status = virtualLoop ? virtualLoop->run() : QCoreApplication::exec();
            if (status < 0) {
                ui.print("error: nothing more can happen (no unit and no timer)");
                status = CHeadlessSession::kExitStalled;
            }
        }
        loop.setTarget(&shell.controller());
        shell.shutDown();
        if (profile.writable() && !profile.sync()) ui.print("warning: " + profile.unwritableText());
    }
    // How many diagnostic lines this run wrote, to compare with what a viewer showed.
    ui.print("diagnostic lines: " + std::to_string(logLinesWritten()));
    ui.print("exit: " + std::to_string(status));
    return status;
}

}  // namespace hx

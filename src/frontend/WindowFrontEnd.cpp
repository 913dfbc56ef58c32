#include "WindowFrontEnd.h"

#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

#include "DesktopPorts.h"
#include "control/ApplicationShell.h"
#include "control/AutoStarter.h"
#include "control/ChannelSet.h"
#include "gui/CMainFrame.h"
#include "gui/channels/CChannelTile.h"
#include "gui/channels/CChannelsWindow.h"
#include "gui/views/CWaveView.h"
#include "platform/QSettingsProfileStore.h"

namespace hx {

namespace {

// The picture of the window as the user sees it: a modal dialog that is open over it (the
// set-up's Animal ID question, for one) is drawn centred on the window, where Qt places it.
QPixmap windowPicture(QWidget& window) {
    QPixmap picture = window.grab();
    QWidget* modal = QApplication::activeModalWidget();  // only ever a shown window
    if (!modal) return picture;
    const QPixmap dialog = modal->grab();
    const QRect place(QPoint(std::max(0, (picture.width() - dialog.width()) / 2),
                             std::max(0, (picture.height() - dialog.height()) / 2)),
                      dialog.size());
    QPainter painter(&picture);
    painter.drawPixmap(place.topLeft(), dialog);
    painter.setPen(window.palette().color(QPalette::Dark));  // the edge a window manager would draw
    painter.drawRect(place.adjusted(-1, -1, 0, 0));
    return picture;
}

// Saves the picture of window after the given seconds and ends the run
// (status 0, or kExitScreenshotFailed).
void takeScreenshotLater(QWidget& window, IEventLoop& loop, const WindowOptions& options,
                         std::function<void()> flush) {
    if (options.screenshotFile.empty()) return;
    QTimer::singleShot(options.screenshotAfterS * 1000, &window, [&window, &loop, options, flush] {
        flush();
        const QPixmap picture = windowPicture(window);
        if (!picture.save(QString::fromStdString(options.screenshotFile), "PNG")) {
            std::fprintf(stderr, "halnor40ku: cannot write %s\n", options.screenshotFile.c_str());
            loop.quit(kExitScreenshotFailed);
            return;
        }
        loop.quit(0);
    });
}

// Says once what is wrong with the profile, and offers to rewrite a damaged
// one with what can be read of it (a copy of the old file is kept).
void tellProfileProblems(CQSettingsProfileStore& profile) {
    static bool told = false;  // the window of all units opens the profile again
    if (told || (profile.readCleanly() && profile.writable())) return;
    told = true;
    const QString caption = QStringLiteral("Halnor40KU");
    if (!profile.readCleanly()) {
        if (!profile.repairable()) {
            QMessageBox::warning(nullptr, caption, QString::fromStdString(profile.problem()));
            return;
        }
        const QString question =
            QString::fromStdString(profile.problem()) +
            QStringLiteral(
                "\n\nKeep the settings that can be read and rewrite the file? The old file is kept "
                "beside it as %1.damaged.")
                .arg(QFileInfo(QString::fromStdString(profile.filePath())).fileName());
        if (QMessageBox::warning(nullptr, caption, question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes &&
            !profile.repair())
            QMessageBox::warning(
                nullptr, caption,
                QStringLiteral("The profile could not be rewritten: the settings of this run "
                               "are not saved."));
    } else if (!profile.writable()) {
        QMessageBox::warning(nullptr, caption, QString::fromStdString(profile.unwritableText()));
    }
}

// After the last save: a profile that could not be written is said (it was
// writable at the start, or the user has been told already).
void tellUnsavedProfile(CQSettingsProfileStore& profile) {
    if (!profile.writable() || profile.sync()) return;
    std::fprintf(stderr, "halnor40ku: %s\n", profile.unwritableText().c_str());
    QMessageBox::warning(nullptr, QStringLiteral("Halnor40KU"),
                         QString::fromStdString(profile.unwritableText()));
}

}  // namespace

bool displayAvailable() {
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

int runWindowFrontEnd(IUnitDriver& driver, IClock& receiverClock, IEventLoop& loop,
                      const WindowOptions& options) {
    CMainFrame frame(loop);
    CQSettingsProfileStore profile;
    tellProfileProblems(profile);
    ShellPorts ports(desktopPorts(loop, profile, driver, receiverClock), &frame.uiPort());
    CApplicationShell shell(ports);

    int status = 0;
    const bool started = shell.startUp([&] {
        if (options.presetDeviceId >= 0)
            shell.document().setPresetDeviceId(static_cast<std::int16_t>(options.presetDeviceId));
        if (options.dataFolder) {
            shell.document().preference().setDataFolder(*options.dataFolder);
            shell.cleanUpDataFolder();
        }
        frame.attach(shell.document(), shell.controller());
        frame.show();
    });
    if (!started) return 1;

    // File -> "Measure all units": the one-unit window ends and the window of
    // every attached unit takes its place, in this run of the program.
    bool allUnitsAsked = false;
    QMenu* file = frame.fileMenu();
    QAction* all = new QAction(QStringLiteral("Measure all units"), file);
    file->insertAction(frame.action(kCmdExit), all);
    QObject::connect(all, &QAction::triggered, &frame, [&] {
        allUnitsAsked = true;
        loop.quit(0);
    });

    QTimer starter;
    CAutoStarter autoStarter;
    if (options.measurements > 0) {
        QObject::connect(&starter, &QTimer::timeout, &frame, [&] {
            autoStarter.look(shell.controller(), frame.resultsHandled(), options.measurements);
        });
        starter.start(1000);
    }
    takeScreenshotLater(frame, loop, options, [&frame] { frame.wavePane().flushPending(); });
    status = QApplication::exec();
    shell.shutDown(frame.frameRect());
    tellUnsavedProfile(profile);
    if (allUnitsAsked && status == 0) {
        frame.hide();
        WindowOptions all = options;
        all.presetDeviceId = -1;
        all.allUnits = true;
        return runAllUnitsWindow(driver, receiverClock, loop, all);
    }
    return status;
}

int runAllUnitsWindow(IUnitDriver& driver, IClock& receiverClock, IEventLoop& loop,
                      const WindowOptions& options) {
    CChannelsWindow window(loop);
    CQSettingsProfileStore profile;
    tellProfileProblems(profile);
    ChannelSetPorts ports = desktopPorts(loop, profile, driver, receiverClock);
    ChannelHooks hooks = window.hooks();
    hooks.beforeEnumeration = [&, attach = hooks.beforeEnumeration](CChannel& channel) {
        if (options.dataFolder) {
            channel.document().preference().setDataFolder(*options.dataFolder);
            channel.shell().cleanUpDataFolder();
        }
        attach(channel);
    };
    CChannelSet set(ports, hooks);
    set.startUp();
    window.show();

    QTimer starter;
    std::map<int, CAutoStarter> starters;
    if (options.measurements > 0) {
        QObject::connect(&starter, &QTimer::timeout, &window, [&] {
            for (std::size_t i = 0; i < set.size(); ++i) {
                CChannel& channel = set.at(i);
                starters[channel.deviceId()].look(channel.controller(),
                                                  window.frame(channel.deviceId())->resultsHandled(),
                                                  options.measurements);
            }
        });
        starter.start(1000);
    }
    takeScreenshotLater(window, loop, options, [&] {
        for (std::size_t i = 0; i < set.size(); ++i) {
            const int id = set.at(i).deviceId();
            window.frame(id)->wavePane().flushPending();
            window.tile(id)->wave().flushPending();
        }
    });
    const int status = QApplication::exec();
    set.shutDown();
    tellUnsavedProfile(profile);
    return status;
}

}  // namespace hx

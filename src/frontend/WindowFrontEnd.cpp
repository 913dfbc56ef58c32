#include "WindowFrontEnd.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "control/ApplicationShell.h"
#include "gui/CMainFrame.h"
#include "gui/views/CWaveView.h"
#include "platform/QSettingsProfileStore.h"
#include "platform/StandardPaths.h"

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
    ShellPorts ports;
    ports.ui = &frame.uiPort();
    ports.loop = &loop;
    ports.profile = &profile;
    ports.driver = &driver;
    ports.receiverClock = &receiverClock;
    ports.documentsFolder = standardPaths::documentsFolder();
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

    // Measurements started as a user would press Start: in View, once the
    // previous one has given its result; from a shown result back to the live view.
    QTimer starter;
    int startedCount = 0;
    if (options.measurements > 0) {
        QObject::connect(&starter, &QTimer::timeout, &frame, [&] {
            CMainController& controller = shell.controller();
            if (frame.resultsHandled() < startedCount || startedCount >= options.measurements) return;
            if (controller.readyForMeasurement()) {
                controller.command(kCmdStart);
                ++startedCount;
            } else if (controller.setUpComplete() && controller.unitState() == kStateResult &&
                       controller.commandEnabled(kCmdStart)) {
                controller.command(kCmdStart);
            }
        });
        starter.start(1000);
    }

    if (!options.screenshotFile.empty()) {
        QTimer::singleShot(options.screenshotAfterS * 1000, &frame, [&] {
            frame.wavePane().flushPending();
            const QPixmap picture = windowPicture(frame);
            if (!picture.save(QString::fromStdString(options.screenshotFile), "PNG")) {
                std::fprintf(stderr, "halnor40ku: cannot write %s\n", options.screenshotFile.c_str());
                loop.quit(kExitScreenshotFailed);
                return;
            }
            loop.quit(0);
        });
    }
    status = QApplication::exec();
    shell.shutDown(frame.frameRect());
    return status;
}

}  // namespace hx

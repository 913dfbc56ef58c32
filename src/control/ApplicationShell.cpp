#include "control/ApplicationShell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <thread>

#include "app/LogChannel.h"
#include "app/ReplaceFile.h"

extern char** environ;

namespace hx {

CApplicationShell::CApplicationShell(ShellPorts ports) : m_ports(std::move(ports)) {}

CApplicationShell::~CApplicationShell() { shutDown(); }

bool CApplicationShell::startUp(const std::function<void()>& showWindow) {
    IUiPort& ui = *m_ports.ui;
    IEventLoop& loop = *m_ports.loop;

    m_app.prepareFolders(m_ports.documentsFolder, ui.dialogs());

    m_document =
        std::make_unique<CHalnor55KUDoc>(m_app, *m_ports.profile, ui.dialogs(), m_ports.documentsFolder);
    m_document->setClock(loop.clock());
    cleanUpDataFolder();
    m_controller = std::make_unique<CMainController>(m_app, *m_document, *m_ports.driver, loop, ui,
                                                     *m_ports.receiverClock);
    loop.setTarget(m_controller.get());
    m_controller->create();

    // The window property: outside programs find this copy through its socket.
    if (m_ports.controlSocket) startControlSocket();

    if (showWindow) showWindow();
    m_running = true;

    loop.send(WindowMessage{WM_ENUM_DEVICE, 0, 0, {}});
    loop.send(WindowMessage{kMsgStartConnecting, 0, 0, {}});
    if (m_ports.startCompanion) startCompanionProgram();
    return true;
}

void CApplicationShell::startControlSocket() {
    IUiPort& ui = *m_ports.ui;
    IEventLoop& loop = *m_ports.loop;
    m_controlSocket = std::make_unique<CControlSocket>(
        [&loop](int command) {
            WindowMessage message;
            message.id = WM_COMMAND;
            message.wParam = static_cast<std::uintptr_t>(command);
            loop.post(std::move(message));
        },
        m_ports.controlFolder);
    // Without a private runtime folder there is no socket, and that was said once already.
    if (!m_controlSocket->listening() && !m_controlSocket->path().empty())
        CHalnor40KUApp::showSystemError(ui.dialogs(), errno, "Error : SetProp()");
    m_controller->setPropertyListener([this](int value) {
        if (m_controlSocket) m_controlSocket->setProperty(value);
    });
}

// File times are real times, also when the program runs in virtual time.
void CApplicationShell::cleanUpDataFolder() {
    const std::string& folder = m_document->preference().dataFolder();
    if (std::size_t removed = removeStaleTemporaryFiles(folder, std::time(nullptr)))
        writeLogLinef('N', 'P', "Removed %zu unfinished file(s) of a stopped run in %s", removed,
                      folder.c_str());
}

void CApplicationShell::shutDown(std::array<std::int32_t, 4> frameRect) {
    if (!m_running) return;
    m_running = false;
    m_controller->destroy(frameRect);
    m_controlSocket.reset();  // the property goes with the window
    m_ports.loop->setTarget(nullptr);
}

void CApplicationShell::startCompanionProgram() {
    // Started from the current folder if it is there; any failure is silent.
    const char* name = "./Tavrilo.exe";
    struct stat info;
    if (::stat(name, &info) != 0 || !(info.st_mode & S_IXUSR)) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(name), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, name, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return;
    m_companionPid = pid;
    // The companion runs on its own; a thread collects its exit status so it
    // does not stay behind as a zombie while the program runs.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

}  // namespace hx

#pragma once
// Start-up and shut-down of the program around its ports, in the order the
// program has always followed: folders, profile, document, main window,
// window property, enumeration of the units, the connection timer, the
// companion program. Both front ends run the program through this.

#include <array>
#include <memory>
#include <string>

#include "app/Application.h"
#include "control/ControlSocket.h"
#include "control/EventLoop.h"
#include "control/MainController.h"
#include "control/UiPort.h"
#include "data/Halnor55KUDoc.h"
#include "settings/ProfileStore.h"
#include "usb/UnitDriver.h"

namespace hx {

// What the program runs on: the same for one unit's shell and for the set of several units' channels.
struct ProgramPorts {
    IEventLoop* loop = nullptr;
    IProfileStore* profile = nullptr;
    IUnitDriver* driver = nullptr;
    IClock* receiverClock = nullptr;  // what the receiver thread sleeps on
    std::string documentsFolder;      // ends with "/"; empty: unknown
    std::string controlFolder;        // where the control socket goes; empty: the runtime folder
    bool startCompanion = true;
};

struct ShellPorts : ProgramPorts {
    ShellPorts() = default;
    ShellPorts(ProgramPorts program, IUiPort* window) : ProgramPorts(std::move(program)), ui(window) {}
    IUiPort* ui = nullptr;
    bool controlSocket = true;  // false: a channel of several; the channel set owns the socket
};

class CApplicationShell {
  public:
    explicit CApplicationShell(ShellPorts ports);
    ~CApplicationShell();
    CApplicationShell(const CApplicationShell&) = delete;
    CApplicationShell& operator=(const CApplicationShell&) = delete;

    // Runs the start-up; returns true when the program is to run its loop.
    // showWindow is called where the main window is shown.
    bool startUp(const std::function<void()>& showWindow = {});
    // The main window's destruction sequence; idempotent.
    void shutDown(std::array<std::int32_t, 4> frameRect = {0, 0, 0, 0});

    // Removes the unfinished temporary files that a killed run left in the
    // data folder. startUp does it; a front end that sets another folder
    // before the run calls it again.
    void cleanUpDataFolder();

    CHalnor40KUApp& app() { return m_app; }
    CHalnor55KUDoc& document() { return *m_document; }
    CMainController& controller() { return *m_controller; }
    CControlSocket* controlSocket() { return m_controlSocket.get(); }
    // The companion program's process ID, 0 when none was started.
    long companionPid() const { return m_companionPid; }

  private:
    void startControlSocket();
    void startCompanionProgram();

    ShellPorts m_ports;
    CHalnor40KUApp m_app;
    std::unique_ptr<CHalnor55KUDoc> m_document;
    std::unique_ptr<CMainController> m_controller;
    std::unique_ptr<CControlSocket> m_controlSocket;
    bool m_running = false;
    long m_companionPid = 0;
};

}  // namespace hx

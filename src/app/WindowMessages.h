#pragma once
// The program's private window messages: one table, numbered as the main
// window has always numbered them (WM_USER + offset), plus the commands.

#include <cstdint>
#include <string>

namespace hx {

constexpr std::uint32_t WM_USER = 0x400;
constexpr std::uint32_t WM_COMMAND = 0x111;  // wParam: a command identifier below

enum WindowMessageId : std::uint32_t {
    kMsgWavePacket = WM_USER + 0x65,       // receiver -> main: wave packet in the wave record area
    kMsgResultReady = WM_USER + 0x66,      // receiver -> main: the three result pieces are in
    kMsgToView = WM_USER + 0x69,           // main -> main: bring the unit to View
    kMsgAnimalBlock = WM_USER + 0x6B,      // receiver -> main, sent
    kMsgSetTitle = WM_USER + 0x73,         // -> main
    kMsgVersionRecord = WM_USER + 0x76,    // receiver -> main
    kMsgStartConnecting = WM_USER + 0x7A,  // start-up -> main, sent
    kMsgReadError = WM_USER + 0x7B,        // receiver -> main: the thread has ended
    kMsgStateLeft = WM_USER + 0x7C,        // state poll -> main
    kMsgSelectUnit = WM_USER + 0x96,       // -> main, sent
    WM_ENUM_DEVICE = WM_USER + 0x97,       // start-up -> main, sent
};

// Command identifiers of the main window.
enum CommandId : std::uint32_t {
    kCmdWaveLayout = 32771,
    kCmdTimer = 32772,
    kCmdGraphLayout = 32773,
    kCmdView = 32774,
    kCmdClock = 32775,
    kCmdAnimal = 32776,
    kCmdMonitor = 32781,
    kCmdStart = 32782,
    kCmdUp = 32783,
    kCmdDown = 32784,
    kCmdSweepSpeed = 32785,
    kCmdMenu = 32786,
    // The program's own commands, not the unit's: View -> Session statistics
    // and View -> New session.
    kCmdSessionStatistics = 32790,
    kCmdNewSession = 32791,
    kCmdAbout = 57664,
    kCmdExit = 57665,
};

// One message as it travels between threads. Texts travel as copies owned by
// the message (the version record), never as addresses into another thread.
struct WindowMessage {
    std::uint32_t id = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::string text;
};

}  // namespace hx

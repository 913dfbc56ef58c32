#pragma once
// The keys every pane of the main window turns into commands: one table for
// every front end that has panes and keys. Any thread (no state).

namespace hx {

// Keys as a front end reports them: characters by their code (letters in
// either case, '\r' for Enter), the arrows by these codes.
constexpr int kKeyUp = 0x1001;
constexpr int kKeyDown = 0x1002;

struct PaneKey {
    int command = 0;       // the command the key stands for; 0: the key keeps its default handling
    bool repeats = false;  // whether a held key repeats the command
};

// B runs the Animal command in every pane (the wave and result panes always
// did; in the information and history panes it used to do nothing, which users
// read as a dead key). Only Up and Down repeat while held: a repeated Start
// would flip the unit between starting and cancelling.
PaneKey paneKey(int key);

}  // namespace hx

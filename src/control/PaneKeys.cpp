#include "control/PaneKeys.h"

#include "app/WindowMessages.h"

namespace hx {

PaneKey paneKey(int key) {
    switch (key) {
        case '\r':
        case '\n':
            return {kCmdStart, false};
        case kKeyUp:
            return {kCmdUp, true};
        case kKeyDown:
            return {kCmdDown, true};
        case ' ':
        case 's':
        case 'S':
            return {kCmdSweepSpeed, false};
        case 'm':
        case 'M':
            return {kCmdMenu, false};
        case 'b':
        case 'B':
            return {kCmdAnimal, false};
        default:
            return {};
    }
}

}  // namespace hx

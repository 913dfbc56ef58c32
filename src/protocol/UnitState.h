#pragma once
// The unit's states as its state request reports them (1 to 13; 7 and 8 are
// not used by the unit). The state decides which commands the program offers
// and what the live view shows.

namespace hx {

enum UnitState : int {
    kStateAdjust = 1,   // adjusting after power-on
    kStateView = 2,     // live view: wave packets stream
    kStatePress = 3,    // inflating the cuff
    kStateRecord = 4,   // deflating while the pulses are recorded
    kStateResult = 5,   // the result records follow
    kStateMenu = 6,     // the unit's own menu is open
    kStateCancel = 9,   // a measurement was cancelled
    kStateWait = 10,    // waiting
    kStateAnimal = 11,  // animal-number entry is open
    kStateBrowse = 12,  // browsing its memory card
    kState13 = 13,      // reported after Browse SD on some units; no name shown
};

}  // namespace hx

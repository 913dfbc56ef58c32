#pragma once
// Measurements started one after the other as a user pressing Start would,
// for a window asked to run a number of them unattended (--measurements).

#include "control/MainController.h"

namespace hx {

class CAutoStarter {
  public:
    // A start that led to no measurement (sent while a dialog or the set-up
    // held the unit, or cancelled) is sent again once the unit has stood
    // ready this many looks in a row without a result.
    static constexpr int kReadyLooksBeforeRetry = 3;

    // One look, about once a second: in View once the previous measurement
    // gave its result; from a shown result back to the live view. handled
    // counts the results the window has handled.
    void look(CMainController& controller, int handled, int goal);
    int started() const { return m_started; }

  private:
    int m_started = 0;
    int m_readyLooks = 0;
};

}  // namespace hx

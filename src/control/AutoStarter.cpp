#include "control/AutoStarter.h"

namespace hx {

void CAutoStarter::look(CMainController& controller, int handled, int goal) {
    if (handled < m_started) {
        // Waiting for the result of the last start. A unit that stays ready
        // never took it: a measurement leaves View within a look.
        if (!controller.readyForMeasurement()) {
            m_readyLooks = 0;
        } else if (++m_readyLooks >= kReadyLooksBeforeRetry) {
            m_readyLooks = 0;
            m_started = handled;
        }
        return;
    }
    if (m_started >= goal) return;
    m_readyLooks = 0;
    if (controller.startNextMeasurement()) ++m_started;
}

}  // namespace hx

#pragma once
// How the receiver thread reaches the main window: posts and sends through
// the event loop. A send gives up when the thread is being stopped, so a
// stopping thread never waits for a UI thread that is waiting for it.

#include "control/DisplayTexts.h"
#include "control/MainController.h"
#include "protocol/ReceiverThread.h"

namespace hx {

class CReceiverSinkAdapter final : public IReceiverSink {
  public:
    explicit CReceiverSinkAdapter(CMainController& controller) : m_controller(controller) {}

    // Receiver thread.
    void post(WindowMessage message) override { m_controller.m_loop.post(std::move(message)); }
    void send(WindowMessage message) override {
        m_controller.m_loop.send(std::move(message), &m_controller.m_stopEvent);
    }
    void showMenuNotice() override {
        m_controller.m_loop.invoke(
            [this] {
                m_controller.m_ui.dialogs().messageBox("ID_MENU", "Halnor40KU", MsgIcon::None,
                                                       MsgButtons::Ok);
            },
            &m_controller.m_stopEvent);
    }

  private:
    CMainController& m_controller;
};

}  // namespace hx

#pragma once
// How the receiver thread reaches the main window: posts and sends through
// the event loop. A send gives up when the thread is being stopped, so a
// stopping thread never waits for a UI thread that is waiting for it.
// The loop, the UI port and the stop event must outlive the adapter.

#include "app/Event.h"
#include "control/EventLoop.h"
#include "control/UiPort.h"
#include "protocol/ReceiverThread.h"

namespace hx {

class CReceiverSinkAdapter final : public IReceiverSink {
  public:
    CReceiverSinkAdapter(IEventLoop& loop, IUiPort& ui, CEvent& stopEvent)
        : m_loop(loop), m_ui(ui), m_stopEvent(stopEvent) {}

    // Receiver thread.
    void post(WindowMessage message) override { m_loop.post(std::move(message)); }
    void send(WindowMessage message) override { m_loop.send(std::move(message), &m_stopEvent); }
    void showMenuNotice() override {
        m_loop.invoke(
            [this] { m_ui.dialogs().messageBox("ID_MENU", "Halnor40KU", MsgIcon::None, MsgButtons::Ok); },
            &m_stopEvent);
    }

  private:
    IEventLoop& m_loop;
    IUiPort& m_ui;
    CEvent& m_stopEvent;
};

}  // namespace hx

#pragma once
// The window's dialogs as the main window's logic asks for them: message
// boxes, the file save dialog, the device-ID choice and the About box.
//
// The settings dialogs (Animal ID, unit menu, device clock, monitor settings,
// timer mode) are not shown yet: each answers as the dialog closed with Cancel
// would, so connecting and every command still run. The Animal ID stand-in
// keeps the program running for a moment while the unit's animal block comes
// in, as the open dialog would. Each stand-in is replaced by its real dialog
// in turn.
//
// UI thread only. The parent window and the loop must outlive the object.

#include <QWidget>

#include "control/UiPort.h"

namespace hx {

class IEventLoop;

class CWindowDialogs final : public IDialogs {
  public:
    CWindowDialogs(QWidget& parent, IEventLoop& loop) : m_parent(parent), m_loop(loop) {}

    // IMessagePort
    MsgAnswer messageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                         MsgButtons buttons) override;
    std::optional<std::string> saveFileDialog(const std::string& initialPath,
                                              const std::string& defaultExtension) override;

    std::optional<int> chooseDeviceId(const std::vector<std::int16_t>& listedIds) override;
    void showAbout(const AboutTexts& texts) override;

    // Stand-ins (see above).
    bool runAnimalDialog(AnimalDialogModel& model) override;
    void endAnimalDialog() override { m_endAnimal = true; }
    bool runMenuDialog(MenuSettings&) override { return false; }
    void runClockDialog(ClockDialogModel&) override {}
    void endClockDialog() override {}
    bool runMonitorDialog(MonitorValues&) override { return false; }
    bool runTimerDialog(CTimerSchedule&, std::vector<std::int32_t>&) override { return false; }

  private:
    QWidget& m_parent;
    IEventLoop& m_loop;
    bool m_endAnimal = false;
};

}  // namespace hx

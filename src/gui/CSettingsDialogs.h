#pragma once
// The main window's settings dialogs as the controller's dialog calls: the
// Animal ID dialog (one for the window's life), the device clock dialog (made
// on first use, then kept), and the Menu, Monitor and Timer mode dialogs (one
// per run). Each is modal over the main window; the controller's messages go
// on being handled while one is open. UI thread only.

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "control/UiPort.h"

class QWidget;

namespace hx {

class CAnimalIdDialog;
class CClockDialog;
class CHalnor55KUDoc;
class IClock;

class CSettingsDialogs {
  public:
    // parent: the main window (must outlive this); clock: the PC's clock.
    CSettingsDialogs(QWidget& parent, const IClock& clock);
    ~CSettingsDialogs();

    // The document gives the device ID of the captions ("Halnor40KU: ID->n").
    void attach(const CHalnor55KUDoc& doc) { m_doc = &doc; }

    bool runAnimalDialog(AnimalDialogModel& model);
    void endAnimalDialog();
    bool runMenuDialog(MenuSettings& settings);
    void runClockDialog(ClockDialogModel& model);
    void endClockDialog();
    bool runMonitorDialog(MonitorValues& values);
    bool runTimerDialog(CTimerSchedule& schedule, std::vector<std::int32_t>& entries);

    CAnimalIdDialog& animalDialog() { return *m_animal; }
    // The clock dialog, once it was first shown (null before).
    CClockDialog* clockDialog() { return m_clockDialog.get(); }

  private:
    QString caption() const;

    QWidget& m_parent;
    const IClock& m_clock;
    const CHalnor55KUDoc* m_doc = nullptr;
    std::unique_ptr<CAnimalIdDialog> m_animal;
    std::unique_ptr<CClockDialog> m_clockDialog;
};

}  // namespace hx

#include "gui/CSettingsDialogs.h"

#include "app/Clock.h"
#include "control/DisplayTexts.h"
#include "data/Halnor55KUDoc.h"
#include "gui/dialogs/CAnimalIdDialog.h"
#include "gui/dialogs/CClockDialog.h"
#include "gui/dialogs/CMenuDialog.h"
#include "gui/dialogs/CMonitorDialog.h"
#include "gui/dialogs/CTimerModeDialog.h"

namespace hx {

CSettingsDialogs::CSettingsDialogs(QWidget& parent, const IClock& clock)
    : m_parent(parent), m_clock(clock), m_animal(std::make_unique<CAnimalIdDialog>(&parent)) {}

CSettingsDialogs::~CSettingsDialogs() = default;

QString CSettingsDialogs::caption() const {
    return QString::fromStdString(dialogCaption(m_doc ? m_doc->deviceId() : 0));
}

bool CSettingsDialogs::runAnimalDialog(AnimalDialogModel& model) { return m_animal->run(model); }

void CSettingsDialogs::endAnimalDialog() { m_animal->endIfShowing(); }

bool CSettingsDialogs::runMenuDialog(MenuSettings& settings) {
    CMenuDialog dialog(settings, caption(), &m_parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    settings = dialog.result();
    return true;
}

void CSettingsDialogs::runClockDialog(ClockDialogModel& model) {
    if (!m_clockDialog)
        m_clockDialog = std::make_unique<CClockDialog>([this] { return m_clock.wallTime(); }, &m_parent);
    m_clockDialog->run(model);
}

void CSettingsDialogs::endClockDialog() {
    if (m_clockDialog) m_clockDialog->endIfShowing();
}

bool CSettingsDialogs::runMonitorDialog(MonitorValues& values) {
    CMonitorDialog dialog(values, caption(), &m_parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    dialog.storeInto(values);
    return true;
}

bool CSettingsDialogs::runTimerDialog(CTimerSchedule& schedule, std::vector<std::int32_t>& entries) {
    CTimerModeDialog dialog(schedule, entries, &m_parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    entries = dialog.entries();
    return true;
}

}  // namespace hx

#include "gui/CWindowDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "control/DisplayTexts.h"
#include "control/EventLoop.h"
#include "data/Halnor55KUDoc.h"
#include "gui/dialogs/CAboutDialog.h"
#include "gui/dialogs/CAnimalIdDialog.h"
#include "gui/dialogs/CClockDialog.h"
#include "gui/dialogs/CDeviceIdDialog.h"
#include "gui/dialogs/CMenuDialog.h"
#include "gui/dialogs/CMonitorDialog.h"
#include "gui/dialogs/CTimerModeDialog.h"

namespace hx {

namespace {
QMessageBox::Icon boxIcon(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Information:
            return QMessageBox::Information;
        case MsgIcon::Stop:
            return QMessageBox::Critical;
        case MsgIcon::Question:
            return QMessageBox::Question;
        case MsgIcon::Warning:
            return QMessageBox::Warning;
        case MsgIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}
}  // namespace

CWindowDialogs::CWindowDialogs(QWidget& parent, IEventLoop& loop)
    : m_parent(parent), m_loop(loop), m_animal(std::make_unique<CAnimalIdDialog>(&parent)) {}

CWindowDialogs::~CWindowDialogs() = default;

QString CWindowDialogs::caption() const {
    return QString::fromStdString(dialogCaption(m_doc ? m_doc->deviceId() : 0));
}

MsgAnswer CWindowDialogs::messageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                                     MsgButtons buttons) {
    QMessageBox box(boxIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                    buttons == MsgButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    &m_parent);
    const int answer = box.exec();
    if (buttons == MsgButtons::Ok) return MsgAnswer::Ok;
    return answer == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

std::optional<std::string> CWindowDialogs::saveFileDialog(const std::string& initialPath,
                                                          const std::string& defaultExtension) {
    QFileDialog dialog(&m_parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromStdString(defaultExtension));
    const QFileInfo initial(QString::fromStdString(initialPath));
    dialog.setDirectory(initial.absolutePath());
    dialog.selectFile(initial.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

std::optional<int> CWindowDialogs::chooseDeviceId(const std::vector<std::int16_t>& listedIds) {
    CDeviceIdDialog dialog(listedIds, &m_parent);
    dialog.exec();
    return dialog.choice();
}

void CWindowDialogs::showAbout(const AboutTexts& texts) {
    CAboutDialog dialog(texts, &m_parent);
    dialog.exec();
}

bool CWindowDialogs::runAnimalDialog(AnimalDialogModel& model) { return m_animal->run(model); }

bool CWindowDialogs::askAnimalDialog(AnimalDialogModel& model, std::function<void(bool ok)> answered) {
    if (!m_askWithoutWaiting || !m_animal->ask(model, std::move(answered))) return false;
    if (m_placeQuestion) {
        m_animal->adjustSize();
        m_animal->move(m_placeQuestion(m_animal->size()));
    }
    return true;
}

void CWindowDialogs::endAnimalDialog() { m_animal->endIfShowing(); }

bool CWindowDialogs::runMenuDialog(MenuSettings& settings) {
    CMenuDialog dialog(settings, caption(), &m_parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    settings = dialog.result();
    return true;
}

void CWindowDialogs::runClockDialog(ClockDialogModel& model) {
    if (!m_clock)
        m_clock = std::make_unique<CClockDialog>([this] { return m_loop.clock().wallTime(); }, &m_parent);
    m_clock->run(model);
}

void CWindowDialogs::endClockDialog() {
    if (m_clock) m_clock->endIfShowing();
}

bool CWindowDialogs::runMonitorDialog(MonitorValues& values) {
    CMonitorDialog dialog(values, caption(), &m_parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    dialog.storeInto(values);
    return true;
}

bool CWindowDialogs::runTimerDialog(CTimerSchedule& schedule, std::vector<std::int32_t>& entries) {
    CTimerModeDialog dialog(schedule, entries, &m_parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    entries = dialog.entries();
    return true;
}

}  // namespace hx

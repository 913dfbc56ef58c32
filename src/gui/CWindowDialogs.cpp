#include "gui/CWindowDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "control/EventLoop.h"
#include "gui/dialogs/CAboutDialog.h"
#include "gui/dialogs/CDeviceIdDialog.h"

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

bool CWindowDialogs::runAnimalDialog(AnimalDialogModel& model) {
    bool arrived = false;
    m_endAnimal = false;
    model.refresh = [&arrived] { arrived = true; };
    m_loop.pumpUntil([&] { return arrived || m_endAnimal; }, 2000);
    model.refresh = nullptr;
    return false;
}

}  // namespace hx

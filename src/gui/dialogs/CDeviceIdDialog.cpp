#include "gui/dialogs/CDeviceIdDialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

namespace hx {

CDeviceIdDialog::CDeviceIdDialog(const std::vector<std::int16_t>& listedIds, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("DEV_TYPE"));
    auto* box = new QGroupBox(QStringLiteral("ID"));
    auto* grid = new QGridLayout(box);
    m_group = new QButtonGroup(this);
    for (int id = 0; id < kIds; ++id) {
        auto* button = new QRadioButton(QString::number(id + 1));
        button->setEnabled(false);
        m_group->addButton(button, id);
        grid->addWidget(button, id / 4, id % 4);
        m_buttons[static_cast<std::size_t>(id)] = button;
    }
    // Entries outside 0 to 15 enable nothing; at most 32 entries are looked at.
    for (std::size_t i = 0; i < listedIds.size() && i < kMaxEntries; ++i) {
        const int id = listedIds[i];
        if (id >= 0 && id < kIds) m_buttons[static_cast<std::size_t>(id)]->setEnabled(true);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDeviceIdDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(box);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CDeviceIdDialog::accept() {
    const int checked = m_group->checkedId();
    m_choice = checked >= 0 ? std::optional<int>(checked) : std::nullopt;
    QDialog::accept();
}

}  // namespace hx

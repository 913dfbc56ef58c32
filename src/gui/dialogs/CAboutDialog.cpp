#include "gui/dialogs/CAboutDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

namespace hx {

CAboutDialog::CAboutDialog(const AboutTexts& texts, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Halnor40KU"));
    auto* icon = new QLabel;
    icon->setPixmap(QIcon(QStringLiteral(":/icons/app.svg")).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    m_software = new QLabel(QString::fromStdString(texts.software));
    m_legal = new QLabel(QString::fromStdString(texts.legalNotice));
    m_device = new QLabel(QString::fromStdString(texts.deviceVersion));
    for (QLabel* label : {m_software, m_legal, m_device})
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* textColumn = new QVBoxLayout;
    textColumn->addWidget(m_software);
    textColumn->addWidget(m_legal);
    textColumn->addWidget(m_device);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addLayout(textColumn, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString CAboutDialog::softwareText() const { return m_software->text(); }
QString CAboutDialog::legalText() const { return m_legal->text(); }
QString CAboutDialog::deviceText() const { return m_device->text(); }

}  // namespace hx

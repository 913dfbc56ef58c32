#include "gui/dialogs/CMenuDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QVBoxLayout>

namespace hx {

namespace {

struct ScaleLabel {
    int position;
    const char* text;
};
constexpr std::array<ScaleLabel, 4> kScaleLabels{{{1, "100"}, {11, "200"}, {21, "300"}, {26, "350"}}};

struct BoxWord {
    int word;
    const char* text;
};
constexpr std::array<BoxWord, 6> kBoxes{{{MenuSettings::kAutoP, "AUTO-P"},
                                         {MenuSettings::kDbp, "DBP"},
                                         {MenuSettings::kUsb, "USB"},
                                         {MenuSettings::kPrint, "PRINT"},
                                         {MenuSettings::kSound, "SOUND"},
                                         {MenuSettings::kTime, "TIME"}}};

template <std::size_t N>
QComboBox* listOf(const std::array<const char*, N>& items, int selected) {
    auto* list = new QComboBox;
    for (const char* item : items) list->addItem(QString::fromLatin1(item));
    list->setCurrentIndex(selected);
    return list;
}

template <std::size_t N>
QButtonGroup* radioRow(const std::array<const char*, N>& items, int checked, QHBoxLayout* row,
                       QObject* owner) {
    auto* group = new QButtonGroup(owner);
    for (std::size_t i = 0; i < N; ++i) {
        auto* button = new QRadioButton(QString::fromLatin1(items[i]));
        group->addButton(button, static_cast<int>(i));
        row->addWidget(button);
        if (static_cast<int>(i) == checked) button->setChecked(true);
    }
    row->addStretch(1);
    return group;
}

}  // namespace

CMenuDialog::CMenuDialog(const MenuSettings& settings, const QString& caption, QWidget* parent)
    : QDialog(parent), m_read(settings), m_result(settings) {
    const MenuDialogControls c = menuDialogControls(settings);
    setWindowTitle(caption);

    // PRESS: the value text at the left of the slider, the pressures above it.
    auto* pressBox = new QGroupBox(QStringLiteral("PRESS"));
    auto* pressGrid = new QGridLayout(pressBox);
    m_slider = new QSlider(Qt::Horizontal);
    m_slider->setRange(MenuDialogControls::kSliderMin, MenuDialogControls::kSliderMax);
    m_slider->setPageStep(5);
    m_slider->setValue(c.pressPosition);
    m_value = new QLabel(QString::fromStdString(pressOpeningText(settings)));
    m_value->setFrameShape(QFrame::Panel);
    m_value->setFrameShadow(QFrame::Sunken);
    m_value->setAlignment(Qt::AlignCenter);
    m_value->setMinimumWidth(m_value->fontMetrics().horizontalAdvance(QStringLiteral("-00000")));
    m_scale = makeScale();
    m_ticks = makeScale();
    pressGrid->addWidget(m_scale, 0, 1);
    pressGrid->addWidget(m_value, 1, 0);
    pressGrid->addWidget(m_slider, 1, 1);
    pressGrid->addWidget(m_ticks, 2, 1);
    pressGrid->setColumnStretch(1, 1);
    connect(m_slider, &QSlider::valueChanged, this,
            [this](int position) { m_value->setText(QString::fromStdString(pressSlidingText(position))); });

    auto* listBox = new QGroupBox;
    auto* lists = new QHBoxLayout(listBox);
    m_sense = listOf(kSenseItems, c.senseIndex);
    m_autoS = listOf(kAutoSItems, c.autoSIndex);
    lists->addWidget(new QLabel(QStringLiteral("SENSE :")));
    lists->addWidget(m_sense);
    lists->addSpacing(24);
    lists->addWidget(new QLabel(QStringLiteral("AUTO-S :")));
    lists->addWidget(m_autoS);
    lists->addStretch(1);

    auto* switchBox = new QGroupBox(QStringLiteral("Select ON/OFF :"));
    auto* switches = new QGridLayout(switchBox);
    const std::array<bool, 6> ticked{c.autoP, c.dbp, c.usb, c.print, c.sound, c.time};
    for (std::size_t i = 0; i < kBoxes.size(); ++i) {
        auto* check = new QCheckBox(QString::fromLatin1(kBoxes[i].text));
        check->setChecked(ticked[i]);
        m_boxes[static_cast<std::size_t>(kBoxes[i].word)] = check;
        switches->addWidget(check, static_cast<int>(i / 3), static_cast<int>(i % 3));
    }
    box(MenuSettings::kUsb)->setEnabled(false);
    box(MenuSettings::kPrint)->setEnabled(false);

    auto* radioBox = new QGroupBox;
    auto* radios = new QGridLayout(radioBox);
    auto* speedRow = new QHBoxLayout;
    auto* typeRow = new QHBoxLayout;
    m_speed = radioRow(kSpeedItems, c.speed, speedRow, this);
    m_type = radioRow(kTypeItems, c.type, typeRow, this);
    radios->addWidget(new QLabel(QStringLiteral("SPEED :")), 0, 0);
    radios->addLayout(speedRow, 0, 1);
    radios->addWidget(new QLabel(QStringLiteral("TYPE  :")), 1, 0);
    radios->addLayout(typeRow, 1, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &CMenuDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pressBox);
    layout->addWidget(listBox);
    layout->addWidget(switchBox);
    layout->addWidget(radioBox);
    layout->addWidget(buttons);
    setMinimumWidth(440);
}

QCheckBox* CMenuDialog::box(int word) const {
    if (word < 0 || word >= static_cast<int>(m_boxes.size())) return nullptr;
    return m_boxes[static_cast<std::size_t>(word)];
}

void CMenuDialog::accept() {
    MenuDialogControls c;
    c.pressPosition = m_slider->value();
    c.senseIndex = m_sense->currentIndex();
    c.autoSIndex = m_autoS->currentIndex();
    c.autoP = box(MenuSettings::kAutoP)->isChecked();
    c.dbp = box(MenuSettings::kDbp)->isChecked();
    c.usb = box(MenuSettings::kUsb)->isChecked();
    c.print = box(MenuSettings::kPrint)->isChecked();
    c.sound = box(MenuSettings::kSound)->isChecked();
    c.time = box(MenuSettings::kTime)->isChecked();
    c.speed = m_speed->checkedId();
    c.type = m_type->checkedId();
    m_result = menuDialogResult(c, m_read);
    QDialog::accept();
}

QWidget* CMenuDialog::makeScale() {
    auto* scale = new QWidget;
    scale->setFixedHeight(fontMetrics().height() + 2);
    scale->installEventFilter(this);
    return scale;
}

int CMenuDialog::sliderX(int position) const {
    // The centre of the handle at that position, in the slider's coordinates.
    QStyleOptionSlider option;
    option.initFrom(m_slider);
    option.orientation = Qt::Horizontal;
    option.minimum = m_slider->minimum();
    option.maximum = m_slider->maximum();
    const QRect handle =
        m_slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, m_slider);
    const int span = m_slider->width() - handle.width();
    return QStyle::sliderPositionFromValue(m_slider->minimum(), m_slider->maximum(), position, span) +
           handle.width() / 2;
}

void CMenuDialog::paintScale(QWidget* scale) {
    QPainter painter(scale);
    painter.setPen(palette().color(QPalette::WindowText));
    const int offset = m_slider->x() - scale->x();
    if (scale == m_ticks) {
        const int x = offset + sliderX(MenuDialogControls::kSliderTick);
        painter.drawLine(x, 0, x, scale->height() / 2);
        return;
    }
    const QFontMetrics metrics = fontMetrics();
    for (const ScaleLabel& label : kScaleLabels) {
        const QString text = QString::fromLatin1(label.text);
        const int w = metrics.horizontalAdvance(text);
        const int x = std::clamp(offset + sliderX(label.position) - w / 2, 0, scale->width() - w);
        painter.drawText(x, metrics.ascent() + 1, text);
    }
}

bool CMenuDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && (watched == m_scale || watched == m_ticks)) {
        paintScale(static_cast<QWidget*>(watched));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace hx

#include "gui/dialogs/CMonitorDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "gui/dialogs/CTraceImageBox.h"
#include "gui/views/PaneSupport.h"

namespace hx {

namespace {

// Dialog units of the template to pixels of the dialog's font: a quarter of the
// average letter width across, an eighth of the line height down.
class DialogUnits {
  public:
    explicit DialogUnits(const QFontMetrics& metrics)
        : m_x(metrics.horizontalAdvance(
                  QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
              52.0),
          m_y(metrics.height()) {}
    QRect rect(int x, int y, int w, int h) const {
        return QRect(px(x), py(y), px(x + w) - px(x), py(y + h) - py(y));
    }

  private:
    int px(int x) const { return qRound(x * m_x / 4.0); }
    int py(int y) const { return qRound(y * m_y / 8.0); }
    double m_x;
    double m_y;
};

int rgbOf(const QColor& c) { return c.red() | (c.green() << 8) | (c.blue() << 16); }

std::optional<QColor> pickColor(const QColor& initial, QWidget* parent) {
    // Qt's own chooser is the full form, with the custom colours.
    const QColor chosen =
        QColorDialog::getColor(initial, parent, QString(), QColorDialog::DontUseNativeDialog);
    if (!chosen.isValid()) return std::nullopt;
    return chosen;
}

template <std::size_t N>
QComboBox* listOf(const std::array<const char*, N>& items, QWidget* parent) {
    auto* list = new QComboBox(parent);
    for (const char* item : items) list->addItem(QString::fromLatin1(item));
    return list;
}

QComboBox* colourList(QWidget* parent) {
    auto* list = new QComboBox(parent);
    for (const ColorTableEntry& e : kColorTable) list->addItem(QString::fromLatin1(e.name));
    list->setMaxVisibleItems(static_cast<int>(kColorTable.size()));
    return list;
}

// A label keeps its place and alignment and grows away from its anchor when
// the font needs more room than the template gave.
void label(QWidget* parent, const char* text, QRect r, bool right) {
    auto* l = new QLabel(QString::fromLatin1(text), parent);
    const int need = l->sizeHint().width();
    if (need > r.width()) r.setLeft(right ? r.right() - need : r.left()), r.setWidth(need);
    r.setHeight(std::max(r.height(), l->sizeHint().height()));
    l->setGeometry(r);
    l->setAlignment((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
}

// A control at its template place, grown to what it needs.
void place(QWidget* w, QRect r) {
    r.setHeight(std::max(r.height(), w->sizeHint().height()));
    r.setWidth(std::max(r.width(), w->minimumSizeHint().width()));
    w->setGeometry(r);
}

}  // namespace

CMonitorDialog::CMonitorDialog(const MonitorValues& values, const QString& caption, QWidget* parent)
    : QDialog(parent), m_state(MonitorDialogState::fromValues(values)), m_chooseColor(pickColor) {
    setFont(QFont(QStringLiteral("Microsoft Sans Serif"), 9));
    setWindowTitle(caption);
    const DialogUnits du(fontMetrics());

    // Untitled boxes and the two headings first, so the controls lie above them.
    auto* datafile = new QGroupBox(QStringLiteral("DATAFILE"), this);
    datafile->setGeometry(du.rect(7, 3, 245, 51));
    (new QGroupBox(this))->setGeometry(du.rect(7, 54, 245, 44));
    auto* display = new QGroupBox(QStringLiteral("DISPLAY"), this);
    display->setGeometry(du.rect(7, 102, 245, 123));

    label(this, "Filename Type", du.rect(42, 18, 44, 8), true);
    label(this, "Create Datafile", du.rect(40, 36, 46, 8), true);
    label(this, "Background Color", du.rect(33, 119, 53, 8), true);
    label(this, "Wave Trace", du.rect(51, 145, 35, 8), true);
    label(this, "Press", du.rect(75, 159, 18, 9), false);
    label(this, "Osc.", du.rect(75, 175, 18, 9), false);

    m_filenameType = listOf(kFilenameTypeItems, this);
    place(m_filenameType, du.rect(95, 15, 108, 12));
    m_createDatafile = listOf(kCreateDatafileItems, this);
    place(m_createDatafile, du.rect(95, 33, 108, 12));
    m_timerMode = new QCheckBox(QStringLiteral("Timer Mode"), this);
    place(m_timerMode, du.rect(95, 64, 50, 10));
    m_trace = new QCheckBox(QStringLiteral("TRACE"), this);
    place(m_trace, du.rect(95, 79, 50, 10));

    m_background = new QButtonGroup(this);
    const std::array<std::pair<const char*, QRect>, 3> radios{{{"White", du.rect(94, 118, 32, 10)},
                                                               {"Black", du.rect(132, 118, 33, 10)},
                                                               {"Color Table", du.rect(172, 118, 50, 10)}}};
    for (std::size_t i = 0; i < radios.size(); ++i) {
        auto* radio = new QRadioButton(QString::fromLatin1(radios[i].first), this);
        place(radio, radios[i].second);
        m_background->addButton(radio, static_cast<int>(i));
    }

    m_pressColor = colourList(this);
    place(m_pressColor, du.rect(95, 157, 41, 12));
    m_waveColor = colourList(this);
    place(m_waveColor, du.rect(95, 175, 41, 12));
    m_pressWidth = listOf(kTraceWidthItems, this);
    place(m_pressWidth, du.rect(143, 157, 32, 12));
    m_waveWidth = listOf(kTraceWidthItems, this);
    place(m_waveWidth, du.rect(143, 175, 32, 12));
    m_preview = new CTraceImageBox(this);
    m_preview->setGeometry(du.rect(182, 142, 70, 68));

    m_default = new QPushButton(QStringLiteral("Default"), this);
    place(m_default, du.rect(59, 226, 40, 15));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    place(cancel, du.rect(133, 226, 53, 15));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    place(ok, du.rect(199, 226, 53, 15));
    ok->setDefault(true);
    m_default->setAutoDefault(false);
    cancel->setAutoDefault(false);
    setFixedSize(du.rect(0, 0, 261, 244).size());

    showState();
    connectControls(*ok, *cancel);
}

void CMonitorDialog::connectControls(QPushButton& ok, QPushButton& cancel) {
    connect(&ok, &QPushButton::clicked, this, &CMonitorDialog::accept);
    connect(&cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_default, &QPushButton::clicked, this, &CMonitorDialog::restoreDefaults);
    connect(m_background, &QButtonGroup::buttonClicked, this, &CMonitorDialog::backgroundClicked);
    connect(m_pressColor, &QComboBox::activated, this, [this](int i) {
        m_state.selectPressColor(i);
        m_preview->showTraces(m_state);
    });
    connect(m_waveColor, &QComboBox::activated, this, [this](int i) {
        m_state.selectWaveColor(i);
        m_preview->showTraces(m_state);
    });
    connect(m_pressWidth, &QComboBox::activated, this, [this](int i) {
        m_state.pressWidth = i;
        m_preview->showTraces(m_state);
    });
    connect(m_waveWidth, &QComboBox::activated, this, [this](int i) {
        m_state.waveWidth = i;
        m_preview->showTraces(m_state);
    });
}

void CMonitorDialog::showState() {
    m_filenameType->setCurrentIndex(m_state.filenameType);
    m_createDatafile->setCurrentIndex(m_state.outputFile);
    m_timerMode->setChecked(m_state.timerMode != 0);
    m_trace->setChecked(m_state.traceMode != 0);
    m_pressColor->setCurrentIndex(m_state.pressColorNo);
    m_waveColor->setCurrentIndex(m_state.waveColorNo);
    m_pressWidth->setCurrentIndex(m_state.pressWidth);
    m_waveWidth->setCurrentIndex(m_state.waveWidth);
    // A background choice outside the three buttons (a picked colour) checks none.
    QAbstractButton* checked = m_background->button(m_state.backChoice);
    m_background->setExclusive(false);
    for (QAbstractButton* b : m_background->buttons()) b->setChecked(b == checked);
    m_background->setExclusive(true);
    m_preview->showTraces(m_state);
}

void CMonitorDialog::backgroundClicked(QAbstractButton* button) {
    switch (m_background->id(button)) {
        case 0:
            m_state.chooseWhite();
            break;
        case 1:
            m_state.chooseBlack();
            break;
        default: {
            const std::optional<QColor> picked =
                m_chooseColor ? m_chooseColor(colorFromRef(m_state.backColor), this) : std::nullopt;
            if (!picked) return;
            m_state.colorPicked(rgbOf(*picked));
            break;
        }
    }
    m_preview->showTraces(m_state);
}

void CMonitorDialog::restoreDefaults() {
    m_state.restoreDefaults();
    showState();
}

void CMonitorDialog::accept() {
    m_state.filenameType = m_filenameType->currentIndex();
    m_state.outputFile = m_createDatafile->currentIndex();
    m_state.timerMode = m_timerMode->isChecked() ? 1 : 0;
    m_state.traceMode = m_trace->isChecked() ? 1 : 0;
    m_state.backChoice = m_background->checkedId();
    m_state.pressColorNo = m_pressColor->currentIndex();
    m_state.waveColorNo = m_waveColor->currentIndex();
    m_state.pressWidth = m_pressWidth->currentIndex();
    m_state.waveWidth = m_waveWidth->currentIndex();
    QDialog::accept();
}

}  // namespace hx

#include "gui/dialogs/CClockDialog.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "control/DisplayTexts.h"

namespace hx {

namespace {

constexpr int kTextLeft = 20;
constexpr int kFirstLineTop = 20;
constexpr int kSecondLineTop = 40;
constexpr int kCharWidth = 16;  // pixels per character of the clock lines

QFont clockFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setPointSize(16);
    font.setBold(true);
    font.setStyleStrategy(QFont::PreferAntialias);
    // The lines are drawn with characters 16 pixels wide: widen the font to that.
    const int natural = QFontMetrics(font).horizontalAdvance(QLatin1Char('0'));
    if (natural > 0) font.setStretch(qBound(1, kCharWidth * 100 / natural, 4000));
    return font;
}

}  // namespace

CClockDialog::CClockDialog(std::function<std::time_t()> pcTime, QWidget* parent)
    : QDialog(parent), m_pcTime(std::move(pcTime)), m_font(clockFont()) {
    setWindowTitle(QStringLiteral("Date&Time"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 10));
    m_setClock = new QPushButton(QStringLiteral("Set HX-40K clock to PC clock"));
    m_setClock->setAutoDefault(false);
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_setClock, &QPushButton::clicked, this, [this] {
        if (m_model && m_model->setClockRequested) m_model->setClockRequested();
        update();
    });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_setClock);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    // Room for the two lines painted above the buttons.
    layout->addSpacing(kSecondLineTop + QFontMetrics(m_font).height());
    layout->addStretch(1);
    layout->addLayout(buttons);
    const int textWidth =
        kTextLeft * 2 + QFontMetrics(m_font).horizontalAdvance(QString(26, QLatin1Char('0')));
    setMinimumWidth(textWidth);

    m_refresh = new QTimer(this);
    m_refresh->setInterval(1000);
    connect(m_refresh, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void CClockDialog::run(ClockDialogModel& model) {
    if (m_model) return;
    m_model = &model;
    m_unitTime = model.unitTime;
    model.refresh = [this] {
        if (m_model) m_unitTime = m_model->unitTime;
        update();
    };
    m_refresh->start();
    exec();
    m_refresh->stop();
    model.refresh = nullptr;
    m_model = nullptr;
}

void CClockDialog::endIfShowing() {
    if (m_model) reject();
}

std::array<std::string, 2> CClockDialog::lines() const {
    const std::time_t now = m_pcTime ? m_pcTime() : std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return clockDialogLines(local, m_model ? m_model->unitTime : m_unitTime);
}

void CClockDialog::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    const std::array<std::string, 2> text = lines();
    QPainter painter(this);
    painter.setFont(m_font);
    painter.setPen(palette().color(QPalette::WindowText));
    const int ascent = QFontMetrics(m_font).ascent();
    painter.drawText(kTextLeft, kFirstLineTop + ascent, QString::fromStdString(text[0]));
    painter.drawText(kTextLeft, kSecondLineTop + ascent, QString::fromStdString(text[1]));
}

}  // namespace hx

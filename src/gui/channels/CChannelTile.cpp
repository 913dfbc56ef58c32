#include "gui/channels/CChannelTile.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>
#include <algorithm>

#include "control/DisplayTexts.h"
#include "data/Halnor55KUDoc.h"
#include "gui/views/CWaveView.h"
#include "session/ResultsLog.h"

namespace hx {

namespace {

const QString kFrameStyle = QStringLiteral("QFrame#channelTile { border: %1px solid %2; background: %3; }");

QString numberOrDash(int value) { return value > 0 ? QString::number(value) : QStringLiteral("---"); }

}  // namespace

CChannelTile::CChannelTile(int deviceId, QWidget* parent) : QFrame(parent), m_deviceId(deviceId) {
    setObjectName(QStringLiteral("channelTile"));
    m_header = new QLabel(this);
    m_wave = new CWaveView(this);
    m_values = new QLabel(this);
    m_result = new QLabel(this);
    m_error = new QLabel(this);
    m_resultTrace = new QLabel(this);
    m_resultTrace->hide();
    QFont bold = m_header->font();
    bold.setBold(true);
    m_header->setFont(bold);
    m_error->setStyleSheet(QStringLiteral("color: #c00000;"));
    // The texts never widen the tile: the grid gives every tile the same width.
    for (QLabel* label : {m_header, m_values, m_result, m_error})
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // The sweep takes the keys of the selected channel's panes, never the tile's.
    m_wave->setFocusPolicy(Qt::NoFocus);
    m_wave->setMinimumHeight(40);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 3, 4, 3);
    column->setSpacing(1);
    column->addWidget(m_header);
    column->addWidget(m_wave, 1);
    column->addWidget(m_values);
    column->addWidget(m_result);
    column->addWidget(m_error);
    setSelected(false);
    showHeader();
    showValues();
}

void CChannelTile::attach(const CHalnor55KUDoc& doc) {
    m_doc = &doc;
    m_wave->attach(&doc);
}

void CChannelTile::setSelected(bool selected) {
    m_selected = selected;
    setStyleSheet(selected ? kFrameStyle.arg(3).arg(QStringLiteral("#1f5fbf"), QStringLiteral("#e8f0fc"))
                           : kFrameStyle.arg(1).arg(QStringLiteral("#909090"), QStringLiteral("#f4f4f4")));
}

void CChannelTile::setConnected(bool connected) {
    if (connected == m_connected) return;
    m_connected = connected;
    if (!connected) {
        m_hr = m_sense = m_pressure = -1;
        showValues();
        m_wave->resetSweep();  // no stale trace under "Not Connected"
        m_resultTrace->hide();
    }
    showHeader();
}

void CChannelTile::setState(const std::string& stateText) {
    m_state = QString::fromStdString(stateText).trimmed();
    showHeader();
}

void CChannelTile::setAnimal(const std::string& animalPaneText) {
    m_animal = QString::fromStdString(animalPaneText).trimmed();
    showHeader();
}

void CChannelTile::setError(const std::string& text) {
    // The error pane's "---" (no error) is left out.
    const QString shown = QString::fromStdString(text).trimmed();
    m_errorPane = shown == QStringLiteral("---") ? QString() : shown;
    showError();
}

// Why the unit cannot be used comes first, then the unit's own error.
void CChannelTile::showError() { m_error->setText(m_link.isEmpty() ? m_errorPane : m_link); }

void CChannelTile::setGeneral(const std::string& text) {
    m_general = QString::fromStdString(text).trimmed();
    showValues();
}

void CChannelTile::setLiveHeartRate(int hr) {
    if (hr == m_hr) return;
    m_hr = hr;
    showValues();
}

void CChannelTile::setSensorLevel(int level) {
    if (level == m_sense) return;
    m_sense = level;
    showValues();
}

void CChannelTile::setPressure(int mmHg) {
    if (mmHg == m_pressure) return;
    m_pressure = mmHg;
    showValues();
}

void CChannelTile::setResult(const HistoryRow& row, int errorCode, bool showMbpDbp) {
    QString text = QStringLiteral("Result N%1  %2").arg(row.number).arg(numberOrDash(row.sbp));
    if (showMbpDbp) text += QStringLiteral("/%1/%2").arg(numberOrDash(row.mbp), numberOrDash(row.dbp));
    text += QStringLiteral(" mmHg  HR %1").arg(numberOrDash(row.hr));
    if (errorCode != 0) text += QStringLiteral("  ") + QString::fromStdString(resultErrorName(errorCode));
    m_result->setText(text);
    showResultTrace();
}

void CChannelTile::showResultTrace() {
    const QSize size = m_wave->size();
    if (!m_doc || size.width() < 2 || size.height() < 8) return;
    const Ring& pressure = m_doc->resultPressureRing();
    const Ring& wave = m_doc->resultWaveRing();
    // The recording runs from the ring's start to its last sample.
    std::size_t n = kRingSize;
    while (n > 1 && pressure[n - 1] == 0 && wave[n - 1] == 0) --n;
    int pressureMax = 1, waveMin = 0, waveMax = 1;
    for (std::size_t i = 0; i < n; ++i) {
        pressureMax = std::max<int>(pressureMax, pressure[i]);
        waveMin = std::min<int>(waveMin, wave[i]);
        waveMax = std::max<int>(waveMax, wave[i]);
    }
    const int w = size.width(), h = size.height();
    QPolygon pressureLine, waveLine;
    for (int x = 0; x < w; ++x) {
        const std::size_t i = static_cast<std::size_t>(x) * n / static_cast<std::size_t>(w);
        pressureLine << QPoint(x, h / 2 - pressure[i] * (h / 2 - 2) / pressureMax);
        waveLine << QPoint(x, h - 2 - (wave[i] - waveMin) * (h / 2 - 4) / std::max(1, waveMax - waveMin));
    }
    QPixmap picture(size);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setPen(QColor(0x60, 0x60, 0x60));
    painter.drawPolyline(pressureLine);
    painter.setPen(QColor(0x00, 0x00, 0xc8));
    painter.drawPolyline(waveLine);
    painter.end();
    m_resultTrace->setPixmap(picture);
    m_resultTrace->setGeometry(m_wave->geometry());
    m_resultTrace->show();
    m_resultTrace->raise();
}

void CChannelTile::liveBatch() {
    if (m_resultTrace->isVisible() && m_doc && m_doc->drawMode() == 0) m_resultTrace->hide();
}

bool CChannelTile::showsResultTrace() const { return m_resultTrace->isVisible(); }

void CChannelTile::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    if (m_resultTrace->isVisible()) showResultTrace();
}

void CChannelTile::setLinkProblem(LinkError cause) {
    m_link = cause == LinkError::None ? QString() : QString::fromStdString(linkErrorText(cause));
    showError();
}

void CChannelTile::showHeader() {
    QString text = QStringLiteral("Unit %1").arg(m_deviceId + 1);
    if (!m_connected) {
        text += QStringLiteral("  Not Connected");
    } else {
        text += QStringLiteral("  ") + (m_state.isEmpty() ? QStringLiteral("Connected") : m_state);
    }
    if (!m_animal.isEmpty()) text += QStringLiteral("  \u00b7  ") + m_animal;
    m_header->setText(text);
}

void CChannelTile::showValues() {
    QString text;
    if (m_hr >= 0) text += QStringLiteral("HR %1  ").arg(m_hr);
    if (m_pressure >= 0) text += QStringLiteral("cuff %1 mmHg  ").arg(m_pressure);
    if (m_sense >= 0) text += QStringLiteral("sense %1  ").arg(m_sense);
    if (!m_general.isEmpty()) text += m_general;
    m_values->setText(text.trimmed());
}

QString CChannelTile::headerText() const { return m_header->text(); }
QString CChannelTile::valuesText() const { return m_values->text(); }
QString CChannelTile::resultText() const { return m_result->text(); }
QString CChannelTile::errorText() const { return m_error->text(); }

void CChannelTile::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) emit clicked(m_deviceId);
    QFrame::mousePressEvent(event);
}

}  // namespace hx

#include "gui/views/CResultView.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <utility>

#include "analysis/OscillometricAnalysis.h"
#include "data/Halnor55KUDoc.h"
#include "gui/views/PaneSupport.h"

namespace hx {

namespace {

const QColor kMarkGreen(0, 255, 0);
const QColor kMarkRed(255, 0, 0);

// Walks sample indices and draws one vertical line per pixel column from the
// lowest to the highest value met since the last column. The next column
// starts from this one's extremes, so neighbouring columns join.
class ColumnWalk {
  public:
    ColumnWalk(QPainter& painter, int width, int span, int lastX)
        : m_p(painter), m_w(width), m_span(span), m_lastX(lastX) {}

    int x(int s) const { return static_cast<int>(static_cast<long long>(m_w) * s / m_span); }

    template <typename ToY>
    void add(int s, int value, ToY toY) {
        m_low = std::min(m_low, value);
        m_high = std::max(m_high, value);
        const int sx = x(s);
        if (sx == m_lastX) return;
        m_p.drawLine(m_column, toY(m_low), m_column, toY(m_high));
        ++m_column;
        std::swap(m_low, m_high);
        m_lastX = sx;
    }
    void setColumn(int column) { m_column = column; }

  private:
    QPainter& m_p;
    int m_w, m_span;
    int m_lastX;
    int m_column = 0;
    int m_low = 32767;
    int m_high = -32768;
};

}  // namespace

CResultView::CResultView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
}

void CResultView::attach(const CHalnor55KUDoc* doc) {
    m_doc = doc;
    newPens();
}

void CResultView::analysed(const COscillometricAnalysis& analysis) {
    m_analysis = &analysis;
    redraw();
}

void CResultView::showSaved(const RecordingView* saved) {
    m_saved.reset();
    if (saved) m_saved.emplace(*saved);
    redraw();
}

void CResultView::newPens() {
    if (m_doc) {
        m_background = colorFromRef(m_doc->backColor());
        m_pressurePen = QPen(colorFromRef(m_doc->pressColor()), m_doc->pressWidth() ? 2 : 1);
        m_wavePen = QPen(colorFromRef(m_doc->waveColor()), m_doc->waveWidth() ? 2 : 1);
    }
    redraw();
}

RecordingView CResultView::shown() const {
    return m_saved ? *m_saved : liveRecordingView(*m_doc, m_analysis);
}

int CResultView::span(const RecordingView& recording) {
    return recording.lastSampleIndex >= 3500 ? 4500 : 4200;
}

void CResultView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    redraw();
}

void CResultView::redraw() {
    fitKeptImage(*this, m_image, m_background);
    m_image.fill(m_background);
    update();
    if (!m_doc || width() <= 0 || height() <= 0) return;

    const RecordingView recording = shown();
    QPainter painter(&m_image);
    const int w = width();
    const int h = height();
    const int b = pressureBaseline();
    const int c = waveBaseline();
    const int n = span(recording);
    const int ring = static_cast<int>(kRingSize);
    auto sample = [ring](const Ring& r, int s) { return s < ring ? r[static_cast<std::size_t>(s)] : 0; };
    auto waveY = [c](int v) { return c - (v * c) / 1024; };
    auto pressureY = [b](int v) { return b - (v * b) / 700; };

    // Pressure scale: a tick every 200 (half units) up to the top edge, black
    // on a light background and white on a dark one.
    painter.setPen(QPen(m_background.lightness() < 128 ? Qt::white : Qt::black, 1));
    for (int k = 0;; k += 200) {
        const int y = b - (b * k) / 800;
        if (y < 0) break;
        painter.drawLine(0, y, 10, y);
    }

    painter.setPen(m_wavePen);
    ColumnWalk wave(painter, w, n, -1);
    for (int s = 0; s < n; ++s) wave.add(s, sample(recording.wave, s), waveY);

    painter.setPen(m_pressurePen);
    ColumnWalk pressure(painter, w, n, -1);
    for (int s = 0; s < n; ++s) pressure.add(s, sample(recording.pressure, s), pressureY);

    const MeasurementResult& result = recording.result;
    if (result.errorCode != 0) return;

    painter.setPen(QPen(kMarkGreen, 1));
    for (std::int16_t mark : result.pulseMarks) {
        if (mark == 0) break;
        const int x = wave.x(mark);
        painter.drawLine(x, 0, x, 10);
    }
    auto marker = [&](std::int16_t index, const QColor& color) {
        if (index == 0) return;
        painter.setPen(QPen(color, 1));
        const int x = wave.x(index);
        painter.drawLine(x, h - 100, x, h);
    };
    marker(result.firstMarker, kMarkRed);
    marker(result.secondMarker, kMarkGreen);

    const COscillometricAnalysis* analysis = recording.analysis;
    if (!analysis || !analysis->hasCurve()) return;
    painter.setPen(m_wavePen);
    ColumnWalk curve(painter, w, n, 0);
    const auto& values = analysis->envelope();
    for (int s = 0; s < ring; ++s) {
        const std::int16_t v = values[static_cast<std::size_t>(s)];
        if (v == COscillometricAnalysis::kNoValue) {
            curve.setColumn(curve.x(s));
            continue;
        }
        curve.add(s, v, waveY);
    }
}

void CResultView::paintEvent(QPaintEvent* event) {
    if (fitKeptImage(*this, m_image, m_background)) redraw();
    paintKeptImage(*this, m_image, *event);
}

}  // namespace hx

#include "gui/views/CWaveView.h"

#include <QPaintEvent>
#include <QPainter>
#include <cmath>

#include "data/Halnor55KUDoc.h"
#include "gui/views/PaneSupport.h"

namespace hx {

namespace {

constexpr int kFlushIntervalMs = 20;  // at most 50 screen updates a second
constexpr int kJoinWindow = 8;        // slots after the cursor drawn flat on a full repaint
constexpr int kMaxSkipped = 20;       // empty slots after which a full repaint stops

// A slot keeps a sample with its top four bits set, so 0 means "empty".
std::int16_t slotValue(std::int16_t sample) { return static_cast<std::int16_t>(sample | 0xF000); }
int sampleFromSlot(std::int16_t slot) {
    auto bits = static_cast<std::uint16_t>(slot);
    if (bits & 0x800) return static_cast<std::int16_t>(bits | 0xF000);
    return bits & 0x0FFF;
}

}  // namespace

CWaveView::CWaveView(QWidget* parent) : QWidget(parent) {
    // The kept picture covers every pixel: no background erase, no flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &CWaveView::flushPending);
    m_sinceFlush.start();
}

void CWaveView::attach(const CHalnor55KUDoc* doc) {
    m_doc = doc;
    newPens();
}

void CWaveView::newPens() {
    makePens();
    repaintFromSlots();
}

void CWaveView::makePens() {
    if (!m_doc) return;
    m_background = colorFromRef(m_doc->backColor());
    m_pressurePen = QPen(colorFromRef(m_doc->pressColor()), m_doc->pressWidth() ? 2 : 1);
    m_wavePen = QPen(colorFromRef(m_doc->waveColor()), m_doc->waveWidth() ? 2 : 1);
}

int CWaveView::slotX(int slot) const { return width() * slot / m_sweepWidth; }

int CWaveView::pressureY(int p) const {
    const int b = m_pressureBaseline;
    return b - static_cast<int>(std::trunc(static_cast<double>(p) * b * 0.00125 + 0.5));
}

int CWaveView::waveY(int w) const {
    const int c = m_waveBaseline;
    return c - static_cast<int>(std::trunc(static_cast<double>(w) * c * 0.0009765625 + 0.5));
}

void CWaveView::ensureImage() { fitKeptImage(*this, m_image, m_background); }

void CWaveView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (width() > 0 && height() > 0) {
        m_pressureBaseline = height() * 2 / 4;
        m_waveBaseline = height() * 5 / 6;
    }
    // The slots are kept; the picture is drawn again at the new size.
    repaintFromSlots();
}

void CWaveView::storeSample(int ringIndex, int x, int k) {
    const std::int16_t p = m_doc->pressureRing()[static_cast<std::size_t>(ringIndex)];
    const std::int16_t w = m_doc->waveRing()[static_cast<std::size_t>(ringIndex)];
    m_pressureSlots[static_cast<std::size_t>(x)] = slotValue(p);
    m_waveSlots[static_cast<std::size_t>(x)] = slotValue(w);
    const int px = slotX(x);
    m_pressurePoints[static_cast<std::size_t>(k)] = QPoint(px, pressureY(p));
    m_wavePoints[static_cast<std::size_t>(k)] = QPoint(px, waveY(w));
}

void CWaveView::drawPolylines(int count) {
    if (count <= 0) return;
    QPainter painter(&m_image);
    painter.setPen(m_pressurePen);
    painter.drawPolyline(m_pressurePoints.data(), count);
    painter.setPen(m_wavePen);
    painter.drawPolyline(m_wavePoints.data(), count);
    int left = m_pressurePoints[0].x();
    int right = m_pressurePoints[static_cast<std::size_t>(count - 1)].x();
    markDirty(QRect(left - 2, 0, right - left + 5, height()));
}

void CWaveView::fillStrip(int left, int right) {
    QRect strip = QRect(left, 0, right - left, height()).intersected(rect());
    if (strip.isEmpty()) return;
    QPainter painter(&m_image);
    painter.fillRect(strip, m_background);
    markDirty(strip);
}

void CWaveView::drawBatch() {
    if (!m_doc || m_doc->drawMode() != 0) return;
    const int start = m_doc->batchStartIndex();
    int n = m_doc->batchCount();
    if (start < 0 || start >= static_cast<int>(kRingSize) || n < 0 || n >= kSlots) return;
    if (!isVisible() || m_pressureBaseline == 0) {
        keepSlots(start, n);
        return;
    }
    ensureImage();
    m_readPosition = start;
    int x = start % m_sweepWidth;
    const int ring = static_cast<int>(kRingSize);

    if (x != 0) {
        // Continue the sweep from the last sample of the previous batch.
        m_readPosition -= 1;
        if (m_readPosition < 0) m_readPosition += ring;
        int k = 0;
        for (;; ++k, ++x, ++m_readPosition) {
            if (k > n) {
                // The batch ends inside the sweep: erase ahead of it, then draw.
                fillStrip(m_pressurePoints[0].x() + 2,
                          m_pressurePoints[static_cast<std::size_t>(k - 1)].x() + 16);
                drawPolylines(k);
                m_cursor = x;
                return;
            }
            if (x >= m_sweepWidth) break;
            if (m_readPosition >= ring) m_readPosition = 0;
            storeSample(m_readPosition, x, k);
        }
        // The sweep reached the right edge: draw up to it, the rest starts at
        // the left edge (the last sample drawn here joins the next batch).
        drawPolylines(k);
        x = 0;
        n -= k;
    }
    int k = 0;
    for (; k < n; ++k, ++x, ++m_readPosition) {
        if (m_readPosition >= ring) m_readPosition = 0;
        storeSample(m_readPosition, x, k);
    }
    fillStrip(0, 16);
    drawPolylines(k);
    m_cursor = x;
}

// A pane not shown (the other layout, a channel not selected) only keeps the
// samples in their slots; its picture is drawn from them when it is shown.
void CWaveView::keepSlots(int start, int n) {
    const int ring = static_cast<int>(kRingSize);
    for (int k = 0; k < n; ++k) {
        const auto r = static_cast<std::size_t>((start + k) % ring);
        const auto x = static_cast<std::size_t>((start + k) % m_sweepWidth);
        m_pressureSlots[x] = slotValue(m_doc->pressureRing()[r]);
        m_waveSlots[x] = slotValue(m_doc->waveRing()[r]);
    }
    m_cursor = (start + n) % m_sweepWidth;
    m_unshown = true;
}

void CWaveView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_unshown) repaintFromSlots();
}

void CWaveView::resetSweep() {
    m_cursor = 0;
    m_pressureSlots.fill(0);
    m_waveSlots.fill(0);
    ensureImage();
    m_image.fill(m_background);
    m_pending = QRegion();
    m_flushTimer.stop();
    update();
}

void CWaveView::toggleSweepSpeed() {
    m_sweepWidth = m_toggle ? 1000 : 2000;
    m_toggle = !m_toggle;
    resetSweep();
}

void CWaveView::repaintFromSlots() {
    m_unshown = false;
    ensureImage();
    m_image.fill(m_background);
    m_pending = QRegion();
    m_flushTimer.stop();
    if (m_doc && m_pressureBaseline != 0) {
        // The slot before the cursor gives the flat join over the erase gap;
        // before slot 0 comes the last slot of the previous sweep.
        const int before = m_cursor > 0 ? m_cursor - 1 : m_sweepWidth - 1;
        int k = 0;
        for (int s = 0; s < m_sweepWidth; ++s) {
            const std::int16_t own = m_pressureSlots[static_cast<std::size_t>(s)];
            if (own == 0) {
                if (s - k >= kMaxSkipped) break;
                continue;
            }
            std::size_t source = static_cast<std::size_t>(s);
            const bool inJoin = m_cursor >= 0 && s >= m_cursor && s < m_cursor + kJoinWindow;
            if (inJoin && m_pressureSlots[static_cast<std::size_t>(before)] != 0)
                source = static_cast<std::size_t>(before);
            const int x = slotX(s);
            m_pressurePoints[static_cast<std::size_t>(k)] =
                QPoint(x, pressureY(sampleFromSlot(m_pressureSlots[source])));
            m_wavePoints[static_cast<std::size_t>(k)] = QPoint(x, waveY(sampleFromSlot(m_waveSlots[source])));
            ++k;
        }
        if (k > 0) {
            QPainter painter(&m_image);
            painter.setPen(m_pressurePen);
            painter.drawPolyline(m_pressurePoints.data(), k);
            painter.setPen(m_wavePen);
            painter.drawPolyline(m_wavePoints.data(), k);
        }
    }
    update();
}

void CWaveView::markDirty(const QRect& rect) {
    m_pending += rect.intersected(this->rect());
    if (m_flushTimer.isActive()) return;
    const qint64 since = m_sinceFlush.elapsed();
    m_flushTimer.start(since >= kFlushIntervalMs ? 0 : static_cast<int>(kFlushIntervalMs - since));
}

void CWaveView::flushPending() {
    m_flushTimer.stop();
    if (!m_pending.isEmpty()) update(m_pending);
    m_pending = QRegion();
    m_sinceFlush.restart();
}

void CWaveView::paintEvent(QPaintEvent* event) {
    // A new screen (another pixel ratio) needs the picture drawn again.
    if (fitKeptImage(*this, m_image, m_background)) repaintFromSlots();
    paintKeptImage(*this, m_image, *event);
}

}  // namespace hx

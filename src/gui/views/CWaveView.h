#pragma once
// CWaveView: the main pane in the wave layout. Draws the live cuff pressure and
// pulse wave as two traces that sweep left to right with an erase strip running
// ahead of the newest sample.
//
// Live batches are drawn into a kept image of the pane; only the touched strip
// is shown again, and strips that arrive faster than the screen refreshes are
// collected and shown together at most 50 times a second. A full repaint
// rebuilds the image from the slots (one per horizontal position of the sweep),
// so the pane can be redrawn at any size without the document's rings. While
// the pane is not shown (the other layout, a channel not selected) batches only
// fill the slots, and the picture is drawn from them when it is shown again.
//
// Geometry is in logical pixels of the pane (the main window places it 192
// pixels from its left edge). UI thread only. The document is not owned and
// must outlive the view.

#include <QElapsedTimer>
#include <QImage>
#include <QPen>
#include <QRegion>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>

#include "control/UiPort.h"

namespace hx {

class CHalnor55KUDoc;

class CWaveView final : public QWidget, public IWavePane {
    Q_OBJECT
  public:
    static constexpr int kSlots = 2000;

    explicit CWaveView(QWidget* parent = nullptr);

    // The document the samples, draw mode and pens come from; makes the pens.
    void attach(const CHalnor55KUDoc* doc);

    // Draws the document's latest batch (nothing while its draw mode is not 0).
    void drawBatch() override;
    // Empties every slot, puts the cursor at 0 and clears the pane.
    void resetSweep() override;
    // Takes colours and widths from the monitor preferences again and repaints.
    void newPens() override;
    // 2000 -> 1000 slots on the first call, back to 2000 on the next; resets.
    void toggleSweepSpeed() override;
    // Rebuilds the picture from the slots and shows it.
    void repaintFromSlots();
    void repaint() override { repaintFromSlots(); }
    using QWidget::repaint;  // the toolkit's repaint(rect) and friends stay reachable

    int sweepWidth() const { return m_sweepWidth; }
    int sweepCursor() const { return m_cursor; }
    int pressureBaseline() const { return m_pressureBaseline; }
    int waveBaseline() const { return m_waveBaseline; }
    // The kept picture (what the pane shows once pending strips are out).
    const QImage& picture() const { return m_image; }
    // Shows pending strips now (tests, screenshots).
    void flushPending();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void makePens();
    int slotX(int slot) const;
    int pressureY(int sample) const;
    int waveY(int sample) const;
    // Stores ring samples at slot x and its scaled points at position k.
    void storeSample(int ringIndex, int x, int k);
    void keepSlots(int start, int n);
    void drawPolylines(int count);
    void fillStrip(int left, int right);
    void markDirty(const QRect& rect);
    void ensureImage();

    const CHalnor55KUDoc* m_doc = nullptr;
    std::array<std::int16_t, kSlots> m_pressureSlots{};
    std::array<std::int16_t, kSlots> m_waveSlots{};
    int m_sweepWidth = kSlots;
    bool m_toggle = true;
    int m_pressureBaseline = 0;
    int m_waveBaseline = 0;
    std::array<QPoint, kSlots> m_pressurePoints{};
    std::array<QPoint, kSlots> m_wavePoints{};
    QPen m_pressurePen;
    QPen m_wavePen;
    QColor m_background{Qt::white};
    int m_readPosition = -1;
    int m_cursor = -1;
    bool m_unshown = false;  // slots were filled while the pane was not shown

    QImage m_image;
    QRegion m_pending;    // strips drawn but not yet shown
    QTimer m_flushTimer;  // shows m_pending at most every 20 ms
    QElapsedTimer m_sinceFlush;
};

}  // namespace hx

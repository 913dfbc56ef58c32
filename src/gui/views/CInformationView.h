#pragma once
// CInformationView: the pane at the top left (192 x 230) with the heart rate,
// SBP, MBP, DBP, the live cuff pressure, the sensor level ("sense"), the error
// text of a failed measurement and the measurement's date and time.
//
// The layout of a full repaint follows the unit state (-1 without a unit).
// Single rows (heart rate, sense, press) are redrawn alone between full
// repaints. Everything is drawn into a kept image; only touched rows are shown
// again. The result layout draws a recording's view: the live document's, or
// a saved file's (its values, date, time and animal texts) while one is shown;
// then the live calls leave the pane alone. UI thread only; the document and a
// saved recording are not owned and must outlive their use.

#include <QFont>
#include <QImage>
#include <QWidget>
#include <optional>

#include "control/UiPort.h"
#include "review/RecordingView.h"

namespace hx {

class CHalnor55KUDoc;

// The error text of a failed result, nine characters: "Lo", "Hi", "Air" or "Err<code>".
QString resultErrorText(int code);

class CInformationView final : public QWidget, public IInformationPane {
    Q_OBJECT
  public:
    static constexpr int kWidth = 192;
    static constexpr int kHeight = 230;

    explicit CInformationView(QWidget* parent = nullptr);

    void attach(const CHalnor55KUDoc* doc);

    // Full repaint in the layout of the current unit state, or of the state
    // given (the unit has just changed to it).
    void repaintLayout();
    void repaintLayout(int unitState);
    // Shows a saved recording (a copy of its view is kept), or the live values
    // again (null).
    void showSaved(const RecordingView* saved);
    void repaint() override { repaintLayout(); }
    void setUnitState(int state) override { m_unitState = state; }
    using QWidget::repaint;  // the toolkit's repaint(rect) and friends stay reachable
    // The result layout at once (a result has arrived).
    void drawResult() override;
    // Row 0: the live heart rate, or "ERR" while the unit records with its error flag set.
    void liveHeartRate(int hr, UnitState unitState) override;
    // Row 4: the sensor level.
    void sensorLevel(int level) override;
    // Rows 1 to 3: the live cuff pressure (already halved).
    void pressure(int value) override;

    // Row step: the large font's height plus a quarter of it.
    int rowStep() const { return m_rowStep; }
    const QFont& largeFont() const { return m_large; }
    const QImage& picture() const { return m_image; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    enum class Layout { Idle, View, Record, Result };
    void drawLayout(Layout layout);
    void ensureImage();

    const CHalnor55KUDoc* m_doc = nullptr;
    std::optional<RecordingView> m_saved;
    int m_unitState = -1;  // -1: no unit
    QFont m_large, m_middle, m_small;
    int m_textHeight = 0;  // large font: height plus external leading
    int m_rowStep = 0;
    QImage m_image;
};

}  // namespace hx

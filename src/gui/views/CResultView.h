#pragma once
// CResultView: the main pane in the graph layout. Shows the whole recorded
// measurement compressed to the pane's width (one vertical line per pixel
// column with the lowest and highest sample of that column), a pressure scale,
// the unit's pulse marks and two markers, and the envelope the program's
// analysis fitted. A failed result shows the two traces only.
//
// Drawn into a kept image whenever the result, the pens or the size change.
// UI thread only; the document and the analysis are not owned and must
// outlive the view (the analysis is read at every redraw). While a saved
// recording is under review the pane draws it instead (with its own analysis)
// and keeps the live result for afterwards.

#include <QImage>
#include <QPen>
#include <QWidget>
#include <optional>

#include "control/UiPort.h"
#include "review/RecordingView.h"

namespace hx {

class CHalnor55KUDoc;
class COscillometricAnalysis;

class CResultView final : public QWidget, public IResultPane {
    Q_OBJECT
  public:
    explicit CResultView(QWidget* parent = nullptr);

    void attach(const CHalnor55KUDoc* doc);
    // The analysis has run on the current result: draw it.
    void analysed(const COscillometricAnalysis& analysis) override;
    // Takes colours and widths from the monitor preferences again and redraws.
    void newPens() override;
    void redraw();
    // Draws a saved recording (a copy of its view is kept), or the live result
    // again (null). The recording's owner must outlive its showing.
    void showSaved(const RecordingView* saved);

    // 4500 samples across the pane when the recording reaches index 3500, else 4200.
    int span() const { return m_doc || m_saved ? span(shown()) : 4200; }
    int pressureBaseline() const { return height() * 2 / 4; }
    int waveBaseline() const { return height() * 7 / 8; }
    const QImage& picture() const { return m_image; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // The recording drawn: the saved one shown, else the live document's
    // (needs the document).
    RecordingView shown() const;
    static int span(const RecordingView& recording);

    const CHalnor55KUDoc* m_doc = nullptr;
    const COscillometricAnalysis* m_analysis = nullptr;
    std::optional<RecordingView> m_saved;
    QPen m_pressurePen;
    QPen m_wavePen;
    QColor m_background{Qt::white};
    QImage m_image;
};

}  // namespace hx

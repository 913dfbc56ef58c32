#pragma once
// The " Trace Image " box of the Monitor dialog: a group box that draws, inside
// its frame, the chosen background with one pressure line and one wave line
// as the panes will draw them. UI thread only.

#include <QGroupBox>

#include "settings/MonitorDialogModel.h"

namespace hx {

class CTraceImageBox final : public QGroupBox {
    Q_OBJECT
  public:
    explicit CTraceImageBox(QWidget* parent = nullptr);

    // Draws the preview of state (background, colours, widths) again.
    void showTraces(const MonitorDialogState& state);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    MonitorDialogState m_state;
};

}  // namespace hx

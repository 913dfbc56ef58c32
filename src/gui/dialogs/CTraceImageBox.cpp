#include "gui/dialogs/CTraceImageBox.h"

#include <QPainter>

#include "gui/views/PaneSupport.h"

namespace hx {

CTraceImageBox::CTraceImageBox(QWidget* parent) : QGroupBox(QStringLiteral(" Trace Image "), parent) {}

void CTraceImageBox::showTraces(const MonitorDialogState& state) {
    m_state = state;
    update();
}

void CTraceImageBox::paintEvent(QPaintEvent* event) {
    QGroupBox::paintEvent(event);
    const TracePreview p = tracePreview(m_state, 0, 0, width(), height());
    if (p.width <= 0 || p.height <= 0) return;
    QPainter painter(this);
    painter.fillRect(p.left, p.top, p.width, p.height, colorFromRef(p.background));
    painter.setClipRect(p.left, p.top, p.width, p.height);
    for (const TracePreview::Line& line : {p.press, p.wave}) {
        painter.setPen(QPen(colorFromRef(line.colour), line.width, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(p.left, line.y, p.left + p.width, line.y);
    }
}

}  // namespace hx

#pragma once
// What the four panes share: colours as the preferences keep them, and showing
// the dirty part of a kept picture. UI thread only.

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

namespace hx {

// 0x00BBGGRR as the preferences keep colours.
inline QColor colorFromRef(std::int32_t ref) {
    return QColor(ref & 0xFF, (ref >> 8) & 0xFF, (ref >> 16) & 0xFF);
}

// Makes the kept picture match the pane's size and device pixel ratio (a new
// picture is filled with the background). Returns true when it was made anew,
// so the pane draws it again.
inline bool fitKeptImage(const QWidget& pane, QImage& image, const QColor& background) {
    const qreal ratio = pane.devicePixelRatioF();
    const QSize pixels = (QSizeF(pane.size()) * ratio).toSize().expandedTo(QSize(1, 1));
    if (image.size() == pixels && image.devicePixelRatio() == ratio) return false;
    image = QImage(pixels, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(background);
    return true;
}

// Copies the dirty part of a kept picture (which carries the device pixel
// ratio) onto the pane.
inline void paintKeptImage(QWidget& pane, const QImage& image, const QPaintEvent& event) {
    QPainter painter(&pane);
    const qreal ratio = image.devicePixelRatio();
    for (const QRect& r : event.region())
        painter.drawImage(r, image, QRectF(QPointF(r.topLeft()) * ratio, QSizeF(r.size()) * ratio));
}

}  // namespace hx

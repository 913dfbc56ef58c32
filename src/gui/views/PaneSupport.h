#pragma once
// What the four panes share: the keys they turn into main-window commands (one
// function for all four panes), colours as the preferences keep
// them, and showing the dirty part of a kept picture. UI thread only.

#include <QImage>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include "app/WindowMessages.h"

namespace hx {

// The command a pane key stands for, or 0 for a key that keeps its default
// handling. Letters act in either case. B runs the Animal command in every pane
// (the wave and result panes always did; in the information and history panes
// it used to do nothing, which users read as a dead key).
inline int paneKeyCommand(const QKeyEvent& event) {
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return 0;
    switch (event.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return kCmdStart;
        case Qt::Key_Up:
            return kCmdUp;
        case Qt::Key_Down:
            return kCmdDown;
        case Qt::Key_Space:
        case Qt::Key_S:
            return kCmdSweepSpeed;
        case Qt::Key_M:
            return kCmdMenu;
        case Qt::Key_B:
            return kCmdAnimal;
        default:
            return 0;
    }
}

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

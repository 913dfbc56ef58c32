#pragma once
// One pane of the status bar: a sunken label that never cuts its text. A text
// wider than the pane is elided and the whole text becomes the tooltip. A pane
// may ask for the width of its whole text (up to what the bar can give) and
// never gets less than its fixed width. UI thread only.

#include <QLabel>
#include <QPainter>
#include <algorithm>

namespace hx {

class CStatusPane final : public QLabel {
  public:
    // width: the pane's width (0: it stretches); growToText: it may be wider
    // to show its whole text.
    CStatusPane(int width, bool growToText, QWidget* parent)
        : QLabel(parent), m_width(width), m_grow(growToText) {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setTextFormat(Qt::PlainText);
        setMinimumWidth(width);
        if (width > 0 && !growToText) setFixedWidth(width);
    }

    void showText(const QString& text) {
        setText(text);
        updateGeometry();
        updateTooltip();
    }

    // The text as it is drawn (elided when the pane is too narrow).
    QString shownText() const {
        return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width() - 4);
    }

    QSize sizeHint() const override {
        QSize hint = QLabel::sizeHint();
        if (!m_grow) hint.setWidth(std::max(m_width, 1));
        return hint.expandedTo(QSize(m_width, 0));
    }
    QSize minimumSizeHint() const override { return QSize(m_width, QLabel::minimumSizeHint().height()); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        drawFrame(&painter);
        painter.drawText(contentsRect().adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, shownText());
    }
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        updateTooltip();
    }

  private:
    void updateTooltip() { setToolTip(shownText() == text() ? QString() : text()); }

    int m_width;
    bool m_grow;
};

}  // namespace hx

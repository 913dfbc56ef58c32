#include "gui/report/Plots.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <optional>

namespace hx {

namespace {

// Four grid steps of a round size around lo..hi, so an axis reads 80, 100, 120, ...
std::pair<double, double> roundRange(double lo, double hi) {
    if (lo > hi) lo = 0, hi = 1;
    const double pad = std::max(5.0, (hi - lo) * 0.08);
    lo -= pad, hi += pad;
    for (const double step : {5.0, 10.0, 15.0, 20.0, 25.0, 30.0, 40.0, 50.0, 75.0, 100.0, 200.0, 500.0}) {
        const double base = std::floor(lo / step) * step;
        if (base + 4 * step >= hi) return {base, base + 4 * step};
    }
    return {lo, hi};
}

// A marker of the given shape (0 circle, 1 square, 2 triangle, 3 diamond, ...).
void marker(QPainter& p, const QPointF& c, int shape, double r) {
    switch (shape % 4) {
        case 1:
            p.drawRect(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r));
            break;
        case 2:
            p.drawPolygon(
                QPolygonF({QPointF(c.x(), c.y() - r * 1.2), QPointF(c.x() + r * 1.1, c.y() + r * 0.8),
                           QPointF(c.x() - r * 1.1, c.y() + r * 0.8)}));
            break;
        case 3:
            p.drawPolygon(QPolygonF({QPointF(c.x(), c.y() - r * 1.3), QPointF(c.x() + r * 1.1, c.y()),
                                     QPointF(c.x(), c.y() + r * 1.3), QPointF(c.x() - r * 1.1, c.y())}));
            break;
        default:
            p.drawEllipse(c, r, r);
    }
}

const std::optional<double>& cycleValue(const SessionCycle& c, int k) {
    // A cycle that ended with an error code measured nothing: the unit reports
    // a heart rate of 0 there, which would only stretch the axes.
    static const std::optional<double> none;
    if (c.errorCode != 0) return none;
    switch (k) {
        case kSbp:
            return c.sbp;
        case kMbp:
            return c.mbp;
        case kDbp:
            return c.dbp;
        default:
            return c.hr;
    }
}

const QColor kValueColours[kValueCount] = {QColor(0xD0, 0x20, 0x20), QColor(0x20, 0x80, 0x20),
                                           QColor(0x20, 0x40, 0xD0), QColor(0xE0, 0x80, 0x00)};
const QColor kGroupColours[] = {QColor(0x1F, 0x4E, 0xC8), QColor(0xD0, 0x30, 0x20), QColor(0x20, 0x90, 0x40),
                                QColor(0x90, 0x40, 0xB0), QColor(0xE0, 0x80, 0x00), QColor(0x40, 0x40, 0x40)};
const Qt::PenStyle kStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine};

// Opens a plot: white background, the frame of its area and the small font of its labels. The
// caller restores the painter.
void beginPlot(QPainter& p, const QRectF& bounds, const QRectF& area) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(bounds, Qt::white);
    p.setPen(QColor(0xC0, 0xC0, 0xC0));
    p.drawRect(area);
    QFont small = p.font();
    small.setPointSizeF(7.5);
    p.setFont(small);
}

// Five grid lines across the area, labelled on the left with [lo, hi] and, when a second range is
// given, on the right with it.
void drawGrid(QPainter& p, const QRectF& bounds, const QRectF& area, std::pair<double, double> left,
              std::optional<std::pair<double, double>> right = std::nullopt) {
    const auto label = [](std::pair<double, double> r, int t) {
        return QString::number(std::lround(r.first + (r.second - r.first) * t / 4));
    };
    for (int t = 0; t <= 4; ++t) {
        const double fy = area.bottom() - area.height() * t / 4;
        p.setPen(QColor(0xE0, 0xE0, 0xE0));
        p.drawLine(QPointF(area.left(), fy), QPointF(area.right(), fy));
        p.setPen(Qt::black);
        p.drawText(QRectF(bounds.left(), fy - 8, area.left() - bounds.left() - 4, 16),
                   Qt::AlignRight | Qt::AlignVCenter, label(left, t));
        if (right)
            p.drawText(QRectF(area.right() + 4, fy - 8, 40, 16), Qt::AlignLeft | Qt::AlignVCenter,
                       label(*right, t));
    }
}

}  // namespace

void drawSessionPlot(QPainter& p, const QRectF& bounds, const SessionStats& stats, bool print) {
    const QRectF area = bounds.adjusted(44, 20, -44, -26);
    beginPlot(p, bounds, area);
    const auto& cycles = stats.cycles;
    if (cycles.empty()) {
        p.setPen(Qt::darkGray);
        p.drawText(area, Qt::AlignCenter, QStringLiteral("No cycles in this session yet"));
        p.restore();
        return;
    }
    const auto range = [&](std::initializer_list<int> which) {
        double lo = 1e9, hi = -1e9;
        for (const auto& c : cycles)
            for (int k : which)
                if (const auto& v = cycleValue(c, k)) lo = std::min(lo, *v), hi = std::max(hi, *v);
        return roundRange(lo, hi);
    };
    const auto [pLo, pHi] = range({kSbp, kMbp, kDbp});
    const auto [hLo, hHi] = range({kHr});
    const double n = static_cast<double>(cycles.size());
    const auto x = [&](std::size_t i) {
        return area.left() + area.width() * (static_cast<double>(i) + 0.5) / n;
    };
    const auto y = [&](double v, bool hr) {
        const double lo = hr ? hLo : pLo, hi = hr ? hHi : pHi;
        return area.bottom() - area.height() * (v - lo) / (hi - lo);
    };
    drawGrid(p, bounds, area, {pLo, pHi}, std::pair{hLo, hHi});
    p.setPen(Qt::black);
    const std::size_t step = std::max<std::size_t>(1, cycles.size() / 10);
    for (std::size_t i = 0; i < cycles.size(); i += step)
        p.drawText(QRectF(x(i) - 20, area.bottom() + 4, 40, 16), Qt::AlignCenter, QString::number(i + 1));
    p.drawText(QRectF(bounds.left(), bounds.top(), 44, 14), Qt::AlignCenter, QStringLiteral("mmHg"));
    p.drawText(QRectF(area.right(), bounds.top(), 44, 14), Qt::AlignCenter, QStringLiteral("HR"));

    for (int k = 0; k < kValueCount; ++k) {
        const QColor colour = print ? QColor(Qt::black) : kValueColours[k];
        QPainterPath line;
        bool started = false;
        for (std::size_t i = 0; i < cycles.size(); ++i) {
            const auto& v = cycleValue(cycles[i], k);
            if (!v || stats.verdicts[i].status != CycleStatus::Accepted) continue;
            const QPointF pt(x(i), y(*v, k == kHr));
            started ? line.lineTo(pt) : line.moveTo(pt);
            started = true;
        }
        p.setPen(QPen(colour, k == kHr ? 1.0 : 1.5,
                      print      ? kStyles[k]
                      : k == kHr ? Qt::DashLine
                                 : Qt::SolidLine));
        p.setBrush(Qt::NoBrush);
        p.drawPath(line);
        for (std::size_t i = 0; i < cycles.size(); ++i) {
            const auto& v = cycleValue(cycles[i], k);
            if (!v) continue;
            const QPointF pt(x(i), y(*v, k == kHr));
            if (stats.verdicts[i].status == CycleStatus::Accepted) {
                p.setPen(Qt::NoPen);
                p.setBrush(colour);
                marker(p, pt, print ? k : 0, 3);
            } else {
                p.setPen(QPen(Qt::gray, 1.5));
                p.setBrush(Qt::white);
                marker(p, pt, print ? k : 0, 4);
            }
        }
        const QRectF key(area.left() + 8 + k * 62, area.top() + 4, 60, 14);
        if (print) {
            p.setPen(QPen(colour, 1.2, kStyles[k]));
            p.drawLine(QPointF(key.left(), key.center().y()), QPointF(key.left() + 16, key.center().y()));
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            marker(p, QPointF(key.left() + 8, key.center().y()), k, 2.5);
        }
        p.setPen(colour);
        p.drawText(key.adjusted(print ? 20 : 0, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromLatin1(kSessionValueNames[static_cast<std::size_t>(k)]));
    }
    p.setPen(Qt::gray);
    p.drawText(QRectF(area.left() + 8 + 4 * 62, area.top() + 4, 120, 14), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("\u25CB rejected"));
    p.restore();
}

void drawGroupPlot(QPainter& p, const QRectF& bounds, const StudyFigures& study, int value, bool print) {
    const QRectF area = bounds.adjusted(48, 24, -16, -34);
    beginPlot(p, bounds, area);
    int firstDay = 0, lastDay = 0;
    double lo = 1e9, hi = -1e9;
    for (const auto& g : study.groups)
        for (const auto& d : g.days) {
            const GroupValue& v = d.values[static_cast<std::size_t>(value)];
            if (!v.n) continue;
            lo = std::min(lo, v.mean - v.sem), hi = std::max(hi, v.mean + v.sem);
            firstDay = firstDay ? std::min(firstDay, d.dayNumber) : d.dayNumber;
            lastDay = std::max(lastDay, d.dayNumber);
        }
    const char* unit = value == kHr ? "per minute" : "mmHg";
    p.setPen(Qt::black);
    p.drawText(QRectF(bounds.left(), bounds.top(), bounds.width(), 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("%1 (%2), group mean \u00B1 SEM of the animals' daily means")
                   .arg(QString::fromLatin1(kSessionValueNames[static_cast<std::size_t>(value)]),
                        QString::fromLatin1(unit)));
    if (!lastDay) {
        p.setPen(Qt::darkGray);
        p.drawText(area, Qt::AlignCenter, QStringLiteral("No valid days yet"));
        p.restore();
        return;
    }
    const auto [yLo, yHi] = roundRange(lo, hi);
    const int span = std::max(1, lastDay - firstDay);
    const auto x = [&](int day) {
        return area.left() + area.width() * (0.04 + 0.92 * (day - firstDay) / static_cast<double>(span));
    };
    const auto y = [&](double v) { return area.bottom() - area.height() * (v - yLo) / (yHi - yLo); };
    drawGrid(p, bounds, area, {yLo, yHi});
    p.setPen(Qt::black);
    const int dayStep = std::max(1, span / 12 + 1);
    for (int d = firstDay; d <= lastDay; d += dayStep)
        p.drawText(QRectF(x(d) - 20, area.bottom() + 3, 40, 14), Qt::AlignCenter, QString::number(d));
    p.drawText(QRectF(area.left(), area.bottom() + 16, area.width(), 14), Qt::AlignCenter,
               QStringLiteral("Day"));

    const double offset = area.width() * 0.008;  // groups side by side, so bars do not hide each other
    for (std::size_t gi = 0; gi < study.groups.size(); ++gi) {
        const auto& g = study.groups[gi];
        const QColor colour = print ? (gi % 2 ? QColor(0x70, 0x70, 0x70) : QColor(Qt::black))
                                    : kGroupColours[gi % std::size(kGroupColours)];
        const int shape = static_cast<int>(gi);
        const double dx =
            (static_cast<double>(gi) - (static_cast<double>(study.groups.size()) - 1) / 2) * offset;
        QPainterPath line;
        bool started = false;
        for (const auto& d : g.days) {
            const GroupValue& v = d.values[static_cast<std::size_t>(value)];
            if (!v.n) continue;
            const QPointF pt(x(d.dayNumber) + dx, y(v.mean));
            started ? line.lineTo(pt) : line.moveTo(pt);
            started = true;
        }
        p.setPen(QPen(colour, 1.5, print ? kStyles[gi % 4] : Qt::SolidLine));
        p.setBrush(Qt::NoBrush);
        p.drawPath(line);
        for (const auto& d : g.days) {
            const GroupValue& v = d.values[static_cast<std::size_t>(value)];
            if (!v.n) continue;
            const double px = x(d.dayNumber) + dx;
            if (v.n >= 2) {
                p.setPen(QPen(colour, 1.0));
                p.drawLine(QPointF(px, y(v.mean - v.sem)), QPointF(px, y(v.mean + v.sem)));
                p.drawLine(QPointF(px - 3, y(v.mean - v.sem)), QPointF(px + 3, y(v.mean - v.sem)));
                p.drawLine(QPointF(px - 3, y(v.mean + v.sem)), QPointF(px + 3, y(v.mean + v.sem)));
            }
            p.setPen(QPen(colour, 1.0));
            p.setBrush(gi % 2 && print ? QBrush(Qt::white) : QBrush(colour));
            marker(p, QPointF(px, y(v.mean)), shape, 3.2);
        }
        // Legend: top left, one line per group.
        const QRectF key(area.left() + 8, area.top() + 4 + 13 * static_cast<double>(gi), 200, 12);
        p.setPen(QPen(colour, 1.5, print ? kStyles[gi % 4] : Qt::SolidLine));
        p.drawLine(QPointF(key.left(), key.center().y()), QPointF(key.left() + 18, key.center().y()));
        p.setPen(QPen(colour, 1.0));
        marker(p, QPointF(key.left() + 9, key.center().y()), shape, 3);
        p.setPen(Qt::black);
        p.drawText(key.adjusted(24, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromStdString(g.group));
    }
    p.restore();
}

}  // namespace hx

#include "gui/report/Report.h"

#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <functional>
#include <vector>

#include "BuildInfo.h"
#include "gui/report/Plots.h"

namespace hx {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// Lays out a report top to bottom in points, starting a page when the next
// block does not fit. Every page carries the report's title and its number.
class CPageFlow {
  public:
    CPageFlow(QPdfWriter& writer, QString title) : m_writer(writer), m_title(std::move(title)) {
        m_writer.setResolution(72);  // one unit = one point
        m_painter.begin(&m_writer);
        m_page = QRectF(m_writer.pageLayout().paintRectPoints());
        m_page.moveTo(0, 0);
        startPage();
    }
    bool ok() const { return m_painter.isActive(); }
    QPainter& painter() { return m_painter; }
    double width() const { return m_page.width(); }
    double left() const { return m_page.left(); }

    // Space for a block of height h at the cursor (a new page when needed);
    // returns the block's top.
    double take(double h) {
        if (m_y + h > m_page.bottom() - 18 && m_y > m_top + 1) {
            m_writer.newPage();
            startPage();
        }
        const double top = m_y;
        m_y += h;
        return top;
    }
    void gap(double h) { m_y += h; }

    void heading(const QString& text) {
        gap(6);
        take(30);  // a heading stays with the first line under it
        m_y -= 30;
        const double top = take(16);
        QFont f = font(10.5);
        f.setBold(true);
        m_painter.setFont(f);
        m_painter.setPen(Qt::black);
        m_painter.drawText(QRectF(left(), top, width(), 16), Qt::AlignLeft | Qt::AlignVCenter, text);
    }
    void line(const QString& text, double size = 8.5) {
        m_painter.setFont(font(size));
        const QRectF box = m_painter.boundingRect(QRectF(left(), 0, width(), 1000), Qt::TextWordWrap, text);
        const double top = take(box.height() + 1);
        m_painter.setPen(Qt::black);
        m_painter.drawText(QRectF(left(), top, width(), box.height() + 1), Qt::TextWordWrap, text);
    }
    // A table: column widths as shares of the page width; rows of cells. A
    // cell starting with "\x01" is printed in italic grey (not counted).
    void table(const std::vector<double>& shares, const QStringList& header,
               const std::vector<QStringList>& rows, double size = 7.5) {
        const double h = size + 5;
        double top = take(h);
        drawCells(shares, header, h, top, size, true, true);
        for (std::size_t r = 0; r < rows.size(); ++r) {
            top = take(h);
            if (top == m_top) {  // a new page: the header again
                drawCells(shares, header, h, top, size, true, true);
                top = take(h);
            }
            drawCells(shares, rows[r], h, top, size, false, r % 2 == 1);
        }
    }
    QFont font(double size) const {
        QFont f(QStringLiteral("Liberation Sans"));
        f.setPointSizeF(size);
        return f;
    }

  private:
    void drawCells(const std::vector<double>& shares, const QStringList& cells, double h, double top,
                   double size, bool bold, bool shaded) {
        if (shaded) m_painter.fillRect(QRectF(left(), top, width(), h), QColor(0xEE, 0xEE, 0xEE));
        double x = left();
        for (int c = 0; c < cells.size() && c < static_cast<int>(shares.size()); ++c) {
            const double w = width() * shares[static_cast<std::size_t>(c)];
            QString text = cells[c];
            QFont f = font(size);
            f.setBold(bold);
            m_painter.setPen(Qt::black);
            if (text.startsWith(QChar(1))) {
                text.remove(0, 1);
                f.setItalic(true);
                m_painter.setPen(QColor(0x60, 0x60, 0x60));
            }
            m_painter.setFont(f);
            m_painter.drawText(
                QRectF(x + 2, top, w - 4, h), Qt::AlignLeft | Qt::AlignVCenter,
                m_painter.fontMetrics().elidedText(text, Qt::ElideRight, static_cast<int>(w - 4)));
            x += w;
        }
        m_painter.setPen(QPen(QColor(0xB0, 0xB0, 0xB0), 0.4));
        m_painter.drawLine(QPointF(left(), top + h), QPointF(left() + width(), top + h));
    }
    void startPage() {
        ++m_pageNumber;
        m_painter.setFont(font(7));
        m_painter.setPen(QColor(0x40, 0x40, 0x40));
        m_painter.drawText(QRectF(left(), 0, width(), 12), Qt::AlignLeft | Qt::AlignVCenter, m_title);
        m_painter.drawText(QRectF(left(), 0, width(), 12), Qt::AlignRight | Qt::AlignVCenter,
                           QStringLiteral("page %1").arg(m_pageNumber));
        m_painter.setPen(QPen(Qt::black, 0.5));
        m_painter.drawLine(QPointF(left(), 14), QPointF(left() + width(), 14));
        m_top = m_y = 20;
    }

    QPdfWriter& m_writer;
    QPainter m_painter;
    QString m_title;
    QRectF m_page;
    double m_y = 0, m_top = 0;
    int m_pageNumber = 0;
};

QString valueCell(const std::optional<double>& v) {
    if (!v) return QStringLiteral("---");
    return *v == static_cast<long long>(*v) ? QString::number(static_cast<long long>(*v))
                                            : QString::number(*v, 'f', 1);
}

std::string finish(CPageFlow& flow, const std::string& path) {
    if (!flow.painter().end()) return "the PDF could not be written";
    QFileInfo info(QString::fromStdString(path));
    if (!info.exists() || info.size() == 0) return path + ": could not be written";
    return {};
}

void rules(CPageFlow& flow, const StudyRules& rules) {
    flow.heading(QStringLiteral("Rules"));
    for (const auto& r : studyRuleLines(rules)) flow.line(q(r));
}

}  // namespace

std::string writeSittingReport(const std::string& path, const SittingData& s) {
    QPdfWriter writer(QString::fromStdString(path));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(40, 36, 40, 36), QPageLayout::Point));
    writer.setTitle(QStringLiteral("Sitting report"));
    writer.setCreator(QStringLiteral("HX-40K terminal program " HX_PRODUCT_VERSION));
    const QString date = s.rows.empty() ? QString() : q(s.rows.front().dateTime.substr(0, 10));
    CPageFlow flow(writer, QStringLiteral("Sitting report: animal %1, %2, session %3, device ID %4")
                               .arg(q(s.sitting.animalNo), date)
                               .arg(s.sitting.session)
                               .arg(s.sitting.deviceId));
    if (!flow.ok()) return path + ": cannot be written";
    QPainter& p = flow.painter();

    flow.heading(QStringLiteral("Animal %1, %2").arg(q(s.sitting.animalNo), date));
    if (!s.rows.empty()) {
        const auto& r = s.rows.front();
        flow.line(
            QStringLiteral("Cycles %1 to %2 (%3 to %4); study no. %5, weight %6, sex/age %7, comment %8")
                .arg(q(r.n), q(s.rows.back().n), q(r.dateTime), q(s.rows.back().dateTime))
                .arg(q(r.studyNo), q(r.weight), q(r.sexAge), q(r.comment)));
    }
    flow.line(QStringLiteral("Data folder: %1").arg(QFileInfo(q(s.folder)).absoluteFilePath()));

    flow.heading(QStringLiteral("Conditions"));
    if (s.conditions && !s.conditions->empty()) {
        const auto& c = *s.conditions;
        const auto orDash = [](const std::string& t) { return t.empty() ? QStringLiteral("-") : q(t); };
        flow.line(QStringLiteral("Platform %1 \u00B0C, room %2 \u00B0C, restrainer %3, operator %4")
                      .arg(orDash(c.platformTemperature), orDash(c.roomTemperature), orDash(c.restrainer),
                           orDash(c.operatorName)));
        if (!c.notes.empty()) flow.line(QStringLiteral("Notes: %1").arg(q(c.notes)));
    } else {
        flow.line(QStringLiteral("None recorded"));
    }

    flow.heading(
        QStringLiteral("Summary: %1 of %2 cycles accepted").arg(s.stats.accepted).arg(s.stats.cycles.size()));
    std::vector<QStringList> summary;
    for (int k = 0; k < kValueCount; ++k) {
        const auto& v = s.stats.summary[static_cast<std::size_t>(k)];
        summary.push_back({QString::fromLatin1(kSessionValueNames[static_cast<std::size_t>(k)]),
                           QString::number(v.n), q(meanSdText(v)), q(rangeText(v))});
    }
    flow.table({0.15, 0.1, 0.25, 0.25},
               {QStringLiteral("Value"), QStringLiteral("n"), QStringLiteral("mean \u00B1 SD"),
                QStringLiteral("min-max")},
               summary);

    flow.gap(8);
    const double plotTop = flow.take(230);
    drawSessionPlot(p, QRectF(flow.left(), plotTop, flow.width(), 222), s.stats, true);

    flow.heading(
        QStringLiteral("Cycles (* changed by hand, in %1)").arg(QString::fromLatin1(kReviewLogName)));
    std::vector<QStringList> cycles;
    for (std::size_t i = 0; i < s.stats.cycles.size(); ++i) {
        const auto& c = s.stats.cycles[i];
        const auto& v = s.stats.verdicts[i];
        QString verdict = q(v.text);
        if (v.byHand) verdict = QStringLiteral("* ") + verdict;
        if (v.status != CycleStatus::Accepted) verdict.prepend(QChar(1));
        cycles.push_back({QString::number(i + 1), q(c.dateTime), q(c.label), valueCell(c.hr),
                          valueCell(c.sbp), valueCell(c.mbp), valueCell(c.dbp), verdict});
    }
    flow.table(
        {0.05, 0.2, 0.07, 0.07, 0.07, 0.07, 0.07, 0.4},
        {QStringLiteral("#"), QStringLiteral("Date time"), QStringLiteral("N"), QStringLiteral("HR"),
         QStringLiteral("SBP"), QStringLiteral("MBP"), QStringLiteral("DBP"), QStringLiteral("Verdict")},
        cycles);

    rules(flow, s.rules);
    flow.heading(QStringLiteral("Versions"));
    flow.line(QStringLiteral("Unit: %1; program that measured: %2; report: HX-40K terminal program %3")
                  .arg(s.unitVersion.empty() ? QStringLiteral("-") : q(s.unitVersion),
                       s.programVersion.empty() ? QStringLiteral("-") : q(s.programVersion),
                       QStringLiteral(HX_PRODUCT_VERSION)));
    return finish(flow, path);
}

std::string writeStudyReport(const std::string& path, const StudyFigures& study, const std::string& folder) {
    QPdfWriter writer(QString::fromStdString(path));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                     QMarginsF(36, 32, 36, 32), QPageLayout::Point));
    writer.setTitle(QStringLiteral("Study report"));
    writer.setCreator(QStringLiteral("HX-40K terminal program " HX_PRODUCT_VERSION));
    CPageFlow flow(writer, QStringLiteral("Study report: %1").arg(QFileInfo(q(folder)).absoluteFilePath()));
    if (!flow.ok()) return path + ": cannot be written";
    QPainter& p = flow.painter();

    std::size_t measured = 0;
    for (const auto& a : study.animals) measured += a.days.empty() ? 0 : 1;
    flow.heading(QStringLiteral("%1 animals in %2 groups, %3 days (%4 to %5), %6 results")
                     .arg(measured)
                     .arg(study.groups.size())
                     .arg(study.dates.size())
                     .arg(study.dates.empty() ? QStringLiteral("-") : q(study.dates.front()),
                          study.dates.empty() ? QStringLiteral("-") : q(study.dates.back()))
                     .arg(study.rows));
    const double plotTop = flow.take(300);
    drawGroupPlot(p, QRectF(flow.left(), plotTop, flow.width() * 0.62, 292), study, kSbp, true);
    // Beside the plot: the groups' figures of the last day.
    {
        QFont f(QStringLiteral("Liberation Sans"));
        f.setPointSizeF(8);
        p.setFont(f);
        p.setPen(Qt::black);
        QString text = QStringLiteral("Group mean \u00B1 SEM of SBP (animals)\n");
        for (const auto& g : study.groups) {
            text += QStringLiteral("\n%1").arg(q(g.group));
            for (const auto& d : g.days)
                if (d.values[kSbp].n)
                    text += QStringLiteral("\n  day %1: %2 (%3)")
                                .arg(d.dayNumber)
                                .arg(q(groupValueText(d.values[kSbp])))
                                .arg(d.values[kSbp].n);
        }
        p.drawText(QRectF(flow.left() + flow.width() * 0.65, plotTop, flow.width() * 0.35, 292),
                   Qt::AlignLeft | Qt::AlignTop, text);
    }

    flow.heading(
        QStringLiteral("Daily mean SBP (mmHg) per animal; grey italic: training day; "
                       "[x]: day not valid (reasons below)"));
    const std::size_t maxDays = 14;  // columns per table; more days continue in a second table
    std::vector<std::string> notes;
    for (std::size_t from = 0; from < study.dates.size() || from == 0; from += maxDays) {
        const std::size_t to = std::min(study.dates.size(), from + maxDays);
        std::vector<double> shares = {0.09, 0.09};
        QStringList header = {QStringLiteral("Animal"), QStringLiteral("Group")};
        const double share = 0.82 / static_cast<double>(std::max<std::size_t>(1, to - from));
        for (std::size_t d = from; d < to; ++d) {
            shares.push_back(share);
            const int number =
                study.groups.empty() ? static_cast<int>(d + 1) : study.groups[0].days[d].dayNumber;
            header << QStringLiteral("Day %1 %2").arg(number).arg(q(study.dates[d].substr(5)));
        }
        std::vector<QStringList> rows;
        for (const auto& a : study.animals) {
            QStringList cells = {q(a.animal), q(a.group)};
            for (std::size_t d = from; d < to; ++d) {
                const DayFigures* day = a.day(study.dates[d]);
                if (!day) {
                    cells << QString();
                } else if (day->training) {
                    cells << QChar(1) +
                                 (day->accepted() ? QString::number(day->values[kSbp].mean, 'f', 1)
                                                  : QStringLiteral("-")) +
                                 QStringLiteral(" t");
                } else if (!day->valid) {
                    notes.push_back("Animal " + a.animal + ", " + day->date + ": " + day->reason);
                    cells << QStringLiteral("[x] ") + (day->accepted()
                                                           ? QString::number(day->values[kSbp].mean, 'f', 1)
                                                           : QStringLiteral("-"));
                } else {
                    cells << QString::number(day->values[kSbp].mean, 'f', 1);
                }
            }
            rows.push_back(cells);
        }
        flow.table(shares, header, rows);
        flow.gap(6);
        if (to >= study.dates.size()) break;
    }
    if (!notes.empty()) {
        flow.heading(QStringLiteral("Days not valid"));
        for (const auto& n : notes) flow.line(q(n), 7.5);
    }
    rules(flow, study.rules);
    if (!study.unknownChanges.empty())
        flow.line(QStringLiteral("%1 hand changes in %2 name cycles that are not in the results log")
                      .arg(study.unknownChanges.size())
                      .arg(QString::fromLatin1(kReviewLogName)));
    flow.line(QStringLiteral("Cycles changed by hand: %1. Report: HX-40K terminal program %2")
                  .arg(study.handChanges)
                  .arg(QStringLiteral(HX_PRODUCT_VERSION)));
    return finish(flow, path);
}

}  // namespace hx

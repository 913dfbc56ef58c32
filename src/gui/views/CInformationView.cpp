#include "gui/views/CInformationView.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>
#include <cstdio>

#include "data/Halnor55KUDoc.h"
#include "gui/views/PaneSupport.h"

namespace hx {

namespace {

const QColor kBackground(240, 240, 240);
const QColor kHeartRateColor(255, 0, 0);
constexpr int kLabelX = 18;
constexpr int kValueX = 96;
constexpr int kTopY = 8;

// "Courier New" at a size in points as a 96-dpi screen shows it, squeezed or
// widened to the character width the pane's columns are laid out for.
QFont paneFont(int points, int charWidth, int weight) {
    QFont font("Courier New");
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(static_cast<int>(std::lround(points * 96.0 / 72.0)));
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setStyleStrategy(QFont::PreferAntialias);
    const int natural = QFontMetrics(font).horizontalAdvance(QLatin1Char('0'));
    if (natural > 0 && natural != charWidth)
        font.setStretch(static_cast<int>(std::lround(100.0 * charWidth / natural)));
    return font;
}

QString format(const char* pattern, int value) {
    char text[32];
    std::snprintf(text, sizeof text, pattern, static_cast<int>(static_cast<std::int16_t>(value)));
    return QString::fromLatin1(text);
}

// Text with an opaque background, its top-left corner at (x, y).
void text(QPainter& painter, const QFont& font, int x, int y, const QString& s,
          const QColor& color = Qt::black) {
    painter.setFont(font);
    const QFontMetrics metrics(font);
    painter.fillRect(QRect(x, y, metrics.horizontalAdvance(s), metrics.height()), kBackground);
    painter.setPen(color);
    painter.drawText(QPoint(x, y + metrics.ascent()), s);
}

}  // namespace

QString resultErrorText(int code) {
    // Padded, so a shorter text covers a longer one drawn before it.
    return QString::fromStdString(resultErrorName(code)).leftJustified(9);
}

CInformationView::CInformationView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    m_large = paneFont(20, 16, 800);
    m_middle = paneFont(14, 12, 800);
    m_small = paneFont(8, 7, 400);
    const QFontMetrics metrics(m_large);
    m_textHeight = metrics.height() + metrics.leading();
    m_rowStep = m_textHeight + (m_textHeight >> 2);
}

void CInformationView::attach(const CHalnor55KUDoc* doc) {
    m_doc = doc;
    repaintLayout();
}

void CInformationView::ensureImage() { fitKeptImage(*this, m_image, kBackground); }

void CInformationView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    repaintLayout();
}

void CInformationView::repaintLayout() { repaintLayout(m_unitState); }

void CInformationView::showSaved(const RecordingView* saved) {
    m_saved.reset();
    if (saved) m_saved.emplace(*saved);
    repaintLayout();
}

void CInformationView::repaintLayout(int state) {
    // A saved recording is a result, whatever the unit does meanwhile.
    if (m_saved) state = kStateResult;
    switch (state) {
        case -1:
            drawLayout(Layout::Idle);
            break;
        case kStateView:
            drawLayout(Layout::View);
            break;
        case kStateRecord:
            drawLayout(Layout::Record);
            break;
        default:
            drawLayout(Layout::Result);
            break;
    }
}

void CInformationView::drawResult() { drawLayout(Layout::Result); }

void CInformationView::drawLayout(Layout layout) {
    ensureImage();
    m_image.fill(kBackground);
    if (!m_doc && !m_saved) {
        update();
        return;
    }
    QPainter painter(&m_image);
    const int L = m_rowStep;
    auto row = [&](int i) { return kTopY + i * L; };
    const RecordingView recording = m_saved ? *m_saved : liveRecordingView(*m_doc, nullptr);
    const MeasurementResult& result = recording.result;
    const QString placeholder = QStringLiteral("---");

    auto pressureRow = [&](int i, const char* label, const QString& value) {
        text(painter, m_large, kLabelX, row(i), QString::fromLatin1(label));
        text(painter, m_large, kValueX, row(i), value);
    };
    auto heartRateRow = [&](int hr) {
        if (recording.saved) {  // a data file does not keep the heart rate
            pressureRow(0, "HR", placeholder);
            return;
        }
        text(painter, m_large, kLabelX, row(0), QStringLiteral("HR"));
        text(painter, m_large, kValueX, row(0), format("%-4d", hr), kHeartRateColor);
    };
    auto errorOrHeartRate = [&] {
        if (result.errorCode != 0)
            text(painter, m_large, kLabelX, row(0), resultErrorText(result.errorCode));
        else
            heartRateRow(result.hr);
    };
    auto placeholders = [&] {
        pressureRow(1, "SBP", placeholder);
        pressureRow(2, "MBP", placeholder);
        pressureRow(3, "DBP", placeholder);
    };

    switch (layout) {
        case Layout::Idle:
            heartRateRow(0);
            placeholders();
            break;
        case Layout::Record:
            heartRateRow(result.hr);
            text(painter, m_middle, kLabelX, row(1), QStringLiteral("press"));
            text(painter, m_middle, kValueX, row(1), format("%-4d", m_doc->cuffPressureForDisplay()));
            break;
        case Layout::View:
            errorOrHeartRate();
            placeholders();
            break;
        case Layout::Result:
            errorOrHeartRate();
            if (result.errorCode != 0) {
                placeholders();
            } else {
                pressureRow(1, "SBP", format("%-4d", halve(result.sbp)));
                const bool show = recording.saved || m_doc->showMbpDbp();
                pressureRow(2, "MBP", show ? format("%-4d", halve(result.mbp)) : placeholder);
                pressureRow(3, "DBP", show ? format("%-4d", halve(result.dbp)) : placeholder);
            }
            break;
    }
    // The sensor level is the unit's; a saved file's texts take its row.
    int y = row(4);
    if (!recording.saved) {
        text(painter, m_middle, kLabelX, y, QStringLiteral("sense"));
        text(painter, m_middle, kValueX, y, format("%-1d", m_doc->sensorLevel()));
        y += (2 * L) / 3;
    }
    if (layout == Layout::Result) {
        const int line = QFontMetrics(m_small).height();
        for (const std::string& s : recording.texts) {
            text(painter, m_small, kLabelX, y,
                 QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())));
            y += line;
        }
    }
    update();
}

void CInformationView::liveHeartRate(int hr, UnitState unitState) {
    if (!m_doc || m_saved) return;
    ensureImage();
    QPainter painter(&m_image);
    const QRect rowRect(0, kTopY, kWidth, m_rowStep);
    painter.fillRect(rowRect, kBackground);
    if (m_doc->errorFlag() != 0 && unitState == kStateRecord) {
        text(painter, m_large, kLabelX, kTopY, QStringLiteral("ERR      "));
    } else {
        text(painter, m_large, kLabelX, kTopY, QStringLiteral("HR"));
        text(painter, m_large, kValueX, kTopY, format("%-4d", hr), kHeartRateColor);
    }
    update(rowRect);
}

void CInformationView::sensorLevel(int level) {
    if (!m_doc || m_saved) return;
    ensureImage();
    QPainter painter(&m_image);
    const int y = kTopY + 4 * m_rowStep;
    const QRect rowRect(0, y, 150, QFontMetrics(m_middle).height());
    painter.fillRect(rowRect, kBackground);
    text(painter, m_middle, kLabelX, y, QStringLiteral("sense"));
    text(painter, m_middle, kValueX, y, format("%-1d", level));
    update(rowRect);
}

void CInformationView::pressure(int value) {
    if (!m_doc || m_saved) return;
    ensureImage();
    QPainter painter(&m_image);
    const QRect rows(0, m_rowStep, kWidth, 3 * m_rowStep);
    painter.fillRect(rows, kBackground);
    text(painter, m_middle, kLabelX, kTopY + m_rowStep, QStringLiteral("press"));
    text(painter, m_middle, kValueX, kTopY + m_rowStep, format("%-4d", value));
    update(rows);
}

void CInformationView::paintEvent(QPaintEvent* event) {
    if (fitKeptImage(*this, m_image, kBackground)) repaintLayout();
    paintKeptImage(*this, m_image, *event);
}

}  // namespace hx

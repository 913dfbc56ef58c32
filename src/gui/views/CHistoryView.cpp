#include "gui/views/CHistoryView.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <array>

#include "control/DisplayTexts.h"

namespace hx {

namespace {
constexpr const char* kHeaders[CHistoryModel::kColumns] = {"N", "HR", "SBP", "MBP", "DBP", "Time  "};
// The widest text each column shows in practice; the Time column is never cut.
constexpr const char* kWidestCells[CHistoryModel::kColumns] = {"9999", "999", "999",
                                                               "999",  "999", "00:00:00"};
}  // namespace

void CHistoryModel::addRow(const HistoryRow& row, int errorCode, bool showMbpDbp) {
    const int at = static_cast<int>(m_rows.size());
    beginInsertRows({}, at, at);
    m_rows.push_back({row, errorCode, showMbpDbp});
    endInsertRows();
}

int CHistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CHistoryModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant CHistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(m_rows.size())) return {};
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    if (role == Qt::ToolTipRole) return QString::fromStdString(historyDateTime(row.values));
    if (role != Qt::DisplayRole) return {};
    const HistoryCells cells = historyCells(row.values, row.errorCode, row.showMbpDbp);
    return QString::fromStdString(cells.text[static_cast<std::size_t>(index.column())]);
}

QVariant CHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
    if (role == Qt::DisplayRole) return QString::fromLatin1(kHeaders[section]);
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

CHistoryView::CHistoryView(QWidget* parent) : QTableView(parent) {
    setModel(&m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setShowGrid(false);
    setWordWrap(false);
    setFrameShape(QFrame::Box);
    verticalHeader()->hide();
    // Every row the same height: the view then never measures rows, and a
    // long list stays instant.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setHighlightSections(false);
    // Every column is shown in the pane's width, none behind a scroll bar.
    m_baseFont = font();
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    horizontalHeader()->setMinimumSectionSize(1);  // the style's minimum is wider than three digits
    fitColumns();
}

void CHistoryView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    fitColumns();
}

int CHistoryView::cellMargin() const {
    // What the item delegate keeps clear on both sides of a cell's text.
    return 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 1;
}

// Each column gets its widest text whole (or its header) and the time column
// what is left over. Where that does not fit, the list's text gets smaller
// (by half points, down to 6) until every number and the time fit whole; the
// headers may then be cut.
void CHistoryView::fitColumns() {
    // The viewport's width to be: the frame and a shown scroll bar taken off.
    const int available =
        contentsRect().width() -
        (verticalScrollBar()->isVisibleTo(this) ? verticalScrollBar()->sizeHint().width() : 0);
    std::array<int, CHistoryModel::kColumns> least{};
    QFont listFont = m_baseFont;
    for (;;) {
        const QFontMetrics text(listFont);
        int sum = 0;
        for (std::size_t c = 0; c < least.size(); ++c) {
            least[c] = text.horizontalAdvance(QString::fromLatin1(kWidestCells[c])) + cellMargin();
            sum += least[c];
        }
        if (sum <= available || listFont.pointSizeF() <= 6.5) break;
        listFont.setPointSizeF(listFont.pointSizeF() - 0.5);
    }
    if (font() != listFont) {
        setFont(listFont);
        horizontalHeader()->setFont(listFont);
        verticalHeader()->setDefaultSectionSize(QFontMetrics(listFont).height() + 4);
    }
    const QFontMetrics header(listFont);
    std::array<int, CHistoryModel::kColumns> widths{};
    int total = 0;
    for (std::size_t c = 0; c < widths.size(); ++c) {
        const QString title =
            m_model.headerData(static_cast<int>(c), Qt::Horizontal, Qt::DisplayRole).toString().trimmed();
        widths[c] = std::max(least[c], header.horizontalAdvance(title) + cellMargin());
        total += widths[c];
    }
    if (total < available) widths.back() += available - total;  // the time column takes the room left
    for (std::size_t c = 0; c < widths.size() && total > available; ++c) {
        const int give = std::min(total - available, widths[c] - least[c]);
        widths[c] -= give;
        total -= give;
    }
    for (std::size_t c = 0; c < widths.size(); ++c) setColumnWidth(static_cast<int>(c), widths[c]);
}

void CHistoryView::addRow(const HistoryRow& row, int errorCode, bool showMbpDbp) {
    m_model.addRow(row, errorCode, showMbpDbp);
    scrollToBottom();
}

}  // namespace hx

#include "gui/views/CHistoryView.h"

#include <QHeaderView>

#include "control/DisplayTexts.h"

namespace hx {

namespace {
constexpr const char* kHeaders[CHistoryModel::kColumns] = {"N", "HR", "SBP", "MBP", "DBP", "Time  "};
constexpr int kColumnWidths[CHistoryModel::kColumns] = {30, 38, 38, 38, 38, 60};
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
    if (role != Qt::DisplayRole) return {};
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
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
    for (int c = 0; c < CHistoryModel::kColumns; ++c) setColumnWidth(c, kColumnWidths[c]);
}

void CHistoryView::addRow(const HistoryRow& row, int errorCode, bool showMbpDbp) {
    m_model.addRow(row, errorCode, showMbpDbp);
    scrollToBottom();
}

}  // namespace hx

#pragma once
// CHistoryView: the list below the information pane (from y = 230 on) with one
// row per saved result, newest at the bottom: N, HR, SBP, MBP, DBP and the time
// of day (the whole date and time as the row's tooltip), every column within
// the pane's width. The rows live in CHistoryModel, which formats a cell only when the
// view asks for it, so thousands of rows cost nothing until they are shown.
// UI thread only.

#include <QAbstractTableModel>
#include <QFont>
#include <QTableView>
#include <vector>

#include "control/UiPort.h"
#include "data/DocumentListener.h"

namespace hx {

class CHistoryModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kColumns = 6;

    using QAbstractTableModel::QAbstractTableModel;

    // Appends a row; its cells follow the program's history rules (an error
    // code blanks the three pressures, a clear show-MBP/DBP flag MBP and DBP).
    void addRow(const HistoryRow& row, int errorCode, bool showMbpDbp);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    struct Row {
        HistoryRow values;
        int errorCode;
        bool showMbpDbp;
    };
    std::vector<Row> m_rows;
};

class CHistoryView final : public QTableView, public IHistoryPane {
    Q_OBJECT
  public:
    static constexpr int kWidth = 192;
    static constexpr int kTop = 230;

    explicit CHistoryView(QWidget* parent = nullptr);

    // Appends the row and scrolls so that it is visible.
    void addRow(const HistoryRow& row, int errorCode, bool showMbpDbp) override;
    CHistoryModel& rows() { return m_model; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void fitColumns();
    int cellMargin() const;

    CHistoryModel m_model;
    QFont m_baseFont;  // the window's text; the list may use a smaller size of it
};

}  // namespace hx

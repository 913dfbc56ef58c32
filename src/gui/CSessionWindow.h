#pragma once
// CSessionWindow: the statistics of the current session in a window of its
// own (non-modal). One row per cycle with "accepted" or why it was rejected,
// the summary of the accepted cycles, a plot of SBP/MBP/DBP and HR over the
// cycles (rejected cycles hollow and grey), the session settings (kept in the
// profile), "New session" and "Export CSV". It shows what the core's
// statistics compute, nothing of its own, so the window, the tool and the
// export always agree. A cycle's verdict can be changed by hand ("Change
// verdict...": a change appended to the folder's review-log.csv, shown as
// "by hand"), and the sitting's conditions typed and saved to sessions.csv.
//
// UI thread only. The session and the profile store are not owned; the window
// uses them only while both exist (it takes the session's listener, which
// does nothing once the window is gone) and refreshes on every change.

#include <QWidget>
#include <array>
#include <utility>

#include "session/ResultsSession.h"
#include "session/SessionStats.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace hx {

class IProfileStore;
class CSessionPlot;

class CSessionWindow final : public QWidget {
    Q_OBJECT
  public:
    CSessionWindow(CResultsSession& session, IProfileStore& store, QWidget* parent = nullptr);
    ~CSessionWindow() override;

    // Recomputes and shows the statistics (after a result or a settings change).
    void refresh();
    // Writes the table and the summary as CSV; false with a message when it cannot.
    bool exportCsv(const QString& path);

    const SessionStats& stats() const { return m_stats; }
    QTableWidget& table() { return *m_table; }
    QTableWidget& summary() { return *m_summary; }
    QPushButton& newSessionButton() { return *m_newSession; }
    QSpinBox& acclimation() { return *m_acclimation; }
    QDoubleSpinBox& outlierK() { return *m_outlierK; }
    QCheckBox& rejectErrors() { return *m_rejectErrors; }
    QComboBox& outlierMethod() { return *m_method; }
    // Turns the verdict of cycle row (0-based) over by hand with reason;
    // "" or why the change could not be written.
    std::string changeVerdict(int row, const std::string& reason);
    // The conditions' fields: platform and room temperature, restrainer,
    // operator, notes; and saving them for the session.
    QLineEdit& condition(int field) { return *m_conditions[static_cast<std::size_t>(field)]; }
    std::string saveConditions();

  private:
    void settingsEdited();
    void askVerdict();
    void loadConditions();

    CResultsSession& m_session;
    IProfileStore& m_store;
    SessionSettings m_settings;
    SessionStats m_stats;
    int m_shownSession = -1;  // the session whose rows the table shows
    QSpinBox* m_acclimation;
    QCheckBox* m_rejectErrors;
    QDoubleSpinBox* m_outlierK;
    QComboBox* m_method;
    std::array<QLineEdit*, 5> m_conditions{};
    std::pair<int, int> m_conditionsOf{-1, -1};  // device ID and session the fields show
    QPushButton* m_newSession;
    QPushButton* m_export;
    QLabel* m_heading;
    QTableWidget* m_table;
    QTableWidget* m_summary;
    CSessionPlot* m_plot;
};

}  // namespace hx

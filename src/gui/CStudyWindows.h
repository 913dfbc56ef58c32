#pragma once
// The window's study commands: the "Study" menu ("Animals...", "Study
// overview") and File > "Report...". CStudyWindows owns nothing of the
// program; it asks the main window for the place of the study (data folder,
// profile, the unit's TYPE, the current session) each time it needs it.
//
// CStudyOverview: a table of the animals (rows, by group, with a row of the
// group's mean ± SEM above its animals) by days (columns) with the daily mean
// of the chosen value, days not valid marked with their reason, training days
// grey; a plot of the groups' mean ± SEM over days; the study rules, edited in
// place and kept in the profile. It follows the folder's files, so it updates
// when a result arrives (from this copy of the program or another).
//
// CAnimalsWindow: animals.csv as an editable table; saving is refused (with
// the line) while the file holds a row the program cannot read.
//
// UI thread only.

#include <QWidget>
#include <functional>
#include <string>

#include "study/Animals.h"
#include "study/Study.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFileSystemWatcher;
class QLabel;
class QMainWindow;
class QMenu;
class QMenuBar;
class QSpinBox;
class QTableWidget;
class QTimer;

namespace hx {

class CResultsSession;
class IProfileStore;

struct StudyPlace {
    std::string folder;
    IProfileStore* store = nullptr;
    int unitType = -1;                         // the unit's TYPE menu word; -1 when not known
    const CResultsSession* session = nullptr;  // the current session, for the sitting's report
};

class CGroupPlotWidget;

class CStudyOverview final : public QWidget {
    Q_OBJECT
  public:
    CStudyOverview(std::function<StudyPlace()> place, QWidget* parent = nullptr);
    void refresh();
    const StudyFigures& study() const { return m_study; }
    QTableWidget& table() { return *m_table; }
    QComboBox& value() { return *m_value; }
    QSpinBox& minCycles() { return *m_minCycles; }
    QComboBox& outlierMethod() { return *m_method; }
    QLabel& ruleText() { return *m_ruleText; }

  private:
    void rulesEdited();
    void showRules();

    std::function<StudyPlace()> m_place;
    StudyRules m_rules;
    StudyFigures m_study;
    bool m_loading = false;
    QSpinBox* m_acclimation;
    QCheckBox* m_rejectErrors;
    QDoubleSpinBox* m_outlierK;
    QComboBox* m_method;
    QSpinBox *m_sbpMin, *m_sbpMax, *m_hrMin, *m_hrMax;
    QCheckBox* m_hrByType;
    QSpinBox* m_minCycles;
    QDoubleSpinBox* m_maxSd;
    QSpinBox* m_training;
    QComboBox* m_value;
    QLabel* m_ruleText;
    QLabel* m_problems;
    QTableWidget* m_table;
    CGroupPlotWidget* m_plot;
    QFileSystemWatcher* m_watcher;
    QTimer* m_debounce;
};

class CAnimalsWindow final : public QWidget {
    Q_OBJECT
  public:
    CAnimalsWindow(std::function<StudyPlace()> place, QWidget* parent = nullptr);
    void reload();
    // Saves the table; "" or why not (also shown to the user unless quiet).
    std::string save(bool quiet = false);
    QTableWidget& table() { return *m_table; }
    QLabel& problems() { return *m_problems; }

  private:
    std::function<StudyPlace()> m_place;
    AnimalsTable m_loaded;
    QTableWidget* m_table;
    QLabel* m_problems;
};

class CStudyWindows final : public QObject {
    Q_OBJECT
  public:
    CStudyWindows(QMainWindow& frame, std::function<StudyPlace()> place);
    // File > "Report..." (added to file) and the "Study" menu (added to bar).
    void addReportAction(QMenu& file);
    void addStudyMenu(QMenuBar& bar);

    CStudyOverview& showOverview();
    CAnimalsWindow& showAnimals();
    // Writes the report of the current sitting (sitting true) or of the
    // study to path; "" or why not.
    std::string writeReport(bool sitting, const std::string& path);

  private:
    void askReport();

    QMainWindow& m_frame;
    std::function<StudyPlace()> m_place;
    CStudyOverview* m_overview = nullptr;  // child windows, owned by Qt
    CAnimalsWindow* m_animals = nullptr;
};

}  // namespace hx

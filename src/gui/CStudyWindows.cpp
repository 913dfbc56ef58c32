#include "gui/CStudyWindows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/report/Plots.h"
#include "gui/report/Report.h"
#include "session/ResultsSession.h"
#include "settings/ProfileStore.h"
#include "study/Csv.h"
#include "study/Sitting.h"

namespace hx {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

QTableWidgetItem* item(const QString& text) {
    auto* it = new QTableWidgetItem(text);
    it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    it->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return it;
}

QSpinBox* spin(QWidget* parent, int lo, int hi, const QString& special = {}) {
    auto* s = new QSpinBox(parent);
    s->setRange(lo, hi);
    if (!special.isEmpty()) s->setSpecialValueText(special);
    return s;
}

// Everything of a study read afresh from its folder.
struct StudyFiles {
    ResultsLogContents log;
    AnimalsTable animals;
    ReviewLog review;
    QStringList problems;
};

StudyFiles readStudyFiles(const std::string& folder) {
    StudyFiles f;
    std::string reason;
    if (auto log = readResultsLog(resultsLogPath(folder), reason)) {
        f.log = std::move(*log);
        if (f.log.damagedLines)
            f.problems << QStringLiteral("results.csv: %1 damaged rows left out").arg(f.log.damagedLines);
    } else if (QFileInfo::exists(q(resultsLogPath(folder)))) {
        f.problems << QStringLiteral("results.csv: %1").arg(q(reason));
    }
    reason.clear();
    f.animals = readAnimals(folder, reason);
    if (!reason.empty())
        f.problems << QStringLiteral("%1: %2").arg(QString::fromLatin1(kAnimalsFileName), q(reason));
    if (!f.animals.firstProblem().empty())
        f.problems << QStringLiteral("%1 %2 (left out)")
                          .arg(QString::fromLatin1(kAnimalsFileName), q(f.animals.firstProblem()));
    reason.clear();
    if (auto review = readReviewLog(folder, reason))
        f.review = std::move(*review);
    else
        f.problems << QStringLiteral("%1: %2").arg(QString::fromLatin1(kReviewLogName), q(reason));
    return f;
}

}  // namespace

// The groups' mean ± SEM over days, as the report prints it but in colour.
class CGroupPlotWidget final : public QWidget {
  public:
    explicit CGroupPlotWidget(QWidget* parent) : QWidget(parent) { setMinimumSize(360, 240); }
    void set(const StudyFigures* study, int value) {
        m_study = study;
        m_value = value;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setFont(font());
        drawGroupPlot(p, QRectF(rect()), m_study ? *m_study : StudyFigures{}, m_value, false);
    }

  private:
    const StudyFigures* m_study = nullptr;
    int m_value = kSbp;
};

CStudyOverview::CStudyOverview(std::function<StudyPlace()> place, QWidget* parent)
    : QWidget(parent, Qt::Window), m_place(std::move(place)) {
    setWindowTitle(QStringLiteral("Study overview"));
    setObjectName(QStringLiteral("studyOverview"));
    m_acclimation = spin(this, 0, 99);
    m_rejectErrors = new QCheckBox(QStringLiteral("Reject errors"), this);
    m_outlierK = new QDoubleSpinBox(this);
    m_outlierK->setRange(0, 100);
    m_outlierK->setDecimals(1);
    m_outlierK->setSingleStep(0.5);
    m_outlierK->setSpecialValueText(QStringLiteral("off"));
    m_method = new QComboBox(this);
    m_method->addItems(
        {QStringLiteral("\u00D7 MAD"), QStringLiteral("\u00D7 scaled MAD"), QStringLiteral("\u00D7 SD")});
    m_sbpMin = spin(this, 0, 999, QStringLiteral("-"));
    m_sbpMax = spin(this, 0, 999, QStringLiteral("-"));
    m_hrByType = new QCheckBox(QStringLiteral("by TYPE"), this);
    m_hrMin = spin(this, 0, 999, QStringLiteral("-"));
    m_hrMax = spin(this, 0, 999, QStringLiteral("-"));
    m_minCycles = spin(this, 1, 99);
    m_maxSd = new QDoubleSpinBox(this);
    m_maxSd->setRange(0, 100);
    m_maxSd->setDecimals(1);
    m_maxSd->setSpecialValueText(QStringLiteral("off"));
    m_training = spin(this, 0, 99);
    m_value = new QComboBox(this);
    for (const char* name : kSessionValueNames) m_value->addItem(QString::fromLatin1(name));

    auto* cycleRules = new QHBoxLayout;
    const auto label = [this](const char* text) { return new QLabel(QString::fromUtf8(text), this); };
    cycleRules->addWidget(label("Acclimation:"));
    cycleRules->addWidget(m_acclimation);
    cycleRules->addWidget(m_rejectErrors);
    cycleRules->addWidget(label("  SBP outlier k:"));
    cycleRules->addWidget(m_outlierK);
    cycleRules->addWidget(m_method);
    cycleRules->addWidget(label("  SBP range:"));
    cycleRules->addWidget(m_sbpMin);
    cycleRules->addWidget(m_sbpMax);
    cycleRules->addWidget(label("  HR range:"));
    cycleRules->addWidget(m_hrByType);
    cycleRules->addWidget(m_hrMin);
    cycleRules->addWidget(m_hrMax);
    cycleRules->addStretch(1);
    auto* dayRules = new QHBoxLayout;
    dayRules->addWidget(label("Valid day: at least"));
    dayRules->addWidget(m_minCycles);
    dayRules->addWidget(label("accepted cycles, SD of SBP at most"));
    dayRules->addWidget(m_maxSd);
    dayRules->addWidget(label("  Training days:"));
    dayRules->addWidget(m_training);
    dayRules->addStretch(1);
    dayRules->addWidget(label("Show:"));
    dayRules->addWidget(m_value);

    m_ruleText = new QLabel(this);
    m_ruleText->setWordWrap(true);
    m_problems = new QLabel(this);
    m_problems->setStyleSheet(QStringLiteral("color: #b03030"));
    m_problems->setWordWrap(true);
    m_table = new QTableWidget(this);
    m_table->verticalHeader()->setDefaultSectionSize(20);
    m_table->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_plot = new CGroupPlotWidget(this);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_table);
    split->addWidget(m_plot);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    auto* top = new QVBoxLayout(this);
    top->addLayout(cycleRules);
    top->addLayout(dayRules);
    top->addWidget(m_ruleText);
    top->addWidget(m_problems);
    top->addWidget(split, 1);
    resize(1100, 720);

    for (QSpinBox* s : {m_acclimation, m_sbpMin, m_sbpMax, m_hrMin, m_hrMax, m_minCycles, m_training})
        connect(s, &QSpinBox::valueChanged, this, [this] { rulesEdited(); });
    for (QDoubleSpinBox* s : {m_outlierK, m_maxSd})
        connect(s, &QDoubleSpinBox::valueChanged, this, [this] { rulesEdited(); });
    for (QCheckBox* c : {m_rejectErrors, m_hrByType})
        connect(c, &QCheckBox::toggled, this, [this] { rulesEdited(); });
    connect(m_method, &QComboBox::currentIndexChanged, this, [this] { rulesEdited(); });
    connect(m_value, &QComboBox::currentIndexChanged, this, [this] { refresh(); });

    // The folder's files change when a result arrives, a hand change is made
    // or animals.csv is saved (here or elsewhere); a burst is taken once.
    m_watcher = new QFileSystemWatcher(this);
    m_debounce = new QTimer(this);
    m_debounce->setSingleShot(true);
    m_debounce->setInterval(300);
    connect(m_debounce, &QTimer::timeout, this, [this] { refresh(); });
    connect(m_watcher, &QFileSystemWatcher::fileChanged, m_debounce, qOverload<>(&QTimer::start));
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_debounce, qOverload<>(&QTimer::start));
    if (IProfileStore* store = m_place().store) m_rules = loadStudyRules(*store);
    showRules();
    refresh();
}

void CStudyOverview::showRules() {
    m_loading = true;
    const auto& c = m_rules.cycles;
    m_acclimation->setValue(c.acclimation);
    m_rejectErrors->setChecked(c.rejectErrors);
    m_outlierK->setValue(c.outlierK);
    m_method->setCurrentIndex(static_cast<int>(c.outlierMethod));
    m_sbpMin->setValue(c.sbpMin);
    m_sbpMax->setValue(c.sbpMax);
    m_hrByType->setChecked(m_rules.hrByType);
    m_hrMin->setValue(c.hrMin);
    m_hrMax->setValue(c.hrMax);
    m_hrMin->setEnabled(!m_rules.hrByType);
    m_hrMax->setEnabled(!m_rules.hrByType);
    m_minCycles->setValue(m_rules.minCycles);
    m_maxSd->setValue(m_rules.maxSbpSd);
    m_training->setValue(m_rules.trainingDays);
    m_loading = false;
}

void CStudyOverview::rulesEdited() {
    if (m_loading) return;
    auto& c = m_rules.cycles;
    c.acclimation = m_acclimation->value();
    c.rejectErrors = m_rejectErrors->isChecked();
    c.outlierK = m_outlierK->value();
    c.outlierMethod = static_cast<OutlierMethod>(m_method->currentIndex());
    c.sbpMin = m_sbpMin->value();
    c.sbpMax = m_sbpMax->value();
    m_rules.hrByType = m_hrByType->isChecked();
    if (!m_rules.hrByType) {
        c.hrMin = m_hrMin->value();
        c.hrMax = m_hrMax->value();
        m_rules.hrType = -1;
    }
    m_rules.minCycles = m_minCycles->value();
    m_rules.maxSbpSd = m_maxSd->value();
    m_rules.trainingDays = m_training->value();
    if (IProfileStore* store = m_place().store) storeStudyRules(*store, m_rules);
    refresh();
}

void CStudyOverview::refresh() {
    const StudyPlace place = m_place();
    if (place.unitType >= 0) applyUnitType(m_rules, place.unitType);
    showRules();
    StudyFiles files = readStudyFiles(place.folder);
    m_study = computeStudy(files.log.rows, files.animals, files.review, m_rules);
    if (!m_study.unknownChanges.empty())
        files.problems << QStringLiteral("%1: %2 hand changes name cycles that are not in results.csv")
                              .arg(QString::fromLatin1(kReviewLogName))
                              .arg(m_study.unknownChanges.size());
    m_problems->setText(files.problems.join(QLatin1Char('\n')));
    m_problems->setVisible(!files.problems.isEmpty());
    QStringList rules;
    for (const auto& r : studyRuleLines(m_rules)) rules << q(r);
    m_ruleText->setText(QStringLiteral("In use: ") + rules.join(QStringLiteral("; ")));

    // Rows: per group a row of the group's figures, then its animals.
    const int value = m_value->currentIndex();
    const int days = static_cast<int>(m_study.dates.size());
    int rowCount = 0;
    for (const auto& g : m_study.groups) {
        ++rowCount;
        for (const auto& a : m_study.animals) rowCount += a.group == g.group ? 1 : 0;
    }
    m_table->clear();
    m_table->setRowCount(rowCount);
    m_table->setColumnCount(days + 1);
    QStringList header = {QStringLiteral("Animal")};
    for (int d = 0; d < days; ++d)
        header << QStringLiteral("Day %1\n%2")
                      .arg(m_study.groups.empty()
                               ? d + 1
                               : m_study.groups[0].days[static_cast<std::size_t>(d)].dayNumber)
                      .arg(q(m_study.dates[static_cast<std::size_t>(d)]));
    m_table->setHorizontalHeaderLabels(header);
    m_table->verticalHeader()->hide();
    int row = 0;
    for (const auto& g : m_study.groups) {
        auto* name = item(QStringLiteral("%1 (mean \u00B1 SEM)").arg(q(g.group)));
        QFont bold = m_table->font();
        bold.setBold(true);
        name->setFont(bold);
        name->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        m_table->setItem(row, 0, name);
        for (int d = 0; d < days; ++d) {
            const GroupDay& gd = g.days[static_cast<std::size_t>(d)];
            const GroupValue& v = gd.values[static_cast<std::size_t>(value)];
            auto* it = item(v.n ? QStringLiteral("%1 (%2)").arg(q(groupValueText(v))).arg(v.n) : QString());
            it->setFont(bold);
            it->setBackground(QColor(0xEE, 0xEE, 0xF4));
            m_table->setItem(row, d + 1, it);
        }
        name->setBackground(QColor(0xEE, 0xEE, 0xF4));
        ++row;
        for (const auto& a : m_study.animals) {
            if (a.group != g.group) continue;
            auto* who = item(QStringLiteral("   %1").arg(q(a.animal)));
            who->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            m_table->setItem(row, 0, who);
            for (int d = 0; d < days; ++d) {
                const DayFigures* day = a.day(m_study.dates[static_cast<std::size_t>(d)]);
                if (!day) continue;
                const ValueSummary& s = day->values[static_cast<std::size_t>(value)];
                QString text = s.n ? QString::number(s.mean, 'f', 1) : QStringLiteral("-");
                QString tip =
                    QStringLiteral("%1 of %2 cycles accepted").arg(day->accepted()).arg(day->cycles);
                if (day->handChanged) tip += QStringLiteral(", %1 changed by hand").arg(day->handChanged);
                auto* it = item(text);
                if (day->training) {
                    it->setText(text + QStringLiteral(" (training)"));
                    it->setForeground(QColor(0x90, 0x90, 0x90));
                    QFont italic = m_table->font();
                    italic.setItalic(true);
                    it->setFont(italic);
                } else if (!day->valid) {
                    it->setText(QStringLiteral("\u2717 ") + text);
                    it->setForeground(QColor(0xB0, 0x30, 0x30));
                    tip = QStringLiteral("Not valid: %1\n").arg(q(day->reason)) + tip;
                }
                it->setToolTip(tip);
                m_table->setItem(row, d + 1, it);
            }
            ++row;
        }
    }
    m_table->resizeColumnsToContents();
    m_plot->set(&m_study, value);

    // Follow the folder (files appear, are replaced by a rename, or change).
    if (!m_watcher->files().isEmpty()) m_watcher->removePaths(m_watcher->files());
    if (!m_watcher->directories().isEmpty()) m_watcher->removePaths(m_watcher->directories());
    const QString folder = place.folder.empty() ? QDir::currentPath() : q(place.folder);
    if (QFileInfo(folder).isDir()) m_watcher->addPath(folder);
    for (const std::string& path : {resultsLogPath(place.folder), joinFolder(place.folder, kAnimalsFileName),
                                    joinFolder(place.folder, kReviewLogName)})
        if (QFileInfo::exists(q(path))) m_watcher->addPath(q(path));
}

CAnimalsWindow::CAnimalsWindow(std::function<StudyPlace()> place, QWidget* parent)
    : QWidget(parent, Qt::Window), m_place(std::move(place)) {
    setWindowTitle(QStringLiteral("Animals"));
    setObjectName(QStringLiteral("animals"));
    m_table = new QTableWidget(this);
    m_table->verticalHeader()->setDefaultSectionSize(20);
    m_problems = new QLabel(this);
    m_problems->setWordWrap(true);
    m_problems->setStyleSheet(QStringLiteral("color: #b03030"));
    auto* add = new QPushButton(QStringLiteral("Add animal"), this);
    auto* remove = new QPushButton(QStringLiteral("Remove animal"), this);
    auto* reloadButton = new QPushButton(QStringLiteral("Reload"), this);
    auto* saveButton = new QPushButton(QStringLiteral("Save"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    buttons->addWidget(reloadButton);
    buttons->addWidget(saveButton);
    auto* top = new QVBoxLayout(this);
    top->addWidget(
        new QLabel(QStringLiteral("animals.csv in the data folder; an animal measured but not listed "
                                  "belongs to the group \"(none)\". Further columns are kept."),
                   this));
    top->addWidget(m_problems);
    top->addWidget(m_table, 1);
    top->addLayout(buttons);
    resize(640, 420);
    connect(add, &QPushButton::clicked, this, [this] {
        m_table->insertRow(m_table->rowCount());
        m_table->setCurrentCell(m_table->rowCount() - 1, 0);
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        if (m_table->currentRow() >= 0) m_table->removeRow(m_table->currentRow());
    });
    connect(reloadButton, &QPushButton::clicked, this, [this] { reload(); });
    connect(saveButton, &QPushButton::clicked, this, [this] { save(); });
    reload();
}

void CAnimalsWindow::reload() {
    std::string reason;
    m_loaded = readAnimals(m_place().folder, reason);
    QStringList problems;
    if (!reason.empty()) problems << QStringLiteral("animals.csv cannot be read: %1").arg(q(reason));
    if (!m_loaded.headerProblem.empty())
        problems << QStringLiteral("Line 1: %1").arg(q(m_loaded.headerProblem));
    for (const auto& d : m_loaded.damaged)
        if (m_loaded.headerProblem.empty())
            problems << QStringLiteral("Line %1 is not shown: %2 (\"%3\")")
                            .arg(d.line)
                            .arg(q(d.reason), q(d.text));
    if (!problems.isEmpty())
        problems << QStringLiteral(
            "Saving is refused until the file is mended in a spreadsheet, so no row is lost.");
    m_problems->setText(problems.join(QLatin1Char('\n')));
    m_problems->setVisible(!problems.isEmpty());
    m_table->clear();
    m_table->setColumnCount(static_cast<int>(m_loaded.columns.size()));
    QStringList header;
    for (const auto& c : m_loaded.columns) header << q(c);
    m_table->setHorizontalHeaderLabels(header);
    m_table->setRowCount(static_cast<int>(m_loaded.rows.size()));
    for (std::size_t r = 0; r < m_loaded.rows.size(); ++r)
        for (std::size_t c = 0; c < m_loaded.rows[r].fields.size(); ++c)
            m_table->setItem(static_cast<int>(r), static_cast<int>(c),
                             new QTableWidgetItem(q(m_loaded.rows[r].fields[c])));
    m_table->resizeColumnsToContents();
}

std::string CAnimalsWindow::save(bool quiet) {
    AnimalsTable table = m_loaded;
    table.rows.clear();
    for (int r = 0; r < m_table->rowCount(); ++r) {
        AnimalsRow row;
        bool blank = true;
        for (int c = 0; c < m_table->columnCount(); ++c) {
            const QTableWidgetItem* it = m_table->item(r, c);
            row.fields.push_back(it ? it->text().trimmed().toStdString() : std::string());
            blank = blank && row.fields.back().empty();
        }
        if (!blank) table.rows.push_back(std::move(row));
    }
    const std::string error = saveAnimals(m_place().folder, table);
    if (!error.empty()) {
        if (!quiet) QMessageBox::warning(this, QStringLiteral("Animals"), q(error));
        return error;
    }
    reload();
    return {};
}

CStudyWindows::CStudyWindows(QMainWindow& frame, std::function<StudyPlace()> place)
    : QObject(&frame), m_frame(frame), m_place(std::move(place)) {}

void CStudyWindows::addReportAction(QMenu& file) {
    connect(file.addAction(QStringLiteral("Report...")), &QAction::triggered, this, [this] { askReport(); });
}

void CStudyWindows::addStudyMenu(QMenuBar& bar) {
    QMenu* study = bar.addMenu(QStringLiteral("Study"));
    connect(study->addAction(QStringLiteral("Animals...")), &QAction::triggered, this,
            [this] { showAnimals(); });
    connect(study->addAction(QStringLiteral("Study overview")), &QAction::triggered, this,
            [this] { showOverview(); });
}

CStudyOverview& CStudyWindows::showOverview() {
    if (!m_overview) m_overview = new CStudyOverview(m_place, &m_frame);
    m_overview->show();
    m_overview->raise();
    m_overview->activateWindow();
    return *m_overview;
}

CAnimalsWindow& CStudyWindows::showAnimals() {
    if (!m_animals) m_animals = new CAnimalsWindow(m_place, &m_frame);
    m_animals->reload();
    m_animals->show();
    m_animals->raise();
    m_animals->activateWindow();
    return *m_animals;
}

std::string CStudyWindows::writeReport(bool sitting, const std::string& path) {
    const StudyPlace place = m_place();
    StudyRules rules = place.store ? loadStudyRules(*place.store) : StudyRules{};
    if (place.unitType >= 0) applyUnitType(rules, place.unitType);
    StudyFiles files = readStudyFiles(place.folder);
    if (!sitting)
        return writeStudyReport(path, computeStudy(files.log.rows, files.animals, files.review, rules),
                                place.folder);
    if (!place.session || place.session->rows().empty()) return "the current session has no cycles yet";
    const auto& rows = place.session->rows();
    SessionRows which{rows.back().deviceId, place.session->sessionNumber(), rows.back().animalNo, {}};
    for (std::size_t i = 0; i < rows.size(); ++i) which.rows.push_back(i);
    return writeSittingReport(path, sittingOf(place.folder, rows, which, files.review, rules));
}

void CStudyWindows::askReport() {
    QMessageBox ask(QMessageBox::Question, QStringLiteral("Report"),
                    QStringLiteral("Write a PDF report of the current sitting or of the whole study?"),
                    QMessageBox::Cancel, &m_frame);
    QPushButton* sitting = ask.addButton(QStringLiteral("This sitting"), QMessageBox::AcceptRole);
    QPushButton* study = ask.addButton(QStringLiteral("The study"), QMessageBox::AcceptRole);
    ask.exec();
    if (ask.clickedButton() != sitting && ask.clickedButton() != study) return;
    const QString path = QFileDialog::getSaveFileName(
        &m_frame, QStringLiteral("Report"),
        QDir(q(m_place().folder))
            .filePath(ask.clickedButton() == sitting ? QStringLiteral("sitting.pdf")
                                                     : QStringLiteral("study.pdf")),
        QStringLiteral("PDF files (*.pdf)"));
    if (path.isEmpty()) return;
    const std::string error = writeReport(ask.clickedButton() == sitting, path.toStdString());
    if (!error.empty()) QMessageBox::warning(&m_frame, QStringLiteral("Report"), q(error));
}

}  // namespace hx

#include "gui/CSessionWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "gui/report/Plots.h"
#include "settings/ProfileStore.h"
#include "study/Animals.h"
#include "study/ReviewLog.h"
#include "study/Sittings.h"
#include "study/Study.h"

namespace hx {

// SBP, MBP and DBP (left axis, mmHg) and HR (right axis, per minute) over the
// cycles. Accepted cycles are filled dots joined by lines; rejected ones are
// hollow grey rings, so they stand apart at a glance.
class CSessionPlot final : public QWidget {
  public:
    explicit CSessionPlot(QWidget* parent) : QWidget(parent) { setMinimumSize(360, 220); }
    void setStats(const SessionStats* stats) {
        m_stats = stats;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setFont(font());
        drawSessionPlot(p, QRectF(rect()), m_stats ? *m_stats : SessionStats{}, false);
    }

  private:
    const SessionStats* m_stats = nullptr;
};

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

QTableWidgetItem* cell(const QString& t, bool rejected,
                       Qt::Alignment align = Qt::AlignRight | Qt::AlignVCenter) {
    auto* item = new QTableWidgetItem(t);
    item->setTextAlignment(align);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    if (rejected) item->setForeground(QColor(0x90, 0x90, 0x90));
    return item;
}

QString valueCell(const std::optional<double>& v) {
    if (!v) return QStringLiteral("---");
    return *v == std::floor(*v) ? QString::number(static_cast<long long>(*v)) : QString::number(*v, 'f', 1);
}

}  // namespace

CSessionWindow::CSessionWindow(CResultsSession& session, IProfileStore& store, QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_session(session),
      m_store(store),
      m_settings(loadSessionSettings(store)) {
    setWindowTitle(QStringLiteral("Session statistics"));
    setObjectName(QStringLiteral("sessionStatistics"));

    m_acclimation = new QSpinBox(this);
    m_acclimation->setRange(0, 99);
    m_acclimation->setValue(m_settings.acclimation);
    m_rejectErrors = new QCheckBox(QStringLiteral("Reject results with an error"), this);
    m_rejectErrors->setChecked(m_settings.rejectErrors);
    m_outlierK = new QDoubleSpinBox(this);
    m_outlierK->setRange(0, 100);
    m_outlierK->setDecimals(1);
    m_outlierK->setSingleStep(0.5);
    m_outlierK->setSpecialValueText(QStringLiteral("off"));
    m_outlierK->setValue(m_settings.outlierK);
    m_method = new QComboBox(this);
    m_method->addItems({QStringLiteral("\u00D7 MAD"), QStringLiteral("\u00D7 scaled MAD (1.4826 \u00D7 MAD)"),
                        QStringLiteral("\u00D7 SD")});
    m_method->setCurrentIndex(static_cast<int>(m_settings.outlierMethod));
    m_newSession = new QPushButton(QStringLiteral("New session"), this);
    m_export = new QPushButton(QStringLiteral("Export CSV"), this);

    auto* settings = new QHBoxLayout;
    settings->addWidget(new QLabel(QStringLiteral("Acclimation cycles:"), this));
    settings->addWidget(m_acclimation);
    settings->addSpacing(12);
    settings->addWidget(m_rejectErrors);
    settings->addSpacing(12);
    settings->addWidget(new QLabel(QStringLiteral("SBP outlier k:"), this));
    settings->addWidget(m_outlierK);
    settings->addWidget(m_method);
    settings->addStretch(1);
    settings->addWidget(m_newSession);
    settings->addWidget(m_export);

    m_heading = new QLabel(this);
    m_table = new QTableWidget(0, 8, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("#"), QStringLiteral("Date time"), QStringLiteral("N"),
                                        QStringLiteral("HR"), QStringLiteral("SBP"), QStringLiteral("MBP"),
                                        QStringLiteral("DBP"), QStringLiteral("Status")});
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(20);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_summary = new QTableWidget(kValueCount, 3, this);
    m_summary->setHorizontalHeaderLabels(
        {QStringLiteral("n"), QStringLiteral("mean \u00B1 SD"), QStringLiteral("min-max")});
    for (int k = 0; k < kValueCount; ++k)
        m_summary->setVerticalHeaderItem(
            k, new QTableWidgetItem(QString::fromLatin1(kSessionValueNames[static_cast<std::size_t>(k)])));
    m_summary->verticalHeader()->setDefaultSectionSize(20);
    m_summary->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_summary->setFixedHeight(m_summary->horizontalHeader()->sizeHint().height() + 4 * 20 +
                              2 * m_summary->frameWidth() + 4);
    m_plot = new CSessionPlot(this);

    auto* right = new QVBoxLayout;
    right->addWidget(m_summary);
    right->addWidget(m_plot, 1);
    auto* body = new QHBoxLayout;
    body->addWidget(m_table, 1);
    body->addLayout(right, 1);
    auto* change = new QPushButton(QStringLiteral("Change verdict..."), this);
    change->setToolTip(
        QStringLiteral("Reject the selected accepted cycle, or accept the selected rejected one, "
                       "with a reason (kept in review-log.csv)"));
    auto* conditions = new QHBoxLayout;
    static const char* const kConditionLabels[] = {
        "Platform \u00B0C:", "Room \u00B0C:", "Restrainer:", "Operator:", "Notes:"};
    for (std::size_t i = 0; i < m_conditions.size(); ++i) {
        m_conditions[i] = new QLineEdit(this);
        if (i < 2) m_conditions[i]->setMaximumWidth(50);
        conditions->addWidget(new QLabel(QString::fromUtf8(kConditionLabels[i]), this));
        conditions->addWidget(m_conditions[i], i == 4 ? 2 : 1);
    }
    auto* saveConditionsButton = new QPushButton(QStringLiteral("Save conditions"), this);
    conditions->addWidget(saveConditionsButton);
    auto* headingRow = new QHBoxLayout;
    headingRow->addWidget(m_heading, 1);
    headingRow->addWidget(change);
    auto* top = new QVBoxLayout(this);
    top->addLayout(settings);
    top->addLayout(conditions);
    top->addLayout(headingRow);
    top->addLayout(body, 1);
    resize(1000, 560);

    connect(m_acclimation, &QSpinBox::valueChanged, this, [this] { settingsEdited(); });
    connect(m_outlierK, &QDoubleSpinBox::valueChanged, this, [this] { settingsEdited(); });
    connect(m_rejectErrors, &QCheckBox::toggled, this, [this] { settingsEdited(); });
    connect(m_method, &QComboBox::currentIndexChanged, this, [this] { settingsEdited(); });
    connect(change, &QPushButton::clicked, this, [this] { askVerdict(); });
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this] { askVerdict(); });
    connect(saveConditionsButton, &QPushButton::clicked, this, [this] {
        const std::string error = saveConditions();
        if (!error.empty())
            QMessageBox::warning(this, QStringLiteral("Conditions"), QString::fromStdString(error));
    });
    connect(m_newSession, &QPushButton::clicked, this, [this] { m_session.startNewSession(); });
    connect(m_export, &QPushButton::clicked, this, [this] {
        const QString path =
            QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), QStringLiteral("session.csv"),
                                         QStringLiteral("CSV files (*.csv)"));
        if (!path.isEmpty()) exportCsv(path);
    });
    // Either may go first at shut-down (the controller's session ends before
    // the main window), so the listener checks that the window still exists
    // and the window never touches the session from its destructor.
    m_session.setListener([window = QPointer<CSessionWindow>(this)] {
        if (window) window->refresh();
    });
    refresh();
}

CSessionWindow::~CSessionWindow() = default;

void CSessionWindow::settingsEdited() {
    m_settings.acclimation = m_acclimation->value();
    m_settings.rejectErrors = m_rejectErrors->isChecked();
    m_settings.outlierK = m_outlierK->value();
    m_settings.outlierMethod = static_cast<OutlierMethod>(m_method->currentIndex());
    storeSessionSettings(m_store, m_settings);
    refresh();
}

void CSessionWindow::refresh() {
    SessionStats shown = std::move(m_stats);
    // The plausible ranges are edited in the study overview; take them as stored.
    const SessionSettings stored = loadSessionSettings(m_store);
    m_settings.sbpMin = stored.sbpMin;
    m_settings.sbpMax = stored.sbpMax;
    m_settings.hrMin = stored.hrMin;
    m_settings.hrMax = stored.hrMax;
    const auto& rows = m_session.rows();
    std::string reason;
    if (!rows.empty()) {
        // An animal whose species animals.csv names is judged by its species' heart rate.
        const auto species = readAnimals(m_session.folder(), reason).species();
        if (auto it = species.find(rows.back().animalNo); it != species.end()) {
            const SessionSettings own = cycleRulesFor(loadStudyRules(m_store), it->second);
            m_settings.hrMin = own.hrMin;
            m_settings.hrMax = own.hrMax;
        }
    }
    const ReviewLog review = readReviewLog(m_session.folder(), reason).value_or(ReviewLog{});
    std::vector<std::size_t> all(rows.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    m_stats = computeSessionStats(reviewedCycles(rows, all, review.latest()), m_settings);
    loadConditions();
    m_heading->setText(rows.empty() ? QStringLiteral("New session: no cycles yet")
                                    : QStringLiteral("Session %1, animal %2: accepted %3 of %4 cycles")
                                          .arg(m_session.sessionNumber())
                                          .arg(text(rows.back().animalNo))
                                          .arg(m_stats.accepted)
                                          .arg(m_stats.cycles.size()));
    // The shown session grown by a result keeps its rows' cells; only new rows
    // and rows whose verdict changed are made again, so a result costs the
    // same late in a long session as early.
    const std::size_t count = m_stats.cycles.size();
    std::size_t kept = 0;
    const auto same = [&](std::size_t i) {
        return shown.cycles[i].dateTime == m_stats.cycles[i].dateTime &&
               shown.cycles[i].label == m_stats.cycles[i].label;
    };
    if (m_shownSession == m_session.sessionNumber() && !shown.cycles.empty() &&
        shown.cycles.size() <= count && same(0) && same(shown.cycles.size() - 1))
        kept = shown.cycles.size();
    m_shownSession = m_session.sessionNumber();
    m_table->setRowCount(static_cast<int>(count));
    for (std::size_t i = 0; i < count; ++i) {
        if (i < kept && shown.verdicts[i].status == m_stats.verdicts[i].status &&
            shown.verdicts[i].text == m_stats.verdicts[i].text)
            continue;
        const auto& c = m_stats.cycles[i];
        const bool rejected = m_stats.verdicts[i].status != CycleStatus::Accepted;
        const int r = static_cast<int>(i);
        m_table->setItem(r, 0, cell(QString::number(i + 1), rejected));
        m_table->setItem(r, 1, cell(text(c.dateTime), rejected, Qt::AlignLeft | Qt::AlignVCenter));
        m_table->setItem(r, 2, cell(text(c.label), rejected));
        m_table->setItem(r, 3, cell(valueCell(c.hr), rejected));
        m_table->setItem(r, 4, cell(valueCell(c.sbp), rejected));
        m_table->setItem(r, 5, cell(valueCell(c.mbp), rejected));
        m_table->setItem(r, 6, cell(valueCell(c.dbp), rejected));
        auto* status = cell(text(m_stats.verdicts[i].text), false, Qt::AlignLeft | Qt::AlignVCenter);
        if (rejected) status->setForeground(QColor(0xC0, 0x30, 0x30));
        if (m_stats.verdicts[i].byHand) {
            QFont bold = status->font();
            bold.setBold(true);
            status->setFont(bold);
            status->setToolTip(QStringLiteral("Changed by hand (review-log.csv)"));
        }
        m_table->setItem(r, 7, status);
    }
    m_table->resizeColumnsToContents();
    if (!m_stats.cycles.empty()) m_table->scrollToBottom();
    for (int k = 0; k < kValueCount; ++k) {
        const ValueSummary& s = m_stats.summary[static_cast<std::size_t>(k)];
        m_summary->setItem(k, 0, cell(QString::number(s.n), false));
        m_summary->setItem(k, 1, cell(text(meanSdText(s)), false));
        m_summary->setItem(k, 2, cell(text(rangeText(s)), false));
    }
    m_plot->setStats(&m_stats);
}

std::string CSessionWindow::changeVerdict(int row, const std::string& reason) {
    const auto& rows = m_session.rows();
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size() ||
        static_cast<std::size_t>(row) >= m_stats.verdicts.size())
        return "no cycle is selected";
    ReviewChange change;
    change.cycle = cycleKeyOf(rows[static_cast<std::size_t>(row)]);
    change.oldAccepted = m_stats.verdicts[static_cast<std::size_t>(row)].status == CycleStatus::Accepted;
    change.newAccepted = !change.oldAccepted;
    change.reason = reason;
    std::string error = appendReviewChange(m_session.folder(), change);
    refresh();
    return error;
}

void CSessionWindow::askVerdict() {
    const int row = m_table->currentRow();
    if (row < 0 || static_cast<std::size_t>(row) >= m_stats.verdicts.size()) return;
    const bool accepted = m_stats.verdicts[static_cast<std::size_t>(row)].status == CycleStatus::Accepted;
    QStringList reasons;
    for (const auto& r : reviewReasons()) reasons << QString::fromStdString(r);
    if (!accepted) reasons.prepend(QStringLiteral("reading is sound"));
    bool ok = false;
    const QString reason =
        QInputDialog::getItem(this, QStringLiteral("Change verdict"),
                              QStringLiteral("%1 cycle %2 by hand. Reason:")
                                  .arg(accepted ? QStringLiteral("Reject") : QStringLiteral("Accept"))
                                  .arg(row + 1),
                              reasons, 0, true, &ok);
    if (!ok) return;
    const std::string error = changeVerdict(row, reason.trimmed().toStdString());
    if (!error.empty())
        QMessageBox::warning(
            this, QStringLiteral("Change verdict"),
            QStringLiteral("The change could not be kept: %1").arg(QString::fromStdString(error)));
}

void CSessionWindow::loadConditions() {
    const std::pair<int, int> now{m_session.deviceId(), m_session.sessionNumber()};
    if (now == m_conditionsOf) return;  // keep what the user is typing
    m_conditionsOf = now;
    SittingConditions c;
    std::string reason;
    if (auto file = readSittings(m_session.folder(), reason))
        if (auto it = file->latest.find(now); it != file->latest.end()) c = it->second;
    const std::string* values[] = {&c.platformTemperature, &c.roomTemperature, &c.restrainer, &c.operatorName,
                                   &c.notes};
    for (std::size_t i = 0; i < m_conditions.size(); ++i)
        m_conditions[i]->setText(QString::fromStdString(*values[i]));
}

std::string CSessionWindow::saveConditions() {
    if (m_session.rows().empty()) return "the session has no cycles yet";
    SittingConditions c;
    c.deviceId = m_session.deviceId();
    c.session = m_session.sessionNumber();
    c.animalNo = m_session.rows().back().animalNo;
    std::string* values[] = {&c.platformTemperature, &c.roomTemperature, &c.restrainer, &c.operatorName,
                             &c.notes};
    for (std::size_t i = 0; i < m_conditions.size(); ++i)
        *values[i] = m_conditions[i]->text().trimmed().toStdString();
    return appendSittingConditions(m_session.folder(), c);
}

bool CSessionWindow::exportCsv(const QString& path) {
    const std::string csv = formatSessionCsv(m_stats, true);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
        !file.commit()) {
        QMessageBox::warning(this, QStringLiteral("Export CSV"),
                             QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

}  // namespace hx

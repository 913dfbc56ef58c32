#include "gui/CSessionWindow.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
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
    m_newSession = new QPushButton(QStringLiteral("New session"), this);
    m_export = new QPushButton(QStringLiteral("Export CSV"), this);

    auto* settings = new QHBoxLayout;
    settings->addWidget(new QLabel(QStringLiteral("Acclimation cycles:"), this));
    settings->addWidget(m_acclimation);
    settings->addSpacing(12);
    settings->addWidget(m_rejectErrors);
    settings->addSpacing(12);
    settings->addWidget(new QLabel(QStringLiteral("SBP outlier k \u00D7 MAD:"), this));
    settings->addWidget(m_outlierK);
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
    auto* top = new QVBoxLayout(this);
    top->addLayout(settings);
    top->addWidget(m_heading);
    top->addLayout(body, 1);
    resize(1000, 560);

    connect(m_acclimation, &QSpinBox::valueChanged, this, [this] { settingsEdited(); });
    connect(m_outlierK, &QDoubleSpinBox::valueChanged, this, [this] { settingsEdited(); });
    connect(m_rejectErrors, &QCheckBox::toggled, this, [this] { settingsEdited(); });
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
    storeSessionSettings(m_store, m_settings);
    refresh();
}

void CSessionWindow::refresh() {
    SessionStats shown = std::move(m_stats);
    m_stats = m_session.stats(m_settings);
    const auto& rows = m_session.rows();
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

#include "gui/dialogs/CTimerModeDialog.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "gui/dialogs/StartFolder.h"

namespace hx {

namespace {

constexpr int kLineStep = 1;
constexpr int kPageStep = 10;
const QString kFilter = QStringLiteral("timer Files (*.tm);;All Files (*.*)");

// Read and Write open where the last timer file was read or written.
QString& lastTimerFolder() {
    static QString folder;
    return folder;
}

std::optional<QString> chooseTimerFile(bool save, QWidget* parent) {
    QFileDialog dialog(parent);
    dialog.setDirectory(existingFolder(lastTimerFolder()));
    dialog.setNameFilter(kFilter);
    dialog.setDefaultSuffix(QStringLiteral("tm"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);  // asks before an existing file is replaced
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    lastTimerFolder() = QFileInfo(dialog.selectedFiles().constFirst()).absolutePath();
    return dialog.selectedFiles().constFirst();
}

QLineEdit* rowField(QWidget* owner) {
    auto* field = new QLineEdit;
    field->setAlignment(Qt::AlignCenter);
    field->setMaxLength(32);
    field->installEventFilter(owner);
    return field;
}

}  // namespace

CTimerModeDialog::CTimerModeDialog(CTimerSchedule& schedule, const std::vector<std::int32_t>& entries,
                                   QWidget* parent)
    : QDialog(parent), m_schedule(schedule), m_chooseFile(chooseTimerFile) {
    setObjectName(QStringLiteral("TimerMode"));
    setWindowTitle(QStringLiteral("Timer Mode"));
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_model.load(entries);

    auto* rows = new QGridLayout;
    rows->setVerticalSpacing(2);
    rows->addWidget(new QLabel(QStringLiteral("Interval")), 0, 1, Qt::AlignCenter);
    rows->addWidget(new QLabel(QStringLiteral("Time")), 0, 2, Qt::AlignCenter);
    const int fieldWidth = fontMetrics().horizontalAdvance(QStringLiteral("000:00:00*")) + 16;
    for (int k = 0; k < CTimerDialogModel::kVisibleRows; ++k) {
        const auto i = static_cast<std::size_t>(k);
        m_labels[i] = new QLabel;
        m_labels[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_labels[i]->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("100")));
        m_interval[i] = rowField(this);
        m_time[i] = rowField(this);
        m_interval[i]->setFixedWidth(fieldWidth);
        m_time[i]->setFixedWidth(fieldWidth);
        rows->addWidget(m_labels[i], k + 1, 0);
        rows->addWidget(m_interval[i], k + 1, 1);
        rows->addWidget(m_time[i], k + 1, 2);
    }
    m_scroll = new QScrollBar(Qt::Vertical);
    m_scroll->setRange(0, CTimerDialogModel::kMaxTopRow);
    m_scroll->setSingleStep(kLineStep);
    m_scroll->setPageStep(kPageStep);
    rows->addWidget(m_scroll, 1, 3, CTimerDialogModel::kVisibleRows, 1);

    auto* ok = new QPushButton(QStringLiteral("OK"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    m_read = new QPushButton(QStringLiteral("Read"));
    m_write = new QPushButton(QStringLiteral("Write"));
    m_clearAll = new QPushButton(QStringLiteral("ClearAll"));
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {ok, cancel, m_read, m_write, m_clearAll}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(rows);
    layout->addSpacing(12);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &CTimerModeDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_read, &QPushButton::clicked, this, &CTimerModeDialog::readFile);
    connect(m_write, &QPushButton::clicked, this, &CTimerModeDialog::writeFile);
    connect(m_clearAll, &QPushButton::clicked, this, [this] {
        m_model.clear();
        showRows();
    });
    connect(m_scroll, &QScrollBar::valueChanged, this, &CTimerModeDialog::scrollTo);
    showRows();
}

void CTimerModeDialog::showIntervals() {
    for (int k = 0; k < CTimerDialogModel::kVisibleRows; ++k)
        intervalField(k)->setText(
            QString::fromStdString(CTimerDialogModel::intervalText(m_model.interval(m_model.topRow() + k))));
}

void CTimerModeDialog::showTimes() {
    for (int k = 0; k < CTimerDialogModel::kVisibleRows; ++k)
        timeField(k)->setText(
            QString::fromStdString(CTimerDialogModel::timeText(m_model.time(m_model.topRow() + k))));
}

void CTimerModeDialog::showRows() {
    for (int k = 0; k < CTimerDialogModel::kVisibleRows; ++k) rowLabel(k)->setNum(m_model.topRow() + k + 1);
    showTimes();
    showIntervals();
}

void CTimerModeDialog::takeField(QLineEdit* field) {
    // Only what the user typed is taken: the texts the dialog shows are not
    // always read back as they were meant (an interval of an hour or more
    // shows only its minutes and seconds), so a field that is merely passed
    // through must not change the rows.
    if (!field->isModified()) return;
    for (int k = 0; k < CTimerDialogModel::kVisibleRows; ++k) {
        const int row = m_model.topRow() + k;
        if (field == intervalField(k)) {
            // A text without a value (or 0) is ignored and stays as typed.
            if (m_model.enterInterval(row, field->text().toStdString())) {
                showTimes();
                showIntervals();
            }
            return;
        }
        if (field == timeField(k)) {
            m_model.enterTime(row, field->text().toStdString());
            showTimes();
            showIntervals();
            return;
        }
    }
}

void CTimerModeDialog::takeFocusedField() {
    if (auto* field = qobject_cast<QLineEdit*>(focusWidget())) takeField(field);
}

void CTimerModeDialog::scrollTo(int topRow) {
    // What is being typed belongs to the row it was typed in.
    takeFocusedField();
    m_model.setTopRow(topRow);
    if (m_scroll->value() != m_model.topRow()) m_scroll->setValue(m_model.topRow());
    showRows();
}

bool CTimerModeDialog::eventFilter(QObject* watched, QEvent* event) {
    auto* field = qobject_cast<QLineEdit*>(watched);
    if (field && event->type() == QEvent::FocusOut) {
        takeField(field);
    } else if (field && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            takeField(field);
            return true;  // never reaches the dialog's default button
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CTimerModeDialog::wheelEvent(QWheelEvent* event) { QCoreApplication::sendEvent(m_scroll, event); }

void CTimerModeDialog::readFile() {
    takeFocusedField();
    const std::optional<QString> path = m_chooseFile ? m_chooseFile(false, this) : std::nullopt;
    if (!path) return;
    if (m_schedule.readTimerFile(path->toStdString()) != 0) {
        // The schedule says why, except for a file that is not there (gone
        // since it was chosen); the rows keep what they held.
        if (!QFileInfo::exists(*path))
            QMessageBox::critical(this, QString::fromLatin1(CTimerSchedule::kErrorCaption),
                                  QStringLiteral("File Open Error"));
        return;
    }
    std::array<std::int32_t, CTimerDialogModel::kRows> read{};
    const std::size_t n = m_schedule.getEntries(read);
    m_model.load(std::span<const std::int32_t>(read.data(), n));
    showRows();
    // Entries beyond the rows would be dropped by OK, values held at 32 bits
    // would show clipped: said now rather than found out later.
    const std::string warning = m_schedule.readWarning(CTimerDialogModel::kRows);
    if (!warning.empty())
        QMessageBox::warning(this, QStringLiteral("Timer Mode"), QString::fromStdString(warning));
}

void CTimerModeDialog::writeFile() {
    takeFocusedField();
    const std::optional<QString> path = m_chooseFile ? m_chooseFile(true, this) : std::nullopt;
    if (!path) return;
    const std::vector<std::int32_t> rows = m_model.entries();
    m_schedule.setEntries(rows);
    m_schedule.writeTimerFile(path->toStdString());
}

void CTimerModeDialog::accept() {
    takeFocusedField();
    QDialog::accept();
}

}  // namespace hx

#pragma once
// The Timer mode dialog ("TimerMode"): 20 visible rows of the 100 of the
// schedule, each with its label, interval and time; a scroll bar over rows
// 1 to 100; "ClearAll", "Read" and "Write" (timer files through the schedule).
// A field's text is taken when the user has changed it and the field loses
// the focus or Enter is pressed in it; Enter never closes the dialog. Made for one run; the rows start from
// the entries given. UI thread only.

#include <QDialog>
#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "timer/TimerDialogModel.h"
#include "timer/TimerSchedule.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace hx {

class CTimerModeDialog final : public QDialog {
    Q_OBJECT
  public:
    // Asks for a timer file to read (save false) or write (save true); nothing when cancelled.
    using FileChooser = std::function<std::optional<QString>(bool save, QWidget* parent)>;

    // schedule: the program's schedule, which "Read" and "Write" act on (it
    // shows its own file messages); entries: its entry array.
    CTimerModeDialog(CTimerSchedule& schedule, const std::vector<std::int32_t>& entries,
                     QWidget* parent = nullptr);

    // After OK: the 100 intervals for the schedule.
    std::vector<std::int32_t> entries() const { return m_model.entries(); }
    const CTimerDialogModel& model() const { return m_model; }

    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }

    QLineEdit* intervalField(int windowRow) const { return m_interval[static_cast<std::size_t>(windowRow)]; }
    QLineEdit* timeField(int windowRow) const { return m_time[static_cast<std::size_t>(windowRow)]; }
    QLabel* rowLabel(int windowRow) const { return m_labels[static_cast<std::size_t>(windowRow)]; }
    QScrollBar* scrollBar() const { return m_scroll; }
    QPushButton* readButton() const { return m_read; }
    QPushButton* writeButton() const { return m_write; }
    QPushButton* clearAllButton() const { return m_clearAll; }

    void accept() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The wheel anywhere over the rows scrolls them.
    void wheelEvent(QWheelEvent* event) override;

  private:
    void showRows();
    void showIntervals();
    void showTimes();
    // Takes the text of the field that has the focus, if it is one of the rows'.
    void takeFocusedField();
    void takeField(QLineEdit* field);
    void scrollTo(int topRow);
    void readFile();
    void writeFile();

    CTimerSchedule& m_schedule;
    CTimerDialogModel m_model;
    FileChooser m_chooseFile;
    std::array<QLabel*, CTimerDialogModel::kVisibleRows> m_labels{};
    std::array<QLineEdit*, CTimerDialogModel::kVisibleRows> m_interval{};
    std::array<QLineEdit*, CTimerDialogModel::kVisibleRows> m_time{};
    QScrollBar* m_scroll;
    QPushButton* m_read;
    QPushButton* m_write;
    QPushButton* m_clearAll;
};

}  // namespace hx

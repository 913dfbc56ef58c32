#pragma once
// The device clock dialog (139, "Date&Time"): the PC's clock and the unit's
// clock one above the other in "Courier New" 16 pt bold, painted again every
// second, and the button "Set HX-40K clock to PC clock". The main window keeps
// one and runs it over the controller's model; the controller reads the unit
// every second and calls the model's refresh. UI thread only.

#include <QDialog>
#include <QFont>
#include <ctime>
#include <functional>

#include "control/UiPort.h"

class QPushButton;
class QTimer;

namespace hx {

class CClockDialog final : public QDialog {
    Q_OBJECT
  public:
    // pcTime gives the PC's time (seconds since 1970); it is read at each painting.
    explicit CClockDialog(std::function<std::time_t()> pcTime, QWidget* parent = nullptr);

    // Runs the dialog modally over model; returns at once when it already runs.
    void run(ClockDialogModel& model);
    // Ends the dialog with Cancel when it runs (the unit was lost).
    void endIfShowing();
    bool isShowing() const { return m_model != nullptr; }

    // The two lines as painted now.
    std::array<std::string, 2> lines() const;
    const QFont& textFont() const { return m_font; }
    QPushButton* setClockButton() const { return m_setClock; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::function<std::time_t()> m_pcTime;
    QFont m_font;
    QPushButton* m_setClock;
    QTimer* m_refresh;
    ClockDialogModel* m_model = nullptr;       // while the dialog runs
    std::array<std::int16_t, 6> m_unitTime{};  // kept from the last run
};

}  // namespace hx

#pragma once
// The Monitor dialog (132): file naming and saving policy, timer and trace
// modes, the background colour (White, Black or one picked in the colour
// chooser), the colour and width of the pressure and wave traces, "Default",
// and the " Trace Image " preview. Laid out from the template's dialog units
// with the dialog's font. Made for one run; the monitor values change only on
// OK. UI thread only.

#include <QColor>
#include <QDialog>
#include <functional>
#include <optional>

#include "settings/MonitorDialogModel.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QPushButton;

namespace hx {

class CTraceImageBox;

class CMonitorDialog final : public QDialog {
    Q_OBJECT
  public:
    // Shows the colour chooser; the colour confirmed, or nothing.
    using ColorChooser = std::function<std::optional<QColor>(const QColor& initial, QWidget* parent)>;

    CMonitorDialog(const MonitorValues& values, const QString& caption, QWidget* parent = nullptr);

    // After OK: the dialog's values stored into values (the frame keys untouched).
    void storeInto(MonitorValues& values) const { m_state.storeInto(values); }
    const MonitorDialogState& state() const { return m_state; }

    void accept() override;
    void setColorChooser(ColorChooser chooser) { m_chooseColor = std::move(chooser); }

    QComboBox* filenameTypeList() const { return m_filenameType; }
    QComboBox* createDatafileList() const { return m_createDatafile; }
    QCheckBox* timerModeBox() const { return m_timerMode; }
    QCheckBox* traceBox() const { return m_trace; }
    QButtonGroup* backgroundGroup() const { return m_background; }
    QComboBox* pressColorList() const { return m_pressColor; }
    QComboBox* waveColorList() const { return m_waveColor; }
    QComboBox* pressWidthList() const { return m_pressWidth; }
    QComboBox* waveWidthList() const { return m_waveWidth; }
    QPushButton* defaultButton() const { return m_default; }
    CTraceImageBox* traceImage() const { return m_preview; }

  private:
    void showState();  // every control from the state, then the preview
    void connectControls(QPushButton& ok, QPushButton& cancel);
    void backgroundClicked(QAbstractButton* button);
    void restoreDefaults();

    MonitorDialogState m_state;
    ColorChooser m_chooseColor;
    QComboBox* m_filenameType;
    QComboBox* m_createDatafile;
    QCheckBox* m_timerMode;
    QCheckBox* m_trace;
    QButtonGroup* m_background;
    QComboBox* m_pressColor;
    QComboBox* m_waveColor;
    QComboBox* m_pressWidth;
    QComboBox* m_waveWidth;
    QPushButton* m_default;
    CTraceImageBox* m_preview;
};

}  // namespace hx

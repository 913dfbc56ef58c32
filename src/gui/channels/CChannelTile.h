#pragma once
// CChannelTile: one unit at a glance in the window of several units. A header
// (device ID, connection, unit state, animal number), the live sweep (a
// CWaveView of its own over the channel's document), the live values (heart
// rate, cuff pressure, sensor level), the last result and the unit's error or
// link problem. While a result is shown the sweep gives way to the recorded
// cuff pressure and pulse wave. A click selects the channel (clicked()).
//
// UI thread only. The document is not owned and must outlive the tile's use of it.

#include <QFrame>
#include <QString>

#include "control/UiPort.h"

class QLabel;

namespace hx {

class CHalnor55KUDoc;
class CWaveView;

class CChannelTile final : public QFrame {
    Q_OBJECT
  public:
    CChannelTile(int deviceId, QWidget* parent = nullptr);

    void attach(const CHalnor55KUDoc& doc);
    int deviceId() const { return m_deviceId; }
    CWaveView& wave() { return *m_wave; }

    void setSelected(bool selected);
    bool selected() const { return m_selected; }
    void setConnected(bool connected);
    void setState(const std::string& stateText);
    void setAnimal(const std::string& animalPaneText);
    void setError(const std::string& text);
    void setGeneral(const std::string& text);
    void setLiveHeartRate(int hr);
    void setSensorLevel(int level);
    void setPressure(int mmHg);
    void setResult(const HistoryRow& row, int errorCode, bool showMbpDbp);
    void setLinkProblem(LinkError cause);
    // A live batch arrived: a shown result trace gives way to the live sweep.
    void liveBatch();
    bool showsResultTrace() const;

    // The texts as shown (tests and pictures).
    QString headerText() const;
    QString valuesText() const;
    QString resultText() const;
    QString errorText() const;

  signals:
    void clicked(int deviceId);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void showHeader();
    void showValues();
    void showError();
    // The recorded cuff pressure and pulse wave of the last result, where the sweep is.
    void showResultTrace();

    const int m_deviceId;
    const CHalnor55KUDoc* m_doc = nullptr;
    bool m_selected = false;
    bool m_connected = false;
    QString m_state, m_animal, m_general, m_errorPane, m_link;
    int m_hr = -1, m_sense = -1, m_pressure = -1;
    QLabel* m_header;
    CWaveView* m_wave;
    QLabel* m_values;
    QLabel* m_result;
    QLabel* m_error;
    QLabel* m_resultTrace;  // over the sweep while a result is shown
};

}  // namespace hx

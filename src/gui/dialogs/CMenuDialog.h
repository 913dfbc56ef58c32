#pragma once
// The Menu dialog (135): the unit's menu settings as controls. PRESS slider
// (1 to 26, a tick at 10, the pressure beside it), SENSE and AUTO-S lists, six
// check boxes (USB and PRINT shown but fixed), SPEED and TYPE radio rows. The
// dialog talks to neither the unit nor the profile: it turns the twelve words
// into controls and back. Made for one run. UI thread only.

#include <QDialog>
#include <array>

#include "settings/MenuDialogModel.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QWidget;

namespace hx {

class CMenuDialog final : public QDialog {
    Q_OBJECT
  public:
    // settings: the words as read from the unit; caption: "Halnor40KU: ID->n".
    CMenuDialog(const MenuSettings& settings, const QString& caption, QWidget* parent = nullptr);

    // After OK: the twelve words (word 10 and settings without a choice as read).
    const MenuSettings& result() const { return m_result; }

    void accept() override;

    QSlider* pressSlider() const { return m_slider; }
    QLabel* pressText() const { return m_value; }
    QComboBox* senseList() const { return m_sense; }
    QComboBox* autoSList() const { return m_autoS; }
    QCheckBox* box(int word) const;
    QButtonGroup* speedGroup() const { return m_speed; }
    QButtonGroup* typeGroup() const { return m_type; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* makeScale();
    void paintScale(QWidget* scale);
    int sliderX(int position) const;

    MenuSettings m_read;
    MenuSettings m_result;
    QSlider* m_slider;
    QLabel* m_value;
    QWidget* m_scale;  // the labels above the slider
    QWidget* m_ticks;  // the tick at 10 below it
    QComboBox* m_sense;
    QComboBox* m_autoS;
    std::array<QCheckBox*, 12> m_boxes{};  // by word; null where a word has no box
    QButtonGroup* m_speed;
    QButtonGroup* m_type;
};

}  // namespace hx

#pragma once
// The window's dialogs as the main window's logic asks for them: message
// boxes, the file save dialog, the device-ID choice, the About box and the
// settings dialogs. Every dialog is modal over the main window; the program's
// messages go on being handled while one is open. The Animal ID dialog lives as
// long as the window, the device clock dialog from its first showing on; the
// Menu, Monitor and Timer mode dialogs are made for each run.
//
// UI thread only. The parent window and the loop must outlive the object.

#include <QPoint>
#include <QSize>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "control/UiPort.h"

namespace hx {

class CAnimalIdDialog;
class CClockDialog;
class CHalnor55KUDoc;
class IEventLoop;

class CWindowDialogs final : public IDialogs {
  public:
    CWindowDialogs(QWidget& parent, IEventLoop& loop);
    ~CWindowDialogs() override;

    // The document gives the captions their device ID ("Halnor40KU: ID->n").
    void attach(const CHalnor55KUDoc& doc) { m_doc = &doc; }

    // IMessagePort
    MsgAnswer messageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                         MsgButtons buttons) override;
    std::optional<std::string> saveFileDialog(const std::string& initialPath,
                                              const std::string& defaultExtension) override;

    std::optional<int> chooseDeviceId(const std::vector<std::int16_t>& listedIds) override;
    void showAbout(const AboutTexts& texts) override;

    bool runAnimalDialog(AnimalDialogModel& model) override;
    bool askAnimalDialog(AnimalDialogModel& model, std::function<void(bool ok)> answered) override;
    void endAnimalDialog() override;
    // The Animal ID question asked without waiting (askAnimalDialog), for a
    // window that shows several units; off: it is only asked modally. place
    // gives the top-left corner on the screen for the dialog's size, so that
    // questions asked at once do not cover each other.
    using Placement = std::function<QPoint(const QSize& dialogSize)>;
    void setAnimalQuestionWithoutWaiting(bool on, Placement place = {}) {
        m_askWithoutWaiting = on;
        m_placeQuestion = std::move(place);
    }
    bool runMenuDialog(MenuSettings& settings) override;
    void runClockDialog(ClockDialogModel& model) override;
    void endClockDialog() override;
    bool runMonitorDialog(MonitorValues& values) override;
    bool runTimerDialog(CTimerSchedule& schedule, std::vector<std::int32_t>& entries) override;

    CAnimalIdDialog& animalDialog() { return *m_animal; }
    // The device clock dialog once it was first shown, else null.
    CClockDialog* clockDialog() { return m_clock.get(); }

  private:
    QString caption() const;

    QWidget& m_parent;
    IEventLoop& m_loop;
    const CHalnor55KUDoc* m_doc = nullptr;
    std::unique_ptr<CAnimalIdDialog> m_animal;
    std::unique_ptr<CClockDialog> m_clock;
    bool m_askWithoutWaiting = false;
    Placement m_placeQuestion;
};

}  // namespace hx

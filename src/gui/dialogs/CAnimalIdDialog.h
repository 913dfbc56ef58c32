#pragma once
// The Animal ID dialog ("ID"): the animal number, study number, weight,
// sex/age and comment with their character filters and limits per form, and
// the data folder (read-only; "Directory" chooses it). The main window keeps
// one for its life and runs it over the controller's model; while it shows,
// the model's refresh puts the model's texts (the unit's animal block) into
// every field. UI thread only.

#include <QDialog>
#include <QString>
#include <array>
#include <functional>
#include <optional>

#include "control/UiPort.h"
#include "settings/AnimalIdFields.h"

class QLineEdit;
class QPushButton;

namespace hx {

class CAnimalFieldValidator;

class CAnimalIdDialog final : public QDialog {
    Q_OBJECT
  public:
    // Shows a folder chooser and gives the folder chosen, or nothing when cancelled.
    using FolderChooser = std::function<std::optional<QString>(QWidget* parent)>;

    explicit CAnimalIdDialog(QWidget* parent = nullptr);

    // Runs the dialog modally over model (texts, folder, form and caption).
    // On OK the six fields go into the model and the result is true. A call
    // while the dialog already shows returns false at once.
    bool run(AnimalDialogModel& model);
    // Shows the dialog without waiting (not modal): on OK the fields go into
    // the model, and answered(ok) follows when it closes, however it closes.
    // False (nothing shown) when the dialog already shows.
    bool ask(AnimalDialogModel& model, std::function<void(bool ok)> answered);
    // Ends the dialog with Cancel when it shows; otherwise does nothing.
    void endIfShowing();
    bool isShowing() const { return m_model != nullptr; }

    QLineEdit* field(AnimalField which) const { return m_fields[static_cast<std::size_t>(which)]; }
    QPushButton* directoryButton() const { return m_directory; }
    // Replaces the folder browser (tests).
    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }

    void done(int result) override;

  private:
    void begin(AnimalDialogModel& model);
    bool end(bool accepted);  // takes the fields into the model on OK
    void applyForm(bool longId);
    void showText(AnimalField which, const std::string& text);
    void refreshFields();
    void chooseFolder();

    std::array<QLineEdit*, 6> m_fields{};
    std::array<CAnimalFieldValidator*, 6> m_validators{};
    QPushButton* m_directory;
    FolderChooser m_chooseFolder;
    AnimalDialogModel* m_model = nullptr;  // while the dialog runs
    std::function<void(bool)> m_answered;  // while it shows without waiting
};

}  // namespace hx

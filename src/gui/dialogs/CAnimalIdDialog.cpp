#include "gui/dialogs/CAnimalIdDialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/dialogs/CAnimalFieldValidator.h"
#include "gui/dialogs/StartFolder.h"

namespace hx {

namespace {

constexpr std::array<AnimalField, 5> kTextFields{AnimalField::kAnimalNo, AnimalField::kStudyNo,
                                                 AnimalField::kWeight, AnimalField::kSexAge,
                                                 AnimalField::kComment};
constexpr std::array<const char*, 5> kLabels{
    "ANIMAL No. :", "STUDY No. :", "WEIGHT :", "SEX/AGE :", "COMMENT :"};

// Opens at the folder the dialog shows (or the nearest that exists).
std::optional<QString> browseForFolder(QWidget* parent, const QString& current) {
    // Qt's own dialog: resizable, with an edit box to type a path.
    QFileDialog dialog(parent, QStringLiteral("Select Datafile Folder"), existingFolder(current));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

}  // namespace

CAnimalIdDialog::CAnimalIdDialog(QWidget* parent)
    : QDialog(parent), m_chooseFolder([this](QWidget* owner) {
          return browseForFolder(owner, field(AnimalField::kDataFolder)->text());
      }) {
    setObjectName(QStringLiteral("ID"));
    auto* heading = new QGroupBox(QStringLiteral("Setting of Animal No."));
    auto* form = new QFormLayout(heading);
    for (std::size_t i = 0; i < kTextFields.size(); ++i) {
        auto* edit = new QLineEdit;
        const auto index = static_cast<std::size_t>(kTextFields[i]);
        m_validators[index] = new CAnimalFieldValidator(animalFieldRule(kTextFields[i], false), edit);
        edit->setValidator(m_validators[index]);
        m_fields[index] = edit;
        form->addRow(QString::fromLatin1(kLabels[i]), edit);
    }
    // The comment takes 32 characters; give it room for them.
    field(AnimalField::kComment)
        ->setMinimumWidth(field(AnimalField::kComment)->fontMetrics().averageCharWidth() * 34);

    auto* folderBox = new QGroupBox(QStringLiteral("Save data directory"));
    auto* folderRow = new QHBoxLayout(folderBox);
    auto* folder = new QLineEdit;
    folder->setReadOnly(true);
    m_fields[static_cast<std::size_t>(AnimalField::kDataFolder)] = folder;
    m_directory = new QPushButton(QStringLiteral("Directory"));
    m_directory->setAutoDefault(false);
    folderRow->addWidget(folder, 1);
    folderRow->addWidget(m_directory);
    connect(m_directory, &QPushButton::clicked, this, &CAnimalIdDialog::chooseFolder);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(folderBox);
    layout->addWidget(buttons);
}

void CAnimalIdDialog::applyForm(bool longId) {
    for (AnimalField f : kTextFields)
        m_validators[static_cast<std::size_t>(f)]->setRule(animalFieldRule(f, longId));
}

void CAnimalIdDialog::showText(AnimalField which, const std::string& text) {
    const QString value = QString::fromStdString(text);
    if (auto* validator = m_validators[static_cast<std::size_t>(which)]) validator->setCurrentText(value);
    field(which)->setText(value);
}

void CAnimalIdDialog::refreshFields() {
    if (!m_model) return;
    const AnimalTexts& t = m_model->texts;
    showText(AnimalField::kAnimalNo, t.animalNo);
    showText(AnimalField::kStudyNo, t.studyNo);
    showText(AnimalField::kWeight, t.weight);
    showText(AnimalField::kSexAge, t.sexAge);
    showText(AnimalField::kComment, t.comment);
    showText(AnimalField::kDataFolder, m_model->dataFolder);
}

void CAnimalIdDialog::begin(AnimalDialogModel& model) {
    m_model = &model;
    applyForm(model.longId);
    setWindowTitle(QString::fromStdString(model.caption));
    refreshFields();
    model.refresh = [this] { refreshFields(); };
    field(AnimalField::kAnimalNo)->setFocus();
}

bool CAnimalIdDialog::end(bool accepted) {
    AnimalDialogModel& model = *m_model;
    model.refresh = nullptr;
    m_model = nullptr;
    if (!accepted) return false;
    auto text = [this](AnimalField f) { return field(f)->text().toStdString(); };
    model.texts.animalNo = text(AnimalField::kAnimalNo);
    model.texts.studyNo = text(AnimalField::kStudyNo);
    model.texts.weight = text(AnimalField::kWeight);
    model.texts.sexAge = text(AnimalField::kSexAge);
    model.texts.comment = text(AnimalField::kComment);
    model.dataFolder = text(AnimalField::kDataFolder);
    return true;
}

bool CAnimalIdDialog::run(AnimalDialogModel& model) {
    if (m_model) return false;
    begin(model);
    return end(exec() == QDialog::Accepted);
}

bool CAnimalIdDialog::ask(AnimalDialogModel& model, std::function<void(bool ok)> answered) {
    if (m_model) return false;
    begin(model);
    m_answered = std::move(answered);
    setModal(false);
    show();
    raise();
    return true;
}

void CAnimalIdDialog::done(int result) {
    QDialog::done(result);
    if (!m_answered) return;  // a modal run takes its answer from exec()
    const bool ok = end(result == QDialog::Accepted);
    // Taken first: the answer may open the dialog again.
    auto answered = std::move(m_answered);
    m_answered = nullptr;
    answered(ok);
}

void CAnimalIdDialog::endIfShowing() {
    if (m_model) reject();
}

void CAnimalIdDialog::chooseFolder() {
    const std::optional<QString> chosen = m_chooseFolder ? m_chooseFolder(this) : std::nullopt;
    if (!chosen || chosen->isEmpty()) return;
    // Only the folder field changes: what was typed into the others stays.
    showText(AnimalField::kDataFolder, (*chosen + QLatin1Char('/')).toStdString());
}

}  // namespace hx

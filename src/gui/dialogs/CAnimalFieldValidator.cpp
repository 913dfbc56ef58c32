#include "gui/dialogs/CAnimalFieldValidator.h"

namespace hx {

CAnimalFieldValidator::CAnimalFieldValidator(FieldRule rule, QObject* parent)
    : QValidator(parent), m_rule(rule) {}

QValidator::State CAnimalFieldValidator::validate(QString& input, int& pos) const {
    const std::u16string before = m_current.toStdU16String();
    const std::u16string after = input.toStdU16String();
    const FieldEdit edit = applyFieldEdit(m_rule, before, after, static_cast<std::size_t>(std::max(pos, 0)));
    input = QString::fromStdU16String(edit.text);
    pos = static_cast<int>(edit.cursor);
    m_current = input;
    return Acceptable;
}

}  // namespace hx

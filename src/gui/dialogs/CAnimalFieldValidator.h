#pragma once
// The character filter of one Animal ID field as a validator, so text pasted
// into the field passes the same rule as typed text: the characters an edit
// inserts are filtered and cut at the field's limit, text that was there
// before stays as it is. UI thread only.

#include <QValidator>

#include "settings/AnimalIdFields.h"

namespace hx {

class CAnimalFieldValidator final : public QValidator {
    Q_OBJECT
  public:
    explicit CAnimalFieldValidator(FieldRule rule, QObject* parent = nullptr);

    void setRule(FieldRule rule) { m_rule = rule; }
    const FieldRule& rule() const { return m_rule; }
    // Call before the program itself sets the field's text, so that text is
    // taken as it is and not as an edit.
    void setCurrentText(const QString& text) { m_current = text; }

    State validate(QString& input, int& pos) const override;

  private:
    FieldRule m_rule;
    // The field's text as last accepted; an edit is told from what it changed.
    mutable QString m_current;
};

}  // namespace hx

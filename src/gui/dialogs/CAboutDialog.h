#pragma once
// The About box: "About Halnor40KU" with the software version, the legal
// notice and the device version the unit reported last. UI thread only.

#include <QDialog>

#include "app/Application.h"

class QLabel;

namespace hx {

class CAboutDialog final : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDialog(const AboutTexts& texts, QWidget* parent = nullptr);

    QString softwareText() const;
    QString legalText() const;
    QString deviceText() const;

  private:
    QLabel* m_software;
    QLabel* m_legal;
    QLabel* m_device;
};

}  // namespace hx

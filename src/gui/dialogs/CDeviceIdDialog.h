#pragma once
// The device-ID choice ("DEV_TYPE"): sixteen radio buttons "1" to "16" in a
// group "ID"; only the IDs in the list given are enabled, none is selected at
// first. OK gives the selected zero-based ID, or nothing when none was
// selected; closing the dialog otherwise gives nothing too (the caller then
// takes the first listed ID). UI thread only.

#include <QDialog>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class QButtonGroup;
class QRadioButton;

namespace hx {

class CDeviceIdDialog final : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kIds = 16;
    static constexpr std::size_t kMaxEntries = 32;  // entries of the list taken

    explicit CDeviceIdDialog(const std::vector<std::int16_t>& listedIds, QWidget* parent = nullptr);

    // After the dialog has ended: the choice (see above).
    std::optional<int> choice() const { return m_choice; }
    QRadioButton* button(int id) const { return m_buttons[static_cast<std::size_t>(id)]; }

    void accept() override;

  private:
    std::array<QRadioButton*, kIds> m_buttons{};
    QButtonGroup* m_group;
    std::optional<int> m_choice;
};

}  // namespace hx

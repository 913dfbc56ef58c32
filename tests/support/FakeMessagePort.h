#pragma once
// Records every message box and file dialog, and answers from a queue.

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "app/MessagePort.h"

namespace hx::test {

struct ShownMessage {
    std::string text;
    std::string caption;
    MsgIcon icon;
    MsgButtons buttons;
};

class FakeMessagePort : public IMessagePort {
  public:
    MsgAnswer messageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                         MsgButtons buttons) override {
        shown.push_back({text, caption, icon, buttons});
        if (!answers.empty()) {
            MsgAnswer a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    }
    std::optional<std::string> saveFileDialog(const std::string& initialPath,
                                              const std::string& defaultExtension) override {
        dialogs.push_back(initialPath + "|" + defaultExtension);
        return nextSavePath;  // empty optional: the user cancelled
    }

    std::vector<ShownMessage> shown;
    std::deque<MsgAnswer> answers;
    std::vector<std::string> dialogs;
    std::optional<std::string> nextSavePath;
};

}  // namespace hx::test

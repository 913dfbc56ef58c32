#pragma once
// The front end's part in reporting to the user: message boxes, questions and
// the file save dialog. The GUI shows real dialogs; the console front end
// prints them and answers from its options; tests record them.
// Called on the user-interface thread only.

#include <optional>
#include <string>

namespace hx {

enum class MsgIcon { None, Information, Stop, Question, Warning };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No, Cancel };

class IMessagePort {
  public:
    virtual ~IMessagePort() = default;

    // Shows a message box and returns the button the user pressed.
    virtual MsgAnswer messageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                                 MsgButtons buttons) = 0;

    // The file save dialog: initial full path, default extension (without dot);
    // asks before overwriting. Empty optional when the user cancelled.
    virtual std::optional<std::string> saveFileDialog(const std::string& initialPath,
                                                      const std::string& defaultExtension) = 0;
};

}  // namespace hx

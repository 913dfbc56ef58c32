#pragma once
// The application object: the program's folders, the two version texts and the
// About texts. Toolkit-free; the front ends drive the start-up order around it.

#include <mutex>
#include <string>

#include "app/MessagePort.h"

namespace hx {

// "Halnor40KU" directly followed by the product version compiled in; "Undefined"
// before the application object has been constructed.
std::string softwareVersionText();

struct AboutTexts {
    std::string software;       // "Software: " + software version text
    std::string legalNotice;    // the legal notice compiled in
    std::string deviceVersion;  // "Device Version " + device version text
};

class CHalnor40KUApp {
  public:
    CHalnor40KUApp();  // device version "-----", builds the software version text
    ~CHalnor40KUApp();
    CHalnor40KUApp(const CHalnor40KUApp&) = delete;
    CHalnor40KUApp& operator=(const CHalnor40KUApp&) = delete;

    // Start-up step 2: creates "QuarvelFiles/", "QuarvelFiles/HalnorEU/" and its
    // "Preference/" under documentsFolder (which ends with "/" or is empty, in
    // which case the base is "/"). A folder that cannot be created is reported
    // through the port with the system's text and the caption
    // "Error : Create Directory[for Preference :<path>]"; start-up goes on.
    void prepareFolders(const std::string& documentsFolder, IMessagePort& port);

    std::string programFolder() const;     // ".../QuarvelFiles/HalnorEU/" + "/"
    std::string preferenceFolder() const;  // ".../QuarvelFiles/HalnorEU/Preference/"

    std::string deviceVersionText() const;
    void setDeviceVersionText(const std::string& text);

    // True when the last character of the device version text is '2' to '8'.
    bool isLongId() const;
    static bool isLongIdText(const std::string& versionText);

    AboutTexts aboutTexts() const;

    // Message box with the system's text for errnoValue, the given caption and
    // the information icon.
    static void showSystemError(IMessagePort& port, int errnoValue, const std::string& caption);

  private:
    mutable std::mutex m_mutex;
    std::string m_programFolder;
    std::string m_preferenceFolder;
    std::string m_deviceVersionText;
};

}  // namespace hx

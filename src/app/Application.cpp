#include "app/Application.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "BuildInfo.h"

namespace hx {

namespace {

constexpr const char* kProductName = "Halnor40KU";
constexpr const char* kInitialDeviceVersion = "-----";

// The legal notice compiled in from the build; the project's own notice
// stands in should the build leave it empty.
constexpr const char* kBuildLegalNotice = HX_LEGAL_COPYRIGHT;
constexpr const char* kProjectLegalNotice = "Copyright (C) 2026 The HX-40K terminal program developers";

// The software version text is program-wide and outlives any one application
// object, so that code running before construction (static initialisers
// included) sees "Undefined".
struct VersionState {
    std::mutex mutex;
    std::string text = "Undefined";
};

VersionState& versionState() {
    static VersionState state;
    return state;
}

// Works with both strerror_r flavours: the GNU one returns the text, the XSI
// one fills the buffer.
[[maybe_unused]] const char* pickErrorText(const char* text, const char*) { return text; }
[[maybe_unused]] const char* pickErrorText(int, const char* buffer) { return buffer; }

std::string systemErrorText(int errnoValue) {
    char buffer[256] = {};
    return pickErrorText(strerror_r(errnoValue, buffer, sizeof buffer), buffer);
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

std::string softwareVersionText() {
    VersionState& state = versionState();
    std::lock_guard lock(state.mutex);
    return state.text;
}

CHalnor40KUApp::CHalnor40KUApp() : m_deviceVersionText(kInitialDeviceVersion) {
    VersionState& state = versionState();
    std::lock_guard lock(state.mutex);
    state.text = std::string(kProductName) + HX_PRODUCT_VERSION;
}

CHalnor40KUApp::~CHalnor40KUApp() = default;

void CHalnor40KUApp::prepareFolders(const std::string& documentsFolder, IMessagePort& port) {
    std::string base = documentsFolder;
    if (base.empty() || base.back() != '/') base += '/';
    const std::string files = base + "QuarvelFiles/";
    const std::string program = files + "HalnorEU/";
    const std::string preference = program + "Preference/";

    for (const std::string& path : {files, program, preference}) {
        if (pathExists(path)) continue;
        if (::mkdir(path.c_str(), 0777) != 0) {
            const int error = errno;
            showSystemError(port, error, "Error : Create Directory[for Preference :" + path + "]");
        }
    }

    std::lock_guard lock(m_mutex);
    m_preferenceFolder = preference;
    // The program folder has always carried one separator more; a doubled
    // "/" names the same folder.
    m_programFolder = program + "/";
}

std::string CHalnor40KUApp::programFolder() const {
    std::lock_guard lock(m_mutex);
    return m_programFolder;
}

std::string CHalnor40KUApp::preferenceFolder() const {
    std::lock_guard lock(m_mutex);
    return m_preferenceFolder;
}

std::string CHalnor40KUApp::deviceVersionText() const {
    std::lock_guard lock(m_mutex);
    return m_deviceVersionText;
}

void CHalnor40KUApp::setDeviceVersionText(const std::string& text) {
    std::lock_guard lock(m_mutex);
    m_deviceVersionText = text;
}

bool CHalnor40KUApp::isLongId() const { return isLongIdText(deviceVersionText()); }

bool CHalnor40KUApp::isLongIdText(const std::string& versionText) {
    if (versionText.empty()) return false;
    const char last = versionText.back();
    return last >= '2' && last <= '8';
}

AboutTexts CHalnor40KUApp::aboutTexts() const {
    AboutTexts texts;
    texts.software = "Software: " + softwareVersionText();
    texts.legalNotice = *kBuildLegalNotice != '\0' ? kBuildLegalNotice : kProjectLegalNotice;
    texts.deviceVersion = "Device Version " + deviceVersionText();
    return texts;
}

void CHalnor40KUApp::showSystemError(IMessagePort& port, int errnoValue, const std::string& caption) {
    port.messageBox(systemErrorText(errnoValue), caption, MsgIcon::Information, MsgButtons::Ok);
}

}  // namespace hx

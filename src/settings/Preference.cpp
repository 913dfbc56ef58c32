#include "settings/Preference.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <new>
#include <vector>

namespace hx {

namespace {

constexpr int kSectionNumber = 1;

// Masks the flags and widths the monitor dialog treats as on/off.
std::int32_t lowestBit(std::int32_t value) { return value & 1; }

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Creates one level; a folder that exists by the time we look (made by another
// copy of the program, or named with a doubled final "/") counts as made.
bool makeOneFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    return errno == EEXIST && isDirectory(path);
}

std::string withFinalSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

struct DeviceKey {
    int word;
    const char* key;
};

// Reading order of the device group. Words 8 (SPEED) and 10 have no key and
// keep their defaults.
constexpr DeviceKey kDeviceKeys[] = {
    {MenuSettings::kPress, "SETTING_PRESS"},  {MenuSettings::kSense, "SETTING_SENSE"},
    {MenuSettings::kAutoS, "SETTING_AUTO_S"}, {MenuSettings::kAutoP, "SETTING_AUTO_P"},
    {MenuSettings::kDbp, "SETTING_DBP"},      {MenuSettings::kUsb, "SETTING_USB"},
    {MenuSettings::kPrint, "SETTING_PRINT"},  {MenuSettings::kSound, "SETTING_SOUND"},
    {MenuSettings::kType, "SETTING_TYPE"},    {MenuSettings::kTime, "SETTING_TIME"},
};

}  // namespace

bool ensureFolderExists(const std::string& path) {
    try {
        if (path.empty() || path.size() >= PATH_MAX) return false;
        std::string folder = path;
        if (folder.back() == '/') folder.pop_back();
        // "/" (and "//", which the folder dialog makes of the root) is the root.
        if (folder.empty() || isDirectory(folder)) return true;
        if (folder.find('/') == std::string::npos) return false;

        // Collect the missing levels from the innermost outwards, then create
        // them from the outermost in. Only the last creation decides the
        // outcome: a level in between may fail and still be there.
        std::vector<std::string> missing{folder};
        std::string parent = folder.substr(0, folder.rfind('/'));
        // A level without any "/" is a bare relative name: it is never created,
        // so the levels under it fail as well.
        while (!parent.empty() && !isDirectory(parent)) {
            const std::size_t slash = parent.rfind('/');
            if (slash == std::string::npos) break;
            missing.push_back(parent);
            parent.erase(slash);
        }
        for (std::size_t i = missing.size(); i-- > 1;) makeOneFolder(missing[i]);
        return makeOneFolder(missing.front());
    } catch (const std::bad_alloc&) {
        return false;
    }
}

CPreference::CPreference(IProfileStore& store, std::string documentsFolder)
    : m_store(store), m_documentsFolder(std::move(documentsFolder)) {
    char section[32];
    std::snprintf(section, sizeof section, "HalnorEWU_%d", kSectionNumber);
    m_section = section;
    m_dataFolder = withFinalSlash(m_documentsFolder);
    loadMonitorGroup();
    loadAnimalGroup();
    loadDeviceGroup();
}

CPreference::~CPreference() = default;

void CPreference::loadMonitorGroup() {
    MonitorValues& m = m_monitor;
    const MonitorValues d;
    m.filenameType = m_store.readInt(m_section, "filenameType", d.filenameType);
    m.timerMode = m_store.readInt(m_section, "timerMode", d.timerMode);
    m.traceMode = m_store.readInt(m_section, "traceMode", d.traceMode);
    m.backColorNo = m_store.readInt(m_section, "backColorNo", d.backColorNo);
    m.backColor = m_store.readInt(m_section, "backColor", d.backColor);
    m.outputFile = m_store.readInt(m_section, "outputFile", d.outputFile);
    m.pressColorNo = m_store.readInt(m_section, "pressColorNo", d.pressColorNo);
    m.pressColor = m_store.readInt(m_section, "pressColor", d.pressColor);
    m.pressWidth = m_store.readInt(m_section, "pressWidth", d.pressWidth);
    m.waveColorNo = m_store.readInt(m_section, "waveColorNo", d.waveColorNo);
    m.waveColor = m_store.readInt(m_section, "waveColor", d.waveColor);
    m.waveWidth = m_store.readInt(m_section, "waveWidth", d.waveWidth);
    m.frameTop = m_store.readInt(m_section, "frameTop", d.frameTop);
    m.frameBottom = m_store.readInt(m_section, "frameBottom", d.frameBottom);
    m.frameLeft = m_store.readInt(m_section, "frameLeft", d.frameLeft);
    m.frameRight = m_store.readInt(m_section, "frameRight", d.frameRight);
}

void CPreference::writeMonitorGroup() {
    const MonitorValues& m = m_monitor;
    m_store.writeInt(m_section, "filenameType", m.filenameType);
    m_store.writeInt(m_section, "timerMode", lowestBit(m.timerMode));
    m_store.writeInt(m_section, "traceMode", lowestBit(m.traceMode));
    m_store.writeInt(m_section, "backColorNo", m.backColorNo);
    m_store.writeInt(m_section, "backColor", m.backColor);
    m_store.writeInt(m_section, "outputFile", m.outputFile);
    m_store.writeInt(m_section, "pressColorNo", m.pressColorNo);
    m_store.writeInt(m_section, "pressColor", m.pressColor);
    m_store.writeInt(m_section, "pressWidth", lowestBit(m.pressWidth));
    m_store.writeInt(m_section, "waveColorNo", m.waveColorNo);
    m_store.writeInt(m_section, "waveColor", m.waveColor);
    m_store.writeInt(m_section, "waveWidth", lowestBit(m.waveWidth));
    m_store.writeInt(m_section, "frameTop", m.frameTop);
    m_store.writeInt(m_section, "frameBottom", m.frameBottom);
    m_store.writeInt(m_section, "frameLeft", m.frameLeft);
    m_store.writeInt(m_section, "frameRight", m.frameRight);
}

void CPreference::storeFrameRect(std::int32_t left, std::int32_t top, std::int32_t right,
                                 std::int32_t bottom) {
    m_monitor.frameLeft = left;
    m_monitor.frameTop = top;
    m_monitor.frameRight = right;
    m_monitor.frameBottom = bottom;
    m_store.writeInt(m_section, "frameTop", top);
    m_store.writeInt(m_section, "frameBottom", bottom);
    m_store.writeInt(m_section, "frameLeft", left);
    m_store.writeInt(m_section, "frameRight", right);
}

void CPreference::loadAnimalGroup() {
    const std::string stored = m_store.readText(m_section, "dataFolder", withFinalSlash(m_documentsFolder));
    m_animal.animalNo = m_store.readText(m_section, "ID_NO", "");
    m_animal.studyNo = m_store.readText(m_section, "STUDY_NO", "");
    m_animal.weight = m_store.readText(m_section, "WEIGHT", "");
    m_animal.sexAge = m_store.readText(m_section, "SEXAGE", "");
    m_animal.comment = m_store.readText(m_section, "COMMENT", "");
    setDataFolder(stored);
}

bool CPreference::setDataFolder(const std::string& path) {
    if (ensureFolderExists(path)) {
        // Data files are named folder + name: without the final "/" they
        // would land in the parent folder, apart from the results log.
        m_dataFolder = withFinalSlash(path);
        return true;
    }
    // In memory only: the profile keeps its text until the group is written.
    m_dataFolder = withFinalSlash(m_documentsFolder);
    return false;
}

void CPreference::writeAnimalGroup() {
    m_store.writeText(m_section, "ID_NO", m_animal.animalNo);
    m_store.writeText(m_section, "STUDY_NO", m_animal.studyNo);
    m_store.writeText(m_section, "WEIGHT", m_animal.weight);
    m_store.writeText(m_section, "SEXAGE", m_animal.sexAge);
    m_store.writeText(m_section, "COMMENT", m_animal.comment);
    m_store.writeText(m_section, "dataFolder", m_dataFolder);
}

void CPreference::loadDeviceGroup() {
    for (const DeviceKey& entry : kDeviceKeys) {
        const std::int16_t fallback = m_device[entry.word];
        // The unit keeps 16-bit words: a larger stored value keeps its low 16 bits.
        m_device[entry.word] = static_cast<std::int16_t>(m_store.readInt(m_section, entry.key, fallback));
    }
}

}  // namespace hx

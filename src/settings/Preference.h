#pragma once
// CPreference: every setting that outlives a run, in three groups (monitor,
// animal, device) under the profile section "HalnorEWU_1". Owned by the
// document; used on the user-interface thread only.

#include <cstdint>
#include <memory>
#include <string>

#include "app/MessagePort.h"
#include "base/MenuSettings.h"
#include "settings/ProfileStore.h"

namespace hx {

// Monitor group values with their defaults. Colours are 0x00BBGGRR.
struct MonitorValues {
    std::int32_t filenameType = 1;  // 0 "MMDDhhmm", 1 "DDhhmmss", 2 "Free"
    std::int32_t timerMode = 0;
    std::int32_t traceMode = 0;
    std::int32_t backColorNo = 0;
    std::int32_t backColor = 0xFFFFFF;
    std::int32_t outputFile = 1;  // 0 Always, 1 No Error, 2 Never, 3 Inquire
    std::int32_t pressColorNo = 6;
    std::int32_t pressColor = 0x808080;
    std::int32_t pressWidth = 0;
    std::int32_t waveColorNo = 0;
    std::int32_t waveColor = 0xFF0000;
    std::int32_t waveWidth = 1;
    std::int32_t frameTop = 0;
    std::int32_t frameBottom = 0;
    std::int32_t frameLeft = 0;
    std::int32_t frameRight = 0;
};

struct AnimalTexts {
    std::string animalNo;  // "ID_NO"
    std::string studyNo;   // "STUDY_NO"
    std::string weight;    // "WEIGHT"
    std::string sexAge;    // "SEXAGE"
    std::string comment;   // "COMMENT"
};

// Makes sure a folder exists, creating missing levels with the case given.
// "/" (also "//") and an existing directory count as existing; one final "/"
// is ignored. Only the folder itself decides the outcome: a level in between
// that cannot be made fails it through the next one. An empty path, a bare
// name without "/" and a path of PATH_MAX bytes or more fail. Never throws.
bool ensureFolderExists(const std::string& path);

class CPreference {
  public:
    // Formats the section name, makes the three groups and loads them in the
    // order monitor, animal, device. documentsFolder ends with "/" (one is
    // added when it does not); it is the default and fallback data folder.
    // The store must outlive the preferences.
    CPreference(IProfileStore& store, std::string documentsFolder);
    ~CPreference();

    const std::string& sectionName() const { return m_section; }
    // The profile the preferences live in (other groups, such as the session
    // settings, are kept there too).
    IProfileStore& store() const { return m_store; }

    // Monitor group, in memory.
    MonitorValues& monitor() { return m_monitor; }
    const MonitorValues& monitor() const { return m_monitor; }
    // Writes all sixteen keys in their writing order; timerMode, traceMode,
    // pressWidth and waveWidth as their lowest bit.
    void writeMonitorGroup();
    // Sets the four frame values and writes frameTop, frameBottom, frameLeft, frameRight.
    void storeFrameRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);

    // Animal group, in memory.
    AnimalTexts& animal() { return m_animal; }
    const AnimalTexts& animal() const { return m_animal; }
    const std::string& dataFolder() const { return m_dataFolder; }
    // Makes the folder exist; on success the data folder becomes path letter for
    // letter (with a final "/" added where it has none), else the documents
    // folder (in memory only: the profile keeps its text until
    // writeAnimalGroup). Returns whether path was taken.
    bool setDataFolder(const std::string& path);
    // Writes ID_NO, STUDY_NO, WEIGHT, SEXAGE, COMMENT, dataFolder.
    void writeAnimalGroup();

    // Device group: the initial MenuSettings (never written back).
    const MenuSettings& deviceMenu() const { return m_device; }

    const std::string& documentsFolder() const { return m_documentsFolder; }

  private:
    void loadMonitorGroup();
    void loadAnimalGroup();
    void loadDeviceGroup();

    IProfileStore& m_store;
    std::string m_documentsFolder;
    MonitorValues m_monitor;
    AnimalTexts m_animal;
    std::string m_dataFolder;
    MenuSettings m_device;
    std::string m_section;
};

}  // namespace hx

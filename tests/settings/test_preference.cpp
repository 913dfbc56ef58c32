#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "settings/Preference.h"
#include "support/TempDir.h"

namespace hx {
namespace {

namespace fs = std::filesystem;

const std::string kSection = "HalnorEWU_1";

std::vector<std::string> keys(std::initializer_list<const char*> names) {
    std::vector<std::string> out;
    for (const char* n : names) out.push_back(kSection + "/" + n);
    return out;
}

class PreferenceTest : public ::testing::Test {
  protected:
    test::TempDir m_documents;
    CMemoryProfileStore m_store;
};

TEST_F(PreferenceTest, FirstStartWithAnEmptyProfileGivesTheDefaults) {
    CPreference pref(m_store, m_documents.folder());
    EXPECT_EQ(pref.sectionName(), "HalnorEWU_1");
    const MonitorValues& m = pref.monitor();
    EXPECT_EQ(m.filenameType, 1);
    EXPECT_EQ(m.timerMode, 0);
    EXPECT_EQ(m.traceMode, 0);
    EXPECT_EQ(m.outputFile, 1);
    EXPECT_EQ(m.backColor, 0xFFFFFF);
    EXPECT_EQ(m.pressColorNo, 6);
    EXPECT_EQ(m.pressColor, 0x808080);
    EXPECT_EQ(m.pressWidth, 0);
    EXPECT_EQ(m.waveColor, 0xFF0000);
    EXPECT_EQ(m.waveWidth, 1);
    EXPECT_EQ(pref.animal().animalNo, "");
    EXPECT_EQ(pref.animal().comment, "");
    EXPECT_EQ(pref.dataFolder(), m_documents.folder());
    const MenuSettings expected{{8, 2, 3, 1, 1, 1, 1, 1, 0, 1, 0, 0}};
    EXPECT_EQ(pref.deviceMenu(), expected);
    EXPECT_TRUE(m_store.writeLog().empty());  // loading writes nothing
}

TEST_F(PreferenceTest, GroupsAreReadMonitorThenAnimalThenDeviceInTheirKeyOrder) {
    CPreference pref(m_store, m_documents.folder());
    const std::vector<std::string> expected = keys(
        {"filenameType",   "timerMode",      "traceMode",   "backColorNo", "backColor",     "outputFile",
         "pressColorNo",   "pressColor",     "pressWidth",  "waveColorNo", "waveColor",     "waveWidth",
         "frameTop",       "frameBottom",    "frameLeft",   "frameRight",  "dataFolder",    "ID_NO",
         "STUDY_NO",       "WEIGHT",         "SEXAGE",      "COMMENT",     "SETTING_PRESS", "SETTING_SENSE",
         "SETTING_AUTO_S", "SETTING_AUTO_P", "SETTING_DBP", "SETTING_USB", "SETTING_PRINT", "SETTING_SOUND",
         "SETTING_TYPE",   "SETTING_TIME"});
    EXPECT_EQ(m_store.readLog(), expected);
}

TEST_F(PreferenceTest, StoredValuesAreLoadedAndDeviceWordsKeptIn16Bits) {
    m_store.writeInt(kSection, "filenameType", 2);
    m_store.writeInt(kSection, "waveColor", 0x00FF00);
    m_store.writeText(kSection, "ID_NO", "R-17");
    m_store.writeText(kSection, "COMMENT", "left tail");
    m_store.writeInt(kSection, "SETTING_PRESS", 70000);
    m_store.writeInt(kSection, "SETTING_TYPE", -1);
    m_store.writeInt(kSection, "SETTING_TIME", 1);
    m_store.writeText(kSection, "SETTING_SENSE", "not a number");
    CPreference pref(m_store, m_documents.folder());
    EXPECT_EQ(pref.monitor().filenameType, 2);
    EXPECT_EQ(pref.monitor().waveColor, 0x00FF00);
    EXPECT_EQ(pref.animal().animalNo, "R-17");
    EXPECT_EQ(pref.animal().comment, "left tail");
    EXPECT_EQ(pref.deviceMenu()[MenuSettings::kPress], 4464);
    EXPECT_EQ(pref.deviceMenu()[MenuSettings::kType], -1);
    EXPECT_EQ(pref.deviceMenu()[MenuSettings::kTime], 1);
    EXPECT_EQ(pref.deviceMenu()[MenuSettings::kSense], 2);  // unreadable: default
    EXPECT_EQ(pref.deviceMenu()[MenuSettings::kSpeed], 0);  // no key
}

TEST_F(PreferenceTest, MonitorGroupIsWrittenInOrderWithFlagsAndWidthsMasked) {
    CPreference pref(m_store, m_documents.folder());
    pref.monitor().timerMode = 3;
    pref.monitor().traceMode = 2;
    pref.monitor().pressWidth = 5;
    pref.monitor().waveWidth = 2;
    pref.monitor().backColor = 0x123456;
    pref.monitor().outputFile = 3;
    pref.writeMonitorGroup();

    EXPECT_EQ(m_store.writeLog(),
              keys({"filenameType", "timerMode", "traceMode", "backColorNo", "backColor", "outputFile",
                    "pressColorNo", "pressColor", "pressWidth", "waveColorNo", "waveColor", "waveWidth",
                    "frameTop", "frameBottom", "frameLeft", "frameRight"}));
    EXPECT_EQ(m_store.raw(kSection, "timerMode"), "1");
    EXPECT_EQ(m_store.raw(kSection, "traceMode"), "0");
    EXPECT_EQ(m_store.raw(kSection, "pressWidth"), "1");
    EXPECT_EQ(m_store.raw(kSection, "waveWidth"), "0");
    EXPECT_EQ(m_store.raw(kSection, "backColor"), std::to_string(0x123456));
    EXPECT_EQ(m_store.raw(kSection, "outputFile"), "3");
    EXPECT_EQ(pref.monitor().waveWidth, 2);  // memory keeps what it had
}

TEST_F(PreferenceTest, FrameRectangleIsStoredAtOnceTopBottomLeftRight) {
    CPreference pref(m_store, m_documents.folder());
    pref.storeFrameRect(10, 20, 810, 620);
    EXPECT_EQ(m_store.writeLog(), keys({"frameTop", "frameBottom", "frameLeft", "frameRight"}));
    EXPECT_EQ(m_store.raw(kSection, "frameTop"), "20");
    EXPECT_EQ(m_store.raw(kSection, "frameBottom"), "620");
    EXPECT_EQ(m_store.raw(kSection, "frameLeft"), "10");
    EXPECT_EQ(m_store.raw(kSection, "frameRight"), "810");
    EXPECT_EQ(pref.monitor().frameRight, 810);
}

TEST_F(PreferenceTest, AnimalGroupIsWrittenTextsFirstThenTheDataFolder) {
    CPreference pref(m_store, m_documents.folder());
    pref.animal() = {"A1", "S2", "250g", "M/12w", "baseline"};
    pref.writeAnimalGroup();
    EXPECT_EQ(m_store.writeLog(), keys({"ID_NO", "STUDY_NO", "WEIGHT", "SEXAGE", "COMMENT", "dataFolder"}));
    EXPECT_EQ(m_store.raw(kSection, "SEXAGE"), "M/12w");
    EXPECT_EQ(m_store.raw(kSection, "dataFolder"), m_documents.folder());
}

TEST_F(PreferenceTest, TwoCopiesShareOneSectionAndTheLastWriterWins) {
    CPreference first(m_store, m_documents.folder());
    CPreference second(m_store, m_documents.folder());
    first.animal().animalNo = "from copy 1";
    second.animal().animalNo = "from copy 2";
    first.writeAnimalGroup();
    second.writeAnimalGroup();
    CPreference next(m_store, m_documents.folder());
    EXPECT_EQ(next.animal().animalNo, "from copy 2");
}

TEST_F(PreferenceTest, MissingDataFolderIsCreatedWithTheCaseGivenAndTheTextKept) {
    const std::string wanted = m_documents.folder() + "Data/Mouse/Study A/";
    m_store.writeText(kSection, "dataFolder", wanted);
    CPreference pref(m_store, m_documents.folder());
    EXPECT_EQ(pref.dataFolder(), wanted);
    EXPECT_TRUE(fs::is_directory(m_documents.path() / "Data/Mouse/Study A"));
    EXPECT_FALSE(fs::exists(m_documents.path() / "DATA"));
    // An older profile's folder without the final "/" keeps the data files inside it.
    m_store.writeText(kSection, "dataFolder", wanted.substr(0, wanted.size() - 1));
    EXPECT_EQ(CPreference(m_store, m_documents.folder()).dataFolder(), wanted);
}

TEST_F(PreferenceTest, DataFolderThatCannotBeMadeFallsBackToDocumentsInMemoryOnly) {
    std::ofstream(m_documents.path() / "file") << "in the way";
    const std::string unusable = m_documents.folder() + "file/data/";
    m_store.writeText(kSection, "dataFolder", unusable);
    CPreference pref(m_store, m_documents.folder());
    EXPECT_EQ(pref.dataFolder(), m_documents.folder());
    EXPECT_EQ(m_store.raw(kSection, "dataFolder"), unusable);  // profile untouched

    EXPECT_FALSE(pref.setDataFolder(""));
    EXPECT_EQ(pref.dataFolder(), m_documents.folder());
    EXPECT_TRUE(pref.setDataFolder("/"));
    EXPECT_EQ(pref.dataFolder(), "/");
}

TEST(EnsureFolderExists, RootsExistingFoldersAndDoubledSlashes) {
    test::TempDir dir;
    EXPECT_TRUE(ensureFolderExists("/"));
    EXPECT_TRUE(ensureFolderExists("//"));  // what the folder dialog makes of the root
    EXPECT_TRUE(ensureFolderExists(dir.folder()));
    EXPECT_TRUE(ensureFolderExists(dir.path().string()));
    EXPECT_TRUE(ensureFolderExists(dir.folder() + "new//"));
    EXPECT_TRUE(fs::is_directory(dir.path() / "new"));
    EXPECT_TRUE(ensureFolderExists(dir.folder() + "a/b/c/d/e"));
    EXPECT_TRUE(fs::is_directory(dir.path() / "a/b/c/d/e"));
}

TEST(EnsureFolderExists, FailsForEmptyBareRelativeOverlongAndBlockedPaths) {
    test::TempDir dir;
    EXPECT_FALSE(ensureFolderExists(""));
    EXPECT_FALSE(ensureFolderExists("hx40k-no-such-relative-folder"));
    EXPECT_FALSE(fs::exists("hx40k-no-such-relative-folder"));
    EXPECT_FALSE(ensureFolderExists("/" + std::string(5000, 'x') + "/"));
    EXPECT_FALSE(ensureFolderExists(std::string(3000, '/') + "hx40k-" + std::string(2000, 'y')));
    std::ofstream(dir.path() / "plain") << "x";
    EXPECT_FALSE(ensureFolderExists(dir.folder() + "plain"));
    EXPECT_FALSE(ensureFolderExists(dir.folder() + "plain/sub/"));
}

TEST(MemoryProfileStore, MissingAndUnreadableValuesGiveTheDefault) {
    CMemoryProfileStore store;
    EXPECT_EQ(store.readInt("S", "k", 7), 7);
    EXPECT_EQ(store.readText("S", "t", "dflt"), "dflt");
    store.writeText("S", "k", "12abc");
    EXPECT_EQ(store.readInt("S", "k", 7), 7);
    store.writeText("S", "k", "99999999999");
    EXPECT_EQ(store.readInt("S", "k", 7), 7);
    store.writeInt("S", "k", -2147483647 - 1);
    EXPECT_EQ(store.readInt("S", "k", 7), -2147483647 - 1);
    store.writeText("S", "t", "");
    EXPECT_EQ(store.readText("S", "t", "dflt"), "");  // present but empty is not missing
    EXPECT_EQ(store.readText("Other", "t", "dflt"), "dflt");
}

}  // namespace
}  // namespace hx

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/QSettingsProfileStore.h"
#include "platform/StandardPaths.h"
#include "settings/Preference.h"
#include "support/TempDir.h"

namespace hx {
namespace {

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class QSettingsProfileStoreTest : public ::testing::Test {
  protected:
    test::TempDir m_dir;
    std::string m_ini = (m_dir.path() / "Halnor40KU.ini").string();
};

TEST_F(QSettingsProfileStoreTest, ValuesSurviveANewStoreOverTheSameFile) {
    {
        CQSettingsProfileStore store(m_ini);
        store.writeInt("HalnorEWU_1", "backColor", 0xFFFFFF);
        store.writeInt("HalnorEWU_1", "frameLeft", -8);
        store.writeText("HalnorEWU_1", "COMMENT",
                        "Maus, links; 20 \xC2\xB0"
                        "C = ok");
        store.writeText("HalnorEWU_1", "dataFolder", "/home/lab/Data Mouse/");
    }
    CQSettingsProfileStore store(m_ini);
    EXPECT_EQ(store.readInt("HalnorEWU_1", "backColor", 0), 0xFFFFFF);
    EXPECT_EQ(store.readInt("HalnorEWU_1", "frameLeft", 0), -8);
    EXPECT_EQ(store.readText("HalnorEWU_1", "COMMENT", ""),
              "Maus, links; 20 \xC2\xB0"
              "C = ok");
    EXPECT_EQ(store.readText("HalnorEWU_1", "dataFolder", ""), "/home/lab/Data Mouse/");
    EXPECT_EQ(store.readInt("HalnorEWU_1", "missing", 42), 42);
    EXPECT_EQ(store.readText("Other", "COMMENT", "dflt"), "dflt");
    EXPECT_NE(fileText(m_ini).find("[HalnorEWU_1]"), std::string::npos);
}

TEST_F(QSettingsProfileStoreTest, AFileWithUnreadableLinesKeepsTheRestAndIsRewrittenOnlyWhenAsked) {
    // A broken quote that would swallow the keys after it; a value that does not decode.
    for (const char* damage : {"ID_NO=\"abc\n", "SETTING_PRESS=@Variant(\\0\\0\\0\\x7f)\n"}) {
        const std::string text =
            std::string("[HalnorEWU_1]\n") + damage + "STUDY_NO=S7\nSETTING_TYPE=2\n[Other]\nmine=kept\n";
        std::ofstream(m_ini, std::ios::trunc) << text;
        {
            CQSettingsProfileStore store(m_ini);
            EXPECT_FALSE(store.readCleanly()) << damage;
            EXPECT_NE(store.problem().find("at line 2"), std::string::npos) << store.problem();
            // Before: every key after a broken quote read as its default.
            EXPECT_EQ(store.readText("HalnorEWU_1", "STUDY_NO", ""), "S7") << damage;
            EXPECT_EQ(store.readText("Other", "mine", ""), "kept") << damage;
            store.writeText("HalnorEWU_1", "ID_NO", "new");
            store.writeInt("HalnorEWU_1", "SETTING_TYPE", 1);
            EXPECT_EQ(store.readText("HalnorEWU_1", "ID_NO", ""), "new") << "this run sees its own writes";
            store.sync();
        }
        EXPECT_EQ(fileText(m_ini), text) << "left as it is unless the user asks";
        {
            CQSettingsProfileStore store(m_ini);
            store.writeInt("HalnorEWU_1", "SETTING_TYPE", 1);
            ASSERT_TRUE(store.repair());
            EXPECT_TRUE(store.readCleanly());
        }
        EXPECT_EQ(fileText(m_ini + ".damaged"), text);
        CQSettingsProfileStore rewritten(m_ini);
        EXPECT_TRUE(rewritten.readCleanly()) << fileText(m_ini);
        EXPECT_EQ(rewritten.readText("HalnorEWU_1", "STUDY_NO", ""), "S7");
        EXPECT_EQ(rewritten.readInt("HalnorEWU_1", "SETTING_TYPE", 0), 1);
        EXPECT_EQ(rewritten.readText("Other", "mine", ""), "kept");
    }
    std::ofstream(m_ini, std::ios::trunc) << "[HalnorEWU_1]\nID_NO=\"a;b\"\nSTUDY_NO=S7\n";
    EXPECT_TRUE(CQSettingsProfileStore(m_ini).readCleanly());
}

TEST_F(QSettingsProfileStoreTest, AFifoOrAnUnwritableFolderIsToldNotHungOnOrLostSilently) {
    // Before: a FIFO as the profile hung the start-up in its read.
    ASSERT_EQ(::mkfifo(m_ini.c_str(), 0600), 0);
    {
        CQSettingsProfileStore store(m_ini);
        EXPECT_FALSE(store.readCleanly());
        EXPECT_FALSE(store.repairable());
        EXPECT_NE(store.problem().find("not a regular file"), std::string::npos);
        store.writeInt("HalnorEWU_1", "SETTING_TYPE", 1);
        EXPECT_EQ(store.readInt("HalnorEWU_1", "SETTING_TYPE", 0), 1);
        EXPECT_TRUE(store.sync());
    }
    struct stat info {};
    ASSERT_EQ(::stat(m_ini.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));

    // A folder that cannot be made (a file is in its place): the save fails, and says so.
    std::ofstream(m_dir.path() / "file") << "x";
    CQSettingsProfileStore store((m_dir.path() / "file" / "Halnor40KU.ini").string());
    EXPECT_TRUE(store.readCleanly());
    EXPECT_FALSE(store.writable());
    store.writeInt("HalnorEWU_1", "SETTING_TYPE", 1);
    EXPECT_FALSE(store.sync());
}

TEST_F(QSettingsProfileStoreTest, TwoCopiesShareTheFileAndTheLastWriterWins) {
    CQSettingsProfileStore first(m_ini);
    CQSettingsProfileStore second(m_ini);
    first.writeText("HalnorEWU_1", "ID_NO", "copy 1");
    first.writeInt("HalnorEWU_1", "timerMode", 1);
    first.sync();
    second.writeText("HalnorEWU_1", "ID_NO", "copy 2");
    second.sync();
    EXPECT_EQ(second.readInt("HalnorEWU_1", "timerMode", 0), 1);  // kept, not lost by the second writer
    CQSettingsProfileStore third(m_ini);
    EXPECT_EQ(third.readText("HalnorEWU_1", "ID_NO", ""), "copy 2");
}

TEST_F(QSettingsProfileStoreTest, HandEditedValuesThatAreNotNumbersReadAsTheDefault) {
    std::ofstream(m_ini) << "[HalnorEWU_1]\nSETTING_PRESS=70000\nSETTING_SENSE=lots\nwaveWidth=99999999999\n";
    CQSettingsProfileStore store(m_ini);
    EXPECT_EQ(store.readInt("HalnorEWU_1", "SETTING_PRESS", 8), 70000);
    EXPECT_EQ(store.readInt("HalnorEWU_1", "SETTING_SENSE", 2), 2);
    EXPECT_EQ(store.readInt("HalnorEWU_1", "waveWidth", 1), 1);
}

TEST_F(QSettingsProfileStoreTest, PreferencesRoundTripThroughTheFile) {
    const std::string documents = m_dir.folder();
    {
        CQSettingsProfileStore store(m_ini);
        CPreference pref(store, documents);
        pref.monitor().waveWidth = 2;
        pref.monitor().filenameType = 0;
        pref.writeMonitorGroup();
        pref.animal().animalNo = "M-3";
        pref.setDataFolder(documents + "data/");
        pref.writeAnimalGroup();
        pref.storeFrameRect(1, 2, 3, 4);
    }
    CQSettingsProfileStore store(m_ini);
    CPreference pref(store, documents);
    EXPECT_EQ(pref.monitor().waveWidth, 0);
    EXPECT_EQ(pref.monitor().filenameType, 0);
    EXPECT_EQ(pref.monitor().frameBottom, 4);
    EXPECT_EQ(pref.animal().animalNo, "M-3");
    EXPECT_EQ(pref.dataFolder(), documents + "data/");
    EXPECT_EQ(pref.deviceMenu()[MenuSettings::kPress], 8);
    EXPECT_EQ(fileText(m_ini).find("SETTING_"), std::string::npos);  // device group never written
}

// Points HOME and the XDG configuration at a temporary folder for one test.
class ScopedHome {
  public:
    explicit ScopedHome(const std::string& home) : m_home(save("HOME")), m_config(save("XDG_CONFIG_HOME")) {
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    }
    ~ScopedHome() {
        restore("HOME", m_home);
        restore("XDG_CONFIG_HOME", m_config);
    }

  private:
    static std::optional<std::string> save(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void restore(const char* name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    std::optional<std::string> m_home;
    std::optional<std::string> m_config;
};

TEST(StandardPaths, DocumentsFolderIsMadeWhenMissingAndFoldersEndWithASlash) {
    test::TempDir home;
    ScopedHome scoped(home.path().string());
    const std::string documents = standardPaths::documentsFolder();
    EXPECT_EQ(documents, home.folder() + "Documents/");
    EXPECT_TRUE(std::filesystem::is_directory(documents));

    // A documents folder named in the user's folder settings is followed.
    std::filesystem::create_directories(home.path() / ".config");
    std::ofstream(home.path() / ".config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/Lab Papers\"\n";
    EXPECT_EQ(standardPaths::documentsFolder(), home.folder() + "Lab Papers/");

    const std::string runtime = standardPaths::runtimeFolder();
    ASSERT_FALSE(runtime.empty());
    EXPECT_EQ(runtime.back(), '/');
}

}  // namespace
}  // namespace hx

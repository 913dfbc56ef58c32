#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "BuildInfo.h"
#include "app/Application.h"
#include "support/FakeMessagePort.h"
#include "support/TempDir.h"

namespace hx {
namespace {

namespace fs = std::filesystem;

// Taken while static objects are initialised, before any test has made an
// application object.
const std::string g_versionBeforeConstruction = softwareVersionText();

TEST(ApplicationVersion, SoftwareVersionIsUndefinedUntilTheObjectExistsThenNameAndVersion) {
    EXPECT_EQ(g_versionBeforeConstruction, "Undefined");
    CHalnor40KUApp app;
    EXPECT_EQ(softwareVersionText(), std::string("Halnor40KU") + HX_PRODUCT_VERSION);
    EXPECT_EQ(softwareVersionText(), "Halnor40KU1.0.2.0");
}

TEST(ApplicationVersion, AboutTextsBeforeAndAfterTheUnitAnswered) {
    CHalnor40KUApp app;
    AboutTexts about = app.aboutTexts();
    EXPECT_EQ(about.software, "Software: Halnor40KU1.0.2.0");
    EXPECT_EQ(about.deviceVersion, "Device Version -----");
    EXPECT_NE(about.legalNotice.find("Copyright"), std::string::npos);

    app.setDeviceVersionText("HX40K V1.05");
    EXPECT_EQ(app.aboutTexts().deviceVersion, "Device Version HX40K V1.05");
}

TEST(ApplicationVersion, LongIdFollowsTheLastCharacterOfTheDeviceVersion) {
    for (const char* yes : {"V1.2", "V1.5", "V1.8", "8"})
        EXPECT_TRUE(CHalnor40KUApp::isLongIdText(yes)) << yes;
    for (const char* no : {"V1.1", "V1.9", "V1.0", "V1.5a", "V1.5 ", "", "-----"})
        EXPECT_FALSE(CHalnor40KUApp::isLongIdText(no)) << no;

    CHalnor40KUApp app;
    EXPECT_FALSE(app.isLongId());  // "-----" before any unit answered
    app.setDeviceVersionText("HX40K 3");
    EXPECT_TRUE(app.isLongId());
}

TEST(ApplicationVersion, DeviceVersionCanBeSetWhileOtherThreadsReadIt) {
    CHalnor40KUApp app;
    std::thread reader([&] {
        for (int i = 0; i < 2000; ++i) {
            const std::string text = app.deviceVersionText();
            ASSERT_TRUE(text == "-----" || text == "HX40K V1.02" || text == "HX40K V1.09") << text;
        }
    });
    for (int i = 0; i < 2000; ++i) app.setDeviceVersionText(i % 2 ? "HX40K V1.02" : "HX40K V1.09");
    reader.join();
}

TEST(ApplicationFolders, MakesTheThreeFoldersAndStoresTheirTexts) {
    test::TempDir dir;
    test::FakeMessagePort port;
    CHalnor40KUApp app;
    app.prepareFolders(dir.folder(), port);

    EXPECT_TRUE(port.shown.empty());
    EXPECT_TRUE(fs::is_directory(dir.path() / "QuarvelFiles/HalnorEU/Preference"));
    EXPECT_EQ(app.preferenceFolder(), dir.folder() + "QuarvelFiles/HalnorEU/Preference/");
    EXPECT_EQ(app.programFolder(), dir.folder() + "QuarvelFiles/HalnorEU//");
    EXPECT_TRUE(fs::is_directory(app.programFolder()));
}

TEST(ApplicationFolders, ExistingFoldersAreLeftAloneWithoutAMessage) {
    test::TempDir dir;
    fs::create_directories(dir.path() / "QuarvelFiles/HalnorEU/Preference");
    std::ofstream(dir.path() / "QuarvelFiles/HalnorEU/Preference/keep.txt") << "kept";
    test::FakeMessagePort port;
    CHalnor40KUApp app;
    app.prepareFolders(dir.folder(), port);
    EXPECT_TRUE(port.shown.empty());
    EXPECT_TRUE(fs::exists(dir.path() / "QuarvelFiles/HalnorEU/Preference/keep.txt"));
}

TEST(ApplicationFolders, DocumentsFolderWithoutFinalSlashGetsOne) {
    test::TempDir dir;
    test::FakeMessagePort port;
    CHalnor40KUApp app;
    app.prepareFolders(dir.path().string(), port);
    EXPECT_TRUE(port.shown.empty());
    EXPECT_EQ(app.preferenceFolder(), dir.folder() + "QuarvelFiles/HalnorEU/Preference/");
}

TEST(ApplicationFolders, EachFolderThatCannotBeMadeIsReportedWithItsOwnPathAndStartUpGoesOn) {
    test::TempDir dir;
    // A file where the documents folder should be: no folder can be made under it.
    std::ofstream(dir.path() / "Documents") << "not a folder";
    const std::string base = dir.folder() + "Documents/";
    test::FakeMessagePort port;
    CHalnor40KUApp app;
    app.prepareFolders(base, port);

    ASSERT_EQ(port.shown.size(), 3u);
    EXPECT_EQ(port.shown[0].caption, "Error : Create Directory[for Preference :" + base + "QuarvelFiles/]");
    EXPECT_EQ(port.shown[1].caption,
              "Error : Create Directory[for Preference :" + base + "QuarvelFiles/HalnorEU/]");
    EXPECT_EQ(port.shown[2].caption,
              "Error : Create Directory[for Preference :" + base + "QuarvelFiles/HalnorEU/Preference/]");
    for (const auto& shown : port.shown) {
        EXPECT_EQ(shown.text, std::strerror(ENOTDIR));
        EXPECT_EQ(shown.icon, MsgIcon::Information);
        EXPECT_EQ(shown.buttons, MsgButtons::Ok);
    }
    EXPECT_EQ(app.programFolder(), base + "QuarvelFiles/HalnorEU//");
}

TEST(ApplicationFolders, ShowSystemErrorUsesTheSystemText) {
    test::FakeMessagePort port;
    CHalnor40KUApp::showSystemError(port, EACCES, "Error : SetProp()");
    ASSERT_EQ(port.shown.size(), 1u);
    EXPECT_EQ(port.shown[0].text, std::strerror(EACCES));
    EXPECT_EQ(port.shown[0].caption, "Error : SetProp()");
}

}  // namespace
}  // namespace hx

// Reading the install areas out of a preference file, and the platform
// operations the search leans on.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <gtest/gtest.h>

#include "install_areas.h"
#include "launch_support.h"
#include "platform.h"
#include "plist_files.h"
#include "scratch_dir.h"

using launcher_test::to_binary_plist;
using launcher_test::xml_install_areas;
using launcher_test::xml_plist;

namespace {

InstallAreaList parse(const std::string &bytes) { return parse_install_areas(bytes.data(), bytes.size()); }

using Areas = std::vector<std::string>;

TEST(PreferenceFile, NameIsPrefixLibraryPreferencesIdentifierPlist) {
  EXPECT_EQ(preference_file_name(""), "/Library/Preferences/org.volaccess.app_launcher.plist");
  EXPECT_EQ(preference_file_name("/home/u"), "/home/u/Library/Preferences/org.volaccess.app_launcher.plist");
  EXPECT_EQ(preference_file_name("/home/u/"), "/home/u//Library/Preferences/org.volaccess.app_launcher.plist");
}

TEST(ParseInstallAreas, ReadsTheArrayInOrderFromXml) {
  InstallAreaList list = parse(xml_install_areas({"/opt/b", "/opt/a", "relative", ""}));
  EXPECT_TRUE(list.parsed);
  EXPECT_EQ(list.areas, (Areas{"/opt/b", "/opt/a", "relative", ""}));
}

TEST(ParseInstallAreas, ReadsTheSameFromTheBinaryFormat) {
  InstallAreaList list = parse(to_binary_plist(xml_install_areas({"/opt/b", "/opt/a"})));
  EXPECT_TRUE(list.parsed);
  EXPECT_EQ(list.areas, (Areas{"/opt/b", "/opt/a"}));
}

TEST(ParseInstallAreas, BytesThatAreNoPropertyListDoNotParse) {
  for (const std::string &bytes :
       {std::string(), std::string("not a property list"), std::string("bplist00\x01\x02", 10),
        std::string("<plist><dict>"), std::string("\0\0\0", 3)}) {
    InstallAreaList list = parse(bytes);
    EXPECT_FALSE(list.parsed) << bytes;
    EXPECT_TRUE(list.areas.empty());
  }
}

TEST(ParseInstallAreas, MissingKeyOrOtherTopLevelGivesNoAreas) {
  for (const std::string &body :
       {std::string("<dict><key>Other</key><array><string>/x</string></array></dict>"), std::string("<dict/>"),
        std::string("<array><string>/x</string></array>"), std::string("<string>/x</string>")}) {
    InstallAreaList list = parse(xml_plist(body));
    EXPECT_TRUE(list.parsed) << body;
    EXPECT_TRUE(list.areas.empty()) << body;
  }
}

TEST(ParseInstallAreas, AValueThatIsNoArrayGivesNoAreas) {
  for (const std::string &value :
       {std::string("<string>/opt/a</string>"), std::string("<integer>3</integer>"),
        std::string("<dict><key>a</key><string>/x</string></dict>"), std::string("<true/>")}) {
    InstallAreaList list = parse(xml_plist("<dict><key>InstallAreas</key>" + value + "</dict>"));
    EXPECT_TRUE(list.parsed) << value;
    EXPECT_TRUE(list.areas.empty()) << value;
  }
}

TEST(ParseInstallAreas, ElementsThatAreNoStringsAreLeftOut) {
  InstallAreaList list =
      parse(xml_plist("<dict><key>InstallAreas</key><array>"
                      "<integer>1</integer><string>/first</string><array><string>/nested</string></array>"
                      "<data>AAEC</data><string>/second</string><true/></array></dict>"));
  EXPECT_TRUE(list.parsed);
  EXPECT_EQ(list.areas, (Areas{"/first", "/second"}));
}

TEST(ParseInstallAreas, StringsComeOutInMacOsRoman) {
  InstallAreaList list = parse(xml_install_areas({"/opt/caf\xc3\xa9", "/opt/\xe2\x82\xac", "/opt/x&y<z"}));
  EXPECT_EQ(list.areas, (Areas{"/opt/caf\x8e", "/opt/\xdb", "/opt/x&y<z"}));
}

TEST(ParseInstallAreas, StringsWithoutAMacOsRomanFormAreLeftOut) {
  InstallAreaList list = parse(xml_install_areas({"/opt/\xe6\x97\xa5\xe6\x9c\xac", "/opt/ok"}));
  EXPECT_EQ(list.areas, (Areas{"/opt/ok"}));
}

// A zero byte inside a string once stopped the program in libplist.
TEST(ParseInstallAreas, StringsHoldingAZeroByteAreLeftOut) {
  const std::string zero_inside = std::string("/opt/a") + '\0' + "b";
  InstallAreaList xml = parse(xml_install_areas({zero_inside, "/opt/ok"}));
  EXPECT_TRUE(xml.parsed);
  EXPECT_EQ(xml.areas, (Areas{"/opt/ok"}));
}

TEST(TextEncodings, IsoLatin1TakesWhatItHasAndRefusesTheRest) {
  EXPECT_EQ(launcher_platform::to_iso_latin1("/plain"), "/plain");
  EXPECT_EQ(launcher_platform::to_iso_latin1("caf\xc3\xa9"), "caf\xe9");
  EXPECT_EQ(launcher_platform::to_iso_latin1(""), "");
  EXPECT_FALSE(launcher_platform::to_iso_latin1("\xe2\x82\xac"));
  EXPECT_FALSE(launcher_platform::to_iso_latin1("bad \xff utf-8"));
  EXPECT_FALSE(launcher_platform::to_iso_latin1("cut \xc3"));
}

TEST(TextEncodings, MacOsRomanTakesWhatItHasAndRefusesTheRest) {
  EXPECT_EQ(launcher_platform::to_mac_roman("caf\xc3\xa9 \xe2\x82\xac"), "caf\x8e \xdb");
  EXPECT_FALSE(launcher_platform::to_mac_roman("\xc2\xa4"));
  EXPECT_FALSE(launcher_platform::to_mac_roman("bad \xff utf-8"));
}

class HomeDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char *home = std::getenv("HOME")) saved_ = home;
  }
  void TearDown() override {
    if (saved_)
      setenv("HOME", saved_->c_str(), 1);
    else
      unsetenv("HOME");
  }
  static std::optional<std::string> from_password_database() {
    const passwd *entry = getpwuid(getuid());
    if (entry == nullptr || entry->pw_dir == nullptr || entry->pw_dir[0] == '\0') return std::nullopt;
    return std::string(entry->pw_dir);
  }
  std::optional<std::string> saved_;
};

TEST_F(HomeDirectory, ComesFromHomeWhenSet) {
  setenv("HOME", "/some/where else", 1);
  EXPECT_EQ(launcher_platform::home_directory(), "/some/where else");
}

TEST_F(HomeDirectory, FallsBackToThePasswordDatabaseWhenUnsetOrEmpty) {
  unsetenv("HOME");
  EXPECT_EQ(launcher_platform::home_directory(), from_password_database());
  setenv("HOME", "", 1);
  EXPECT_EQ(launcher_platform::home_directory(), from_password_database());
}

TEST(ReadWholeFile, ReadsEveryByte) {
  test_support::ScratchDir t;
  std::string bytes("a\0b\xff\n", 5);
  bytes += std::string(200000, 'z');
  test_support::write_file(t / "f", bytes);
  EXPECT_EQ(launcher_platform::read_whole_file(t / "f"), bytes);
  test_support::write_file(t / "empty", "");
  EXPECT_EQ(launcher_platform::read_whole_file(t / "empty"), "");
}

TEST(ReadWholeFile, MissingFilesAndDirectoriesCannotBeRead) {
  test_support::ScratchDir t;
  EXPECT_FALSE(launcher_platform::read_whole_file(t / "missing"));
  EXPECT_FALSE(launcher_platform::read_whole_file(t.path()));
}

}  // namespace

// The runtime check and search, called directly: where each place leaves
// `location` and `root`, and the inexact search that the launcher never asks
// for.
#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>

#include "install_areas.h"
#include "launch_support.h"
#include "launcher.h"
#include "plist_files.h"
#include "scratch_dir.h"

using launcher_test::xml_install_areas;
using test_support::ScratchDir;
using test_support::write_file;

namespace {

const std::string kLib = "libqvdeployrt.23.2.dylib";

std::string system_preferences() { return preference_file_name(""); }

class RuntimeSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    save("HOME");
    save("DYLD_LIBRARY_PATH");
    home_ = t_ / "home";
    test_support::make_dirs(home_);
    setenv("HOME", home_.c_str(), 1);
    unsetenv("DYLD_LIBRARY_PATH");
  }
  void TearDown() override {
    for (const auto &[name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  void save(const char *name) {
    const char *value = std::getenv(name);
    saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
  // Runs findLib with tracing on; returns its result and keeps what it wrote.
  bool find(std::string &root, const std::string &lib, std::string &location, bool exact, bool flag = false) {
    OutputManager out;
    out.verbose = true;
    testing::internal::CaptureStdout();
    bool found = findLib(root, lib, location, exact, flag, out);
    trace_ = testing::internal::GetCapturedStdout();
    return found;
  }
  std::string preference_lines() const {
    return "Looking for preferences at: " + preference_file_name(home_) +
           "\nLooking for preferences at: " + system_preferences() + "\n";
  }

  ScratchDir t_;
  std::string home_;
  std::string trace_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(BuildLibName, GeneralRuleAddsTheUpdateUnlessItIsZero) {
  OutputManager out;
  EXPECT_EQ(build_lib_name("23", "2", "0", out), "libqvdeployrt.23.2.dylib");
  EXPECT_EQ(build_lib_name("23", "2", "5", out), "libqvdeployrt.23.2.5.dylib");
  EXPECT_EQ(build_lib_name("23", "2", "00", out), "libqvdeployrt.23.2.00.dylib");
  EXPECT_EQ(build_lib_name("23", "2", "", out), "libqvdeployrt.23.2..dylib");
}

TEST(BuildLibName, SevenThirteenNeverCarriesAnUpdate) {
  OutputManager out;
  EXPECT_EQ(build_lib_name("7", "13", "1", out), "libqvdeployrt.7.13.dylib");
  EXPECT_EQ(build_lib_name("7", "13", "0", out), "libqvdeployrt.7.13.dylib");
  EXPECT_EQ(build_lib_name("07", "13", "1", out), "libqvdeployrt.07.13.1.dylib");
  EXPECT_EQ(build_lib_name("7", "130", "1", out), "libqvdeployrt.7.130.1.dylib");
}

TEST(BuildLibName, TracesTheNameOnlyWhenVerbose) {
  OutputManager out;
  testing::internal::CaptureStdout();
  build_lib_name("23", "2", "0", out);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  out.verbose = true;
  testing::internal::CaptureStdout();
  build_lib_name("23", "2", "5", out);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "build library name=libqvdeployrt.23.2.5.dylib\n");
}

TEST_F(RuntimeSearch, BesideTheLauncherLocationIsTheRuntimeDirectory) {
  write_file(t_ / "runtime/maca64/" + kLib, "");
  std::string root = t_.path();
  std::string location = "untouched";
  EXPECT_TRUE(find(root, kLib, location, true));
  EXPECT_EQ(location, t_ / "runtime/maca64");
  EXPECT_EQ(root, t_.path());
  EXPECT_EQ(trace_,
            "1. search " + t_ / "runtime/maca64/" + kLib + "\nFind " + kLib + " in " + t_ / "runtime/maca64" + "\n");
}

TEST_F(RuntimeSearch, LibraryPathEntryBecomesLocationAndItsGrandparentTheRoot) {
  const std::string entry = t_ / "inst/runtime/maca64";
  write_file(entry + "/" + kLib, "");
  setenv("DYLD_LIBRARY_PATH", ("/nowhere:" + entry).c_str(), 1);
  std::string root = t_ / "elsewhere";
  std::string location;
  EXPECT_TRUE(find(root, kLib, location, true));
  EXPECT_EQ(location, entry);
  EXPECT_EQ(root, entry + "/../..");
  EXPECT_EQ(trace_, "1. search " + t_ / "elsewhere/runtime/maca64/" + kLib + "\n2. search /nowhere:" + entry +
                        "\nFound " + kLib + " in " + entry + "\n");
}

TEST_F(RuntimeSearch, PreferenceAreaBecomesLocationAndTheRootStays) {
  write_file(t_ / "area/runtime/maca64/" + kLib, "");
  write_file(preference_file_name(home_), xml_install_areas({t_ / "area"}));
  std::string root = t_ / "elsewhere";
  std::string location;
  EXPECT_TRUE(find(root, kLib, location, true));
  EXPECT_EQ(location, t_ / "area");
  EXPECT_EQ(root, t_ / "elsewhere");
}

TEST_F(RuntimeSearch, InexactSearchAcceptsAnyMarkerLibraryBesideTheLauncher) {
  write_file(t_ / "runtime/maca64/libqvdeployrt.22.1.dylib", "");
  std::string root = t_.path();
  std::string location;
  EXPECT_TRUE(find(root, kLib, location, false));
  EXPECT_EQ(location, t_ / "runtime/maca64");
  EXPECT_EQ(trace_, "1. search " + t_ / "runtime/maca64/" + kLib + "\n3. Try to find " + kLib +
                        " in registry and preference settings\n" + preference_lines() + "Found in " +
                        t_ / "runtime/maca64" + "\n");
}

TEST_F(RuntimeSearch, InexactSearchThatFindsNothingSaysSo) {
  write_file(t_ / "runtime/maca64/libqvdeployrt.txt", "");
  write_file(t_ / "runtime/maca64/libother.dylib", "");
  std::string root = t_.path();
  std::string location = "untouched";
  EXPECT_FALSE(find(root, kLib, location, false));
  EXPECT_EQ(location, "untouched");
  EXPECT_EQ(trace_, "1. search " + t_ / "runtime/maca64/" + kLib + "\n3. Try to find " + kLib +
                        " in registry and preference settings\n" + preference_lines() +
                        "Can't locate library: " + kLib + "\n");
}

TEST_F(RuntimeSearch, ExactSearchStopsAfterThePreferencesWithoutAWord) {
  write_file(t_ / "runtime/maca64/libqvdeployrt.22.1.dylib", "");
  for (bool flag : {false, true}) {
    std::string root = t_.path();
    std::string location = "untouched";
    EXPECT_FALSE(find(root, kLib, location, true, flag));
    EXPECT_EQ(location, "untouched");
    EXPECT_EQ(root, t_.path());
    EXPECT_EQ(trace_, "1. search " + t_ / "runtime/maca64/" + kLib + "\n3. Try to find " + kLib +
                          " in registry and preference settings\n" + preference_lines());
  }
}

TEST_F(RuntimeSearch, TheFifthArgumentChangesNothing) {
  write_file(t_ / "runtime/maca64/libqvdeployrt.1.0.dylib", "");
  std::string root = t_.path();
  std::string location;
  EXPECT_TRUE(find(root, kLib, location, false, true));
  const std::string with_flag = trace_;
  EXPECT_TRUE(find(root, kLib, location, false, false));
  EXPECT_EQ(trace_, with_flag);
}

TEST_F(RuntimeSearch, PreferenceFileNameIsTracedInIsoLatin1AndReadUnderItsOwnBytes) {
  home_ = t_ / "h\xc3\xa9";
  setenv("HOME", home_.c_str(), 1);
  write_file(preference_file_name(home_), xml_install_areas({}));
  std::string root = t_.path();
  std::string location;
  EXPECT_FALSE(find(root, kLib, location, true));
  EXPECT_EQ(trace_, "1. search " + t_ / "runtime/maca64/" + kLib + "\n3. Try to find " + kLib +
                        " in registry and preference settings\nLooking for preferences at: " + t_.path() +
                        "/h\xe9/Library/Preferences/org.volaccess.app_launcher.plist\n"
                        "... loaded preferences\nLooking for preferences at: " +
                        system_preferences() + "\n");
}

TEST_F(RuntimeSearch, PreferenceFileNameWithoutAnIsoLatin1FormIsTracedAsItsBytes) {
  home_ = t_ / "\xe6\x97\xa5";
  setenv("HOME", home_.c_str(), 1);
  std::string root = t_.path();
  std::string location;
  EXPECT_FALSE(find(root, kLib, location, true));
  EXPECT_EQ(trace_, "1. search " + t_ / "runtime/maca64/" + kLib + "\n3. Try to find " + kLib +
                        " in registry and preference settings\n" + preference_lines());
}

TEST_F(RuntimeSearch, VersionCheckPassesWhenTheRuntimeIsThere) {
  write_file(t_ / "runtime/maca64/" + kLib, "");
  std::string root = t_.path();
  OutputManager out;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(checkVXRVersion(root, out));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(RuntimeSearch, VersionCheckThrowsTheFourLineMessage) {
  std::string root = t_.path();
  OutputManager out;
  testing::internal::CaptureStdout();
  try {
    checkVXRVersion(root, out);
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error &e) {
    EXPECT_STREQ(e.what(),
                 "Could not find version 23.2 of the Calvex Runtime.\n"
                 "Attempting to load libqvdeployrt.23.2.dylib.\n"
                 "Please install the correct version of the Calvex Runtime.\n"
                 "Contact your vendor if you do not have an installer for the Calvex Runtime.");
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace

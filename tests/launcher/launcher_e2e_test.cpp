// app_launcher run for real against runtime trees laid out in temporary
// directories: every test checks standard output, standard error and the
// exit status exactly.
#include <elf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

#include "child_process.h"
#include "install_areas.h"
#include "launch_support.h"
#include "plist_files.h"
#include "scratch_dir.h"

using launcher_test::Bind;
using launcher_test::Launch;
using launcher_test::to_binary_plist;
using launcher_test::xml_install_areas;
using launcher_test::xml_plist;
using test_support::Captured;
using test_support::make_dirs;
using test_support::ScratchDir;
using test_support::write_file;

namespace {

const std::string kLib = "libqvdeployrt.23.2.dylib";
const std::string kMissingRuntime =
    "Error: Could not find version 23.2 of the Calvex Runtime.\n"
    "Attempting to load libqvdeployrt.23.2.dylib.\n"
    "Please install the correct version of the Calvex Runtime.\n"
    "Contact your vendor if you do not have an installer for the Calvex Runtime.\n";
const std::string kLoaded = "... loaded preferences\n";
const std::string kSystemPreferences = "/Library/Preferences/org.volaccess.app_launcher.plist";

// ---- expected trace lines ---------------------------------------------------

std::string head(const std::string &root) {
  return "Status: " + root + "\nbuild library name=" + kLib + "\n1. search " + root + "/runtime/maca64/" + kLib + "\n";
}
std::string found_beside(const std::string &root) { return "Find " + kLib + " in " + root + "/runtime/maca64\n"; }
std::string own_path(const std::string &path) {
  return "Module path returned from GetCurrentModulePath=" + path + "\nStatus: " + path + "\n";
}
std::string library_path(const std::string &value) { return "2. search " + value + "\n"; }
std::string found_on_library_path(const std::string &entry) { return "Found " + kLib + " in " + entry + "\n"; }
const std::string kStep3 = "3. Try to find " + kLib + " in registry and preference settings\n";
std::string looking(const std::string &file) { return "Looking for preferences at: " + file + "\n"; }
std::string trying(const std::string &area) {
  return "Looking for installed Calvex Runtime at:  " + area + "/runtime/maca64/" + kLib + "\n";
}
std::string using_area(const std::string &area) { return "Using preference list install area:  " + area + "\n"; }

// ---- the fixture --------------------------------------------------------------

class Launcher : public ::testing::Test {
 protected:
  void SetUp() override {
    system_file_existed_ = std::filesystem::exists(kSystemPreferences);
    install(bundle());
    make_dirs(home());
  }
  void TearDown() override {
    if (!system_file_existed_) {
      EXPECT_FALSE(std::filesystem::exists(kSystemPreferences)) << "a test reached the real root";
    }
  }

  // Copies the launcher (under `name`) into `dir`, and the runtime launcher
  // library into `lib_dir` (none: nowhere).
  static void install(const std::string &dir, const std::string &name = "app_launcher",
                      std::optional<std::string> lib_dir = std::string()) {
    launcher_test::copy_file(APP_LAUNCHER, dir + "/" + name);
    if (lib_dir) launcher_test::copy_file(LAUNCHERMAIN, (lib_dir->empty() ? dir : *lib_dir) + "/libqvlaunchermain.so");
  }
  static void add_runtime(const std::string &root) { write_file(root + "/runtime/maca64/" + kLib, ""); }

  std::string bundle() const { return t_ / "App.app/Contents/MacOS"; }
  std::string launcher() const { return bundle() + "/app_launcher"; }
  std::string root() const { return bundle() + "/../../.."; }
  std::string home() const { return t_ / "home"; }
  std::string user_preferences() const { return preference_file_name(home()); }
  std::string record_file() const { return t_ / "record"; }

  // A run of the installed launcher with `args`, HOME at the test's home,
  // the launcher's switches off, and what the runtime receives recorded.
  Launch launch(std::vector<std::string> args = {}) const {
    Launch l;
    l.program = launcher();
    l.argv = {launcher()};
    l.argv.insert(l.argv.end(), args.begin(), args.end());
    l.cwd = t_.path();
    l.env["HOME"] = home();
    l.env["LD_LIBRARY_PATH"] = std::nullopt;
    l.env["STANDIN_LAUNCHERMAIN_RECORD"] = record_file();
    return l;
  }
  static Launch verbose(Launch l) {
    l.env["ARCX_VERBOSE"] = "1";
    return l;
  }
  // The same run inside a private root whose /Library is the test's own.
  Launch with_system_library(Launch l) const {
    l.private_root = true;
    l.binds.push_back(Bind{t_ / "sys/Library", "/Library"});
    return l;
  }
  std::string system_preferences_here() const {
    return t_ / "sys/Library/Preferences/org.volaccess.app_launcher.plist";
  }
  static bool skip_without_private_root() { return !launcher_test::private_root_available(); }

  // The vector standaloneMain received.
  std::vector<std::string> received() const {
    std::optional<std::string> bytes = test_support::read_file(record_file());
    std::vector<std::string> args;
    if (!bytes) return args;
    size_t start = 0;
    for (size_t end; (end = bytes->find('\0', start)) != std::string::npos; start = end + 1)
      args.push_back(bytes->substr(start, end - start));
    return args;
  }
  std::vector<std::string> received_expected(std::vector<std::string> args) const {
    args.insert(args.begin(), launcher());
    return args;
  }

  ScratchDir t_;
  bool system_file_existed_ = false;
};

#define SKIP_WITHOUT_PRIVATE_ROOT()                                                                                  \
  do {                                                                                                               \
    if (skip_without_private_root()) GTEST_SKIP() << "needs a private mount namespace (root, unshare) for /Library"; \
  } while (0)

void expect_run(const Captured &c, const std::string &out, const std::string &err, int status) {
  EXPECT_EQ(c.out, out);
  EXPECT_EQ(c.err, err);
  EXPECT_EQ(c.status, status);
}

// ---- runtime beside the bundle ------------------------------------------------

TEST_F(Launcher, StartsQuietlyAndPassesTheArgumentsOn) {
  add_runtime(t_.path());
  expect_run(run(launch({"a", "b"})), "", "", 0);
  EXPECT_EQ(received(), received_expected({"a", "b"}));
}

TEST_F(Launcher, VerboseTraceOfAStartWithTheRuntimeBesideTheBundle) {
  add_runtime(t_.path());
  Launch l = verbose(launch());
  l.env["STANDIN_LAUNCHERMAIN_SAY"] = "the application speaks";
  expect_run(run(l), head(root()) + found_beside(root()) + own_path(launcher()) + "the application speaks\n", "", 0);
}

TEST_F(Launcher, OnlyTheProgramNameGivesAVectorOfOneElement) {
  add_runtime(t_.path());
  expect_run(run(launch()), "", "", 0);
  EXPECT_EQ(received(), received_expected({}));
}

TEST_F(Launcher, ArgumentsReachTheRuntimeByteForByteAndInOrder) {
  add_runtime(t_.path());
  const std::vector<std::string> args = {"", " blank around ", "two\nlines", "-v", "\xff\xfe", "", "\t"};
  expect_run(run(launch(args)), "", "", 0);
  EXPECT_EQ(received(), received_expected(args));
}

TEST_F(Launcher, ExitStatusIsWhatTheRuntimeReturns) {
  add_runtime(t_.path());
  for (auto [returned, status] : std::vector<std::pair<std::string, int>>{
           {"0", 0}, {"7", 7}, {"255", 255}, {"-1", 255}, {"256", 0}, {"300", 44}}) {
    Launch l = launch();
    l.env["STANDIN_LAUNCHERMAIN_STATUS"] = returned;
    expect_run(run(l), "", "", status);
  }
}

TEST_F(Launcher, StandardExceptionFromTheRuntimeIsReported) {
  add_runtime(t_.path());
  Launch l = launch({"x"});
  l.env["STANDIN_LAUNCHERMAIN_THROW"] = "std";
  l.env["STANDIN_LAUNCHERMAIN_MESSAGE"] = "the application failed";
  expect_run(run(l), "", "Error: the application failed\n", 255);
  EXPECT_EQ(received(), received_expected({"x"}));
  expect_run(run(verbose(l)), head(root()) + found_beside(root()) + own_path(launcher()),
             "Error: the application failed\n", 255);
}

TEST_F(Launcher, StandardExceptionWithAnEmptyTextEndsSilentlyWithMinusOne) {
  add_runtime(t_.path());
  Launch l = launch();
  l.env["STANDIN_LAUNCHERMAIN_THROW"] = "std";
  l.env["STANDIN_LAUNCHERMAIN_MESSAGE"] = "";
  expect_run(run(l), "", "", 255);
}

TEST_F(Launcher, OtherExceptionFromTheRuntimeIsReportedAsExecutionFailure) {
  add_runtime(t_.path());
  Launch l = launch();
  l.env["STANDIN_LAUNCHERMAIN_THROW"] = "other";
  expect_run(run(l), "", "Error: Application execution failed.\n", 255);
  expect_run(run(verbose(l)), head(root()) + found_beside(root()) + own_path(launcher()),
             "Error: Application execution failed.\n", 255);
}

TEST_F(Launcher, RuntimeBesideTheBundleWinsOverLibraryPathAndPreferences) {
  add_runtime(t_.path());
  add_runtime(t_ / "inst");
  write_file(user_preferences(), xml_install_areas({t_ / "inst"}));
  Launch l = verbose(launch());
  l.env["DYLD_LIBRARY_PATH"] = t_ / "inst/runtime/maca64";
  expect_run(run(l), head(root()) + found_beside(root()) + own_path(launcher()), "", 0);
}

// ---- no runtime ---------------------------------------------------------------

TEST_F(Launcher, MissingRuntimeGivesTheFourLineError) {
  expect_run(run(launch({"a"})), "", kMissingRuntime, 255);
  EXPECT_EQ(received(), std::vector<std::string>{});
}

TEST_F(Launcher, MissingRuntimeTracesEveryPlaceItLooked) {
  expect_run(run(verbose(launch())), head(root()) + kStep3 + looking(user_preferences()) + looking(kSystemPreferences),
             kMissingRuntime, 255);
}

TEST_F(Launcher, ARuntimeOfAnotherVersionIsNotEnough) {
  write_file(t_ / "runtime/maca64/libqvdeployrt.23.1.dylib", "");
  write_file(t_ / "runtime/maca64/libqvdeployrt.23.2.1.dylib", "");
  expect_run(run(launch()), "", kMissingRuntime, 255);
}

// ---- the switches ---------------------------------------------------------------

struct SwitchValue {
  std::optional<std::string> value;
  bool on;
};

std::vector<SwitchValue> switch_values() {
  return {{std::nullopt, false}, {"", false},   {"0", false},    {"00", false}, {"0x", false},
          {"1", true},           {"yes", true}, {"false", true}, {" 0", true},  {"on", true}};
}

TEST_F(Launcher, VerboseSwitchInEveryForm) {
  add_runtime(t_.path());
  for (const SwitchValue &v : switch_values()) {
    Launch l = launch();
    l.env["ARCX_VERBOSE"] = v.value;
    SCOPED_TRACE("ARCX_VERBOSE=" + v.value.value_or("(unset)"));
    expect_run(run(l), v.on ? head(root()) + found_beside(root()) + own_path(launcher()) : "", "", 0);
  }
}

TEST_F(Launcher, VerboseSwitchInEveryFormOnAFailedStart) {
  for (const SwitchValue &v : switch_values()) {
    Launch l = launch();
    l.env["ARCX_VERBOSE"] = v.value;
    SCOPED_TRACE("ARCX_VERBOSE=" + v.value.value_or("(unset)"));
    expect_run(run(l), v.on ? head(root()) + kStep3 + looking(user_preferences()) + looking(kSystemPreferences) : "",
               kMissingRuntime, 255);
  }
}

TEST_F(Launcher, MessageBoxSwitchInEveryFormLeavesErrorsOnStandardError) {
  for (const SwitchValue &v : switch_values()) {
    SCOPED_TRACE("ARCX_DISABLE_MSGBOX=" + v.value.value_or("(unset)"));
    Launch l = launch();
    l.env["ARCX_DISABLE_MSGBOX"] = v.value;
    expect_run(run(l), "", kMissingRuntime, 255);
    l.env["STANDIN_LAUNCHERMAIN_THROW"] = "other";
    add_runtime(t_.path());
    expect_run(run(l), "", "Error: Application execution failed.\n", 255);
    l.env.erase("STANDIN_LAUNCHERMAIN_THROW");
    expect_run(run(verbose(l)), head(root()) + found_beside(root()) + own_path(launcher()), "", 0);
    std::filesystem::remove_all(t_ / "runtime");
  }
}

// ---- the library path -------------------------------------------------------------

TEST_F(Launcher, LibraryPathAcceptsOnlyAMaca64Directory) {
  const std::string good = t_ / "dl/maca64";
  write_file(good + "/" + kLib, "");
  write_file(t_ / "dl/MACA64/" + kLib, "");
  write_file(t_ / "dl/maca64x/" + kLib, "");
  write_file(t_.path() + "/" + kLib, "");  // found by the empty entry, relative to the cwd
  make_dirs(t_ / "dl2/maca64");
  const std::string value =
      t_ / "dl/MACA64:" + t_ / "dl/maca64x:" + good + "//:" + ":" + t_ / "dl2/maca64:" + good + "/:" + good;
  Launch l = verbose(launch({"p"}));
  l.env["DYLD_LIBRARY_PATH"] = value;
  expect_run(run(l), head(root()) + library_path(value) + found_on_library_path(good + "/") + own_path(launcher()), "",
             0);
  EXPECT_EQ(received(), received_expected({"p"}));
}

TEST_F(Launcher, LibraryPathEntryWithoutTrailingSlashIsAccepted) {
  const std::string good = t_ / "x/runtime/maca64";
  write_file(good + "/" + kLib, "");
  Launch l = verbose(launch());
  l.env["DYLD_LIBRARY_PATH"] = good;
  expect_run(run(l), head(root()) + library_path(good) + found_on_library_path(good) + own_path(launcher()), "", 0);
  l.env.erase("ARCX_VERBOSE");
  expect_run(run(l), "", "", 0);
}

TEST_F(Launcher, LibraryPathWithOnlyRejectedEntriesFallsThroughToThePreferences) {
  write_file(t_ / "dl/MACA64/" + kLib, "");
  write_file(t_ / "dl/maca64/" + kLib, "");
  write_file(t_.path() + "/" + kLib, "");
  const std::string value = t_ / "dl/MACA64:" + t_ / "dl/maca64//::" + t_ / "missing/maca64";
  Launch l = verbose(launch());
  l.env["DYLD_LIBRARY_PATH"] = value;
  expect_run(run(l),
             head(root()) + library_path(value) + kStep3 + looking(user_preferences()) + looking(kSystemPreferences),
             kMissingRuntime, 255);
}

TEST_F(Launcher, EmptyLibraryPathIsStillSearched) {
  write_file(t_.path() + "/" + kLib, "");
  Launch l = verbose(launch());
  l.env["DYLD_LIBRARY_PATH"] = "";
  expect_run(run(l),
             head(root()) + library_path("") + kStep3 + looking(user_preferences()) + looking(kSystemPreferences),
             kMissingRuntime, 255);
}

TEST_F(Launcher, LibraryPathWinsOverThePreferences) {
  add_runtime(t_ / "inst");
  write_file(user_preferences(), xml_install_areas({t_ / "inst"}));
  Launch l = verbose(launch());
  l.env["DYLD_LIBRARY_PATH"] = t_ / "inst/runtime/maca64";
  expect_run(run(l),
             head(root()) + library_path(t_ / "inst/runtime/maca64") +
                 found_on_library_path(t_ / "inst/runtime/maca64") + own_path(launcher()),
             "", 0);
}

// ---- the user's preference file ----------------------------------------------------

TEST_F(Launcher, UserPreferencesInXmlListTheInstallArea) {
  add_runtime(t_ / "area");
  write_file(user_preferences(), xml_install_areas({t_ / "none", t_ / "area/", t_ / "area"}));
  expect_run(run(verbose(launch({"q"}))),
             head(root()) + kStep3 + looking(user_preferences()) + kLoaded + trying(t_ / "none") +
                 trying(t_ / "area/") + using_area(t_ / "area/") + own_path(launcher()),
             "", 0);
  EXPECT_EQ(received(), received_expected({"q"}));
  expect_run(run(launch()), "", "", 0);
}

TEST_F(Launcher, UserPreferencesInTheBinaryFormListTheInstallArea) {
  add_runtime(t_ / "area");
  write_file(user_preferences(), to_binary_plist(xml_install_areas({t_ / "none", t_ / "area"})));
  expect_run(run(verbose(launch())),
             head(root()) + kStep3 + looking(user_preferences()) + kLoaded + trying(t_ / "none") + trying(t_ / "area") +
                 using_area(t_ / "area") + own_path(launcher()),
             "", 0);
}

TEST_F(Launcher, UserPreferencesThatDoNotParseAreSkippedAfterLoading) {
  write_file(user_preferences(), "<plist><dict><key>InstallAreas</key>");
  expect_run(run(verbose(launch())),
             head(root()) + kStep3 + looking(user_preferences()) + kLoaded + looking(kSystemPreferences),
             kMissingRuntime, 255);
}

TEST_F(Launcher, UserPreferencesThatCannotBeReadAreSkippedWithoutLoading) {
  make_dirs(user_preferences());  // a directory is no file to read, even for root
  expect_run(run(verbose(launch())), head(root()) + kStep3 + looking(user_preferences()) + looking(kSystemPreferences),
             kMissingRuntime, 255);
}

TEST_F(Launcher, UserPreferencesWithoutReadPermissionAreSkippedWithoutLoading) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the launcher as another user";
  add_runtime(t_ / "area");
  write_file(user_preferences(), xml_install_areas({t_ / "area"}));
  chmod(user_preferences().c_str(), 0);
  Launch l = verbose(launch());
  l.env["STANDIN_LAUNCHERMAIN_RECORD"] = std::nullopt;  // the other user may not write here
  l.uid = 54321;
  expect_run(run(l), head(root()) + kStep3 + looking(user_preferences()) + looking(kSystemPreferences), kMissingRuntime,
             255);
}

TEST_F(Launcher, UserPreferencesWithoutTheKeyListNoArea) {
  add_runtime(t_ / "area");
  write_file(user_preferences(),
             xml_plist("<dict><key>Areas</key><array><string>" + t_ / "area" + "</string></array></dict>"));
  expect_run(run(verbose(launch())),
             head(root()) + kStep3 + looking(user_preferences()) + kLoaded + looking(kSystemPreferences),
             kMissingRuntime, 255);
}

TEST_F(Launcher, InstallAreasThatAreNoArrayListNoArea) {
  add_runtime(t_ / "area");
  write_file(user_preferences(), xml_plist("<dict><key>InstallAreas</key><string>" + t_ / "area" + "</string></dict>"));
  expect_run(run(verbose(launch())),
             head(root()) + kStep3 + looking(user_preferences()) + kLoaded + looking(kSystemPreferences),
             kMissingRuntime, 255);
}

TEST_F(Launcher, InstallAreasAreLookedUpInMacOsRoman) {
  // "café" in the file is the byte 0x8E on disk.
  add_runtime(t_ / "caf\x8e");
  write_file(user_preferences(),
             xml_plist("<dict><key>InstallAreas</key><array><integer>5</integer><string>" + t_ / "\xe6\x97\xa5" +
                       "</string><string>" + t_ / "caf\xc3\xa9" + "</string></array></dict>"));
  expect_run(run(verbose(launch())),
             head(root()) + kStep3 + looking(user_preferences()) + kLoaded + trying(t_ / "caf\x8e") +
                 using_area(t_ / "caf\x8e") + own_path(launcher()),
             "", 0);
}

TEST_F(Launcher, EmptyInstallAreaListFindsNothing) {
  write_file(user_preferences(), to_binary_plist(xml_install_areas({})));
  expect_run(run(launch()), "", kMissingRuntime, 255);
}

// ---- the system's preference file (private root) ---------------------------------------

TEST_F(Launcher, SystemPreferencesInXmlAreReadAfterTheUsersMiss) {
  SKIP_WITHOUT_PRIVATE_ROOT();
  add_runtime(t_ / "sysarea");
  write_file(user_preferences(), xml_install_areas({t_ / "none"}));
  write_file(system_preferences_here(), xml_install_areas({t_ / "sysarea"}));
  expect_run(run(verbose(with_system_library(launch({"s"})))),
             head(root()) + kStep3 + looking(user_preferences()) + kLoaded + trying(t_ / "none") +
                 looking(kSystemPreferences) + kLoaded + trying(t_ / "sysarea") + using_area(t_ / "sysarea") +
                 own_path(launcher()),
             "", 0);
  EXPECT_EQ(received(), received_expected({"s"}));
}

TEST_F(Launcher, SystemPreferencesInTheBinaryFormAreRead) {
  SKIP_WITHOUT_PRIVATE_ROOT();
  add_runtime(t_ / "sysarea");
  write_file(system_preferences_here(), to_binary_plist(xml_install_areas({t_ / "sysarea"})));
  expect_run(run(verbose(with_system_library(launch()))),
             head(root()) + kStep3 + looking(user_preferences()) + looking(kSystemPreferences) + kLoaded +
                 trying(t_ / "sysarea") + using_area(t_ / "sysarea") + own_path(launcher()),
             "", 0);
  expect_run(run(with_system_library(launch())), "", "", 0);
}

TEST_F(Launcher, UserPreferencesWinOverTheSystems) {
  SKIP_WITHOUT_PRIVATE_ROOT();
  add_runtime(t_ / "userarea");
  add_runtime(t_ / "sysarea");
  write_file(user_preferences(), xml_install_areas({t_ / "userarea"}));
  write_file(system_preferences_here(), xml_install_areas({t_ / "sysarea"}));
  expect_run(run(verbose(with_system_library(launch()))),
             head(root()) + kStep3 + looking(user_preferences()) + kLoaded + trying(t_ / "userarea") +
                 using_area(t_ / "userarea") + own_path(launcher()),
             "", 0);
}

TEST_F(Launcher, UnparsableAndUnreadableUserFilesGiveWayToTheSystems) {
  SKIP_WITHOUT_PRIVATE_ROOT();
  add_runtime(t_ / "sysarea");
  write_file(system_preferences_here(), xml_install_areas({t_ / "sysarea"}));
  write_file(user_preferences(), "\x00\x01 garbage");
  const std::string tail = looking(kSystemPreferences) + kLoaded + trying(t_ / "sysarea") + using_area(t_ / "sysarea") +
                           own_path(launcher());
  expect_run(run(verbose(with_system_library(launch()))),
             head(root()) + kStep3 + looking(user_preferences()) + kLoaded + tail, "", 0);
  std::filesystem::remove(user_preferences());
  make_dirs(user_preferences());
  expect_run(run(verbose(with_system_library(launch()))), head(root()) + kStep3 + looking(user_preferences()) + tail,
             "", 0);
}

TEST_F(Launcher, SystemPreferencesThatDoNotParseOrLackTheKeyFindNothing) {
  SKIP_WITHOUT_PRIVATE_ROOT();
  add_runtime(t_ / "sysarea");
  for (const std::string &content :
       {std::string("bplist00 broken"),
        xml_plist("<dict><key>installareas</key><array><string>" + t_ / "sysarea" + "</string></array></dict>")}) {
    write_file(system_preferences_here(), content);
    expect_run(run(verbose(with_system_library(launch()))),
               head(root()) + kStep3 + looking(user_preferences()) + looking(kSystemPreferences) + kLoaded,
               kMissingRuntime, 255);
  }
}

TEST_F(Launcher, WithoutAHomeDirectoryNeitherPreferenceFileIsRead) {
  SKIP_WITHOUT_PRIVATE_ROOT();
  add_runtime(t_ / "sysarea");
  write_file(system_preferences_here(), xml_install_areas({t_ / "sysarea"}));
  Launch l = verbose(with_system_library(launch()));
  l.env["HOME"] = std::nullopt;
  l.env["STANDIN_LAUNCHERMAIN_RECORD"] = std::nullopt;
  l.uid = 54321;  // a user the password database does not know
  expect_run(run(l), head(root()) + kStep3, kMissingRuntime, 255);
}

// ---- where the launcher lies ------------------------------------------------------

TEST_F(Launcher, ProgramNameWithoutASlashSearchesFromTheCurrentDirectory) {
  add_runtime(t_.path());
  make_dirs(t_ / "x/y/z");
  Launch l = verbose(launch({"a"}));
  l.argv[0] = "app_launcher";
  l.cwd = t_ / "x/y/z";
  expect_run(run(l), head("./../../..") + found_beside("./../../..") + own_path(launcher()), "", 0);
  EXPECT_EQ(received(), received_expected({"a"}));
}

TEST_F(Launcher, ProgramDirectlyUnderTheRootSearchesRelativeToTheCurrentDirectory) {
  SKIP_WITHOUT_PRIVATE_ROOT();
  add_runtime(t_.path());
  make_dirs(t_ / "x/y/z");
  Launch l = verbose(launch());
  l.private_root = true;
  l.binds = {{launcher(), "/app_launcher"}, {bundle() + "/libqvlaunchermain.so", "/libqvlaunchermain.so"}};
  l.program = "/app_launcher";
  l.argv = {"/app_launcher", "r"};
  l.cwd = t_ / "x/y/z";
  expect_run(run(l), head("../../..") + found_beside("../../..") + own_path("/app_launcher"), "", 0);
  EXPECT_EQ(received(), (std::vector<std::string>{"/app_launcher", "r"}));
}

TEST_F(Launcher, OwnPathComesBackTrimmedWhileTheTraceShowsItWhole) {
  add_runtime(t_.path());
  for (const std::string name : {"app_launcher ", "app_launcher\n", " app_launcher\t"}) {
    install(bundle(), name, std::nullopt);
    const std::string program = bundle() + "/" + name;
    Launch l = verbose(launch({"t"}));
    l.program = program;
    l.argv[0] = program;
    const std::string trimmed = bundle() + "/" + (name == " app_launcher\t" ? " app_launcher" : "app_launcher");
    expect_run(run(l), head(root()) + found_beside(root()) + own_path(program), "", 0);
    EXPECT_EQ(received(), (std::vector<std::string>{trimmed, "t"}));
  }
}

class LongPath : public Launcher {
 protected:
  // A bundle directory deep enough that the launcher's path needs more than
  // the 2048 bytes the own-path lookup leaves for it.
  std::string deep_bundle() const {
    std::string dir = t_ / "deep";
    while (dir.size() < 2100) dir += "/" + std::string(200, 'd');
    return dir;
  }
};

TEST_F(LongPath, OwnPathTooLongForTheLookupIsACleanError) {
  const std::string dir = deep_bundle();
  install(dir);
  const std::string deep_root = dir + "/../../..";
  add_runtime(deep_root);
  Launch l = launch({"a"});
  l.program = dir + "/app_launcher";
  l.argv[0] = l.program;
  expect_run(run(l), "", "Error: Could not find the current executable file.\n", 255);
  expect_run(run(verbose(l)),
             head(deep_root) + found_beside(deep_root) + "Module path returned from GetCurrentModulePath=\n",
             "Error: Could not find the current executable file.\n", 255);
  EXPECT_EQ(received(), std::vector<std::string>{});
}

TEST_F(LongPath, MissingRuntimeIsReportedBeforeTheOwnPathFails) {
  const std::string dir = deep_bundle();
  install(dir);
  Launch l = launch();
  l.program = dir + "/app_launcher";
  l.argv[0] = l.program;
  expect_run(run(l), "", kMissingRuntime, 255);
}

TEST_F(Launcher, EmptyArgumentListStopsWithAnErrorEvenBesideARuntime) {
  // Linux hands a program started with no arguments an empty name (older
  // kernels: none at all); the current directory's ../../.. holds a runtime.
  add_runtime(t_.path());
  make_dirs(t_ / "x/y/z");
  Launch l = verbose(launch());
  l.argv.clear();
  l.cwd = t_ / "x/y/z";
  expect_run(run(l), "", "Error: The launcher was started without a program name.\n", 255);
  EXPECT_EQ(received(), std::vector<std::string>{});
}

TEST_F(Launcher, EmptyProgramNameStopsWithTheSameError) {
  add_runtime(t_.path());
  make_dirs(t_ / "x/y/z");
  Launch l = launch({"a"});
  l.argv[0] = "";
  l.cwd = t_ / "x/y/z";
  expect_run(run(l), "", "Error: The launcher was started without a program name.\n", 255);
}

// ---- binding the runtime launcher library ---------------------------------------------

TEST_F(Launcher, RuntimeLauncherLibraryIsFoundInTheSystemRunPathDirectory) {
  const std::string dir = t_ / "Other.app/Contents/MacOS";
  install(dir, "app_launcher", t_ / "Other.app/sys/os/maca64");
  add_runtime(t_.path());
  Launch l = launch({"o"});
  l.program = dir + "/app_launcher";
  l.argv[0] = l.program;
  expect_run(run(l), "", "", 0);
  EXPECT_EQ(received(), (std::vector<std::string>{l.program, "o"}));
}

TEST_F(Launcher, LoaderRefusesToStartWithoutTheRuntimeLauncherLibrary) {
  const std::string dir = t_ / "Bare.app/Contents/MacOS";
  install(dir, "app_launcher", std::nullopt);
  add_runtime(t_.path());
  Launch l = verbose(launch());
  l.program = dir + "/app_launcher";
  l.argv[0] = l.program;
  l.env["LD_LIBRARY_PATH"] = std::nullopt;
  expect_run(run(l), "",
             l.program +
                 ": error while loading shared libraries: libqvlaunchermain.so: cannot open shared object file: "
                 "No such file or directory\n",
             127);
  EXPECT_EQ(received(), std::vector<std::string>{});
}

// The dynamic section of the built launcher: the runtime launcher library
// is an ordinary dependency and the run paths are exactly the three.
TEST(LauncherBinary, NeedsTheRuntimeLauncherLibraryThroughItsRunPaths) {
  std::optional<std::string> image = test_support::read_file(APP_LAUNCHER);
  ASSERT_TRUE(image);
  ASSERT_GE(image->size(), sizeof(Elf64_Ehdr));
  Elf64_Ehdr eh;
  std::memcpy(&eh, image->data(), sizeof eh);
  ASSERT_EQ(std::memcmp(eh.e_ident, ELFMAG, SELFMAG), 0);
  ASSERT_EQ(eh.e_ident[EI_CLASS], ELFCLASS64);
  auto section = [&](size_t i) {
    Elf64_Shdr sh;
    std::memcpy(&sh, image->data() + eh.e_shoff + i * eh.e_shentsize, sizeof sh);
    return sh;
  };
  std::vector<std::string> needed;
  std::vector<std::string> runpath;
  bool has_rpath = false;
  for (size_t i = 0; i < eh.e_shnum; ++i) {
    Elf64_Shdr dyn = section(i);
    if (dyn.sh_type != SHT_DYNAMIC) continue;
    Elf64_Shdr strings = section(dyn.sh_link);
    for (size_t off = 0; off + sizeof(Elf64_Dyn) <= dyn.sh_size; off += sizeof(Elf64_Dyn)) {
      Elf64_Dyn d;
      std::memcpy(&d, image->data() + dyn.sh_offset + off, sizeof d);
      if (d.d_tag == DT_NULL) break;
      const char *text = image->data() + strings.sh_offset + d.d_un.d_val;
      if (d.d_tag == DT_NEEDED) needed.push_back(text);
      if (d.d_tag == DT_RUNPATH) runpath.push_back(text);
      if (d.d_tag == DT_RPATH) has_rpath = true;
    }
  }
  EXPECT_NE(std::find(needed.begin(), needed.end(), "libqvlaunchermain.so"), needed.end());
  EXPECT_EQ(runpath, std::vector<std::string>{"$ORIGIN:$ORIGIN/.:$ORIGIN/../../sys/os/maca64"});
  EXPECT_FALSE(has_rpath);
}

}  // namespace

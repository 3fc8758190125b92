// The main flow called in-process, for the starts a real exec cannot make.
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

#include "child_process.h"
#include "launch_support.h"
#include "launcher.h"
#include "scratch_dir.h"

using test_support::capture_in_child;
using test_support::Captured;

namespace {

TEST(MainFlow, NoProgramNameEndsWithAnErrorAndMinusOne) {
  for (bool verbose : {false, true}) {
    Captured c = capture_in_child([=] {
      char *argv[] = {nullptr};
      OutputManager out;
      out.verbose = verbose;
      return arcxLauncherMainFunc(0, argv, out) == -1 ? 0 : 1;
    });
    EXPECT_EQ(c.status, 0);
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(c.err, "Error: The launcher was started without a program name.\n");
  }
}

TEST(MainFlow, NoArgumentVectorAtAllIsTheSameError) {
  Captured c = capture_in_child([] {
    OutputManager out;
    return arcxLauncherMainFunc(0, nullptr, out) == -1 ? 0 : 1;
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.err, "Error: The launcher was started without a program name.\n");
}

TEST(MainFlow, AnEmptyProgramNameIsNoProgramName) {
  Captured c = capture_in_child([] {
    std::string empty;
    std::string arg = "a";
    char *argv[] = {empty.data(), arg.data(), nullptr};
    OutputManager out;
    out.verbose = true;
    return arcxLauncherMainFunc(2, argv, out) == -1 ? 0 : 1;
  });
  EXPECT_EQ(c.status, 0);
  EXPECT_EQ(c.out, "");
  EXPECT_EQ(c.err, "Error: The launcher was started without a program name.\n");
}

TEST(MainFlow, ElementZeroIsTheOwnImageNotTheProgramName) {
  test_support::ScratchDir t;
  test_support::write_file(t / "runtime/maca64/libqvdeployrt.23.2.dylib", "");
  // Only the directories need to exist: the program named there does not.
  test_support::make_dirs(t / "App.app/Contents/MacOS");
  const std::string record = t / "record";
  Captured c = capture_in_child([&] {
    setenv("STANDIN_LAUNCHERMAIN_RECORD", record.c_str(), 1);
    setenv("STANDIN_LAUNCHERMAIN_STATUS", "9", 1);
    std::string name = t / "App.app/Contents/MacOS/not_this_program";
    std::string arg = "arg";
    char *argv[] = {name.data(), arg.data(), nullptr};
    OutputManager out;
    return arcxLauncherMainFunc(2, argv, out);
  });
  EXPECT_EQ(c.status, 9);
  EXPECT_EQ(c.out + c.err, "");
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(test_support::read_file(record), self + '\0' + "arg" + '\0');
}

}  // namespace

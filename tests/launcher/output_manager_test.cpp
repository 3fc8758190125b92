// Where the launcher's error, status and switch settings lead.
#include <cstddef>
#include <cstdlib>
#include <gtest/gtest.h>

#include "child_process.h"
#include "launch_support.h"
#include "launcher.h"
#include "output_manager.h"

using test_support::capture_in_child;
using test_support::Captured;

namespace {

static_assert(offsetof(OutputManager, verbose) < offsetof(OutputManager, outputMode) &&
                  offsetof(OutputManager, outputMode) < offsetof(OutputManager, disableMessageBox) &&
                  offsetof(OutputManager, disableMessageBox) < offsetof(OutputManager, silent),
              "fields keep their order");

Captured error_with(int32_t mode, const char *message, bool disable_box = false, bool silent = false) {
  return capture_in_child([=] {
    OutputManager out;
    out.outputMode = mode;
    out.disableMessageBox = disable_box;
    out.silent = silent;
    out.outputError(message);
    return 0;
  });
}

TEST(OutputError, PrefixIsError) { EXPECT_STREQ(OutputManager::PREFIX, "Error"); }

TEST(OutputError, ModesTwoToFourWriteToStandardError) {
  for (int32_t mode : {2, 3, 4}) {
    Captured c = error_with(mode, "it broke");
    EXPECT_EQ(c.err, "Error: it broke\n") << "mode " << mode;
    EXPECT_EQ(c.out, "") << "mode " << mode;
  }
}

TEST(OutputError, EmptyMessageWritesNothingInAnyMode) {
  for (int32_t mode : {-1, 0, 1, 2, 3, 4, 5}) {
    Captured c = error_with(mode, "", true);
    EXPECT_EQ(c.out + c.err, "") << "mode " << mode;
  }
}

TEST(OutputError, OnlyTheFirstLineOfAMessageCarriesThePrefix) {
  Captured c = error_with(2, "one\ntwo\n");
  EXPECT_EQ(c.err, "Error: one\ntwo\n\n");
}

TEST(OutputError, ModeZeroWritesToWideStandardOutput) {
  Captured c = error_with(0, "wide");
  EXPECT_EQ(c.out, "Error: wide\n");
  EXPECT_EQ(c.err, "");
}

TEST(OutputError, ModeOneWritesOnlyWhenMessageBoxesAreOffAndNotSilent) {
  EXPECT_EQ(error_with(1, "box", false, false).out, "");
  EXPECT_EQ(error_with(1, "box", false, true).out, "");
  EXPECT_EQ(error_with(1, "box", true, true).out, "");
  Captured c = error_with(1, "box", true, false);
  EXPECT_EQ(c.out, "Error: box\n");
  EXPECT_EQ(c.err, "");
}

TEST(OutputError, ModesOutsideTheTableWriteNothing) {
  for (int32_t mode : {5, 100, -1, INT32_MIN}) {
    Captured c = error_with(mode, "lost", true);
    EXPECT_EQ(c.out + c.err, "") << "mode " << mode;
  }
}

TEST(OutputStatus, WritesLabelAndTextWhateverTheSwitches) {
  for (bool verbose : {false, true}) {
    Captured c = capture_in_child([=] {
      OutputManager out;
      out.verbose = verbose;
      out.outputStatus("/some/root", "Status");
      return 0;
    });
    EXPECT_EQ(c.out, "Status: /some/root\n");
    EXPECT_EQ(c.err, "");
  }
}

TEST(OutputStatus, EmptyTextStillWritesTheLabel) {
  Captured c = capture_in_child([] {
    OutputManager out;
    out.outputStatus("", "Status");
    return 0;
  });
  EXPECT_EQ(c.out, "Status: \n");
}

TEST(OutputStatus, FlushesBothTheStreamAndTheCLibrary) {
  Captured c = capture_in_child([] {
    OutputManager out;
    std::printf("before ");
    out.outputStatus("x", "Status");
    std::printf("after\n");
    // Leave without flushing: what was flushed already is all that arrives.
    _exit(0);
    return 0;
  });
  EXPECT_EQ(c.out, "before Status: x\n");
}

TEST(LauncherSwitch, OnExactlyWhenSetAndNotStartingWithZero) {
  EXPECT_FALSE(launcher_switch_on(nullptr));
  for (const char *off : {"", "0", "00", "0x", "0 "}) EXPECT_FALSE(launcher_switch_on(off)) << off;
  for (const char *on : {"1", "yes", "false", " 0", "off", "\t"}) EXPECT_TRUE(launcher_switch_on(on)) << on;
}

TEST(LauncherSwitch, EnvironmentFillsBothSwitchesAndFixesModeAndSilence) {
  Captured c = capture_in_child([] {
    setenv("ARCX_VERBOSE", "yes", 1);
    unsetenv("ARCX_DISABLE_MSGBOX");
    OutputManager a = launcher_output_from_environment();
    setenv("ARCX_VERBOSE", "0", 1);
    setenv("ARCX_DISABLE_MSGBOX", "1", 1);
    OutputManager b = launcher_output_from_environment();
    bool ok = a.verbose && !a.disableMessageBox && a.outputMode == 2 && !a.silent && !b.verbose &&
              b.disableMessageBox && b.outputMode == 2 && !b.silent;
    return ok ? 0 : 1;
  });
  EXPECT_EQ(c.status, 0);
}

}  // namespace

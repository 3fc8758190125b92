// The zcc module loaded by the substitute host and called in process, as
// the host calls it for a command.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "calvex/host.h"
#include "scratch_dir.h"
#include "settings/core.h"
#include "support.h"

namespace {

using test_support::entries;
using test_support::ScratchDir;
using zcc_test::exists;
using zcc_test::ScopedCwd;
using zcc_test::ScopedEnv;

const char kNotText[] = "All inputs to ZCC must be character vectors or strings (-? for help)";

calvex::Module &module() {
  static calvex::Module loaded(ZCC_MODULE_PATH);
  return loaded;
}

// Host values for one call, released afterwards.
class Inputs {
 public:
  Inputs &text(const std::string &t) { return add(hxCreateString(t.c_str())); }
  Inputs &string_scalar(const std::string &t) { return add(hxCreateStringScalar(t.c_str())); }
  Inputs &number(double v) { return add(hxCreateDoubleScalar(v)); }
  int count() const { return static_cast<int>(values_.size()); }
  const hxArray **data() { return values_.data(); }
  ~Inputs() {
    for (const hxArray *v : values_) hxDestroyArray(const_cast<hxArray *>(v));
  }

 private:
  Inputs &add(hxArray *a) {
    values_.push_back(a);
    return *this;
  }
  std::vector<const hxArray *> values_;
};

// Every call runs in a fresh working folder with a fresh $TMPDIR, so that
// a test can prove nothing temporary was left behind.
class ZccModule : public ::testing::Test {
 protected:
  void SetUp() override {
    calvex::take_console();
    test_support::write_file(work / "a.m", "x = 1;\n");
  }

  calvex::CallResult call(Inputs &in, int nlhs = 0) {
    hxArray *outputs[1] = {nullptr};
    return module().call(nlhs, outputs, in.count(), in.data());
  }

  void expect_nothing_left_in_tmpdir() { EXPECT_EQ(entries(tmp.path()), std::vector<std::string>{}); }

  ScratchDir work;
  ScratchDir tmp;
  ScopedEnv tmpdir{"TMPDIR", tmp.path()};
  ScopedCwd cwd{work.path()};
};

TEST_F(ZccModule, ReportsItsReleaseAndRequiredApiVersion) {
  EXPECT_EQ(module().release(), 0x01000000u);
  EXPECT_EQ(module().api_version(), 0x08000000u);
}

TEST_F(ZccModule, SuccessfulCallPackagesIntoCurrentFolderAndRemovesItsTemporaryFolder) {
  Inputs in;
  in.text("-v").text("a.m");
  const calvex::CallResult r = call(in);
  ASSERT_TRUE(r.ok) << r.identifier << ": " << r.message;
  EXPECT_EQ(test_support::read_file(work / "a.pkg").value_or("").rfind("package a\n", 0), 0u);
  EXPECT_NE(calvex::take_console().find("Packaging 'a' into '" + std::filesystem::canonical(work.path()).string() +
                                        "/a.pkg'"),
            std::string::npos);
  expect_nothing_left_in_tmpdir();
}

TEST_F(ZccModule, OutputRequestedFailsEvenWhenInputsAreNotText) {
  Inputs in;
  in.number(1);
  const calvex::CallResult r = call(in, 1);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.identifier, "compiler:noOutputs");
  EXPECT_EQ(r.message, "ZCC does not return any outputs (-? for help)");
  EXPECT_EQ(calvex::take_console(), "");
}

TEST_F(ZccModule, NumericInputFailsAndNothingIsDone) {
  Inputs in;
  in.text("a.m").number(3);
  const calvex::CallResult r = call(in);
  EXPECT_EQ(r.identifier, "compiler:inputsMustBeStrings");
  EXPECT_EQ(r.message, kNotText);
  EXPECT_FALSE(exists(work / "a.pkg"));
  expect_nothing_left_in_tmpdir();
}

TEST_F(ZccModule, StringScalarInputIsAcceptedLikeACharacterVector) {
  Inputs in;
  in.string_scalar("a.m");
  const calvex::CallResult r = call(in);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_TRUE(exists(work / "a.pkg"));
}

TEST_F(ZccModule, NoInputsShowTheCompilerOnlyItsOwnName) {
  Inputs in;
  const calvex::CallResult r = call(in);
  EXPECT_TRUE(r.ok);
  // The compiler prints its usage only when "zcc" is its one argument.
  EXPECT_EQ(calvex::take_console().rfind("Usage: zcc [options] source...\n", 0), 0u);
  expect_nothing_left_in_tmpdir();
}

TEST_F(ZccModule, GivenFolderKeepsAnalysisAndProjectFileAndSkipsPackaging) {
  Inputs in;
  in.text("-D").text(work / "kept").text("a.m");
  const calvex::CallResult r = call(in);
  ASSERT_TRUE(r.ok) << r.message;
  const std::string requirements =
      test_support::read_file(work / "kept/kestrel_zcc_reqtsOut/requirements.txt").value_or("");
  EXPECT_EQ(requirements.rfind("program zcc\nargument a.m\nsource ", 0), 0u) << requirements;
  EXPECT_NE(test_support::read_file(work / "kept/kestrel_zcc_prj").value_or("").find("argument=zcc\nargument=a.m\n"),
            std::string::npos);
  EXPECT_FALSE(exists(work / "a.pkg"));
  expect_nothing_left_in_tmpdir();
}

TEST_F(ZccModule, LaterGivenFolderReplacesEarlierOne) {
  Inputs in;
  in.text("-D").text(work / "first").text("-D").text(work / "second").text("a.m");
  ASSERT_TRUE(call(in).ok);
  EXPECT_FALSE(exists(work / "first"));
  EXPECT_TRUE(exists(work / "second/kestrel_zcc_prj"));
}

TEST_F(ZccModule, LowercaseDIsPassedToTheCompilerAsAnOrdinaryArgument) {
  std::filesystem::create_directory(work / "out");
  Inputs in;
  in.text("-D").text(work / "kept").text("-d").text(work / "out").text("a.m");
  ASSERT_TRUE(call(in).ok);
  const std::string requirements =
      test_support::read_file(work / "kept/kestrel_zcc_reqtsOut/requirements.txt").value_or("");
  EXPECT_NE(requirements.find("argument -d\nargument " + (work / "out") + "\n"), std::string::npos) << requirements;

  Inputs packaged;
  packaged.text("-d").text(work / "out").text("a.m");
  ASSERT_TRUE(call(packaged).ok);
  EXPECT_TRUE(exists(work / "out/a.pkg"));
}

TEST_F(ZccModule, DashDAsLastInputFailsLikeAnInputThatIsNotText) {
  Inputs in;
  in.text("a.m").text("-D");
  const calvex::CallResult r = call(in);
  EXPECT_EQ(r.identifier, "compiler:inputsMustBeStrings");
  EXPECT_EQ(r.message, kNotText);
  expect_nothing_left_in_tmpdir();
}

TEST_F(ZccModule, DashDFollowedByANumberFailsLikeAnInputThatIsNotText) {
  Inputs in;
  in.text("-D").number(7).text("a.m");
  EXPECT_EQ(call(in).identifier, "compiler:inputsMustBeStrings");
}

// The compiler stops before it makes the temporary folder, so removing that
// folder fails too; the failure is ignored and the call still returns.
TEST_F(ZccModule, AnalysisFailureReturnsNormallyAndLeavesNoTemporaryFolder) {
  Inputs in;
  in.text("missing.m");
  const calvex::CallResult r = call(in);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(calvex::take_console(), "zcc: source file 'missing.m' not found\n");
  expect_nothing_left_in_tmpdir();
}

TEST_F(ZccModule, PackagingFailureBecomesErrorWithItsOwnIdentifier) {
  Inputs in;
  in.text("-o").text("a/b").text("a.m");
  const calvex::CallResult r = call(in);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.identifier, "Compiler:compiler:PKG_PROJECT_FILE_MALFORMED");
  EXPECT_NE(r.message.find("the application name 'a/b' is not a file name"), std::string::npos) << r.message;
  expect_nothing_left_in_tmpdir();
}

TEST_F(ZccModule, AnalysisFailureThatThrowsBecomesErrorWithTheCompilersIdentifier) {
  test_support::write_file(work / "plain", "a file where a folder should be");
  Inputs in;
  in.text("-D").text(work / "plain").text("a.m");
  const calvex::CallResult r = call(in);
  EXPECT_EQ(r.identifier, "Compiler:compiler:COM_ERROR_REQUIREMENTS");
  EXPECT_TRUE(exists(work / "plain"));
}

TEST_F(ZccModule, StandardExceptionBecomesUnknownErrorWithItsText) {
  std::filesystem::create_directories(work / "kept/kestrel_zcc_prj");
  Inputs in;
  in.text("-D").text(work / "kept").text("a.m");
  const calvex::CallResult r = call(in);
  EXPECT_EQ(r.identifier, "Compiler:compiler:COM_ERROR_UNKNOWN");
  EXPECT_EQ(r.message, "Cannot write the project file '" + (work / "kept/kestrel_zcc_prj") + "': Is a directory");
}

TEST_F(ZccModule, PercentSignsAndBackslashesReachTheUserUnchanged) {
  const std::string folder = work / "no such/100% \\done\\ %s %%";
  Inputs in;
  in.text("-d").text(folder).text("a.m");
  const calvex::CallResult r = call(in);
  EXPECT_EQ(r.identifier, "Compiler:compiler:COM_ERROR_UNKNOWN");
  EXPECT_EQ(r.message, "Cannot write the package '" + folder + "/a.pkg': No such file or directory");
  expect_nothing_left_in_tmpdir();
}

TEST(HostErrorFunction, ReadsDoubledPercentSignsAndBackslashesAsSingleOnes) {
  hxArray *inputs[] = {hxCreateString("Compiler:compiler:X"), hxCreateString("100%% C:\\\\dir\\\\ plain")};
  const calvex::CallResult r = calvex::call_boundary([&] { extCallCalvex(0, nullptr, 2, inputs, "error"); });
  for (hxArray *a : inputs) hxDestroyArray(a);
  EXPECT_EQ(r.identifier, "Compiler:compiler:X");
  EXPECT_EQ(r.message, "100% C:\\dir\\ plain");
}

TEST_F(ZccModule, ThrownNonExceptionBecomesFixedUnknownText) {
  const std::string gone = work / "gone";
  std::filesystem::create_directory(gone);
  ScopedCwd into(gone);
  std::filesystem::remove(gone);
  Inputs in;
  in.text(work / "a.m");
  const calvex::CallResult r = call(in);
  EXPECT_EQ(r.identifier, "Compiler:compiler:COM_ERROR_UNKNOWN");
  EXPECT_EQ(r.message, "Unknown exception occurred during compilation");
  expect_nothing_left_in_tmpdir();
}

TEST_F(ZccModule, ProjectFilePathTooLongForItsBufferIsAnError) {
  std::string deep = work.path();
  while (deep.size() < 1100) deep += "/" + std::string(200, 'd');
  Inputs in;
  in.text("-D").text(deep).text("a.m");
  const calvex::CallResult r = call(in);
  EXPECT_EQ(r.identifier, "Compiler:compiler:COM_ERROR_UNKNOWN");
  EXPECT_NE(r.message.find("is longer than 1023 bytes"), std::string::npos) << r.message;
  EXPECT_FALSE(exists(deep + "/kestrel_zcc_prj"));
}

TEST_F(ZccModule, PendingSettingsAreWrittenBeforeTheCompilerRuns) {
  std::filesystem::remove(work / "a.m");
  settings::core::queueWrite([this] { test_support::write_file(work / "a.m", "y = 2;\n"); });
  Inputs in;
  in.text("a.m");
  ASSERT_TRUE(call(in).ok);
  EXPECT_TRUE(exists(work / "a.pkg"));
  EXPECT_EQ(settings::core::pendingWrites(), 0u);
}

TEST_F(ZccModule, FailingSettingsWriteLeavesTheEntryPointUncaught) {
  settings::core::queueWrite([] { throw std::runtime_error("settings disk full"); });
  Inputs in;
  in.text("a.m");
  EXPECT_THROW(call(in), std::runtime_error);
  EXPECT_FALSE(exists(work / "a.pkg"));
  expect_nothing_left_in_tmpdir();
}

}  // namespace

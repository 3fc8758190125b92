// The gateway's inner steps: error reporting, the fatal callback, the
// analysis step and the order of clean-up and error.
//
// In this program the host function "error" is replaced by a recorder, so
// that the text handed to it can be seen before the host unescapes it.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>

#include "calvex/host.h"
#include "child_process.h"
#include "fl/i18n.h"
#include "scratch_dir.h"
#include "support.h"
#include "zcc.h"

namespace {

using test_support::ScratchDir;
using zcc_test::ScopedCwd;
using zcc_test::ScopedEnv;

struct ErrorCall {
  std::string identifier;
  std::string message;
  std::vector<std::string> temporary_entries;  // of $TMPDIR at the time of the call
};

std::vector<ErrorCall> error_calls;
bool error_returns = false;

std::string text_of(const hxArray *a) {
  char *s = hxArrayToString(a);
  std::string text = s ? s : "";
  hxFree(s);
  return text;
}

void recording_error(int, hxArray *[], int nrhs, hxArray *prhs[]) {
  ASSERT_EQ(nrhs, 2);
  const char *tmp = std::getenv("TMPDIR");
  error_calls.push_back({text_of(prhs[0]), text_of(prhs[1]), test_support::entries(tmp ? tmp : "/tmp")});
  if (!error_returns) throw calvex::HostError{error_calls.back().identifier, error_calls.back().message};
}

class Gateway : public ::testing::Test {
 protected:
  void SetUp() override {
    calvex::register_function("error", recording_error);
    error_calls.clear();
    error_returns = false;
    test_support::write_file(work / "a.m", "x = 1;\n");
  }

  ScratchDir work;
  ScratchDir tmp;
  ScopedEnv tmpdir{"TMPDIR", tmp.path()};
  ScopedCwd cwd{work.path()};
};

TEST_F(Gateway, HandleExceptionPrefixesIdentifierInPlaceAndRaisesError) {
  compiler_args args;
  std::string identifier = "PKG_X";
  const calvex::CallResult r = calvex::call_boundary([&] { handleException(args, "it failed", identifier); });
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(identifier, "Compiler:compiler:PKG_X");
  ASSERT_EQ(error_calls.size(), 1u);
  EXPECT_EQ(error_calls[0].identifier, "Compiler:compiler:PKG_X");
  EXPECT_EQ(error_calls[0].message, "it failed");
}

TEST_F(Gateway, HandleExceptionDoublesBackslashesAndPercentSigns) {
  compiler_args args;
  std::string identifier = "COM_ERROR_UNKNOWN";
  calvex::call_boundary([&] { handleException(args, "50% of C:\\x\\%d", identifier); });
  ASSERT_EQ(error_calls.size(), 1u);
  EXPECT_EQ(error_calls[0].message, "50%% of C:\\\\x\\\\%%d");
}

TEST_F(Gateway, HandleExceptionPassesOtherTextUnchangedIncludingNonAscii) {
  compiler_args args;
  std::string identifier = "X";
  calvex::call_boundary([&] { handleException(args, "na\xC3\xAFve / plain", identifier); });
  ASSERT_EQ(error_calls.size(), 1u);
  EXPECT_EQ(error_calls[0].message, "na\xC3\xAFve / plain");
}

TEST_F(Gateway, HandleExceptionKeepsProjectFileWhenErrorUnwinds) {
  compiler_args args;
  const std::string project = work / "kestrel_zcc_prj";
  test_support::write_file(project, "p");
  std::strcpy(args.project_file, project.c_str());
  std::string identifier = "X";
  calvex::call_boundary([&] { handleException(args, "m", identifier); });
  EXPECT_TRUE(zcc_test::exists(project));
  EXPECT_EQ(std::string(args.project_file), project);
}

TEST_F(Gateway, HandleExceptionDeletesProjectFileWhenErrorReturns) {
  error_returns = true;
  compiler_args args;
  const std::string project = work / "kestrel_zcc_prj";
  test_support::write_file(project, "p");
  std::strcpy(args.project_file, project.c_str());
  std::string identifier = "X";
  handleException(args, "m", identifier);
  EXPECT_FALSE(zcc_test::exists(project));
  EXPECT_EQ(args.project_file[0], '\0');
}

TEST_F(Gateway, TemporaryFolderIsRemovedBeforeTheErrorIsRaised) {
  hxArray *inputs[] = {hxCreateString("-o"), hxCreateString("a/b"), hxCreateString("a.m")};
  const hxArray *prhs[] = {inputs[0], inputs[1], inputs[2]};
  const calvex::CallResult r = calvex::call_boundary([&] { extFunction(0, nullptr, 3, prhs); });
  for (hxArray *a : inputs) hxDestroyArray(a);
  EXPECT_FALSE(r.ok);
  ASSERT_EQ(error_calls.size(), 1u);
  EXPECT_EQ(error_calls[0].identifier, "Compiler:compiler:PKG_PROJECT_FILE_MALFORMED");
  EXPECT_TRUE(error_calls[0].temporary_entries.empty());
}

TEST_F(Gateway, ComThrowErrorWritesOnlyItsSecondTextAndAborts) {
  const auto child = test_support::capture_in_child([] {
    comThrowError(nullptr, "first", 5, "the second text");
    return 0;
  });
  EXPECT_EQ(child.signal(), SIGABRT);
  EXPECT_EQ(child.err, "the second text");
}

TEST_F(Gateway, FatalReportOfTheContextsEndsInComThrowError) {
  const auto child = test_support::capture_in_child([] {
    BasicContexts contexts;
    if (utInitializeBasicContexts(&contexts, comThrowError, 0) != 0) return 0;
    utReportFatal(&contexts.compiler, "out of memory");
    return 0;
  });
  EXPECT_EQ(child.signal(), SIGABRT);
  EXPECT_EQ(child.err, "out of memory");
}

class Analysis : public Gateway {
 protected:
  compiler_args args;
  BasicContexts contexts;
  void SetUp() override {
    Gateway::SetUp();
    ASSERT_EQ(utInitializeBasicContexts(&contexts, comThrowError, 0), 0);
    args.context = &contexts.compiler;
    args.arguments = {u"zcc", u"a.m"};
  }
  void TearDown() override { utClearBasicContexts(&contexts); }
};

TEST_F(Analysis, CompilerFailureReturnsFalseAndWritesNoProjectFile) {
  args.arguments = {u"zcc", u"missing.m"};
  fl::ustring dir = fl::i18n::to_ustring(work / "out");
  EXPECT_FALSE(do_requirements_analysis(&contexts.error, args, dir));
  EXPECT_EQ(args.project_file[0], '\0');
  EXPECT_FALSE(zcc_test::exists(work / "out/kestrel_zcc_prj"));
  EXPECT_EQ(calvex::take_console(), "zcc: source file 'missing.m' not found\n");
}

TEST_F(Analysis, SuccessWritesProjectFileAndRecordsItsPath) {
  fl::ustring dir = fl::i18n::to_ustring(work / "out//");
  EXPECT_TRUE(do_requirements_analysis(&contexts.error, args, dir));
  EXPECT_EQ(std::string(args.project_file), work / "out/kestrel_zcc_prj");
  EXPECT_TRUE(zcc_test::exists(work / "out/kestrel_zcc_prj"));
  EXPECT_TRUE(zcc_test::exists(work / "out/kestrel_zcc_reqtsOut/requirements.txt"));
}

TEST_F(Analysis, EmptyFolderTextMeansTheCurrentFolder) {
  fl::ustring dir;
  EXPECT_TRUE(do_requirements_analysis(&contexts.error, args, dir));
  EXPECT_EQ(std::string(args.project_file), "kestrel_zcc_prj");
  EXPECT_TRUE(zcc_test::exists(work / "kestrel_zcc_reqtsOut/requirements.txt"));
}

TEST_F(Analysis, ProjectFilePathLongerThanItsBufferThrowsInsteadOfOverflowing) {
  std::string deep = work.path();
  while (deep.size() < kProjectFilePathSize) deep += "/" + std::string(100, 'd');
  fl::ustring dir = fl::i18n::to_ustring(deep);
  EXPECT_THROW(do_requirements_analysis(&contexts.error, args, dir), std::length_error);
  EXPECT_EQ(args.project_file[0], '\0');
}

TEST(ApiVersion, ReportsReleaseAndRequiredVersionAndToleratesNull) {
  std::uint32_t release = 0, api = 0;
  extfilerequiredapiversion(&release, &api);
  EXPECT_EQ(release, kCalvexRelease);
  EXPECT_EQ(api, 0x08000000u);
  extfilerequiredapiversion(nullptr, nullptr);
}

}  // namespace

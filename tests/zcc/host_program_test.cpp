// The zcc module run by the calvex_host program in a child process: the
// error line the user sees, the trace records, and the fatal paths.
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

#include "child_process.h"
#include "scratch_dir.h"
#include "support.h"

namespace {

using test_support::Captured;
using test_support::ScratchDir;

using Env = std::vector<std::pair<std::string, std::optional<std::string>>>;

class HostProgram : public ::testing::Test {
 protected:
  void SetUp() override { test_support::write_file(work / "a.m", "x = 1;\n"); }

  // Runs calvex_host on the module; `env` is applied after the defaults
  // (a fresh TMPDIR, tracing off), so it may override them.
  Captured run(const std::vector<std::string> &args, const Env &env = {}) {
    std::vector<std::string> argv{CALVEX_HOST_PATH, ZCC_MODULE_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    Env all{
        {"TMPDIR", tmp.path()}, {"CALVEX_DIAGNOSTIC_LEVELS", std::nullopt}, {"CALVEX_DIAGNOSTIC_LOG", std::nullopt}};
    all.insert(all.end(), env.begin(), env.end());
    return test_support::run_program(argv, all, work.path());
  }

  Captured traced(const std::vector<std::string> &args, const std::string &levels = "0x60") {
    return run(args, {{"CALVEX_DIAGNOSTIC_LEVELS", levels}, {"CALVEX_DIAGNOSTIC_LOG", log()}});
  }

  std::string log() const { return logs / "trace.log"; }

  std::vector<std::string> log_lines() const {
    std::istringstream in(test_support::read_file(log()).value_or(""));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  ScratchDir work;
  ScratchDir tmp;
  ScratchDir logs;
};

const std::string kEntry = "void extFunction(int, hxArray **, int, const hxArray **)";
const std::string kAnalysis = "bool do_requirements_analysis(error_context, compiler_args, fl::ustring &)";

TEST_F(HostProgram, SuccessfulCommandEchoesCompilerOutputAndExitsZero) {
  const Captured r = run({"-v", "a.m"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Packaging 'a'"), std::string::npos) << r.out;
  EXPECT_TRUE(zcc_test::exists(work / "a.pkg"));
  EXPECT_TRUE(test_support::entries(tmp.path()).empty());
}

TEST_F(HostProgram, PackagingFailureIsShownAsOneErrorLineWithItsIdentifier) {
  const Captured r = run({"-o", "a/b", "a.m"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Error (Compiler:compiler:PKG_PROJECT_FILE_MALFORMED): The project file '", 0), 0u) << r.err;
  EXPECT_TRUE(test_support::entries(tmp.path()).empty());
}

TEST_F(HostProgram, TraceOfSuccessfulCallHasNestedEntriesAndExitsWithoutThrowMark) {
  const Captured r = traced({"a.m"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(log_lines(), (std::vector<std::string>{
                             "deployment::zcc_ext entry zcc:157 " + kEntry,
                             "deployment::zcc_ext entry zcc:99   " + kAnalysis,
                             "deployment::zcc_ext exit zcc:99   " + kAnalysis,
                             "deployment::zcc_ext exit zcc:157 " + kEntry,
                         }));
}

TEST_F(HostProgram, TraceOfFailedCallMarksTheEntryPointExitThrow) {
  const Captured r = traced({"-o", "a/b", "a.m"});
  ASSERT_EQ(r.status, 1);
  const auto lines = log_lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "deployment::zcc_ext exit zcc:99   " + kAnalysis);
  EXPECT_EQ(lines[3], "deployment::zcc_ext exit zcc:157 " + kEntry + " [throw]");
}

TEST_F(HostProgram, TraceOfAnalysisThatThrowsMarksBothExitsThrow) {
  test_support::write_file(work / "plain", "not a folder");
  const Captured r = traced({"-D", work / "plain", "a.m"});
  ASSERT_EQ(r.status, 1);
  const auto lines = log_lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "deployment::zcc_ext exit zcc:99   " + kAnalysis + " [throw]");
  EXPECT_EQ(lines[3], "deployment::zcc_ext exit zcc:157 " + kEntry + " [throw]");
}

TEST_F(HostProgram, TraceWithOnlyEntryLevelWritesNoExitRecords) {
  ASSERT_EQ(traced({"a.m"}, "0x20").status, 0);
  const auto lines = log_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "deployment::zcc_ext entry zcc:157 " + kEntry);
}

TEST_F(HostProgram, TraceIsOffWithoutEntryLevel) {
  ASSERT_EQ(traced({"a.m"}, "0x40").status, 0);
  EXPECT_TRUE(log_lines().empty());
}

TEST_F(HostProgram, UnreadableLevelsAreToldAndTraceStaysOff) {
  const Captured r = traced({"a.m"}, "lots");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("CALVEX_DIAGNOSTIC_LEVELS='lots' is not a number"), std::string::npos) << r.err;
  EXPECT_TRUE(log_lines().empty());
}

TEST_F(HostProgram, FailedContextSetUpStopsTheProcessWithTheContextsMessage) {
  const Captured r = run({"a.m"}, {{"TMPDIR", work / "no-such-folder"}});
  EXPECT_EQ(r.signal(), SIGABRT);
  EXPECT_EQ(r.err, "Panic (code 3): Cannot set up the basic contexts: the temporary folder '" +
                       (work / "no-such-folder") + "' is not a directory\n");
  EXPECT_FALSE(zcc_test::exists(work / "a.pkg"));
}

}  // namespace

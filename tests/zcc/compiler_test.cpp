// The compiler stand-in: argument checks and the requirements it writes.
#include <gtest/gtest.h>

#include <filesystem>

#include "compiler.h"
#include "deployed_exception.h"
#include "fl/i18n.h"
#include "requirements_file.h"
#include "scratch_dir.h"
#include "support.h"

namespace {

using test_support::ScratchDir;

std::string output_text;
std::string error_text;

int to_output(const char *text, int length) {
  output_text.append(text, static_cast<std::size_t>(length));
  return length;
}

int to_error(const char *text, int length) {
  error_text.append(text, static_cast<std::size_t>(length));
  return length;
}

class Compiler : public ::testing::Test {
 protected:
  void SetUp() override {
    output_text.clear();
    error_text.clear();
    test_support::write_file(dir / "a.m", "x = 1;\n");
  }

  CompilerResult run(std::vector<fl::ustring> arguments) {
    words = std::move(arguments);
    words.insert(words.begin(), u"zcc");
    argv.clear();
    for (const auto &a : words) argv.push_back(a.c_str());
    CompilerInputArgs in;
    in.context = &contexts.compiler;
    in.argc = static_cast<std::int32_t>(argv.size());
    in.argv = argv.data();
    in.output = to_output;
    in.error = to_error;
    in.requirements_dir = fl::i18n::to_ustring(dir / "reqs");
    return compiler(in);
  }
  fl::ustring source() const { return fl::i18n::to_ustring(dir / "a.m"); }

  ScratchDir dir;
  BasicContexts contexts;
  std::vector<fl::ustring> words;
  std::vector<const char16_t *> argv;
};

TEST_F(Compiler, ProgramNameAlonePrintsUsageAndFails) {
  EXPECT_TRUE(run({}).failed);
  EXPECT_EQ(output_text.rfind("Usage: zcc [options] source...\n", 0), 0u) << output_text;
  EXPECT_EQ(error_text, "");
}

TEST_F(Compiler, HelpOptionPrintsUsageOnOutputSinkAndFails) {
  EXPECT_TRUE(run({u"-?", source()}).failed);
  EXPECT_NE(output_text.find("-o NAME"), std::string::npos);
  EXPECT_FALSE(zcc_test::exists(dir / "reqs"));
}

TEST_F(Compiler, MissingSourceIsReportedOnErrorSinkAndFails) {
  EXPECT_TRUE(run({source(), u"missing.m"}).failed);
  EXPECT_EQ(error_text, "zcc: source file 'missing.m' not found\n");
  EXPECT_FALSE(zcc_test::exists(dir / "reqs"));
}

TEST_F(Compiler, BadOptionsAreReported) {
  EXPECT_TRUE(run({u"-x", source()}).failed);
  EXPECT_EQ(error_text, "zcc: unknown option '-x' (-? for help)\n");
  error_text.clear();
  EXPECT_TRUE(run({source(), u"-o"}).failed);
  EXPECT_EQ(error_text, "zcc: option -o needs a value\n");
  error_text.clear();
  EXPECT_TRUE(run({u"-v"}).failed);
  EXPECT_EQ(error_text, "zcc: no source files given (-? for help)\n");
}

TEST_F(Compiler, ApplicationNameMustFitItsField) {
  EXPECT_TRUE(run({u"-o", fl::ustring(128, u'n'), source()}).failed);
  EXPECT_NE(error_text.find("is longer than 127 characters"), std::string::npos);
  const CompilerResult ok = run({u"-o", fl::ustring(127, u'n'), source()});
  EXPECT_FALSE(ok.failed);
  EXPECT_EQ(fl::ustring(ok.application_name), fl::ustring(127, u'n'));
}

TEST_F(Compiler, SuccessFillsResultAndWritesRequirements) {
  const CompilerResult r = run({u"-v", u"-d", u"/out", source()});
  ASSERT_FALSE(r.failed) << error_text;
  EXPECT_EQ(r.verbose, 1);
  EXPECT_EQ(fl::ustring(r.application_name), u"a");
  EXPECT_EQ(r.output_folder, u"/out");
  const Requirements req = com_read_requirements(dir / "reqs");
  EXPECT_EQ(req.program, "zcc");
  EXPECT_EQ(req.arguments, (std::vector<std::string>{"-v", "-d", "/out", dir / "a.m"}));
  EXPECT_EQ(req.sources, (std::vector<std::string>{dir / "a.m"}));
  EXPECT_NE(output_text.find("1 source file(s)"), std::string::npos);
}

TEST_F(Compiler, RelativeSourceIsRecordedAbsolute) {
  zcc_test::ScopedCwd cwd(dir.path());
  ASSERT_FALSE(run({u"a.m"}).failed);
  EXPECT_EQ(com_read_requirements(dir / "reqs").sources, (std::vector<std::string>{dir / "a.m"}));
}

TEST_F(Compiler, UnwritableRequirementsFolderThrowsItsOwnIdentifier) {
  test_support::write_file(dir / "reqs", "a file, not a folder");
  try {
    run({source()});
    FAIL() << "no exception";
  } catch (const DeployedException &e) {
    EXPECT_EQ(e.identifier(), "COM_ERROR_REQUIREMENTS");
  }
}

TEST_F(Compiler, MissingArgumentsOrFolderAreRefused) {
  CompilerInputArgs in;
  in.requirements_dir = u"r";
  EXPECT_THROW(compiler(in), std::invalid_argument);
  const char16_t *argv0[] = {u"zcc"};
  in.argc = 1;
  in.argv = argv0;
  in.requirements_dir = fl::ustring(u"r\0x", 3);
  EXPECT_THROW(compiler(in), std::invalid_argument);
}

}  // namespace

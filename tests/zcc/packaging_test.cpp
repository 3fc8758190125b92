// The packaging stand-in: project file in, package out.
#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "deployed_exception.h"
#include "fl/i18n.h"
#include "packaging.h"
#include "project_file.h"
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

class Packaging : public ::testing::Test {
 protected:
  void SetUp() override {
    output_text.clear();
    error_text.clear();
    test_support::write_file(dir / "a.m", "x = 1;\n");
    com_write_requirements(fl::i18n::to_ustring(dir / "reqs"), Requirements{"zcc", {"a.m"}, {dir / "a.m"}});
  }

  void write_project(bool verbose, const std::string &output_folder = "") {
    const char16_t *argv[] = {u"zcc", u"a.m"};
    com_create_temporary_project_file(
        nullptr, project().c_str(), 2, argv, PathManagement::IPath(fl::i18n::to_ustring(dir.path())), verbose, u"app",
        128, true, fl::i18n::to_ustring(dir / "reqs"), fl::i18n::to_ustring(output_folder), kProjectFileFormat);
  }

  std::string project() const { return dir / "prj"; }

  std::string identifier_of_failure() {
    try {
      do_packaging(project().c_str(), false, to_output, to_error);
    } catch (const DeployedException &e) {
      return e.identifier();
    }
    return "no exception";
  }

  ScratchDir dir;
};

TEST_F(Packaging, WritesPackageWithEverySourceIntoCurrentFolder) {
  write_project(false);
  EXPECT_EQ(do_packaging(project().c_str(), false, to_output, to_error), 0);
  const std::string source = dir / "a.m";
  EXPECT_EQ(test_support::read_file(dir / "app.pkg").value_or(""),
            "package app\nfile " + std::to_string(source.size()) + " 7\n" + source + "x = 1;\n");
  EXPECT_EQ(output_text, "");
}

TEST_F(Packaging, VerboseProjectReportsEachStep) {
  write_project(true);
  do_packaging(project().c_str(), false, to_output, to_error);
  EXPECT_EQ(output_text, "Packaging 'app' into '" + (dir / "app.pkg") + "'\nWrote 1 source file(s)\n");
}

TEST_F(Packaging, OutputFolderOfTheProjectWins) {
  std::filesystem::create_directory(dir / "out");
  write_project(false, dir / "out");
  do_packaging(project().c_str(), false, to_output, to_error);
  EXPECT_TRUE(zcc_test::exists(dir / "out/app.pkg"));
  EXPECT_FALSE(zcc_test::exists(dir / "app.pkg"));
}

TEST_F(Packaging, ReplacingAPackageIsNotedOnErrorSink) {
  write_project(false);
  test_support::write_file(dir / "app.pkg", "old");
  do_packaging(project().c_str(), false, to_output, to_error);
  EXPECT_EQ(error_text, "Warning: replacing the package '" + (dir / "app.pkg") + "'\n");
  EXPECT_NE(test_support::read_file(dir / "app.pkg").value_or(""), "old");
}

TEST_F(Packaging, DryRunWritesNothing) {
  write_project(false);
  do_packaging(project().c_str(), true, to_output, to_error);
  EXPECT_FALSE(zcc_test::exists(dir / "app.pkg"));
}

TEST_F(Packaging, MissingProjectFileThrowsItsIdentifier) {
  EXPECT_EQ(identifier_of_failure(), "PKG_PROJECT_FILE_MISSING");
}

TEST_F(Packaging, MalformedProjectFileThrowsItsIdentifier) {
  test_support::write_file(project(), "format=1\nname=app\n");
  EXPECT_EQ(identifier_of_failure(), "PKG_PROJECT_FILE_MALFORMED");
}

TEST_F(Packaging, MissingOrMalformedRequirementsThrowTheirIdentifiers) {
  write_project(false);
  test_support::write_file(dir / (std::string("reqs/") + kRequirementsFileName), "nonsense\n");
  EXPECT_EQ(identifier_of_failure(), "PKG_REQUIREMENTS_MALFORMED");
  std::filesystem::remove_all(dir / "reqs");
  EXPECT_EQ(identifier_of_failure(), "PKG_REQUIREMENTS_MISSING");
}

TEST_F(Packaging, VanishedSourceThrowsItsIdentifier) {
  write_project(false);
  std::filesystem::remove(dir / "a.m");
  EXPECT_EQ(identifier_of_failure(), "PKG_SOURCE_MISSING");
}

TEST_F(Packaging, UnwritablePackageThrowsSystemErrorNamingIt) {
  write_project(false, dir / "no/such/folder");
  try {
    do_packaging(project().c_str(), false, to_output, to_error);
    FAIL() << "no exception";
  } catch (const std::system_error &e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot write the package '" + (dir / "no/such/folder/app.pkg") + "': No such file or directory");
  }
}

}  // namespace

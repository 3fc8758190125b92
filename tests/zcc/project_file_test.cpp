// The project file, the requirements file and fresh folder names.
#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

#include "fl/i18n.h"
#include "project_file.h"
#include "requirements_file.h"
#include "scratch_dir.h"
#include "support.h"

namespace {

using test_support::ScratchDir;

struct ProjectInput {
  std::vector<fl::ustring> arguments{u"zcc", u"-v", u"a.m"};
  char16_t name[128] = u"app";
  fl::ustring requirements = u"/r/kestrel_zcc_reqtsOut";
  fl::ustring output = u"";
};

void write_project(const std::string &path, const ProjectInput &in, error_context *errors = nullptr) {
  std::vector<const char16_t *> argv;
  for (const auto &a : in.arguments) argv.push_back(a.c_str());
  com_create_temporary_project_file(errors, path.c_str(), static_cast<int>(argv.size()), argv.data(),
                                    PathManagement::IPath(u"/work"), true, in.name, 128, true, in.requirements,
                                    in.output, kProjectFileFormat);
}

TEST(ProjectFile, WrittenProjectReadsBack) {
  ScratchDir dir;
  ProjectInput in;
  in.arguments.push_back(u"line\nbreak\\back");
  write_project(dir / "p", in);
  const ProjectDescription p = com_read_project_file(dir / "p");
  EXPECT_EQ(p.format, 1);
  EXPECT_EQ(p.name, "app");
  EXPECT_TRUE(p.verbose);
  EXPECT_TRUE(p.temporary);
  EXPECT_EQ(p.current_folder, "/work");
  EXPECT_EQ(p.output_folder, "");
  EXPECT_EQ(p.requirements_dir, "/r/kestrel_zcc_reqtsOut");
  EXPECT_EQ(p.arguments, (std::vector<std::string>{"zcc", "-v", "a.m", "line\nbreak\\back"}));
}

TEST(ProjectFile, NameStopsAtItsZeroOrItsLength) {
  ScratchDir dir;
  ProjectInput in;
  for (char16_t &c : in.name) c = u'n';
  write_project(dir / "p", in);
  EXPECT_EQ(com_read_project_file(dir / "p").name, std::string(128, 'n'));
}

TEST(ProjectFile, WriteFailureThrowsNamingPathAndRecordsItInErrorContext) {
  ScratchDir dir;
  std::filesystem::create_directory(dir / "p");
  error_context errors;
  try {
    write_project(dir / "p", ProjectInput(), &errors);
    FAIL() << "no exception";
  } catch (const std::system_error &e) {
    EXPECT_EQ(std::string(e.what()), "Cannot write the project file '" + (dir / "p") + "': Is a directory");
    EXPECT_EQ(errors.message, e.what());
  }
}

TEST(ProjectFile, MissingFileIsReportedAsMissing) {
  ScratchDir dir;
  try {
    com_read_project_file(dir / "none");
    FAIL() << "no exception";
  } catch (const project_file_error &e) {
    EXPECT_TRUE(e.missing());
  }
}

TEST(ProjectFile, MalformedContentIsReportedAsMalformed) {
  const std::string good = "format=1\nname=a\ncurrent_folder=/w\nrequirements=/r\n";
  const std::string bad[] = {
      good + "no equals sign\n",
      good + "colour=red\n",
      good + "verbose=2\n",
      good + "argument=a\\qb\n",
      "name=a\ncurrent_folder=/w\nrequirements=/r\n",
      "format=2\nname=a\ncurrent_folder=/w\nrequirements=/r\n",
      "format=1\nname=a/b\ncurrent_folder=/w\nrequirements=/r\n",
      "format=1\nname=\ncurrent_folder=/w\nrequirements=/r\n",
      "format=1\nname=a\nrequirements=/r\n",
      "format=1\nname=a\ncurrent_folder=/w\n",
  };
  ScratchDir dir;
  test_support::write_file(dir / "good", good);
  EXPECT_EQ(com_read_project_file(dir / "good").name, "a");
  for (const std::string &text : bad) {
    test_support::write_file(dir / "p", text);
    try {
      com_read_project_file(dir / "p");
      ADD_FAILURE() << "accepted: " << text;
    } catch (const project_file_error &e) {
      EXPECT_FALSE(e.missing()) << text;
      EXPECT_NE(std::string(e.what()).find("is malformed"), std::string::npos) << e.what();
    }
  }
}

TEST(RequirementsFile, WrittenRequirementsReadBackAndFolderIsCreated) {
  ScratchDir dir;
  const Requirements written{"zcc", {"-v", "a\nb.m"}, {"/x/a.m"}};
  com_write_requirements(fl::i18n::to_ustring(dir / "deep/reqs"), written);
  const Requirements read = com_read_requirements(dir / "deep/reqs");
  EXPECT_EQ(read.program, "zcc");
  EXPECT_EQ(read.arguments, written.arguments);
  EXPECT_EQ(read.sources, written.sources);
}

TEST(RequirementsFile, MissingAndMalformedAreTold) {
  ScratchDir dir;
  try {
    com_read_requirements(dir.path());
    ADD_FAILURE() << "missing file accepted";
  } catch (const project_file_error &e) {
    EXPECT_TRUE(e.missing());
  }
  test_support::write_file(dir / kRequirementsFileName, "program zcc\nbogus line\n");
  try {
    com_read_requirements(dir.path());
    ADD_FAILURE() << "malformed file accepted";
  } catch (const project_file_error &e) {
    EXPECT_FALSE(e.missing());
  }
}

TEST(UniqueDirName, FreshNamesLieInTmpdirAndDoNotExist) {
  ScratchDir dir;
  zcc_test::ScopedEnv tmp("TMPDIR", dir.path());
  const std::string first = fl::i18n::to_string(com_ext_generate_unique_dir_name());
  EXPECT_EQ(first.rfind(dir.path() + "/zcc_", 0), 0u) << first;
  EXPECT_FALSE(zcc_test::exists(first));
  std::filesystem::create_directory(first);
  const std::string second = fl::i18n::to_string(com_ext_generate_unique_dir_name());
  EXPECT_NE(second, first);
  EXPECT_FALSE(zcc_test::exists(second));
}

}  // namespace

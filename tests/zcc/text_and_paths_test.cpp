// The i18n, file-system and dispatcher stand-ins.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <type_traits>

#include "dispatcher.h"
#include "fl/filesystem.h"
#include "fl/i18n.h"
#include "scratch_dir.h"
#include "support.h"

namespace {

using test_support::ScratchDir;

TEST(I18n, Utf8AndUtf16RoundTripIncludingSurrogatePairs) {
  const std::string text = "na\xC3\xAFve \xF0\x9F\x98\x80";  // "naïve 😀"
  const fl::ustring units = fl::i18n::utf8_to_ustring(text);
  EXPECT_EQ(units, u"na\u00EFve \U0001F600");
  EXPECT_EQ(fl::i18n::to_string(units), text);
  EXPECT_EQ(fl::i18n::to_ustring(text), units);
}

TEST(I18n, MalformedUtf8BecomesReplacementCharacter) {
  EXPECT_EQ(fl::i18n::utf8_to_ustring("a\xFF"
                                      "b"),
            u"a\uFFFDb");
}

struct NativeFormCase {
  const char16_t *in;
  bool strip;
  const char16_t *out;
};

TEST(FileSystem, NativeFormCollapsesSeparatorsAndStripsTrailingOne) {
  const NativeFormCase cases[] = {
      {u"/a//b///c/", true, u"/a/b/c"},
      {u"/a//b/", false, u"/a/b/"},
      {u"/", true, u"/"},
      {u"//", true, u"/"},
      {u"rel/x", true, u"rel/x"},
      {u"", true, u""},
  };
  for (const auto &c : cases)
    EXPECT_EQ(fl::filesystem::detail::make_native_form(c.in, c.strip), c.out) << fl::i18n::to_string(c.in);
}

TEST(FileSystem, ConcatenateJoinsWithOneSeparator) {
  using fl::filesystem::detail::concatenate_pathname;
  EXPECT_EQ(concatenate_pathname(u"/a", u"b"), u"/a/b");
  EXPECT_EQ(concatenate_pathname(u"/a/", u"b"), u"/a/b");
  EXPECT_EQ(concatenate_pathname(u"", u"b"), u"b");
  EXPECT_EQ(concatenate_pathname(u"/", u"b"), u"/b");
}

TEST(FileSystem, RemoveAllRemovesATreeAndCountsEntries) {
  ScratchDir dir;
  const std::string root = dir / "tree";
  std::filesystem::create_directories(root + "/x/y");
  test_support::write_file(root + "/x/y/f", "1");
  EXPECT_EQ(fl::filesystem::remove_all(fl::i18n::to_ustring(root)), 4u);
  EXPECT_FALSE(zcc_test::exists(root));
}

TEST(FileSystem, RemoveAllOfMissingPathThrowsNamingIt) {
  ScratchDir dir;
  try {
    fl::filesystem::remove_all(fl::i18n::to_ustring(dir / "gone"));
    FAIL() << "no exception";
  } catch (const fl::filesystem::filesystem_error &e) {
    EXPECT_NE(std::string(e.what()).find(dir / "gone"), std::string::npos) << e.what();
  }
}

TEST(Dispatcher, CurrentPathIsTheWorkingDirectory) {
  ScratchDir dir;
  zcc_test::ScopedCwd cwd(dir.path());
  EXPECT_EQ(fl::i18n::to_string(Cdispatcher::getDispatcher().GetCurrentPath().native()),
            std::filesystem::canonical(dir.path()).string());
}

TEST(Dispatcher, DeletedCurrentFolderThrowsPathErrorWhichIsNoStandardException) {
  static_assert(!std::is_base_of_v<std::exception, PathManagement::path_error>);
  ScratchDir dir;
  const std::string gone = dir / "gone";
  std::filesystem::create_directory(gone);
  zcc_test::ScopedCwd cwd(gone);
  std::filesystem::remove(gone);
  try {
    Cdispatcher::getDispatcher().GetCurrentPath();
    FAIL() << "no exception";
  } catch (const PathManagement::path_error &e) {
    EXPECT_EQ(e.error_number, ENOENT);
  }
}

}  // namespace

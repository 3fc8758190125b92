// The launcher's path toolkit: directory parts, joining, listings, and
// finding the image that holds an address.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

#include "child_process.h"
#include "launch_support.h"
#include "launcher.h"
#include "platform.h"
#include "scratch_dir.h"

using test_support::capture_in_child;
using test_support::Captured;
using test_support::ScratchDir;

namespace {

std::string own_executable() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

void *address_of(void (*function)()) { return reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(function)); }

TEST(GetAppDir, TakesEverythingBeforeTheLastSlash) {
  struct Case {
    std::string path, dir;
  } cases[] = {
      {"/a/b/c", "/a/b"}, {"c", "."}, {"/c", ""}, {"a/b/", "a/b"}, {"", "."}, {"/", ""}, {"a//b", "a/"}, {"./app", "."},
  };
  for (Case &c : cases) {
    std::string path = c.path;
    EXPECT_EQ(get_AppDir(path), c.dir) << "path " << c.path;
    EXPECT_EQ(path, c.path) << "the argument comes back unchanged";
  }
}

TEST(JoinPaths, PutsExactlyOneSlashAtEachSeam) {
  EXPECT_EQ(join_paths(2, "/a", "b"), "/a/b");
  EXPECT_EQ(join_paths(2, "/a/", "/b"), "/a/b");
  EXPECT_EQ(join_paths(2, "/a/", "b"), "/a/b");
  EXPECT_EQ(join_paths(2, "/a", "/b"), "/a/b");
  EXPECT_EQ(join_paths(2, "/a", "/../../.."), "/a/../../..");
  EXPECT_EQ(join_paths(3, "/r", "runtime", "maca64"), "/r/runtime/maca64");
}

TEST(JoinPaths, EmptyFirstPieceDropsTheLeadingSlashOfTheNext) {
  EXPECT_EQ(join_paths(2, "", "/x"), "x");
  EXPECT_EQ(join_paths(2, "", "x"), "x");
  EXPECT_EQ(join_paths(2, "", "/../../.."), "../../..");
}

TEST(JoinPaths, EmptyLaterPieceLeavesATrailingSlash) {
  EXPECT_EQ(join_paths(2, "a", ""), "a/");
  EXPECT_EQ(join_paths(3, "a", "", "b"), "a/b");
}

TEST(JoinPaths, LooksAtOnlyOneSlashOnEachSide) {
  EXPECT_EQ(join_paths(2, "a//", "//b"), "a///b");
  EXPECT_EQ(join_paths(2, "a", "//b"), "a//b");
  EXPECT_EQ(join_paths(2, "a//", "b"), "a//b");
}

TEST(JoinPaths, TrimsEachPieceOfClassicWhiteSpace) {
  EXPECT_EQ(join_paths(2, "  /a  ", "b"), "/a/b");
  EXPECT_EQ(join_paths(2, "\t/a\n", " \v\f\rb\r\n"), "/a/b");
  // Bytes from 0x80 up are never white space.
  EXPECT_EQ(join_paths(2, "\xa0/a\xa0", "\x85"), "\xa0/a\xa0/\x85");
}

TEST(JoinPaths, CountBelowTwoGivesTheTrimmedFirstPieceAlone) {
  EXPECT_EQ(join_paths(1, " /a/ "), "/a/");
  EXPECT_EQ(join_paths(0, " /a "), "/a");
  EXPECT_EQ(join_paths(-3, "x", "y"), "x");
}

TEST(GetFilelist, MissingDirectoryLeavesTheListUntouched) {
  ScratchDir t;
  std::vector<std::string> names = {"kept"};
  EXPECT_FALSE(get_filelist(t / "missing", names));
  EXPECT_EQ(names, std::vector<std::string>{"kept"});
}

TEST(GetFilelist, AppendsEveryEntryIncludingDotAndDotDot) {
  ScratchDir t;
  test_support::write_file(t / "one", "");
  test_support::make_dirs(t / "two");
  std::vector<std::string> names = {"kept"};
  ASSERT_TRUE(get_filelist(t.path(), names));
  ASSERT_EQ(names.size(), 5u);
  EXPECT_EQ(names[0], "kept");
  std::vector<std::string> listed(names.begin() + 1, names.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{".", "..", "one", "two"}));
}

TEST(GetFilelist, AFileIsNoDirectory) {
  ScratchDir t;
  test_support::write_file(t / "file", "x");
  std::vector<std::string> names;
  EXPECT_FALSE(get_filelist(t / "file", names));
  EXPECT_TRUE(names.empty());
}

TEST(MatchFileInDir, EmptyPiecesMatchAnyListableDirectory) {
  ScratchDir t;
  EXPECT_TRUE(match_file_in_dir(t.path().c_str(), "", ""));
  EXPECT_FALSE(match_file_in_dir((t / "missing").c_str(), "", ""));
}

TEST(MatchFileInDir, BothPiecesMustOccurInOneName) {
  ScratchDir t;
  test_support::write_file(t / "libqvdeployrt.so", "");
  test_support::write_file(t / "other.dylib", "");
  EXPECT_FALSE(match_file_in_dir(t.path().c_str(), "libqvdeployrt", ".dylib"));
  test_support::write_file(t / "libqvdeployrt.9.9.dylib", "");
  EXPECT_TRUE(match_file_in_dir(t.path().c_str(), "libqvdeployrt", ".dylib"));
}

TEST(MatchFileInDir, PiecesAreCaseSensitiveSubstringsThatMayOverlap) {
  ScratchDir t;
  test_support::write_file(t / "abc", "");
  EXPECT_TRUE(match_file_in_dir(t.path().c_str(), "ab", "bc"));
  EXPECT_TRUE(match_file_in_dir(t.path().c_str(), "abc", "abc"));
  EXPECT_TRUE(match_file_in_dir(t.path().c_str(), "", "bc"));
  EXPECT_TRUE(match_file_in_dir(t.path().c_str(), "b", ""));
  EXPECT_FALSE(match_file_in_dir(t.path().c_str(), "AB", ""));
  EXPECT_FALSE(match_file_in_dir(t.path().c_str(), "", "abcd"));
}

TEST(LoadedImages, MainProgramComesFirstUnderItsExecutablePath) {
  auto images = launcher_platform::loaded_images();
  ASSERT_GE(images.size(), 2u);
  EXPECT_EQ(images[0].name, own_executable());
}

TEST(LoadedImages, EveryHeaderAddressPointsAtAnElfHeader) {
  for (const auto &image : launcher_platform::loaded_images()) {
    EXPECT_EQ(std::memcmp(image.header,
                          "\x7f"
                          "ELF",
                          4),
              0)
        << image.name;
  }
}

TEST(GetCurrentModulePath, FindsTheImageThatHoldsAFunction) {
  char buffer[PATH_MAX + 1];
  ASSERT_TRUE(getCurrentModulePath(address_of(dummyFunc), buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer), own_executable());

  // A function of the C library lies in the C library's image.
  void *in_libc = reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(&std::abort));
  Dl_info info{};
  ASSERT_NE(dladdr(in_libc, &info), 0);
  ASSERT_TRUE(getCurrentModulePath(in_libc, buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer), info.dli_fname);
}

TEST(GetCurrentModulePath, FailsWithNoImageBelowOrNoneAtOrAbove) {
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_FALSE(getCurrentModulePath(nullptr, buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\0'));

  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_FALSE(getCurrentModulePath(reinterpret_cast<void *>(UINTPTR_MAX), buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\0'));
}

TEST(GetCurrentModulePath, ANameThatDoesNotFitIsAFailedLookupWithinTheBuffer) {
  const std::string name = own_executable();
  std::vector<char> buffer(name.size() + 16, 'x');
  // One byte short of the terminating zero.
  EXPECT_FALSE(getCurrentModulePath(address_of(dummyFunc), buffer.data(), name.size()));
  EXPECT_EQ(std::string(buffer.data(), name.size()), std::string(name.size(), '\0'));
  EXPECT_EQ(std::string(buffer.data() + name.size(), 16), std::string(16, 'x'));
  // Exactly the room it needs.
  EXPECT_TRUE(getCurrentModulePath(address_of(dummyFunc), buffer.data(), name.size() + 1));
  EXPECT_EQ(std::string(buffer.data()), name);
  EXPECT_EQ(std::string(buffer.data() + name.size() + 1, 15), std::string(15, 'x'));
}

TEST(GetApplicationFullPath, ReturnsTheOwnExecutableQuietlyWithoutTracing) {
  Captured c = capture_in_child([] {
    OutputManager out;
    std::string path = getApplicationFullPath("ignored", out);
    std::fprintf(stderr, "%s", path.c_str());
    return 0;
  });
  EXPECT_EQ(c.out, "");
  EXPECT_EQ(c.err, own_executable());
  EXPECT_EQ(c.status, 0);
}

TEST(GetApplicationFullPath, TracesTheLookupAndTheStatusLine) {
  Captured c = capture_in_child([] {
    OutputManager out;
    out.verbose = true;
    getApplicationFullPath("", out);
    return 0;
  });
  const std::string self = own_executable();
  EXPECT_EQ(c.out, "Module path returned from GetCurrentModulePath=" + self + "\nStatus: " + self + "\n");
  EXPECT_EQ(c.err, "");
}

}  // namespace

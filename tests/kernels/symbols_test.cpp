// The archive exports every documented name, under its plain C name, for
// all eighteen encodings.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// The global functions the archive defines, by nm.
std::set<std::string> defined_functions() {
  std::set<std::string> names;
  const std::string command = std::string("nm -g --defined-only '") + VOLACCESS_ARCHIVE + "'";
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    char address[64], type[8], name[400];
    if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3 && std::string(type) == "T") {
      names.insert(name);
    }
  }
  pclose(pipe);
  return names;
}

std::vector<std::string> suffixes() {
  return {
#define VOLACCESS_TYPE(t, code, element, reader) #t,
#include "voxel_types.def"
#undef VOLACCESS_TYPE
  };
}

TEST(Symbols, EveryTypeUnitExportsItsTwelveFunctions) {
  const std::set<std::string> names = defined_functions();
  ASSERT_FALSE(names.empty());
  ASSERT_EQ(suffixes().size(), 18u);
  for (const std::string &t : suffixes()) {
    for (const std::string &name :
         {"resample_" + t, "resample_" + t + "_0", "resample_" + t + "_1",
          "resample_" + t + "_poly", "resample_d_" + t, "resample_d_" + t + "_1",
          "resample_d_" + t + "_poly", "slice_" + t, "slice_" + t + "_0", "slice_" + t + "_1",
          "slice_" + t + "_poly", "plane_" + t}) {
      EXPECT_EQ(names.count(name), 1u) << name;
    }
  }
}

TEST(Symbols, LibraryExportsItsEntryPointsAndBuilders) {
  const std::set<std::string> names = defined_functions();
  for (const char *name : {"get_maps", "free_maps", "get_dtype", "get_datasize", "voxdim",
                           "resample", "resample_d", "slice", "make_lookup_poly",
                           "make_lookup_poly_grad", "make_lookup_sinc", "make_lookup_sinc_grad"}) {
    EXPECT_EQ(names.count(name), 1u) << name;
  }
}

TEST(Symbols, ByteOrderReadersAreLeftToTheModule) {
  const std::set<std::string> names = defined_functions();
  for (const char *name : {"getshort", "getushort", "getint", "getuint", "getint64", "getuint64",
                           "getfloat", "getdouble"}) {
    EXPECT_EQ(names.count(name), 0u) << name;
  }
}

}  // namespace

// GCC counts a prefetch as free of side effects and once deleted every
// call of the helpers that only prefetch, silently; the point kernels
// then waited on memory for each voxel. An optimised archive keeps at
// least one prefetch per encoding in each of the four point stages that
// prefetch (nearest, trilinear, trilinear gradient, lookup tables).
TEST(Symbols, OptimisedPointKernelsKeepTheirPrefetches) {
#if defined(__x86_64__) && defined(__OPTIMIZE__)
  const std::string command =
      std::string("objdump -d --no-show-raw-insn '") + VOLACCESS_ARCHIVE + "'";
  FILE *pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  int prefetches = 0;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    if (std::strstr(line, "\tprefetch") != nullptr) ++prefetches;
  }
  ASSERT_EQ(pclose(pipe), 0);
  EXPECT_GE(prefetches, 4 * 18);
#else
  GTEST_SKIP() << "counted on optimised x86-64 builds only";
#endif
}

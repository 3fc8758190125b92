// Volume records from host values: the three roads, every refusal, and
// what each failure releases.
#include <dirent.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "calvex/host.h"
#include "volaccess.h"

namespace {

namespace fs = std::filesystem;

hxArray *row(std::initializer_list<double> values) {
  hxArray *a = hxCreateDoubleMatrix(1, values.size(), hxREAL);
  std::copy(values.begin(), values.end(), static_cast<double *>(hxGetPr(a)));
  return a;
}

hxArray *matrix(hxSize m, hxSize n, std::initializer_list<double> column_major) {
  hxArray *a = hxCreateDoubleMatrix(m, n, hxREAL);
  std::copy(column_major.begin(), column_major.end(), static_cast<double *>(hxGetPr(a)));
  return a;
}

hxArray *numeric(std::initializer_list<hxSize> dims, hxClassID cls) {
  std::vector<hxSize> d(dims);
  return hxCreateNumericArray(d.size(), d.data(), cls, hxREAL);
}

hxArray *structs(hxSize count) {
  const hxSize dims[2] = {1, count};
  return hxCreateStructArray(2, dims, 0, nullptr);
}

std::size_t open_descriptors() {
  std::size_t n = 0;
  DIR *d = opendir("/proc/self/fd");
  while (readdir(d)) ++n;
  closedir(d);
  return n;
}

std::size_t mappings_of(const std::string &path) {
  std::ifstream maps("/proc/self/maps");
  std::size_t n = 0;
  for (std::string line; std::getline(maps, line);)
    if (line.find(path) != std::string::npos) ++n;
  return n;
}

class Mapping : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("mapping_test_" + std::to_string(getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    calvex::take_console();
    allocations_ = calvex::live_allocations();
    descriptors_ = open_descriptors();
  }
  void TearDown() override {
    for (hxArray *a : values_) hxDestroyArray(a);
    EXPECT_EQ(calvex::live_allocations(), allocations_) << "host allocations leaked";
    EXPECT_EQ(open_descriptors(), descriptors_) << "file descriptors leaked";
    EXPECT_EQ(mappings_of(dir_.string()), 0u) << "file mappings leaked";
    fs::remove_all(dir_);
  }

  hxArray *keep(hxArray *a) {
    values_.push_back(a);
    return a;
  }

  std::string write_file(const std::string &name, const std::vector<unsigned char> &bytes) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }

  std::string write_zeros(const std::string &name, std::size_t size) {
    return write_file(name, std::vector<unsigned char>(size, 0));
  }

  // A struct describing an image file; fields left null are not set.
  hxArray *file_volume(const std::string &path, hxArray *dim, hxArray *dt, hxArray *pinfo = nullptr) {
    hxArray *s = keep(structs(1));
    hxSetField(s, 0, "fname", hxCreateString(path.c_str()));
    if (dim) hxSetField(s, 0, "dim", dim);
    if (dt) hxSetField(s, 0, "dt", dt);
    if (pinfo) hxSetField(s, 0, "pinfo", pinfo);
    return s;
  }

  // Runs get_maps as one host call; the records are released afterwards.
  calvex::CallResult map(const hxArray *value, std::vector<VolumeMap> *copies = nullptr) {
    return calvex::call_boundary([&] {
      int32_t n = -1;
      VolumeMap *maps = get_maps(value, &n);
      if (copies) copies->assign(maps, maps + n);
      inspect_ ? inspect_(maps, n) : void();
      free_maps(maps, n);
    });
  }

  void expect_error(const hxArray *value, const std::string &message) {
    calvex::CallResult r = map(value);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, message);
  }

  fs::path dir_;
  std::vector<hxArray *> values_;
  std::function<void(VolumeMap *, int32_t)> inspect_;
  std::size_t allocations_ = 0;
  std::size_t descriptors_ = 0;
};

TEST(Records, DataSizeOfEveryCode) {
  const int codes8[] = {2, 130};
  const int codes16[] = {4, 132, 32772, 32900};
  const int codes32[] = {8, 136, 32776, 32904, 16, 32784};
  const int codes64[] = {1024, 1280, 33792, 34048, 64, 32832};
  for (int c : codes8) EXPECT_EQ(get_datasize(c), 8) << c;
  for (int c : codes16) EXPECT_EQ(get_datasize(c), 16) << c;
  for (int c : codes32) EXPECT_EQ(get_datasize(c), 32) << c;
  for (int c : codes64) EXPECT_EQ(get_datasize(c), 64) << c;
  for (int c : {0, 1, 32770, 32898, 256, 512, 768, -4}) EXPECT_EQ(get_datasize(c), 0) << c;
}

TEST(Records, VoxelSizesAreColumnLengths) {
  VolumeMap map{};
  for (int e = 0; e < 16; ++e) map.mat[e] = e % 5 == 0 ? 1.0 : 0.0;
  double vox[3];
  voxdim(&map, vox);
  EXPECT_EQ(vox[0], 1.0);
  EXPECT_EQ(vox[1], 1.0);
  EXPECT_EQ(vox[2], 1.0);

  map.mat[0] = -2, map.mat[5] = 3, map.mat[10] = 0.5;
  map.mat[3] = map.mat[7] = map.mat[11] = 99;  // the fourth row never matters
  map.mat[12] = map.mat[13] = map.mat[14] = -7;
  voxdim(&map, vox);
  EXPECT_EQ(vox[0], 2.0);
  EXPECT_EQ(vox[1], 3.0);
  EXPECT_EQ(vox[2], 0.5);

  // A rotation about z keeps the sizes: columns (c, s, 0) and (-s, c, 0).
  const double c = std::cos(0.3), s = std::sin(0.3);
  map.mat[0] = 2 * c, map.mat[1] = 2 * s, map.mat[4] = -3 * s, map.mat[5] = 3 * c;
  voxdim(&map, vox);
  EXPECT_NEAR(vox[0], 2.0, 1e-15);
  EXPECT_NEAR(vox[1], 3.0, 1e-15);
  EXPECT_EQ(vox[2], 0.5);
}

TEST_F(Mapping, PlainUint8ArrayIsOneRecord) {
  hxArray *a = keep(numeric({64, 64}, hxUINT8_CLASS));
  inspect_ = [&](VolumeMap *maps, int32_t n) {
    ASSERT_EQ(n, 1);
    const VolumeMap &m = maps[0];
    EXPECT_EQ(m.dim[0], 64u);
    EXPECT_EQ(m.dim[1], 64u);
    EXPECT_EQ(m.dim[2], 1u);
    EXPECT_EQ(m.dtype, 2);
    EXPECT_EQ(m.data[0], hxGetPr(a));
    EXPECT_EQ(m.scale[0], 1.0);
    EXPECT_EQ(m.offset[0], 0.0);
    for (int e = 0; e < 16; ++e) EXPECT_EQ(m.mat[e], e % 5 == 0 ? 1.0 : 0.0);
    EXPECT_EQ(m.map_addr, nullptr);
    EXPECT_EQ(m.map_len, 0u);
  };
  EXPECT_TRUE(map(a).ok);
}

TEST_F(Mapping, PlainArrayPlanesFollowEachOther) {
  struct Case {
    hxClassID cls;
    int32_t code;
    std::size_t bytes;
  };
  const Case cases[] = {{hxDOUBLE_CLASS, 64, 8},  {hxSINGLE_CLASS, 16, 4}, {hxINT32_CLASS, 8, 4},
                        {hxUINT32_CLASS, 136, 4}, {hxINT16_CLASS, 4, 2},   {hxUINT16_CLASS, 132, 2},
                        {hxINT8_CLASS, 130, 1},   {hxUINT8_CLASS, 2, 1},   {hxINT64_CLASS, 1024, 8},
                        {hxUINT64_CLASS, 1280, 8}};
  for (const Case &c : cases) {
    hxArray *a = keep(numeric({3, 5, 4}, c.cls));
    inspect_ = [&](VolumeMap *maps, int32_t n) {
      ASSERT_EQ(n, 1);
      EXPECT_EQ(maps[0].dtype, c.code);
      for (int k = 0; k < 4; ++k)
        EXPECT_EQ(maps[0].data[k], static_cast<unsigned char *>(hxGetPr(a)) + k * 15 * c.bytes);
    };
    EXPECT_TRUE(map(a).ok) << c.code;
  }
}

TEST_F(Mapping, PlainArraysThatAreNotVolumesAreRefused) {
  hxArray *complex = keep(hxCreateDoubleMatrix(2, 2, hxCOMPLEX));
  hxArray *sparse = keep(hxCreateSparse(4, 4));
  const hxSize dims[2] = {2, 2};
  hxArray *logical = keep(hxCreateLogicalArray(2, dims));
  hxArray *text = keep(hxCreateString("abc"));
  hxArray *four_d = keep(numeric({2, 2, 2, 2}, hxDOUBLE_CLASS));
  for (const hxArray *a : {complex, sparse, logical, text, four_d}) expect_error(a, "What do I do with this?");
  hxArray *trailing_one = keep(numeric({2, 2, 2, 1}, hxDOUBLE_CLASS));
  EXPECT_TRUE(map(trailing_one).ok);
}

TEST_F(Mapping, EmptyStructArrayGivesNoRecords) {
  const hxSize dims[2] = {1, 0};
  hxArray *s = keep(hxCreateStructArray(2, dims, 0, nullptr));
  inspect_ = [](VolumeMap *maps, int32_t n) {
    EXPECT_EQ(n, 0);
    EXPECT_NE(maps, nullptr);
  };
  EXPECT_TRUE(map(s).ok);
}

TEST_F(Mapping, FileOfEveryDtCodeInBothByteOrders) {
  struct Case {
    int dt;
    int32_t plain, swapped;
    int bytes;
  };
  const Case cases[] = {{2, 2, 2, 1},       {256, 130, 130, 1},   {4, 4, 32772, 2},       {512, 132, 32900, 2},
                        {8, 8, 32776, 4},   {768, 136, 32904, 4}, {1024, 1024, 33792, 8}, {1280, 1280, 34048, 8},
                        {16, 16, 32784, 4}, {64, 64, 32832, 8}};
  for (const Case &c : cases) {
    const std::string path = write_zeros("v" + std::to_string(c.dt), 4 * 3 * 2 * c.bytes);
    for (int flag : {0, 1}) {
      hxArray *s = file_volume(path, row({4, 3, 2}), row({double(c.dt), double(flag)}));
      inspect_ = [&](VolumeMap *maps, int32_t n) {
        ASSERT_EQ(n, 1);
        const VolumeMap &m = maps[0];
        EXPECT_EQ(m.dtype, flag ? c.swapped : c.plain) << c.dt;
        EXPECT_EQ(get_datasize(m.dtype), 8 * c.bytes);
        EXPECT_EQ(m.map_len, static_cast<uint64_t>(24 * c.bytes));
        ASSERT_NE(m.map_addr, nullptr);
        EXPECT_EQ(m.data[0], m.map_addr);
        EXPECT_EQ(m.data[1], static_cast<unsigned char *>(m.map_addr) + 12 * c.bytes);
        EXPECT_EQ(mappings_of(path), 1u);
      };
      EXPECT_TRUE(map(s).ok) << c.dt << " swapped " << flag;
    }
  }
}

TEST_F(Mapping, FileVoxelsAreReadInPlace) {
  const std::string path = write_file("bytes", {9, 8, 7, 6, 5, 4, 3, 2});
  hxArray *s = file_volume(path, row({2, 2, 2}), row({2, 0}));
  inspect_ = [](VolumeMap *maps, int32_t) {
    EXPECT_EQ(static_cast<unsigned char *>(maps[0].data[0])[0], 9);
    EXPECT_EQ(static_cast<unsigned char *>(maps[0].data[1])[3], 2);
  };
  EXPECT_TRUE(map(s).ok);
}

TEST_F(Mapping, DimEntriesAreAbsoluteAndTruncated) {
  const std::string path = write_zeros("v", 24);
  hxArray *s = file_volume(path, row({-4.9, 3.2, 2.99}), row({2, 0}));
  inspect_ = [](VolumeMap *maps, int32_t) {
    EXPECT_EQ(maps[0].dim[0], 4u);
    EXPECT_EQ(maps[0].dim[1], 3u);
    EXPECT_EQ(maps[0].dim[2], 2u);
  };
  EXPECT_TRUE(map(s).ok);
}

TEST_F(Mapping, DtCodesOutsideTheTableAreRefused) {
  const std::string path = write_zeros("v", 64);
  expect_error(file_volume(path, row({2, 2, 2}), row({32, 0})), "Unknown datatype.");
  expect_error(file_volume(path, row({2, 2, 2}), row({128, 0})), "Unknown datatype.");
  expect_error(file_volume(path, row({2, 2, 2}), row({NAN, 0})), "Unknown datatype.");
  expect_error(file_volume(path, row({2, 2, 2}), row({2})), "Wrong sized dt.");
  expect_error(file_volume(path, row({2, 2, 2}), row({2, 0, 0})), "Wrong sized dt.");
}

TEST_F(Mapping, OneColumnPinfoPlacesContiguousPlanes) {
  const std::size_t volume = 4 * 3 * 2 * 2;
  const std::string exact = write_zeros("exact", 352 + volume);
  const std::string short_by_one = write_zeros("short", 352 + volume - 1);
  hxArray *pinfo = matrix(3, 1, {2.5, -1, 352});
  hxArray *s = file_volume(exact, row({4, 3, 2}), row({4, 0}), pinfo);
  inspect_ = [](VolumeMap *maps, int32_t) {
    const VolumeMap &m = maps[0];
    auto *base = static_cast<unsigned char *>(m.map_addr);
    EXPECT_EQ(m.data[0], base + 352);
    EXPECT_EQ(m.data[1], base + 352 + 24);
    for (int k = 0; k < 2; ++k) {
      EXPECT_EQ(m.scale[k], 2.5);
      EXPECT_EQ(m.offset[k], -1.0);
    }
  };
  EXPECT_TRUE(map(s).ok);
  inspect_ = nullptr;
  expect_error(file_volume(short_by_one, row({4, 3, 2}), row({4, 0}), matrix(3, 1, {1, 0, 352})), "File too small.");
  // A negative byte position is taken by its absolute value.
  EXPECT_TRUE(map(file_volume(exact, row({4, 3, 2}), row({4, 0}), matrix(3, 1, {1, 0, -352}))).ok);
}

TEST_F(Mapping, PerPlanePinfoIsCheckedPlaneByPlane) {
  const std::string path = write_zeros("v", 100);
  // Planes of 12 bytes: at 0, 88 (ends exactly at 100) and 50.
  hxArray *fits = matrix(3, 3, {1, 0, 0, 2, 5, 88, 3, 6, 50});
  inspect_ = [](VolumeMap *maps, int32_t) {
    const VolumeMap &m = maps[0];
    auto *base = static_cast<unsigned char *>(m.map_addr);
    EXPECT_EQ(m.data[1], base + 88);
    EXPECT_EQ(m.data[2], base + 50);
    EXPECT_EQ(m.scale[2], 3.0);
    EXPECT_EQ(m.offset[1], 5.0);
  };
  EXPECT_TRUE(map(file_volume(path, row({4, 3, 3}), row({2, 0}), fits)).ok);
  inspect_ = nullptr;
  hxArray *one_past = matrix(3, 3, {1, 0, 0, 1, 0, 89, 1, 0, 0});
  expect_error(file_volume(path, row({4, 3, 3}), row({2, 0}), one_past), "File too small.");
}

TEST_F(Mapping, PinfoOfTheWrongShapeIsRefused) {
  const std::string path = write_zeros("v", 100);
  expect_error(file_volume(path, row({4, 3, 2}), row({2, 0}), matrix(2, 1, {1, 0})), "Wrong sized pinfo.");
  expect_error(file_volume(path, row({4, 3, 2}), row({2, 0}), matrix(3, 3, {1, 0, 0, 1, 0, 0, 1, 0, 0})),
               "Wrong sized pinfo.");
}

TEST_F(Mapping, FileWithoutPinfoMustHoldEveryPlane) {
  expect_error(file_volume(write_zeros("short", 23), row({4, 3, 2}), row({2, 0})), "File too small.");
  EXPECT_TRUE(map(file_volume(write_zeros("exact", 24), row({4, 3, 2}), row({2, 0}))).ok);
}

TEST_F(Mapping, NumericFnameMapsNothing) {
  hxArray *s = keep(structs(1));
  hxSetField(s, 0, "dim", row({1, 1, 1}));
  hxSetField(s, 0, "dt", row({2, 0}));
  hxSetField(s, 0, "fname", row({1, 2, 3}));
  expect_error(s, "File too small.");
  // An empty volume needs no bytes, so it maps to a record without a mapping.
  hxSetField(s, 0, "dim", row({0, 4, 4}));
  inspect_ = [](VolumeMap *maps, int32_t) {
    EXPECT_EQ(maps[0].map_addr, nullptr);
    EXPECT_EQ(maps[0].map_len, 0u);
  };
  EXPECT_TRUE(map(s).ok);
}

TEST_F(Mapping, MissingFieldsOnTheFileRoad) {
  const std::string path = write_zeros("v", 8);
  hxArray *no_dim = keep(structs(1));
  hxSetField(no_dim, 0, "fname", hxCreateString(path.c_str()));
  expect_error(no_dim, "Can't find dim.");
  expect_error(file_volume(path, row({2, 2}), row({2, 0})), "Wrong sized dim.");
  expect_error(file_volume(path, row({2, 2, 2}), nullptr), "Can't find dt.");
  hxArray *no_fname = keep(structs(1));
  hxSetField(no_fname, 0, "dim", row({2, 2, 2}));
  hxSetField(no_fname, 0, "dt", row({2, 0}));
  expect_error(no_fname, "Can't find fname.");
}

TEST_F(Mapping, FilesThatCannotBeMapped) {
  expect_error(file_volume((dir_ / "absent").string(), row({2, 2, 2}), row({2, 0})), "Can't open image file.");
  // A file of no bytes cannot be mapped; the system's reason is printed first.
  expect_error(file_volume(write_zeros("empty", 0), row({0, 0, 0}), row({2, 0})), "Can't map image file.");
  // A directory opens, but does not map.
  expect_error(file_volume(dir_.string(), row({1, 1, 1}), row({2, 0})), "Can't map image file.");
}

TEST_F(Mapping, MatIsCopiedOrIdentity) {
  const std::string path = write_zeros("v", 8);
  hxArray *s = file_volume(path, row({2, 2, 2}), row({2, 0}));
  hxArray *mat = hxCreateDoubleMatrix(4, 4, hxREAL);
  for (int e = 0; e < 16; ++e) static_cast<double *>(hxGetPr(mat))[e] = e + 0.5;
  hxSetField(s, 0, "mat", mat);
  inspect_ = [](VolumeMap *maps, int32_t) {
    for (int e = 0; e < 16; ++e) EXPECT_EQ(maps[0].mat[e], e + 0.5);
  };
  EXPECT_TRUE(map(s).ok);
  hxSetField(s, 0, "mat", hxCreateDoubleMatrix(3, 4, hxREAL));
  inspect_ = nullptr;
  expect_error(s, "Wrong sized mat.");
}

TEST_F(Mapping, LaterElementFailureReleasesEarlierRecords) {
  const std::string good = write_zeros("good", 8);
  hxArray *s = keep(structs(2));
  for (hxSize e = 0; e < 2; ++e) {
    hxSetField(s, e, "dim", row({2, 2, 2}));
    hxSetField(s, e, "dt", row({2, 0}));
  }
  hxSetField(s, 0, "fname", hxCreateString(good.c_str()));
  hxSetField(s, 1, "fname", hxCreateString(write_zeros("bad", 7).c_str()));
  expect_error(s, "File too small.");
  hxSetField(s, 1, "dim", nullptr);
  expect_error(s, "Can't find dim.");
}

TEST_F(Mapping, InMemoryVolumeBorrowsDat) {
  hxArray *s = keep(structs(1));
  hxArray *dat = numeric({4, 3, 2}, hxUINT8_CLASS);
  hxSetField(s, 0, "dat", dat);
  hxSetField(s, 0, "dt", row({2, 0}));
  inspect_ = [&](VolumeMap *maps, int32_t n) {
    ASSERT_EQ(n, 1);
    EXPECT_EQ(maps[0].dtype, 2);
    EXPECT_EQ(maps[0].data[0], hxGetPr(dat));
    EXPECT_EQ(maps[0].data[1], static_cast<unsigned char *>(hxGetPr(dat)) + 12);
    EXPECT_EQ(maps[0].map_addr, nullptr);
  };
  EXPECT_TRUE(map(s).ok);
  hxSetField(s, 0, "dt", row({2}));
  EXPECT_TRUE(map(s).ok);
}

TEST_F(Mapping, InMemoryDtMustMatchTheClass) {
  hxArray *s = keep(structs(1));
  hxSetField(s, 0, "dat", numeric({4, 3}, hxUINT8_CLASS));
  hxSetField(s, 0, "dt", row({4, 0}));
  expect_error(s, "Incompatible datatype in dt.");
  EXPECT_EQ(calvex::take_console(), "dtype=2 and dt=4\n");
  hxSetField(s, 0, "dt", row({2, 0, 0}));
  expect_error(s, "Wrong sized dt.");
}

TEST_F(Mapping, InMemory64BitIntegers) {
  for (auto [cls, code] : {std::pair{hxINT64_CLASS, 1024}, std::pair{hxUINT64_CLASS, 1280}}) {
    hxArray *s = keep(structs(1));
    hxSetField(s, 0, "dat", numeric({2, 2}, cls));
    hxSetField(s, 0, "dt", row({double(code), 0}));
    inspect_ = [code = code](VolumeMap *maps, int32_t) { EXPECT_EQ(maps[0].dtype, code); };
    EXPECT_TRUE(map(s).ok);
  }
}

// "dt" beside "dat" carries the file's datatype code, which differs from
// the record's type code for int8, uint16 and uint32.
TEST_F(Mapping, InMemoryDtOfEveryClassIsItsFileCode) {
  struct Case {
    hxClassID cls;
    int dt;
    int32_t code;
  };
  const Case cases[] = {{hxUINT8_CLASS, 2, 2},       {hxINT8_CLASS, 256, 130},     {hxINT16_CLASS, 4, 4},
                        {hxUINT16_CLASS, 512, 132},  {hxINT32_CLASS, 8, 8},        {hxUINT32_CLASS, 768, 136},
                        {hxINT64_CLASS, 1024, 1024}, {hxUINT64_CLASS, 1280, 1280}, {hxSINGLE_CLASS, 16, 16},
                        {hxDOUBLE_CLASS, 64, 64}};
  for (const Case &c : cases) {
    hxArray *s = keep(structs(1));
    hxSetField(s, 0, "dat", numeric({2, 2}, c.cls));
    hxSetField(s, 0, "dt", row({double(c.dt), 0}));
    inspect_ = [&](VolumeMap *maps, int32_t) { EXPECT_EQ(maps[0].dtype, c.code) << c.dt; };
    EXPECT_TRUE(map(s).ok) << c.dt;
    hxSetField(s, 0, "dt", row({double(c.code == c.dt ? c.dt + 1 : c.code), 0}));
    expect_error(s, "Incompatible datatype in dt.");
    calvex::take_console();
  }
}

TEST_F(Mapping, InMemoryPinfo) {
  hxArray *s = keep(structs(1));
  hxSetField(s, 0, "dat", numeric({2, 2, 3}, hxINT16_CLASS));
  hxSetField(s, 0, "pinfo", matrix(3, 1, {2, 5, 0}));
  inspect_ = [](VolumeMap *maps, int32_t) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(maps[0].scale[k], 2.0);
      EXPECT_EQ(maps[0].offset[k], 5.0);
    }
  };
  EXPECT_TRUE(map(s).ok);
  hxSetField(s, 0, "pinfo", matrix(2, 3, {1, 10, 2, 20, 3, 30}));
  inspect_ = [](VolumeMap *maps, int32_t) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(maps[0].scale[k], k + 1.0);
      EXPECT_EQ(maps[0].offset[k], 10.0 * (k + 1));
    }
  };
  EXPECT_TRUE(map(s).ok);
  hxSetField(s, 0, "pinfo", matrix(3, 3, {1, 10, 0, 2, 20, 0, 3, 30, 0}));
  EXPECT_TRUE(map(s).ok);
  inspect_ = nullptr;
  hxSetField(s, 0, "pinfo", matrix(3, 1, {2, 5, 352}));
  expect_error(s, "pinfo(3) must equal 0 to read dat field.");
  hxSetField(s, 0, "pinfo", matrix(4, 1, {2, 5, 0, 0}));
  expect_error(s, "Wrong sized pinfo.");
  hxSetField(s, 0, "pinfo", matrix(2, 2, {2, 5, 0, 0}));
  expect_error(s, "Wrong sized pinfo.");
}

TEST_F(Mapping, InMemoryDimMustAgree) {
  hxArray *s = keep(structs(1));
  hxSetField(s, 0, "dat", numeric({64, 64, 3}, hxUINT8_CLASS));
  hxSetField(s, 0, "dim", row({64, 64, 2}));
  expect_error(s, "Incompatible volume dimensions in dim.");
  hxSetField(s, 0, "dim", row({-64, 64.7, -3}));
  EXPECT_TRUE(map(s).ok);
  hxSetField(s, 0, "dim", row({64, NAN, 3}));
  expect_error(s, "Incompatible volume dimensions in dim.");
  hxSetField(s, 0, "dim", row({64, 64}));
  expect_error(s, "Wrong sized dim.");
}

TEST_F(Mapping, InMemoryRefusals) {
  hxArray *s = keep(structs(1));
  hxSetField(s, 0, "dat", hxCreateString("voxels"));
  expect_error(s, "Unknown volume datatype.");
  hxSetField(s, 0, "dat", numeric({2, 2, 2, 2}, hxDOUBLE_CLASS));
  expect_error(s, "Too many dimensions.");
  hxSetField(s, 0, "dat", hxCreateSparse(3, 3));
  expect_error(s, "What do I do with this?");
}

TEST_F(Mapping, FirstElementDecidesTheRoad) {
  hxArray *s = keep(structs(2));
  hxSetField(s, 0, "dat", numeric({2, 2}, hxUINT8_CLASS));
  hxSetField(s, 1, "dim", row({2, 2, 1}));
  expect_error(s, "Can't find dat.");
}

TEST_F(Mapping, DimensionsTheKernelsCannotIndexAreRefused) {
  const std::string path = write_zeros("v", 8);
  const std::string too_large = "Volume too large: each dimension and each plane must hold fewer than 2^31 voxels.";
  expect_error(file_volume(path, row({65536, 32768, 1}), row({2, 0})), too_large);
  expect_error(file_volume(path, row({1, 1, 2147483648.0}), row({2, 0})), too_large);
  expect_error(file_volume(path, row({1, INFINITY, 1}), row({2, 0})), too_large);
  expect_error(file_volume(path, row({1, NAN, 1}), row({2, 0})), "Non-finite value in dim.");
  // Just below the limit the plane is accepted, and then the file is too small.
  expect_error(file_volume(path, row({65535, 32768, 1}), row({2, 0})), "File too small.");
}

TEST_F(Mapping, HostileBytePositionsNeverWrap) {
  const std::string path = write_zeros("v", 64);
  expect_error(file_volume(path, row({2, 2, 1}), row({2, 0}), matrix(3, 1, {1, 0, 1.8446744073709552e19})),
               "File too small.");
  expect_error(file_volume(path, row({2, 2, 1}), row({2, 0}), matrix(3, 1, {1, 0, 1.8446744073709550e19})),
               "File too small.");
  expect_error(file_volume(path, row({2, 2, 1}), row({2, 0}), matrix(3, 1, {1, 0, NAN})), "File too small.");
  expect_error(file_volume(path, row({2, 2, 2}), row({2, 0}), matrix(3, 2, {1, 0, 0, 1, 0, INFINITY})),
               "File too small.");
}

TEST_F(Mapping, FieldsOfOtherClassesAreReadWithinBounds) {
  const std::string path = write_zeros("v", 8);
  hxArray *s = file_volume(path, nullptr, nullptr);
  hxArray *dim = numeric({1, 3}, hxINT8_CLASS);
  for (int k = 0; k < 3; ++k) static_cast<int8_t *>(hxGetPr(dim))[k] = 2;
  hxSetField(s, 0, "dim", dim);
  hxArray *dt = numeric({1, 2}, hxUINT16_CLASS);
  static_cast<uint16_t *>(hxGetPr(dt))[0] = 2;
  hxSetField(s, 0, "dt", dt);
  inspect_ = [](VolumeMap *maps, int32_t) { EXPECT_EQ(maps[0].dim[2], 2u); };
  EXPECT_TRUE(map(s).ok);
  inspect_ = nullptr;
  const hxSize one[2] = {1, 3};
  const char *names[1] = {"x"};
  hxSetField(s, 0, "dim", hxCreateStructArray(2, one, 1, names));
  expect_error(s, "dim must be numeric.");
}

TEST_F(Mapping, GetDtypeReadsTheRawCode) {
  hxArray *s = keep(structs(1));
  hxSetField(s, 0, "dt", row({512, 1}));
  int32_t code = 0;
  EXPECT_TRUE(calvex::call_boundary([&] { code = get_dtype(s); }).ok);
  EXPECT_EQ(code, 512);

  auto dtype_error = [](const hxArray *v) { return calvex::call_boundary([&] { get_dtype(v); }).message; };
  EXPECT_EQ(dtype_error(keep(row({1, 2}))), "Not a structure.");
  EXPECT_EQ(dtype_error(keep(structs(1))), "Can't find dt.");
  hxSetField(s, 0, "dt", row({512}));
  EXPECT_EQ(dtype_error(s), "Wrong sized dt.");
}

TEST(FreeMaps, ZeroFilledRecordsReleaseOnlyTheArray) {
  const std::size_t before = calvex::live_allocations();
  auto *maps = static_cast<VolumeMap *>(hxCalloc(3, sizeof(VolumeMap)));
  maps[1].scale = static_cast<double *>(hxCalloc(2, sizeof(double)));
  free_maps(maps, 3);
  EXPECT_EQ(calvex::live_allocations(), before);
}

}  // namespace

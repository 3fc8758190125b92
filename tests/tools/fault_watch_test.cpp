// Mappings watched by a process that must outlive a file shrinking under
// it: a read of a vanished page gives zeros and marks the watch, and only
// the watches of that file; faults elsewhere end the process as before.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "errors.h"
#include "fault_guard.h"
#include "header_bytes.h"
#include "reslicing.h"
#include "scratch_bytes.h"

namespace {

using vacli_test::ScratchDir;
using vaeng::FaultWatch;

const long kPage = ::sysconf(_SC_PAGESIZE);
constexpr int kPages = 4;

// A file of kPages pages of 0x11 bytes, mapped shared and read-only.
class MappedFile {
 public:
  MappedFile(const ScratchDir &dir, const std::string &name) : path_(dir.file(name)) {
    dir.write(name, std::vector<unsigned char>(static_cast<std::size_t>(kPages * kPage), 0x11));
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    bytes_ = static_cast<const volatile unsigned char *>(::mmap(nullptr, length(), PROT_READ, MAP_SHARED, fd, 0));
    ::close(fd);
  }
  ~MappedFile() { ::munmap(const_cast<unsigned char *>(bytes_), length()); }
  MappedFile(const MappedFile &) = delete;
  MappedFile &operator=(const MappedFile &) = delete;

  std::size_t length() const { return static_cast<std::size_t>(kPages * kPage); }
  const volatile unsigned char *bytes() const { return bytes_; }
  // Leaves the first page and a half.
  void shrink() const { ASSERT_EQ(::truncate(path_.c_str(), kPage + kPage / 2), 0); }
  // The sum of one byte of every page.
  int read_every_page() const {
    int sum = 0;
    for (int p = 0; p < kPages; ++p) sum += bytes_[static_cast<std::size_t>(p * kPage) + 7];
    return sum;
  }

 private:
  std::string path_;
  const volatile unsigned char *bytes_ = nullptr;
};

// Two owners may watch one mapping: both are told.
TEST(FaultWatch, VanishedPagesReadAsZerosAndMarkEveryWatchOfThem) {
  const ScratchDir dir;
  const MappedFile file(dir, "brain.nii");
  FaultWatch watch, second;
  watch.watch(const_cast<unsigned char *>(file.bytes()), file.length());
  second.watch(const_cast<unsigned char *>(file.bytes()), file.length());
  EXPECT_EQ(file.read_every_page(), kPages * 0x11);
  EXPECT_FALSE(watch.faulted());
  file.shrink();
  EXPECT_EQ(file.read_every_page(), 2 * 0x11);
  EXPECT_TRUE(watch.faulted());
  EXPECT_TRUE(second.faulted());
  EXPECT_EQ(file.read_every_page(), 2 * 0x11);
}

// Every mapping watched while one lives, as in the Python module.
struct WatchEveryMapping {
  WatchEveryMapping() { vaeng::watch_every_mapping(); }
  ~WatchEveryMapping() { vaeng::watch_every_mapping(false); }
};

// A 64x64x32 image of `datatype`, `volumes` volumes, every stored byte 1.
std::vector<unsigned char> image_file(int16_t datatype, int16_t bitpix, int16_t volumes) {
  nifti_1_header h = vacli_test::basic_v1();
  h.dim[1] = h.dim[2] = 64;
  h.dim[3] = 32;
  if (volumes > 1) {
    h.dim[0] = 5;
    h.dim[5] = volumes;
    h.intent_code = NIFTI_INTENT_VECTOR;
  }
  h.datatype = datatype;
  h.bitpix = bitpix;
  std::vector<unsigned char> bytes = vacli_test::bytes_of(h);
  bytes.resize(352 + std::size_t{64} * 64 * 32 * static_cast<std::size_t>(bitpix / 8 * volumes), 1);
  return bytes;
}

// With every mapping watched, a reslice whose source, mask or
// displacement field loses its pages while the planes are computed
// fails naming that file, and the process goes on.
TEST(WatchedMappings, AFileShrinkingDuringAResliceFailsItNamingTheFile) {
  const ScratchDir dir;
  const std::map<std::string, std::vector<unsigned char>> files = {{"source.nii", image_file(DT_INT16, 16, 1)},
                                                                   {"mask.nii", image_file(DT_UINT8, 8, 1)},
                                                                   {"field.nii", image_file(DT_FLOAT32, 32, 3)}};
  for (const auto &[shrinking, unused] : files) {
    for (const auto &[name, bytes] : files) dir.write(name, bytes);
    const WatchEveryMapping watched;
    const vaeng::NiftiImage source = vaeng::NiftiImage::open(dir.file("source.nii"));
    vaeng::TransformChain chain;
    chain.then_field(dir.file("field.nii"));
    vaeng::ResliceOptions options;
    options.mask_path = dir.file("mask.nii");
    const std::string cut = dir.file(shrinking);
    options.progress = [&](const char *, int64_t done, int64_t) {
      if (done == 1) {
        EXPECT_EQ(::truncate(cut.c_str(), 352 + kPage), 0);
      }
    };
    std::vector<unsigned char> out;
    vaeng::NiftiMemorySink sink({"out", "background", "dtype"}, [&](uint64_t size) {
      out.resize(size);
      return out.data();
    });
    try {
      vaeng::reslice(source, source.header(), chain, options, sink);
      ADD_FAILURE() << shrinking << ": the reslice succeeded";
    } catch (const vaeng::Error &e) {
      EXPECT_EQ(std::string(e.what()), cut + ": the image changed on disk while it was being read");
    }
  }
}

TEST(FaultWatch, ThreadsReadingManyWatchedMappingsMarkOnlyTheShrunkFile) {
  const ScratchDir dir;
  std::vector<std::unique_ptr<MappedFile>> shrunk, kept;
  std::vector<std::unique_ptr<FaultWatch>> shrunk_watches, kept_watches;
  for (int i = 0; i < 6; ++i) {
    shrunk.push_back(std::make_unique<MappedFile>(dir, "a" + std::to_string(i)));
    kept.push_back(std::make_unique<MappedFile>(dir, "b" + std::to_string(i)));
    for (auto *files : {&shrunk, &kept}) {
      auto &watches = files == &shrunk ? shrunk_watches : kept_watches;
      watches.push_back(std::make_unique<FaultWatch>());
      watches.back()->watch(const_cast<unsigned char *>(files->back()->bytes()), files->back()->length());
    }
  }
  for (const auto &file : shrunk) file->shrink();
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      for (int round = 0; round < 50; ++round)
        for (std::size_t i = 0; i < shrunk.size(); ++i) {
          EXPECT_EQ(shrunk[i]->read_every_page(), 2 * 0x11);
          EXPECT_EQ(kept[i]->read_every_page(), kPages * 0x11);
        }
    });
  for (std::thread &reader : readers) reader.join();
  for (std::size_t i = 0; i < shrunk.size(); ++i) {
    EXPECT_TRUE(shrunk_watches[i]->faulted()) << i;
    EXPECT_FALSE(kept_watches[i]->faulted()) << i;
  }
}

// A fault the watch does not take goes on to the handler that was there
// before it: the default one, which ends the process with SIGBUS, or under
// AddressSanitizer the sanitizer's, which reports the BUS and aborts.
#if defined(__SANITIZE_ADDRESS__)
#define FAULT_WATCH_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FAULT_WATCH_TEST_ASAN 1
#endif
#endif
#ifdef FAULT_WATCH_TEST_ASAN
constexpr int kFaultSignal = SIGABRT;
constexpr const char *kFaultMessage = "AddressSanitizer: BUS";
#else
constexpr int kFaultSignal = SIGBUS;
constexpr const char *kFaultMessage = "";
#endif

TEST(FaultWatchDeathTest, AFaultOutsideEveryWatchEndsTheProcessAsBefore) {
  const ScratchDir dir;
  const MappedFile watched(dir, "watched.nii");
  const MappedFile other(dir, "other.nii");
  FaultWatch watch;
  watch.watch(const_cast<unsigned char *>(watched.bytes()), watched.length());
  other.shrink();
  EXPECT_EXIT(other.read_every_page(), testing::KilledBySignal(kFaultSignal), kFaultMessage);
}

TEST(FaultWatchDeathTest, AWatchThatEndedCatchesNothing) {
  const ScratchDir dir;
  const MappedFile file(dir, "brain.nii");
  {
    FaultWatch watch;
    watch.watch(const_cast<unsigned char *>(file.bytes()), file.length());
  }
  file.shrink();
  EXPECT_EXIT(file.read_every_page(), testing::KilledBySignal(kFaultSignal), kFaultMessage);
}

}  // namespace

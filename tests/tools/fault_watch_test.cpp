// Mappings watched by a process that must outlive a file shrinking under
// it: a read of a vanished page gives zeros and marks the watch, and only
// the watches of that file; faults elsewhere end the process as before.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fault_guard.h"
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

TEST(FaultWatch, VanishedPagesReadAsZerosAndMarkTheWatch) {
  const ScratchDir dir;
  const MappedFile file(dir, "brain.nii");
  FaultWatch watch;
  watch.watch(const_cast<unsigned char *>(file.bytes()), file.length());
  EXPECT_EQ(file.read_every_page(), kPages * 0x11);
  EXPECT_FALSE(watch.faulted());
  file.shrink();
  EXPECT_EQ(file.read_every_page(), 2 * 0x11);
  EXPECT_TRUE(watch.faulted());
  EXPECT_EQ(file.read_every_page(), 2 * 0x11);
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

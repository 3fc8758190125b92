// A mapped image that shrinks on disk: the program reports it, exits with
// status 1 and leaves no partial output behind, instead of dying of SIGBUS.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "fault_guard.h"
#include "header_bytes.h"
#include "nifti_image.h"
#include "output_file.h"
#include "scratch_bytes.h"
#include "volume_description.h"

namespace {

using vacli_test::ScratchDir;
using vaeng::FaultGuard;
using vaeng::NiftiImage;

const char kChanged[] = "the image changed on disk while it was being read";

// A 4x5x6 int16 image of zeros, written as `name` in `dir`.
std::string write_image(const ScratchDir &dir, const std::string &name) {
  const nifti_1_header h = vacli_test::basic_v1();
  std::vector<unsigned char> bytes = vacli_test::bytes_of(h);
  bytes.resize(static_cast<std::size_t>(h.vox_offset) + 4 * 5 * 6 * 2, 0);
  dir.write(name, bytes);
  return dir.file(name);
}

// Maps the image, empties its file, then samples it: the read faults.
void sample_after_truncation(const std::string &path) {
  const NiftiImage image = NiftiImage::open(path);
  const vaeng::MappedVolume volume(image, 1);
  if (::truncate(path.c_str(), 0) != 0) std::_Exit(3);
  const double x[] = {2}, y[] = {2}, z[] = {2};
  double out[1];
  resample(1, &volume.map(), out, x, y, z, 0, 0);
  std::_Exit(0);
}

TEST(FaultGuardDeathTest, ShrunkImageIsReportedByNameWithStatusOne) {
  const ScratchDir dir;
  const std::string path = write_image(dir, "brain.nii");
  EXPECT_EXIT(sample_after_truncation(path), testing::ExitedWithCode(1),
              "^volaccess: " + path + ": " + kChanged + "\n$");
}

TEST(FaultGuardDeathTest, UnnamedOutputVanishesWithTheProgram) {
  const ScratchDir dir;
  const std::string path = write_image(dir, "brain.nii");
  const std::string out = dir.file("out.nii");
  EXPECT_EXIT(
      {
        vaeng::OutputFile file(out);
        if (::write(file.fd(), "partial", 7) != 7) std::_Exit(3);
        sample_after_truncation(path);
      },
      testing::ExitedWithCode(1), kChanged);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"brain.nii"});
}

// Where the file system cannot make unnamed files, the output is written
// under a hidden name: a fault removes it, since no destructor runs.
TEST(FaultGuardDeathTest, HiddenTemporaryOutputIsRemoved) {
  const ScratchDir dir;
  const std::string hidden = dir.file(".out.nii.tmp");
  EXPECT_EXIT(
      {
        const FaultGuard guard("brain.nii");
        const int fd = ::open(hidden.c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd < 0) std::_Exit(3);
        vaeng::abandon_on_fault(hidden);
        std::raise(SIGBUS);
        std::_Exit(0);
      },
      testing::ExitedWithCode(1), std::string("volaccess: brain.nii: ") + kChanged);
  EXPECT_TRUE(dir.entries().empty());
}

// An interrupted run leaves no hidden temporary behind, and still ends
// as the signal says.
TEST(FaultGuardDeathTest, TerminationSignalsRemoveTheHiddenTemporary) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const ScratchDir dir;
    const std::string hidden = dir.file(".out.nii.tmp");
    EXPECT_EXIT(
        {
          const int fd = ::open(hidden.c_str(), O_CREAT | O_WRONLY, 0644);
          if (fd < 0) std::_Exit(3);
          vaeng::abandon_on_fault(hidden);
          std::raise(signal);
          std::_Exit(0);
        },
        testing::KilledBySignal(signal), "");
    EXPECT_TRUE(dir.entries().empty()) << signal;
  }
}

TEST(FaultGuardDeathTest, CommittedOutputIsKept) {
  const ScratchDir dir;
  const std::string out = dir.file("out.nii");
  EXPECT_EXIT(
      {
        const FaultGuard guard("brain.nii");
        vaeng::OutputFile file(out);
        file.commit();
        std::raise(SIGBUS);
      },
      testing::ExitedWithCode(1), kChanged);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.nii"});
}

TEST(FaultGuardDeathTest, InnermostGuardNamesTheImageAndOuterReturns) {
  EXPECT_EXIT(
      {
        const FaultGuard outer("first.nii");
        { const FaultGuard inner("second.nii"); }
        std::raise(SIGBUS);
      },
      testing::ExitedWithCode(1), "^volaccess: first.nii: the image");
  EXPECT_EXIT(
      {
        const FaultGuard outer("first.nii");
        const FaultGuard inner("second.nii");
        std::raise(SIGBUS);
      },
      testing::ExitedWithCode(1), "^volaccess: second.nii: the image");
}

TEST(FaultGuard, RestoresThePreviousHandler) {
  struct sigaction before {};
  ::sigaction(SIGBUS, nullptr, &before);
  { const FaultGuard guard("a.nii"); }
  struct sigaction after {};
  ::sigaction(SIGBUS, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST(FaultGuardDeathTest, OverlongNameStillEndsTheLine) {
  const std::string name(8000, 'n');
  EXPECT_EXIT(
      {
        const FaultGuard guard(name);
        std::raise(SIGBUS);
      },
      testing::ExitedWithCode(1), "^volaccess: nnnn+\\.\\.\\.\n$");
}

}  // namespace

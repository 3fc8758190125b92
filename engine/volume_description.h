// The host volume structure for one volume of a NIfTI image, and the
// volume library's mapping of it: what an extension module would build
// and hand to get_maps.
#ifndef VOLACCESS_ENGINE_VOLUME_DESCRIPTION_H
#define VOLACCESS_ENGINE_VOLUME_DESCRIPTION_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "calvex/hx.h"
#include "fault_guard.h"
#include "matrix.h"
#include "nifti_image.h"
#include "volaccess.h"

namespace vaeng {

// One host value, destroyed with its owner.
class HostArray {
 public:
  explicit HostArray(hxArray *a) : a_(a) {}
  ~HostArray();
  HostArray(HostArray &&other) noexcept : a_(other.a_) { other.a_ = nullptr; }
  HostArray(const HostArray &) = delete;
  HostArray &operator=(const HostArray &) = delete;
  HostArray &operator=(HostArray &&) = delete;
  hxArray *get() const { return a_; }

 private:
  hxArray *a_;
};

// Byte position of volume `volume` (from 1) in the image's voxel file.
uint64_t volume_position(const NiftiHeader &header, int64_t volume);

// A 1x1 struct with "dim" [x y z], "dt" [datatype code, swapped flag],
// "pinfo" [scale; offset; byte position], "mat" (the 1-based
// voxel-to-world matrix) and "fname" (the open voxel file, reached
// through /proc/self/fd). `volume` counts from 1 and must exist.
HostArray make_volume_struct(const NiftiImage &image, int64_t volume);

class ChangeCheck;

// One volume of an image, mapped by the volume library for sampling and
// released again on destruction. It installs no signal handler: a file
// that shrinks while mapped turns reads into SIGBUS, so owners either
// hold a FaultGuard (MappedVolume) or watch the file (ChangeCheck, which
// every mapping holds after watch_every_mapping()).
class VolumeMapping {
 public:
  // Errors of the library reach the user as "<voxel file>: <message>".
  VolumeMapping(const NiftiImage &image, int64_t volume);
  // Volume `volume` of the same image, read through the mapping of
  // `first`, which must outlive this: a series maps its file once.
  VolumeMapping(const VolumeMapping &first, const NiftiImage &image, int64_t volume);
  ~VolumeMapping();
  VolumeMapping(const VolumeMapping &) = delete;
  VolumeMapping &operator=(const VolumeMapping &) = delete;

  const VolumeMap &map() const { return maps_[0]; }
  const std::string &name() const { return name_; }
  // The record's matrix: 1-based voxel coordinates to world.
  Mat4 voxel_to_world() const;
  // Fails with the "changed on disk" reason when the file has become
  // shorter than what was mapped: reads past its new end within the last
  // page give zeros instead of a fault, so results would be silently wrong.
  // Called before and after every use of the voxels whose results are kept.
  void check_unchanged() const;

 private:
  // A record of planes further into another mapping's file.
  struct SharedRecord {
    VolumeMap map{};
    std::vector<void *> planes;
    std::vector<double> scale, offset;
  };

  int data_fd_;  // the image's voxel file; the image outlives its mapping
  VolumeMap *maps_ = nullptr;
  int32_t count_ = 0;
  std::unique_ptr<SharedRecord> shared_;
  std::string name_;
  // The watch over the file's mapping (this one's, or the first's for a
  // volume read through it), after watch_every_mapping().
  std::unique_ptr<ChangeCheck> own_watch_;
  const ChangeCheck *watch_ = nullptr;
};

// From a call on, every VolumeMapping made watches its file, so that a
// file shrinking under it reads zeros and fails check_unchanged() instead
// of ending the process with SIGBUS: for a process that must outlive such
// files (the Python module), wherever the engine maps one (a source, a
// mask, a displacement field). The program holds a FaultGuard instead.
// `false` makes later mappings unwatched again.
void watch_every_mapping(bool watch = true);

// A mapping for the program: while it lives, a file that shrinks ends the
// program with a message instead of a silent SIGBUS.
class MappedVolume : public VolumeMapping {
 public:
  MappedVolume(const NiftiImage &image, int64_t volume) : VolumeMapping(image, volume), guard_(image.name()) {}

 private:
  FaultGuard guard_;
};

// Whether the file under the mappings of one image still holds what was
// mapped, told without a system call, for owners that must survive a
// file shrinking under them instead of holding a FaultGuard. A fault in a
// watched mapping reads zeros and marks the file as changed. A file that
// shrinks within a page faults on no read but reads zeros past its new
// end; a sentinel catches that: the last byte that is not zero, read
// through the mapping, which must keep its value (past it the file held
// only zeros, which the vanished bytes still read as). A file with no
// such byte near its end is asked for its size instead. A private copy
// sealed against shrinking (a decompressed image) needs neither.
class ChangeCheck {
 public:
  explicit ChangeCheck(const NiftiImage &image) : image_(image) {}
  // Watches `mapping` of the image until destruction; both must outlive this.
  void watch(const VolumeMapping &mapping);
  bool changed() const;

 private:
  const NiftiImage &image_;
  std::unique_ptr<FaultWatch> faults_;
  uint64_t mapped_length_ = 0;
  const volatile unsigned char *sentinel_ = nullptr;
  unsigned char sentinel_value_ = 0;
};

// Whether the file open as `fd` is still at least `mapped_length` bytes
// long; throws FileError naming `name` when it cannot be asked.
bool file_covers_mapping(int fd, uint64_t mapped_length, const std::string &name);

// Checks that `volume` (from 1) exists in the image.
void check_volume_index(const NiftiImage &image, int64_t volume);

}  // namespace vaeng

#endif

#include "volume_description.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "calvex/host.h"
#include "errors.h"
#include "memory_budget.h"

namespace vaeng {

namespace {

// How far from the end of a file its sentinel byte is looked for: a file
// ending in more zeros than this is asked for its size at each check.
constexpr uint64_t kSentinelReach = 1 << 20;

// Whether every mapping watches its file (watch_every_mapping).
std::atomic<bool> g_watch_every_mapping{false};

// The file's contents went away under a read: an input/output failure,
// which Python raises as OSError.
[[noreturn]] void fail_changed(const std::string &name) { throw FileError(name + ": " + kChangedOnDisk, EIO); }

// VolumeMap's data, scale and offset entries.
constexpr uint64_t kRecordBytesPerPlane = sizeof(void *) + 2 * sizeof(double);

hxArray *row(std::initializer_list<double> values, hxSize rows, hxSize cols) {
  hxArray *a = hxCreateDoubleMatrix(rows, cols, hxREAL);
  double *p = static_cast<double *>(hxGetPr(a));
  for (double v : values) *p++ = v;
  return a;
}

hxArray *matrix_value(const Mat4 &m) {
  hxArray *a = hxCreateDoubleMatrix(4, 4, hxREAL);
  std::memcpy(hxGetPr(a), m.data(), sizeof(double) * 16);
  return a;
}

}  // namespace

HostArray::~HostArray() {
  if (a_) hxDestroyArray(a_);
}

void check_volume_index(const NiftiImage &image, int64_t volume) {
  const int64_t count = image.header().volumes;
  if (volume < 1 || volume > count)
    fail(image.name(), "volume " + std::to_string(volume) + " does not exist: the image holds " +
                           std::to_string(count) + (count == 1 ? " volume" : " volumes"));
}

uint64_t volume_position(const NiftiHeader &header, int64_t volume) {
  // Cannot overflow: the header check bounded vox_offset plus all volumes.
  return header.vox_offset + static_cast<uint64_t>(volume - 1) * header.volume_bytes;
}

HostArray make_volume_struct(const NiftiImage &image, int64_t volume) {
  check_volume_index(image, volume);
  const NiftiHeader &h = image.header();
  const char *names[] = {"dim", "dt", "pinfo", "mat", "fname"};
  const hxSize dims[] = {1, 1};
  HostArray s(hxCreateStructArray(2, dims, 5, names));
  hxSetField(s.get(), 0, "dim",
             row({static_cast<double>(h.dim[0]), static_cast<double>(h.dim[1]), static_cast<double>(h.dim[2])}, 1, 3));
  hxSetField(s.get(), 0, "dt", row({static_cast<double>(h.datatype->code), h.swapped ? 1.0 : 0.0}, 1, 2));
  hxSetField(s.get(), 0, "pinfo", row({h.scale, h.offset, static_cast<double>(volume_position(h, volume))}, 3, 1));
  hxSetField(s.get(), 0, "mat", matrix_value(one_based_matrix(h)));
  hxSetField(s.get(), 0, "fname", hxCreateString(descriptor_path(image.data_fd()).c_str()));
  return s;
}

VolumeMapping::VolumeMapping(const NiftiImage &image, int64_t volume) : data_fd_(image.data_fd()), name_(image.name()) {
  check_volume_index(image, volume);
  // Mapping nothing fails with a system message; say what is wrong instead.
  if (image.data_size() == 0) fail(image.data_name(), "is empty");
  // The library keeps a plane address, scale and offset per plane: a legal
  // header can ask for tens of gigabytes of them before a voxel is read.
  const uint64_t planes = static_cast<uint64_t>(image.header().dim[2]);
  check_memory_share(planes * kRecordBytesPerPlane, image.name(), "mapping its " + std::to_string(planes) + " planes");
  const HostArray description = make_volume_struct(image, volume);
  const calvex::CallResult result = calvex::call_boundary([&] { maps_ = get_maps(description.get(), &count_); });
  if (!result.ok) fail(image.data_name(), result.message);
  if (!g_watch_every_mapping.load(std::memory_order_relaxed)) return;
  try {
    own_watch_ = std::make_unique<ChangeCheck>(image);
    own_watch_->watch(*this);
    watch_ = own_watch_.get();
  } catch (...) {
    free_maps(maps_, count_);
    throw;
  }
}

VolumeMapping::VolumeMapping(const VolumeMapping &first, const NiftiImage &image, int64_t volume)
    : data_fd_(first.data_fd_), shared_(std::make_unique<SharedRecord>()), name_(first.name_) {
  check_volume_index(image, volume);
  const NiftiHeader &h = image.header();
  const VolumeMap &from = first.map();
  // Where the first record's planes start: its planes lie evenly from there.
  const uint64_t start = static_cast<uint64_t>(static_cast<const unsigned char *>(from.data[0]) -
                                               static_cast<const unsigned char *>(from.map_addr));
  const uint64_t position = volume_position(h, volume);
  if (position > from.map_len || from.map_len - position < h.volume_bytes) fail(image.data_name(), "File too small.");
  const auto planes = static_cast<std::size_t>(from.dim[2]);
  shared_->planes.resize(planes);
  for (std::size_t k = 0; k < planes; ++k)
    shared_->planes[k] = static_cast<unsigned char *>(from.data[k]) - start + position;
  shared_->scale.assign(from.scale, from.scale + planes);
  shared_->offset.assign(from.offset, from.offset + planes);
  shared_->map = from;
  shared_->map.data = shared_->planes.data();
  shared_->map.scale = shared_->scale.data();
  shared_->map.offset = shared_->offset.data();
  maps_ = &shared_->map;
  watch_ = first.watch_;
}

VolumeMapping::~VolumeMapping() {
  // The watch ends first: a range unmapped while watched could be mapped
  // again by another thread meanwhile.
  own_watch_.reset();
  if (maps_ && !shared_) free_maps(maps_, count_);
}

Mat4 VolumeMapping::voxel_to_world() const {
  Mat4 m{};
  std::memcpy(m.data(), map().mat, sizeof(double) * 16);
  return m;
}

void VolumeMapping::check_unchanged() const {
  if ((watch_ && watch_->changed()) || !file_covers_mapping(data_fd_, map().map_len, name_)) fail_changed(name_);
}

void watch_every_mapping(bool watch) { g_watch_every_mapping.store(watch); }

void ChangeCheck::watch(const VolumeMapping &mapping) {
  if (image_.size_sealed()) return;
  const VolumeMap &map = mapping.map();
  if (!faults_) faults_ = std::make_unique<FaultWatch>();
  faults_->watch(map.map_addr, map.map_len);
  if (mapped_length_ != 0) return;
  mapped_length_ = map.map_len;
  const auto *bytes = static_cast<const volatile unsigned char *>(map.map_addr);
  const uint64_t stop = map.map_len > kSentinelReach ? map.map_len - kSentinelReach : 0;
  for (uint64_t i = map.map_len; i > stop && !faults_->faulted(); --i) {
    if (bytes[i - 1] == 0) continue;
    sentinel_ = bytes + (i - 1);
    sentinel_value_ = *sentinel_;
    break;
  }
  if (changed()) fail_changed(image_.data_name());
}

bool ChangeCheck::changed() const {
  if (!faults_) return false;
  if (faults_->faulted()) return true;
  // A sentinel on a page that vanished faults and reads zero.
  if (sentinel_) return *sentinel_ != sentinel_value_;
  return !file_covers_mapping(image_.data_fd(), mapped_length_, image_.data_name());
}

bool file_covers_mapping(int fd, uint64_t mapped_length, const std::string &name) {
  return file_size(fd, name) >= mapped_length;
}

}  // namespace vaeng

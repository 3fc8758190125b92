// MetaImage: a text header of "Key = Value" lines whose last,
// ElementDataFile, says where the voxels are (LOCAL: right after it), the
// voxels raw or zlib-compressed, x fastest. World points are ITK's
// physical points, LPS, turned into RAS here.
#include <cmath>
#include <map>

#include "errors.h"
#include "header_text.h"
#include "image_formats.h"
#include "nifti_writer.h"
#include "text_numbers.h"

namespace vaeng {

namespace {

struct MetaType {
  const char *name;
  int nifti;
};
// MetaIO's long and unsigned long are 4 bytes, whatever the machine's are.
constexpr MetaType kTypes[] = {
    {"MET_CHAR", 256},       {"MET_UCHAR", 2},         {"MET_SHORT", 4},  {"MET_USHORT", 512},
    {"MET_INT", 8},          {"MET_UINT", 768},        {"MET_LONG", 8},   {"MET_ULONG", 768},
    {"MET_LONG_LONG", 1024}, {"MET_ULONG_LONG", 1280}, {"MET_FLOAT", 16}, {"MET_DOUBLE", 64},
};

using Fields = std::map<std::string, std::string>;

// The fields up to ElementDataFile, and the byte position just past it.
Fields read_fields(const std::vector<HeaderLine> &lines, std::size_t *data_at, const std::string &name) {
  Fields fields;
  for (const HeaderLine &line : lines) {
    const std::size_t equals = line.text.find('=');
    if (equals == std::string::npos) {
      if (trimmed(line.text).empty()) continue;
      fail(name, "MetaImage header line " + quoted(line.text) + " is no \"Key = Value\"");
    }
    const std::string key = trimmed(line.text.substr(0, equals));
    fields[key] = trimmed(line.text.substr(equals + 1));
    if (key == "ElementDataFile") {
      *data_at = line.end;
      return fields;
    }
  }
  fail(name, "its MetaImage header has no ElementDataFile line");
}

// The value of the first of `keys` present, else "".
std::string first_of(const Fields &fields, std::initializer_list<const char *> keys) {
  for (const char *key : keys) {
    const auto it = fields.find(key);
    if (it != fields.end()) return it->second;
  }
  return "";
}

bool flag(const Fields &fields, std::initializer_list<const char *> keys, const std::string &name) {
  const std::string value = first_of(fields, keys);
  if (value.empty() || value == "False" || value == "false" || value == "FALSE") return false;
  if (value == "True" || value == "true" || value == "TRUE") return true;
  fail(name, std::string(*keys.begin()) + " = " + quoted(value) + " is neither True nor False");
}

int meta_type(const Fields &fields, const std::string &name) {
  const std::string value = first_of(fields, {"ElementType"});
  if (value.empty()) fail(name, "its MetaImage header has no ElementType");
  for (const MetaType &t : kTypes)
    if (value == t.name) return t.nifti;
  fail(name, "MetaImage ElementType " + quoted(value) + " is not supported: the voxels must be one of MET_CHAR, " +
                 "MET_UCHAR, MET_SHORT, MET_USHORT, MET_INT, MET_UINT, MET_LONG_LONG, MET_ULONG_LONG, MET_FLOAT, " +
                 "MET_DOUBLE");
}

// ITK's physical point of voxel index i: Offset + D * diag(spacing) * i,
// where TransformMatrix lists D's columns one after the other.
Mat4 lps_matrix(const Fields &fields, int rank, const std::string &name) {
  const auto n = static_cast<std::size_t>(rank);
  std::vector<double> spacing(n, 1.0), offset(n, 0.0), direction(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i) direction[i * n + i] = 1;
  const std::string s = first_of(fields, {"ElementSpacing", "ElementSize"});
  if (!s.empty()) spacing = field_numbers(s, n, "ElementSpacing", name);
  const std::string o = first_of(fields, {"Offset", "Position", "Origin"});
  if (!o.empty()) offset = field_numbers(o, n, "Offset", name);
  const std::string d = first_of(fields, {"TransformMatrix", "Rotation", "Orientation"});
  if (!d.empty()) direction = field_numbers(d, n * n, "TransformMatrix", name);
  Mat4 m = identity4();
  for (std::size_t c = 0; c < 3; ++c) {
    for (std::size_t r = 0; r < 3; ++r) m[4 * c + r] = direction[c * n + r] * spacing[c];
    m[12 + c] = offset[c];
  }
  return m;
}

}  // namespace

ForeignHeader parse_metaimage_header(const unsigned char *bytes, std::size_t size, const std::string &name) {
  std::size_t blank_end = 0;
  const std::vector<HeaderLine> lines = header_lines(bytes, size, &blank_end);
  std::size_t data_at = 0;
  const Fields fields = read_fields(lines, &data_at, name);
  const std::string object = first_of(fields, {"ObjectType"});
  if (!object.empty() && object != "Image") fail(name, "MetaImage ObjectType " + quoted(object) + " is not Image");
  const std::string ndims = first_of(fields, {"NDims"});
  if (ndims.empty()) fail(name, "its MetaImage header has no NDims");
  const int rank = static_cast<int>(field_integer(ndims, 3, 4, "NDims", name));
  const std::vector<double> sizes =
      field_numbers(first_of(fields, {"DimSize"}), static_cast<std::size_t>(rank), "DimSize", name);
  std::array<int64_t, 8> dim{rank, 1, 1, 1, 1, 1, 1, 1};
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    if (!(sizes[i] >= 1 && sizes[i] <= 9007199254740992.0) || sizes[i] != std::floor(sizes[i]))
      fail(name, "DimSize: axis " + std::to_string(i + 1) + " holds " + shortest_text(sizes[i]) + " voxels");
    dim[i + 1] = static_cast<int64_t>(sizes[i]);
  }
  const std::string channels = first_of(fields, {"ElementNumberOfChannels"});
  if (!channels.empty()) field_integer(channels, 1, 1, "ElementNumberOfChannels (only 1 is supported)", name);
  ForeignHeader out;
  out.header.format = "MetaImage";
  out.header.swapped = swapped_on_this_machine(flag(fields, {"ElementByteOrderMSB", "BinaryDataByteOrderMSB"}, name));
  out.compressed = flag(fields, {"CompressedData"}, name);
  const std::string file = first_of(fields, {"ElementDataFile"});
  if (file.rfind("LIST", 0) == 0 || file.find('%') != std::string::npos)
    fail(name, "its data are split over several files, which is not supported");
  out.data_file = file == "LOCAL" ? "" : file;
  const std::string header_size = first_of(fields, {"HeaderSize"});
  out.data_start = out.data_file.empty() ? data_at : 0;
  if (!header_size.empty() && !out.data_file.empty())
    out.data_start = static_cast<uint64_t>(
        field_integer(header_size, 0, int64_t{1} << 40, "HeaderSize (-1 is not supported)", name));
  complete_header(&out.header, dim, meta_type(fields, name), out.compressed ? 0 : out.data_start,
                  flip_xy(lps_matrix(fields, rank, name)), "MetaImage TransformMatrix", name);
  return out;
}

std::vector<unsigned char> metaimage_header_bytes(const NiftiLayout &layout, const std::string &data_file,
                                                  const std::string &path) {
  const char *type = "";
  for (const MetaType &t : kTypes)
    if (t.nifti == layout.datatype->code && *type == '\0') type = t.name;
  const int64_t volumes = series_volumes(layout);
  const int rank = volumes > 1 ? 4 : 3;
  const Mat4 m = flip_xy(layout_matrix(layout));
  double spacing[3];
  for (int c = 0; c < 3; ++c) spacing[c] = column_length(m, c, path);
  std::string text = "ObjectType = Image\nNDims = " + std::to_string(rank) + "\nBinaryData = True\n" +
                     "BinaryDataByteOrderMSB = " + (swapped_on_this_machine(true) ? "False" : "True") +
                     "\nCompressedData = False\nTransformMatrix =";
  for (int c = 0; c < rank; ++c)
    for (int r = 0; r < rank; ++r)
      text += " " +
              (c < 3 && r < 3 ? shortest_text(0.0 + at(m, r, c) / spacing[c] + 0.0) : std::string(r == c ? "1" : "0"));
  text += "\nOffset =";
  for (int r = 0; r < 3; ++r) text += " " + shortest_text(0.0 + at(m, r, 3));
  if (rank == 4) text += " 0";
  text += "\nElementSpacing =";
  for (double s : spacing) text += " " + shortest_text(s);
  if (rank == 4) text += " 1";
  text += "\nDimSize =";
  for (int64_t d : layout.dim) text += " " + std::to_string(d);
  if (rank == 4) text += " " + std::to_string(volumes);
  text += std::string("\nElementType = ") + type + "\nElementDataFile = " + (data_file.empty() ? "LOCAL" : data_file) +
          "\n";
  return std::vector<unsigned char>(text.begin(), text.end());
}

}  // namespace vaeng

// NRRD: a text header ("NRRD000N", then "field: value" lines, ended by an
// empty line when the data follow in the same file), the voxels raw or
// gzip-compressed, x fastest. World points are those of the header's
// space; LPS-based spaces are turned into RAS here.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <optional>

#include "errors.h"
#include "header_text.h"
#include "image_formats.h"
#include "nifti_writer.h"
#include "text_numbers.h"

namespace vaeng {

namespace {

constexpr char kMagic[] = "NRRD000";

struct NrrdType {
  const char *names;  // every spelling, each followed by "|"
  int nifti;
};
// The first spelling of each is the one the writer uses.
constexpr NrrdType kTypes[] = {
    {"int8|signed char|int8_t|", 256},
    {"uint8|uchar|unsigned char|uint8_t|", 2},
    {"int16|short|short int|signed short|signed short int|int16_t|", 4},
    {"uint16|ushort|unsigned short|unsigned short int|uint16_t|", 512},
    {"int32|int|signed int|int32_t|", 8},
    {"uint32|uint|unsigned int|uint32_t|", 768},
    {"int64|longlong|long long|long long int|signed long long|signed long long int|int64_t|", 1024},
    {"uint64|ulonglong|unsigned long long|unsigned long long int|uint64_t|", 1280},
    {"float|", 16},
    {"double|", 64},
};

std::string lower(std::string text) {
  for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

int nrrd_type(const std::string &value, const std::string &name) {
  const std::string wanted = lower(trimmed(value)) + "|";
  for (const NrrdType &t : kTypes) {
    const std::string names = t.names;
    for (std::size_t at = 0; (at = names.find(wanted, at)) != std::string::npos; at += wanted.size())
      if (at == 0 || names[at - 1] == '|') return t.nifti;
  }
  fail(name, "NRRD type " + quoted(trimmed(value)) +
                 " is not supported: the voxels must be one of int8, uint8, int16, uint16, int32, uint32, int64, "
                 "uint64, float, double");
}

// World x and y signs of a named space relative to RAS. Spaces that are
// not anatomical (the scanner's, "3D-right-handed") are taken as ITK takes
// them: LPS, DICOM's patient space.
std::array<double, 2> space_signs(const std::string &value, const std::string &name) {
  const std::string space = lower(trimmed(value));
  if (space == "right-anterior-superior" || space == "ras" || space == "right-anterior-superior-time" ||
      space == "rast")
    return {1, 1};
  if (space == "left-anterior-superior" || space == "las" || space == "left-anterior-superior-time" || space == "last")
    return {-1, 1};
  if (space == "left-posterior-superior" || space == "lps" || space == "left-posterior-superior-time" ||
      space == "lpst" || space == "scanner-xyz" || space == "scanner-xyz-time" || space == "3d-right-handed" ||
      space == "3d-right-handed-time")
    return {-1, -1};
  fail(name, "NRRD space " + quoted(trimmed(value)) +
                 " is not supported: it must be an LPS, RAS or LAS space, a scanner space or 3D-right-handed");
}

// "(a,b,c) none (d,e,f)": one vector or none per entry.
std::vector<std::optional<std::vector<double>>> vectors(const std::string &value, const std::string &field,
                                                        const std::string &name) {
  std::vector<std::optional<std::vector<double>>> out;
  std::size_t at = 0;
  while ((at = value.find_first_not_of(" \t", at)) != std::string::npos) {
    if (value.compare(at, 4, "none") == 0) {
      out.emplace_back();
      at += 4;
      continue;
    }
    const std::size_t close = value.find(')', at);
    if (value[at] != '(' || close == std::string::npos)
      fail(name, field + ": " + quoted(value) + " is not a list of (x,y,z) vectors");
    out.emplace_back(field_numbers(value.substr(at + 1, close - at - 1), 0, field, name));
    at = close + 1;
  }
  return out;
}

using Fields = std::map<std::string, std::string>;

Fields read_fields(const std::vector<HeaderLine> &lines, const std::string &name) {
  Fields fields;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string &text = lines[i].text;
    if (text.empty() || text[0] == '#') continue;
    const std::size_t pair = text.find(":=");
    const std::size_t colon = text.find(": ");
    if (pair != std::string::npos && (colon == std::string::npos || pair < colon)) continue;
    if (colon == std::string::npos)
      fail(name, "NRRD header line " + std::to_string(i + 1) + " is no \"field: value\": " + quoted(text));
    fields[lower(text.substr(0, colon))] = text.substr(colon + 2);
  }
  return fields;
}

std::string field(const Fields &fields, const std::string &key) {
  const auto it = fields.find(key);
  return it == fields.end() ? "" : it->second;
}

std::string required(const Fields &fields, const std::string &key, const std::string &name) {
  const auto it = fields.find(key);
  if (it == fields.end()) fail(name, "its NRRD header has no \"" + key + "\" field");
  return it->second;
}

// The matrix from 0-based voxel indices to the header's space: the space
// directions and origin, or without a space the spacings (ITK's way).
Mat4 space_matrix(const Fields &fields, int rank, const std::string &name) {
  Mat4 m = identity4();
  const std::string directions = field(fields, "space directions");
  if (directions.empty()) {
    const std::string spacings = field(fields, "spacings");
    if (spacings.empty()) return m;
    const std::vector<double> s = field_numbers(spacings, static_cast<std::size_t>(rank), "spacings", name);
    for (std::size_t c = 0; c < 3; ++c) m[5 * c] = std::isnan(s[c]) ? 1.0 : s[c];
    return m;
  }
  const auto axes = vectors(directions, "space directions", name);
  if (axes.size() != static_cast<std::size_t>(rank))
    fail(name, "space directions lists " + std::to_string(axes.size()) + " axes, not " + std::to_string(rank));
  for (std::size_t c = 0; c < axes.size(); ++c) {
    if (c < 3 && (!axes[c] || axes[c]->size() < 3))
      fail(name, "space directions: axis " + std::to_string(c + 1) +
                     " is not spatial; the first three axes must be x, y and z");
    if (c == 3 && axes[c] && axes[c]->size() == 3)
      fail(name, "space directions: the fourth axis is spatial; only a series of 3-D volumes is supported");
    for (std::size_t r = 0; c < 3 && r < 3; ++r) m[4 * c + r] = (*axes[c])[r];
  }
  const std::string origin = field(fields, "space origin");
  if (!origin.empty()) {
    const auto point = vectors(origin, "space origin", name);
    if (point.size() != 1 || !point[0] || point[0]->size() < 3)
      fail(name, "space origin: " + quoted(origin) + " is not one (x,y,z) point");
    for (std::size_t r = 0; r < 3; ++r) m[12 + r] = (*point[0])[r];
  }
  return m;
}

Mat4 ras_matrix(const Fields &fields, int rank, const std::string &name) {
  const Mat4 m = space_matrix(fields, rank, name);
  const std::string space = field(fields, "space");
  const std::array<double, 2> sign = space.empty() ? std::array<double, 2>{-1, -1} : space_signs(space, name);
  Mat4 out = m;
  for (std::size_t c = 0; c < 4; ++c) {
    out[4 * c] = sign[0] * m[4 * c];
    out[4 * c + 1] = sign[1] * m[4 * c + 1];
  }
  return out;
}

}  // namespace

ForeignHeader parse_nrrd_header(const unsigned char *bytes, std::size_t size, const std::string &name) {
  if (size < 8 || std::string(reinterpret_cast<const char *>(bytes), 7) != kMagic || bytes[7] < '1' || bytes[7] > '5')
    fail(name, "not a NRRD file: it does not begin with NRRD0001 to NRRD0005");
  std::size_t blank_end = 0;
  const std::vector<HeaderLine> lines = header_lines(bytes, size, &blank_end);
  const Fields fields = read_fields(lines, name);
  const int rank = static_cast<int>(field_integer(required(fields, "dimension", name), 3, 4, "dimension", name));
  const std::vector<double> sizes =
      field_numbers(required(fields, "sizes", name), static_cast<std::size_t>(rank), "sizes", name);
  std::array<int64_t, 8> dim{rank, 1, 1, 1, 1, 1, 1, 1};
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    if (!(sizes[i] >= 1 && sizes[i] <= 9007199254740992.0) || sizes[i] != std::floor(sizes[i]))
      fail(name, "sizes: axis " + std::to_string(i + 1) + " holds " + shortest_text(sizes[i]) + " voxels");
    dim[i + 1] = static_cast<int64_t>(sizes[i]);
  }
  const int type = nrrd_type(required(fields, "type", name), name);
  ForeignHeader out;
  out.header.format = "NRRD";
  const std::string encoding = lower(trimmed(required(fields, "encoding", name)));
  if (encoding != "raw" && encoding != "gzip" && encoding != "gz")
    fail(name, "NRRD encoding " + quoted(encoding) + " is not supported: it must be raw or gzip");
  out.compressed = encoding != "raw";
  const std::string endian = lower(trimmed(field(fields, "endian")));
  if (!endian.empty() && endian != "little" && endian != "big")
    fail(name, "NRRD endian " + quoted(endian) + " is neither little nor big");
  if (endian.empty() && type != 2 && type != 256) fail(name, "its NRRD header has no \"endian\" field");
  out.header.swapped = swapped_on_this_machine(endian == "big");
  const std::string line_skip = field(fields, "line skip");
  if (!line_skip.empty()) field_integer(line_skip, 0, 0, "line skip (only 0 is supported)", name);
  const std::string skip = field(fields, "byte skip");
  const auto byte_skip =
      static_cast<uint64_t>(skip.empty() ? 0 : field_integer(skip, 0, int64_t{1} << 40, "byte skip", name));
  std::string data_file = field(fields, "data file");
  if (data_file.empty()) data_file = field(fields, "datafile");
  out.data_file = trimmed(data_file);
  if (out.data_file.rfind("LIST", 0) == 0 || out.data_file.find('%') != std::string::npos)
    fail(name, "its data are split over several files, which is not supported");
  if (out.data_file.empty() && blank_end == 0)
    fail(name, "its NRRD header does not end with an empty line, nor name a data file");
  out.data_start = (out.data_file.empty() ? blank_end : 0) + (out.compressed ? 0 : byte_skip);
  complete_header(&out.header, dim, type, out.compressed ? byte_skip : out.data_start, ras_matrix(fields, rank, name),
                  "NRRD space directions", name);
  return out;
}

std::vector<unsigned char> nrrd_header_bytes(const NiftiLayout &layout, const std::string &data_file) {
  std::string type;
  for (const NrrdType &t : kTypes)
    if (t.nifti == layout.datatype->code) type = std::string(t.names).substr(0, std::string(t.names).find('|'));
  const int64_t volumes = series_volumes(layout);
  const Mat4 m = layout_matrix(layout);
  std::string text = "NRRD0004\n# written by volaccess\ntype: " + type + "\ndimension: " + (volumes > 1 ? "4" : "3") +
                     "\nspace: right-anterior-superior\nsizes:";
  for (int64_t d : layout.dim) text += " " + std::to_string(d);
  if (volumes > 1) text += " " + std::to_string(volumes);
  text += "\nspace directions:";
  for (int c = 0; c < 3; ++c)
    text += " (" + shortest_text(0.0 + at(m, 0, c)) + "," + shortest_text(0.0 + at(m, 1, c)) + "," +
            shortest_text(0.0 + at(m, 2, c)) + ")";
  if (volumes > 1) text += " none";
  text += "\nkinds: domain domain domain";
  if (volumes > 1) text += " list";
  text += "\nendian: " + std::string(swapped_on_this_machine(true) ? "little" : "big") +
          "\nencoding: raw\nspace origin: (" + shortest_text(0.0 + at(m, 0, 3)) + "," +
          shortest_text(0.0 + at(m, 1, 3)) + "," + shortest_text(0.0 + at(m, 2, 3)) + ")\n";
  // A detached header ends with its data file; an attached one with the
  // empty line after which the voxels follow.
  text += data_file.empty() ? "\n" : "data file: " + data_file + "\n";
  return std::vector<unsigned char>(text.begin(), text.end());
}

}  // namespace vaeng

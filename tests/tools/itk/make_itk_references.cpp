// Writes the files the reslice comparison with ITK uses: a source image, a
// reference grid, transforms in the formats registrations write (ITK text
// files, a .mat file, a displacement field), all through ITK's own
// writers; then reads the transforms back with ITK's readers and resamples
// the source with ITK's ResampleImageFilter and linear interpolation, one
// result per case. For every case it also writes where ITK's point of
// each output voxel falls in the source, so the comparison knows which
// voxels lie inside both programs' volumes:
//   2  inside the volume for both (more than 0.05 voxel from the rim
//      of trilinear reach on every axis, with a margin for rounding);
//   1  outside the volume library's trilinear reach (0.05 voxel beyond the
//      outer voxel centres) but inside ITK's (half a voxel beyond them),
//      where ITK holds the rim value and the volume library the background;
//   0  outside both;
//   3  within rounding of a border between these, left out of the test.
//
// usage: make_itk_references OUTDIR
#include <itkAffineTransform.h>
#include <itkCompositeTransform.h>
#include <itkDisplacementFieldTransform.h>
#include <itkEuler3DTransform.h>
#include <itkImage.h>
#include <itkImageFileReader.h>
#include <itkImageFileWriter.h>
#include <itkImageRegionIteratorWithIndex.h>
#include <itkLinearInterpolateImageFunction.h>
#include <itkResampleImageFilter.h>
#include <itkSimilarity3DTransform.h>
#include <itkTransformFactory.h>
#include <itkTransformFileReader.h>
#include <itkTransformFileWriter.h>
#include <itkTranslationTransform.h>
#include <itkVector.h>
#include <itkVersorRigid3DTransform.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Image = itk::Image<float, 3>;
using Domain = itk::Image<unsigned char, 3>;
// Stored in single precision, as registrations write fields; read as doubles.
using StoredField = itk::Image<itk::Vector<float, 3>, 3>;
using FieldImage = itk::Image<itk::Vector<double, 3>, 3>;
using Transform = itk::Transform<double, 3, 3>;
using Composite = itk::CompositeTransform<double, 3>;

std::string out_dir;

std::string path(const std::string &name) { return out_dir + "/" + name; }

itk::Matrix<double, 3, 3> rotation(int axis, double degrees) {
  const double a = degrees * M_PI / 180.0;
  itk::Matrix<double, 3, 3> m;
  m.SetIdentity();
  const int u = (axis + 1) % 3, v = (axis + 2) % 3;
  m(u, u) = std::cos(a);
  m(u, v) = -std::sin(a);
  m(v, u) = std::sin(a);
  m(v, v) = std::cos(a);
  return m;
}

template <class ImageType>
typename ImageType::Pointer grid(const std::array<unsigned, 3> &size, const std::array<double, 3> &spacing,
                                 const std::array<double, 3> &origin, const itk::Matrix<double, 3, 3> &direction) {
  auto image = ImageType::New();
  typename ImageType::SizeType s;
  typename ImageType::SpacingType sp;
  typename ImageType::PointType o;
  for (int a = 0; a < 3; ++a) {
    s[a] = size[a];
    sp[a] = spacing[a];
    o[a] = origin[a];
  }
  image->SetRegions(s);
  image->SetSpacing(sp);
  image->SetOrigin(o);
  image->SetDirection(direction);
  image->Allocate();
  return image;
}

template <class ImageType>
void write_image(const typename ImageType::Pointer &image, const std::string &name) {
  auto writer = itk::ImageFileWriter<ImageType>::New();
  writer->SetInput(image);
  writer->SetFileName(path(name));
  writer->Update();
}

// Smooth and lopsided along every axis, so a wrong sign or a swapped axis
// shows as a large difference.
Image::Pointer make_source() {
  itk::Matrix<double, 3, 3> direction = rotation(2, 10.0);
  Image::Pointer image = grid<Image>({20, 18, 16}, {1.5, 1.2, 2.0}, {-14.0, -10.0, -15.0}, direction);
  itk::ImageRegionIteratorWithIndex<Image> it(image, image->GetLargestPossibleRegion());
  for (; !it.IsAtEnd(); ++it) {
    const double i = it.GetIndex()[0], j = it.GetIndex()[1], k = it.GetIndex()[2];
    it.Set(
        static_cast<float>(100 + 3 * i - 2 * j + 1.5 * k + 20 * std::sin(i / 3.0) * std::cos(j / 4.0) + 0.1 * i * k));
  }
  return image;
}

// The output grid: another spacing, origin and an x flip in its directions.
Image::Pointer make_reference() {
  itk::Matrix<double, 3, 3> flip;
  flip.SetIdentity();
  flip(0, 0) = -1;
  Image::Pointer image = grid<Image>({18, 16, 12}, {1.4, 1.5, 2.2}, {10.0, -12.0, -12.0}, flip * rotation(0, 8.0));
  image->FillBuffer(0);
  return image;
}

StoredField::Pointer make_field() {
  StoredField::Pointer field =
      grid<StoredField>({12, 11, 10}, {3.4, 3.4, 3.4}, {-20.0, -18.0, -18.0}, rotation(0, 5.0));
  itk::ImageRegionIteratorWithIndex<StoredField> it(field, field->GetLargestPossibleRegion());
  for (; !it.IsAtEnd(); ++it) {
    StoredField::PointType p;
    field->TransformIndexToPhysicalPoint(it.GetIndex(), p);
    StoredField::PixelType d;
    d[0] = 2.0 * std::sin(p[1] / 8.0);
    d[1] = 1.5 * std::cos(p[0] / 10.0);
    d[2] = 1.0 * std::sin((p[0] + p[2]) / 9.0);
    it.Set(d);
  }
  return field;
}

void write_transform(const Transform::Pointer &t, const std::string &name) {
  auto writer = itk::TransformFileWriterTemplate<double>::New();
  writer->SetInput(t);
  writer->SetFileName(path(name));
  writer->Update();
}

void write_float_transform(const itk::Transform<float, 3, 3>::Pointer &t, const std::string &name) {
  auto writer = itk::TransformFileWriterTemplate<float>::New();
  writer->SetInput(t);
  writer->SetFileName(path(name));
  writer->Update();
}

// Sets a transform's parameters and its centre (the fixed parameters).
template <class T>
void set_centred(T *t, std::initializer_list<double> parameters, const std::array<double, 3> &centre) {
  typename T::ParametersType p(static_cast<unsigned>(parameters.size()));
  unsigned n = 0;
  for (double v : parameters) p[n++] = static_cast<typename T::ParametersValueType>(v);
  t->SetParameters(p);
  typename T::InputPointType c;
  for (int a = 0; a < 3; ++a) c[a] = static_cast<typename T::ScalarType>(centre[a]);
  t->SetCenter(c);
}

void write_transforms() {
  auto affine = itk::AffineTransform<double, 3>::New();
  itk::Matrix<double, 3, 3> scale_shear;
  scale_shear.SetIdentity();
  scale_shear(0, 0) = 1.05;
  scale_shear(1, 1) = 0.95;
  scale_shear(0, 1) = 0.04;
  affine->SetMatrix(rotation(1, 12.0) * scale_shear);
  itk::AffineTransform<double, 3>::OutputVectorType t;
  t[0] = 3.0;
  t[1] = -2.0;
  t[2] = 1.5;
  itk::AffineTransform<double, 3>::InputPointType centre;
  centre[0] = 2.0;
  centre[1] = -1.0;
  centre[2] = 3.0;
  affine->SetCenter(centre);
  affine->SetTranslation(t);
  write_transform(affine.GetPointer(), "affine.mat");

  auto euler = itk::Euler3DTransform<double>::New();
  set_centred(euler.GetPointer(), {0.1, -0.05, 0.15, -2.0, 1.0, 0.5}, {1.0, 2.0, -1.0});
  write_transform(euler.GetPointer(), "euler.txt");

  auto versor = itk::VersorRigid3DTransform<float>::New();
  set_centred(versor.GetPointer(), {0.05, -0.03, 0.08, 1.0, -1.0, 2.0}, {0.0, 0.0, 1.0});
  write_float_transform(versor.GetPointer(), "versor_float.txt");

  auto similarity = itk::Similarity3DTransform<double>::New();
  set_centred(similarity.GetPointer(), {0.02, 0.04, -0.06, 0.5, 0.5, -1.0, 1.08}, {-1.0, 1.0, 0.0});
  write_transform(similarity.GetPointer(), "similarity.txt");

  // A composite in one file: a translation applied after a small Euler rotation.
  auto translation = itk::TranslationTransform<double, 3>::New();
  itk::TranslationTransform<double, 3>::OutputVectorType shift;
  shift[0] = 2.0;
  shift[1] = -3.0;
  shift[2] = 1.0;
  translation->Translate(shift);
  auto turn = itk::Euler3DTransform<double>::New();
  turn->SetRotation(0.0, 0.0, -0.2);
  centre[0] = 3.0;
  centre[1] = 0.0;
  centre[2] = 0.0;
  turn->SetCenter(centre);
  auto composite = Composite::New();
  composite->AddTransform(translation);
  composite->AddTransform(turn);
  write_transform(composite.GetPointer(), "composite.txt");

  write_image<StoredField>(make_field(), "field.nii.gz");
}

Transform::Pointer read_transform(const std::string &name) {
  auto reader = itk::TransformFileReaderTemplate<double>::New();
  reader->SetFileName(path(name));
  reader->Update();
  return dynamic_cast<Transform *>(reader->GetTransformList()->front().GetPointer());
}

Transform::Pointer read_field(const std::string &name) {
  auto reader = itk::ImageFileReader<FieldImage>::New();
  reader->SetFileName(path(name));
  reader->Update();
  auto t = itk::DisplacementFieldTransform<double, 3>::New();
  t->SetDisplacementField(reader->GetOutput());
  return t.GetPointer();
}

Image::Pointer read_image(const std::string &name) {
  auto reader = itk::ImageFileReader<Image>::New();
  reader->SetFileName(path(name));
  reader->Update();
  return reader->GetOutput();
}

// One --transform word of the program: a file, perhaps ",inverse".
Transform::Pointer step(const std::string &word) {
  const std::string suffix = ",inverse";
  const bool inverse =
      word.size() > suffix.size() && word.compare(word.size() - suffix.size(), suffix.size(), suffix) == 0;
  const std::string name = inverse ? word.substr(0, word.size() - suffix.size()) : word;
  Transform::Pointer t = name == "field.nii.gz" ? read_field(name) : read_transform(name);
  if (!inverse) return t;
  return dynamic_cast<Transform *>(t->GetInverseTransform().GetPointer());
}

unsigned char domain_of(const itk::ContinuousIndex<double, 3> &c, const Image::SizeType &size) {
  const double margin = 1e-6;
  bool ours = true, ours_or_border = true, itk_inside = true;
  for (int a = 0; a < 3; ++a) {
    const double last = static_cast<double>(size[a]) - 1.0;
    ours = ours && c[a] >= -0.05 + margin && c[a] < last + 0.05 - margin;
    ours_or_border = ours_or_border && c[a] >= -0.05 - margin && c[a] < last + 0.05 + margin;
    itk_inside = itk_inside && c[a] >= -0.5 + margin && c[a] < last + 0.5 - margin;
  }
  if (ours) return 2;
  if (ours_or_border) return 3;
  return itk_inside ? 1 : 0;
}

void run_case(const std::string &name, const std::vector<std::string> &words, const Image::Pointer &source,
              const Image::Pointer &reference) {
  auto composite = Composite::New();
  for (const std::string &w : words) composite->AddTransform(step(w));
  auto filter = itk::ResampleImageFilter<Image, Image, double>::New();
  filter->SetInput(source);
  filter->SetTransform(composite);
  filter->SetInterpolator(itk::LinearInterpolateImageFunction<Image, double>::New());
  filter->SetDefaultPixelValue(0);
  filter->SetOutputParametersFromImage(reference);
  filter->Update();
  write_image<Image>(filter->GetOutput(), "itk_" + name + ".nii.gz");

  Domain::Pointer domain = Domain::New();
  domain->CopyInformation(reference);
  domain->SetRegions(reference->GetLargestPossibleRegion());
  domain->Allocate();
  itk::ImageRegionIteratorWithIndex<Domain> it(domain, domain->GetLargestPossibleRegion());
  for (; !it.IsAtEnd(); ++it) {
    Image::PointType p;
    reference->TransformIndexToPhysicalPoint(it.GetIndex(), p);
    itk::ContinuousIndex<double, 3> c;
    source->TransformPhysicalPointToContinuousIndex(composite->TransformPoint(p), c);
    it.Set(domain_of(c, source->GetLargestPossibleRegion().GetSize()));
  }
  write_image<Domain>(domain, "domain_" + name + ".nii.gz");
  std::printf("%s written\n", name.c_str());
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_itk_references OUTDIR\n");
    return 2;
  }
  out_dir = argv[1];
  itk::TransformFactoryBase::RegisterDefaultTransforms();
  write_image<Image>(make_source(), "source.nii.gz");
  write_image<Image>(make_reference(), "reference.nii.gz");
  write_transforms();
  // Read back, so both programs start from the same stored numbers.
  const Image::Pointer source = read_image("source.nii.gz");
  const Image::Pointer reference = read_image("reference.nii.gz");
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"affine_mat", {"affine.mat"}},         {"euler", {"euler.txt"}},
      {"versor_float", {"versor_float.txt"}}, {"similarity", {"similarity.txt"}},
      {"composite_file", {"composite.txt"}},  {"chain", {"affine.mat", "euler.txt"}},
      {"inverse", {"affine.mat,inverse"}},    {"field_affine", {"field.nii.gz", "affine.mat"}},
  };
  for (const auto &c : cases) run_case(c.first, c.second, source, reference);
  return 0;
}

// Writes the files the format comparison with ITK uses, all through ITK's
// own writers: a small oblique int16 image as NRRD (attached, gzip; and
// detached, raw) and MetaImage (attached, compressed; and detached, raw),
// a 4-D series in both formats, and for each file what ITK's reader makes
// of it: one line per voxel with its index, ITK's physical point (LPS) and
// its value. Then a small displacement field and an affine, each on its
// own (NIfTI and text) and together as an HDF5 composite transform.
//
// usage: make_format_references OUTDIR
#include <itkAffineTransform.h>
#include <itkCompositeTransform.h>
#include <itkDisplacementFieldTransform.h>
#include <itkImage.h>
#include <itkImageFileReader.h>
#include <itkImageFileWriter.h>
#include <itkImageRegionIteratorWithIndex.h>
#include <itkTransformFileWriter.h>
#include <itkVector.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

std::string out_dir;

std::string path(const std::string &name) { return out_dir + "/" + name; }

template <unsigned D>
typename itk::Image<short, D>::Pointer make_image(const unsigned (&size)[D]) {
  using ImageType = itk::Image<short, D>;
  typename ImageType::Pointer image = ImageType::New();
  typename ImageType::RegionType region;
  for (unsigned i = 0; i < D; ++i) region.SetSize(i, size[i]);
  image->SetRegions(region);
  typename ImageType::SpacingType spacing;
  typename ImageType::PointType origin;
  const double spacings[4] = {1.5, 2.0, 2.5, 1.0}, origins[4] = {-10.0, 5.0, 20.0, 0.0};
  for (unsigned i = 0; i < D; ++i) {
    spacing[i] = spacings[i];
    origin[i] = origins[i];
  }
  image->SetSpacing(spacing);
  image->SetOrigin(origin);
  typename ImageType::DirectionType direction;
  direction.SetIdentity();
  const double a = 20 * M_PI / 180, b = 10 * M_PI / 180;
  // A rotation about z, then about x.
  const double r[3][3] = {{std::cos(a), -std::sin(a), 0},
                          {std::cos(b) * std::sin(a), std::cos(b) * std::cos(a), -std::sin(b)},
                          {std::sin(b) * std::sin(a), std::sin(b) * std::cos(a), std::cos(b)}};
  for (unsigned i = 0; i < 3; ++i)
    for (unsigned j = 0; j < 3; ++j) direction(i, j) = r[i][j];
  image->SetDirection(direction);
  image->Allocate();
  itk::ImageRegionIteratorWithIndex<ImageType> it(image, region);
  for (it.GoToBegin(); !it.IsAtEnd(); ++it) {
    long v = -50;
    long weight = 1;
    for (unsigned i = 0; i < D; ++i, weight *= 10) v += weight * it.GetIndex()[i];
    it.Set(static_cast<short>(v));
  }
  return image;
}

// Writes the image as `name`, reads it back with ITK and lists its voxels.
template <unsigned D>
void write_and_list(const typename itk::Image<short, D>::Pointer &image, const std::string &name, bool compress) {
  using ImageType = itk::Image<short, D>;
  auto writer = itk::ImageFileWriter<ImageType>::New();
  writer->SetInput(image);
  writer->SetFileName(path(name));
  writer->SetUseCompression(compress);
  writer->Update();
  auto reader = itk::ImageFileReader<ImageType>::New();
  reader->SetFileName(path(name));
  reader->Update();
  const typename ImageType::Pointer back = reader->GetOutput();
  FILE *out = std::fopen(path("voxels_" + name + ".txt").c_str(), "w");
  itk::ImageRegionIteratorWithIndex<ImageType> it(back, back->GetLargestPossibleRegion());
  for (it.GoToBegin(); !it.IsAtEnd(); ++it) {
    typename ImageType::PointType p;
    back->TransformIndexToPhysicalPoint(it.GetIndex(), p);
    for (unsigned i = 0; i < D; ++i) std::fprintf(out, "%ld ", static_cast<long>(it.GetIndex()[i]));
    std::fprintf(out, "%.17g %.17g %.17g %d\n", p[0], p[1], p[2], it.Get());
  }
  std::fclose(out);
}

using Field = itk::Image<itk::Vector<double, 3>, 3>;

itk::Vector<double, 3> vector3(double x, double y, double z) {
  itk::Vector<double, 3> v;
  v[0] = x, v[1] = y, v[2] = z;
  return v;
}

itk::Point<double, 3> point3(double x, double y, double z) {
  itk::Point<double, 3> p;
  p[0] = x, p[1] = y, p[2] = z;
  return p;
}
using Transform = itk::Transform<double, 3, 3>;

Field::Pointer make_field() {
  Field::Pointer field = Field::New();
  Field::RegionType region;
  region.SetSize({{6, 5, 4}});
  field->SetRegions(region);
  field->SetSpacing(vector3(4.0, 4.5, 5.0));
  field->SetOrigin(point3(-12.0, -6.0, 10.0));
  field->Allocate();
  itk::ImageRegionIteratorWithIndex<Field> it(field, region);
  for (it.GoToBegin(); !it.IsAtEnd(); ++it) {
    const auto &i = it.GetIndex();
    Field::PixelType d;
    d[0] = 0.8 * std::sin(0.9 * i[0] + 0.3 * i[2]);
    d[1] = 0.6 * std::cos(0.7 * i[1]) - 0.2;
    d[2] = 0.5 * std::sin(0.4 * i[0] + 0.5 * i[1]);
    it.Set(d);
  }
  return field;
}

void write_transform(const itk::Object *t, const std::string &name) {
  auto writer = itk::TransformFileWriterTemplate<double>::New();
  writer->SetInput(t);
  writer->SetFileName(path(name));
  writer->SetUseCompression(true);
  writer->Update();
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_format_references OUTDIR\n");
    return 2;
  }
  out_dir = argv[1];
  const unsigned size3[3] = {5, 4, 3};
  const auto image = make_image<3>(size3);
  write_and_list<3>(image, "image.nrrd", true);
  write_and_list<3>(image, "detached_nrrd.nhdr", false);
  write_and_list<3>(image, "image.mha", true);
  write_and_list<3>(image, "detached_meta.mhd", false);
  const unsigned size4[4] = {3, 4, 2, 3};
  const auto series = make_image<4>(size4);
  write_and_list<4>(series, "series.nrrd", true);
  write_and_list<4>(series, "series.mha", true);

  const Field::Pointer field = make_field();
  auto field_writer = itk::ImageFileWriter<Field>::New();
  field_writer->SetInput(field);
  field_writer->SetFileName(path("small_field.nii.gz"));
  field_writer->Update();
  auto displacement = itk::DisplacementFieldTransform<double, 3>::New();
  displacement->SetDisplacementField(field);
  auto affine = itk::AffineTransform<double, 3>::New();
  itk::Matrix<double, 3, 3> m;
  m(0, 0) = 1.02, m(0, 1) = 0.05, m(0, 2) = -0.03;
  m(1, 0) = -0.04, m(1, 1) = 0.97, m(1, 2) = 0.06;
  m(2, 0) = 0.02, m(2, 1) = -0.05, m(2, 2) = 1.01;
  affine->SetMatrix(m);
  affine->SetCenter(point3(2.0, -3.0, 15.0));
  affine->SetTranslation(vector3(1.5, -2.0, 0.75));
  write_transform(affine, "small_affine.txt");
  write_transform(affine, "small_affine.h5");
  // Applied last added first: the affine, then the field, as the list
  // "small_field.nii.gz small_affine.txt" of --transform options.
  auto composite = itk::CompositeTransform<double, 3>::New();
  composite->AddTransform(displacement);
  composite->AddTransform(affine);
  write_transform(composite, "composite.h5");
  return 0;
}

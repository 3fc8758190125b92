// The same rows through ITK's interpolators and its resampling filter, on
// one thread. ITK indexes voxels from 0, so each point is shifted by one.
#include "itk_peer.h"

#include <itkAffineTransform.h>
#include <itkBSplineInterpolateImageFunction.h>
#include <itkImage.h>
#include <itkImportImageFilter.h>
#include <itkLinearInterpolateImageFunction.h>
#include <itkMultiThreaderBase.h>
#include <itkNearestNeighborInterpolateImageFunction.h>
#include <itkResampleImageFilter.h>
#include <itkWindowedSincInterpolateImageFunction.h>

#include <vector>

#include "timing.h"

namespace bench {
namespace {

using Image = itk::Image<int16_t, 3>;
using OutImage = itk::Image<double, 3>;
using Index = itk::ContinuousIndex<double, 3>;

constexpr int kReps = 7;
constexpr int kResliceReps = 3;

Image::Pointer import_volume(const BenchData &data) {
  auto import = itk::ImportImageFilter<int16_t, 3>::New();
  itk::ImportImageFilter<int16_t, 3>::SizeType size;
  size.Fill(kSide);
  itk::ImportImageFilter<int16_t, 3>::IndexType start;
  start.Fill(0);
  import->SetRegion(itk::ImageRegion<3>(start, size));
  import->SetImportPointer(const_cast<int16_t *>(data.voxels.data()), data.voxels.size(), false);
  import->Update();
  Image::Pointer image = import->GetOutput();
  image->DisconnectPipeline();
  return image;
}

std::vector<Index> to_indices(const PointSet &p) {
  std::vector<Index> out(p.x.size());
  for (std::size_t n = 0; n < out.size(); ++n) {
    out[n][0] = p.x[n] - 1.0;
    out[n][1] = p.y[n] - 1.0;
    out[n][2] = p.z[n] - 1.0;
  }
  return out;
}

template <class Interpolator>
double points_ns(const Image *image, const std::vector<Index> &points, Interpolator *interp) {
  interp->SetInputImage(image);
  std::vector<double> out(points.size());
  const double s = median_seconds(kReps, [&] {
    for (std::size_t n = 0; n < points.size(); ++n) out[n] = interp->EvaluateAtContinuousIndex(points[n]);
  });
  return s * 1e9 / static_cast<double>(points.size());
}

double gradient_ns(const Image *image, const std::vector<Index> &points) {
  auto interp = itk::BSplineInterpolateImageFunction<Image, double, double>::New();
  interp->SetSplineOrder(1);
  interp->SetNumberOfWorkUnits(1);
  interp->SetInputImage(image);
  std::vector<double> out(points.size() * 4);
  const double s = median_seconds(kReps, [&] {
    double value = 0.0;
    itk::CovariantVector<double, 3> d;
    for (std::size_t n = 0; n < points.size(); ++n) {
      interp->EvaluateValueAndDerivativeAtContinuousIndex(points[n], value, d);
      out[4 * n] = value;
      out[4 * n + 1] = d[0];
      out[4 * n + 2] = d[1];
      out[4 * n + 3] = d[2];
    }
  });
  return s * 1e9 / static_cast<double>(points.size());
}

// The rotation about the centre of 0-based voxels, which are ITK's
// physical points here (origin 0, spacing 1).
itk::AffineTransform<double, 3>::Pointer rotation(const BenchData &data) {
  auto t = itk::AffineTransform<double, 3>::New();
  itk::AffineTransform<double, 3>::MatrixType m;
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) m(row, col) = data.rotation[row + 4 * col];
  }
  itk::AffineTransform<double, 3>::InputPointType centre;
  centre.Fill((kSide - 1) / 2.0);
  t->SetCenter(centre);
  t->SetMatrix(m);
  return t;
}

template <class Interpolator>
double resample_seconds(const BenchData &data, const Image *image, int32_t planes, double first_plane,
                        int reps, Interpolator *interp) {
  auto filter = itk::ResampleImageFilter<Image, OutImage>::New();
  filter->SetNumberOfWorkUnits(1);
  filter->SetInput(image);
  filter->SetTransform(rotation(data));
  filter->SetInterpolator(interp);
  filter->SetDefaultPixelValue(0.0);
  OutImage::SizeType size;
  size[0] = kSide;
  size[1] = kSide;
  size[2] = static_cast<itk::SizeValueType>(planes);
  filter->SetSize(size);
  OutImage::PointType origin;
  origin[0] = 0.0;
  origin[1] = 0.0;
  origin[2] = first_plane;
  filter->SetOutputOrigin(origin);
  return median_seconds(reps, [&] {
    filter->Modified();
    filter->Update();
  });
}

}  // namespace

void run_itk(const BenchData &data) {
  itk::MultiThreaderBase::SetGlobalDefaultNumberOfThreads(1);
  const Image::Pointer image = import_volume(data);
  const std::vector<Index> random = to_indices(data.random);
  const std::vector<Index> rows = to_indices(data.rows);
  auto nearest = itk::NearestNeighborInterpolateImageFunction<Image, double>::New();
  auto linear = itk::LinearInterpolateImageFunction<Image, double>::New();
  // ITK has no Hann window; the Hamming window costs the same.
  using Sinc = itk::WindowedSincInterpolateImageFunction<Image, 2, itk::Function::HammingWindowFunction<2>>;
  auto sinc = Sinc::New();
  report("nearest_random", "itk", points_ns(image.GetPointer(), random, nearest.GetPointer()));
  report("trilinear_random", "itk", points_ns(image.GetPointer(), random, linear.GetPointer()));
  report("trilinear_rows", "itk", points_ns(image.GetPointer(), rows, linear.GetPointer()));
  report("sinc4_random", "itk", points_ns(image.GetPointer(), random, sinc.GetPointer()));
  report("trilinear_grad_random", "itk", gradient_ns(image.GetPointer(), random));
  const double slice_s =
      resample_seconds(data, image.GetPointer(), 1, kSide / 2 - 1, kReps * 5, linear.GetPointer());
  report("slice_trilinear", "itk", slice_s * 1e9 / (kSide * kSide));
  report("reslice_trilinear", "itk",
         resample_seconds(data, image.GetPointer(), kSide, 0.0, kResliceReps, linear.GetPointer()));
  report("reslice_sinc4", "itk",
         resample_seconds(data, image.GetPointer(), kSide, 0.0, kResliceReps, sinc.GetPointer()));
}

}  // namespace bench

// The same rows through ITK's interpolators and its resampling filter, on
// one thread, and the reslices also at ITK's default thread count. ITK
// indexes voxels from 0, so each point is shifted by one.
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

#include <functional>
#include <string>
#include <vector>

namespace bench {
namespace {

using Image = itk::Image<int16_t, 3>;
using OutImage = itk::Image<double, 3>;
using Index = itk::ContinuousIndex<double, 3>;

std::vector<Index> to_indices(const PointSet &p) {
  std::vector<Index> out(p.x.size());
  for (std::size_t n = 0; n < out.size(); ++n) {
    out[n][0] = p.x[n] - 1.0;
    out[n][1] = p.y[n] - 1.0;
    out[n][2] = p.z[n] - 1.0;
  }
  return out;
}

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

template <class Interpolator>
std::function<void()> points_run(const Image *image, const std::vector<Index> &points, Interpolator *interp,
                                 std::vector<double> &out) {
  interp->SetInputImage(image);
  return [&points, interp, &out] {
    for (std::size_t n = 0; n < points.size(); ++n) out[n] = interp->EvaluateAtContinuousIndex(points[n]);
  };
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

// A resampling filter onto `planes` output planes from first_plane on,
// under the rotation; on one thread, or as ITK sets it up by default.
template <class Interpolator>
itk::ResampleImageFilter<Image, OutImage>::Pointer resampler(const BenchData &data, const Image *image, int32_t planes,
                                                             double first_plane, Interpolator *interp,
                                                             bool one_thread = true) {
  auto filter = itk::ResampleImageFilter<Image, OutImage>::New();
  if (one_thread) filter->SetNumberOfWorkUnits(1);
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
  return filter;
}

std::function<void()> filter_run(itk::ResampleImageFilter<Image, OutImage> *filter) {
  return [filter] {
    filter->Modified();
    filter->Update();
  };
}

// ITK has no Hann window; the Hamming window costs the same.
using Sinc = itk::WindowedSincInterpolateImageFunction<Image, 2, itk::Function::HammingWindowFunction<2>>;
using Spline = itk::BSplineInterpolateImageFunction<Image, double, double>;

}  // namespace

struct ItkPeer::Impl {
  const BenchData &data;
  int default_threads;
  Image::Pointer image;
  std::vector<Index> random;
  std::vector<Index> rows;
  std::vector<double> out;
  itk::NearestNeighborInterpolateImageFunction<Image, double>::Pointer nearest =
      itk::NearestNeighborInterpolateImageFunction<Image, double>::New();
  itk::LinearInterpolateImageFunction<Image, double>::Pointer linear =
      itk::LinearInterpolateImageFunction<Image, double>::New();
  Sinc::Pointer sinc = Sinc::New();
  Spline::Pointer spline = Spline::New();
  Sinc::Pointer sinc_default = Sinc::New();
  itk::ResampleImageFilter<Image, OutImage>::Pointer slice, reslice, reslice_sinc;
  itk::ResampleImageFilter<Image, OutImage>::Pointer reslice_default, reslice_sinc_default;

  // The filters at ITK's defaults are made before ITK's global thread
  // count is set to one for the rest.
  explicit Impl(const BenchData &d)
      : data(d), default_threads(static_cast<int>(itk::MultiThreaderBase::GetGlobalDefaultNumberOfThreads())),
        image(import_volume(d)), random(to_indices(d.random)), rows(to_indices(d.rows)), out(d.random.x.size() * 4) {
    reslice_default = resampler(d, image.GetPointer(), kSide, 0.0, linear.GetPointer(), false);
    reslice_sinc_default = resampler(d, image.GetPointer(), kSide, 0.0, sinc_default.GetPointer(), false);
    itk::MultiThreaderBase::SetGlobalDefaultNumberOfThreads(1);
    spline->SetSplineOrder(1);
    spline->SetNumberOfWorkUnits(1);
    spline->SetInputImage(image);
    slice = resampler(d, image.GetPointer(), 1, kSide / 2 - 1, linear.GetPointer());
    reslice = resampler(d, image.GetPointer(), kSide, 0.0, linear.GetPointer());
    reslice_sinc = resampler(d, image.GetPointer(), kSide, 0.0, sinc.GetPointer());
  }

  std::function<void()> gradient_run() {
    return [this] {
      double value = 0.0;
      itk::CovariantVector<double, 3> d;
      for (std::size_t n = 0; n < random.size(); ++n) {
        spline->EvaluateValueAndDerivativeAtContinuousIndex(random[n], value, d);
        out[4 * n] = value;
        out[4 * n + 1] = d[0];
        out[4 * n + 2] = d[1];
        out[4 * n + 3] = d[2];
      }
    };
  }
};

ItkPeer::ItkPeer(const BenchData &data) : impl_(std::make_unique<Impl>(data)) {}

int ItkPeer::default_threads() const { return impl_->default_threads; }

ItkPeer::~ItkPeer() = default;

std::function<void()> ItkPeer::row(const std::string &name) {
  Impl &m = *impl_;
  if (name == "nearest_random") return points_run(m.image.GetPointer(), m.random, m.nearest.GetPointer(), m.out);
  if (name == "trilinear_random") return points_run(m.image.GetPointer(), m.random, m.linear.GetPointer(), m.out);
  if (name == "trilinear_rows") return points_run(m.image.GetPointer(), m.rows, m.linear.GetPointer(), m.out);
  if (name == "sinc4_random") return points_run(m.image.GetPointer(), m.random, m.sinc.GetPointer(), m.out);
  if (name == "trilinear_grad_random") return m.gradient_run();
  if (name == "slice_trilinear") return filter_run(m.slice.GetPointer());
  if (name == "reslice_trilinear") return filter_run(m.reslice.GetPointer());
  if (name == "reslice_sinc4") return filter_run(m.reslice_sinc.GetPointer());
  if (name == "reslice_trilinear_default") return filter_run(m.reslice_default.GetPointer());
  if (name == "reslice_sinc4_default") return filter_run(m.reslice_sinc_default.GetPointer());
  return {};
}

}  // namespace bench

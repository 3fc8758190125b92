// The four weight builders: one run of Lagrange or Hann-windowed sinc
// weights (and derivative weights) along one axis. Each builder keeps the
// node offsets, and the Lagrange ones their denominators, of the last node
// count it saw, so that a request of many points pays for them once; each
// thread keeps its own, so builders may run in several threads at once.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "builder_steps.h"
#include "lookup_cache.h"
#include "volaccess.h"

namespace volaccess {
namespace {

// The Lagrange denominators are cached for at most this many nodes.
constexpr int32_t kMaxLagrangeNodes = 256;
constexpr double kPi = 3.141592653589793;

struct LagrangeCache {
  LookupCache nodes;
  double denom[kMaxLagrangeNodes];
};

thread_local LagrangeCache g_poly{};
thread_local LagrangeCache g_poly_grad{};
thread_local LookupCache g_sinc{};
thread_local LookupCache g_sinc_grad{};

// Odd counts centre on the nearest voxel, even counts on the one below.
void set_offsets(LookupCache &cache, int32_t q) {
  cache.oq = q;
  if (q % 2 != 0) {
    cache.k0 = (1 - q) / 2;
    cache.k1 = (q - 1) / 2;
  } else {
    cache.k0 = (2 - q) / 2;
    cache.k1 = q / 2;
  }
}

void refresh(LookupCache &cache, int32_t q) {
  if (q != cache.oq) set_offsets(cache, q);
}

// denom[i - k0] = r! with r = i - k0, then times -1, -2, ..., -(k1 - i).
void refresh(LagrangeCache &cache, int32_t q) {
  if (q == cache.nodes.oq) return;
  set_offsets(cache.nodes, q);
  const int32_t k0 = cache.nodes.k0;
  const int32_t k1 = cache.nodes.k1;
  for (int32_t i = k0; i <= k1; ++i) {
    double d = 1.0;
    for (int32_t r = i - k0; r >= 1; --r) d *= static_cast<double>(r);
    for (int32_t n = 1; n <= k1 - i; ++n) d *= static_cast<double>(-n);
    cache.denom[i - k0] = d;
  }
}

void store_empty(int32_t first_value, int32_t *first, double *table, double **last) {
  *first = first_value;
  *last = empty_run_last(table);
}

// A coordinate within kWholeNumberReach of a voxel centre takes that voxel
// alone with weight exactly 1 (an empty run when the voxel is outside).
// Returns false when the coordinate is not that close.
bool whole_number_shortcut(int32_t d, int32_t *first, double *table, double **last, double x) {
  const double nearest = std::floor(x + 0.5);
  if (!(std::fabs(x - nearest) < kWholeNumberReach)) return false;
  if (nearest >= 0.0 && nearest < static_cast<double>(d)) {
    *first = static_cast<int32_t>(nearest);
    table[0] = 1.0;
    *last = table;
  } else {
    const bool representable = nearest >= -2147483648.0 && nearest <= 2147483647.0;
    store_empty(representable ? static_cast<int32_t>(nearest) : 0, first, table, last);
  }
  return true;
}

// The voxels of one run: count entries for voxels first.. (count may be 0),
// the first of them at node offset i0, and the fraction t from the centre.
struct Run {
  int32_t first;
  int32_t count;
  int32_t i0;
  double t;
};

// Nodes that fall outside 0..d-1 are dropped, never shifted or mirrored.
// A centre that is not a number or leaves the 32-bit range gives no run.
bool plan_run(const LookupCache &nodes, int32_t d, double x, Run *run) {
  const double centre = nodes.oq % 2 != 0 ? std::floor(x + 0.5) : std::floor(x);
  if (!(centre >= -2147483648.0 && centre <= 2147483647.0)) return false;
  const int64_t c = static_cast<int32_t>(centre);
  const int64_t lowest = c + nodes.k0;
  const int64_t first = std::max<int64_t>(lowest, 0);
  const int64_t last_voxel = std::min<int64_t>(c + nodes.k1, static_cast<int64_t>(d) - 1);
  run->first = static_cast<int32_t>(first);
  run->count = last_voxel < first ? 0 : static_cast<int32_t>(last_voxel - first + 1);
  run->i0 = run->count == 0 ? nodes.k0 : static_cast<int32_t>(lowest >= 0 ? nodes.k0 : -c);
  run->t = x - centre;
  return true;
}

void store_run(const Run &run, int32_t *first, double *table, double **last) {
  *first = run.first;
  *last = run.count == 0 ? empty_run_last(table) : table + (run.count - 1);
}

// Product of (t - j) over every offset j of k0..k1 but i, in increasing j.
double lagrange_numerator(const LookupCache &nodes, int32_t i, double t) {
  double n = 1.0;
  for (int32_t j = nodes.k0; j < i; ++j) n *= t - static_cast<double>(j);
  for (int32_t j = i + 1; j <= nodes.k1; ++j) n *= t - static_cast<double>(j);
  return n;
}

// Moves the numerator of node i - 1 to node i: multiply first, then divide.
double next_numerator(double n, int32_t i, double t) {
  const double di = static_cast<double>(i);
  return n * (t - di + 1.0) / (t - di);
}

// The sinc at u under a Hann window q nodes wide, formed as
// sin(a)/a, times 0.5, times (cos((a + a)/q) + 1).
double hann_sinc(double u, int32_t q) {
  const double a = kPi * u;
  return std::sin(a) / a * 0.5 * (std::cos((a + a) / static_cast<double>(q)) + 1.0);
}

// Near a node the windowed sinc is 1; the exact value avoids 0/0.
double hann_sinc_or_one(double u, int32_t q) {
  return std::fabs(u) <= kSincNodeReach ? 1.0 : hann_sinc(u, q);
}

}  // namespace

LookupCache poly_cache() { return g_poly.nodes; }
LookupCache poly_grad_cache() { return g_poly_grad.nodes; }
LookupCache sinc_cache() { return g_sinc; }
LookupCache sinc_grad_cache() { return g_sinc_grad; }

const double *lagrange_denominators(int32_t q) {
  refresh(g_poly, q);
  return g_poly.denom;
}

// Node counts below 1 give an empty run; the Lagrange builders take at most
// as many nodes as their denominator cache holds.
extern "C" void make_lookup_poly(int32_t q, int32_t d, int32_t *first, double *table, double **last,
                                 double c) {
  if (q < 1) return store_empty(0, first, table, last);
  q = std::min(q, kMaxLagrangeNodes);
  refresh(g_poly, q);
  const double x = c - 1.0;
  if (whole_number_shortcut(d, first, table, last, x)) return;
  Run run;
  if (!plan_run(g_poly.nodes, d, x, &run)) return store_empty(0, first, table, last);
  store_run(run, first, table, last);
  if (run.count == 0) return;
  double n = lagrange_numerator(g_poly.nodes, run.i0, run.t);
  table[0] = n / g_poly.denom[run.i0 - g_poly.nodes.k0];
  for (int32_t e = 1; e < run.count; ++e) {
    const int32_t i = run.i0 + e;
    n = next_numerator(n, i, run.t);
    table[e] = n / g_poly.denom[i - g_poly.nodes.k0];
  }
}

// Derivative weights by forward difference with step kLagrangeGradientStep.
// Close to a node the recurrence would divide by a number near 0, so every
// numerator is then formed as a full product.
extern "C" void make_lookup_poly_grad(int32_t q, int32_t d, int32_t *first, double *table,
                                      double *dtable, double **last, double c) {
  if (q < 1) return store_empty(0, first, table, last);
  q = std::min(q, kMaxLagrangeNodes);
  refresh(g_poly_grad, q);
  const double x = c - 1.0;
  Run run;
  if (!plan_run(g_poly_grad.nodes, d, x, &run)) {
    return store_empty(0, first, table, last);
  }
  store_run(run, first, table, last);
  const double t = run.t;
  const double t2 = t + kLagrangeGradientStep;
  const bool full_products = std::fabs(t) <= kFullProductReach;
  double n = 0.0;
  double n2 = 0.0;
  for (int32_t e = 0; e < run.count; ++e) {
    const int32_t i = run.i0 + e;
    if (e == 0 || full_products) {
      n = lagrange_numerator(g_poly_grad.nodes, i, t);
      n2 = lagrange_numerator(g_poly_grad.nodes, i, t2);
    } else {
      n = next_numerator(n, i, t);
      n2 = next_numerator(n2, i, t2);
    }
    const double denom = g_poly_grad.denom[i - g_poly_grad.nodes.k0];
    table[e] = n / denom;
    dtable[e] = (n2 - n) / kLagrangeGradientStep / denom;
  }
}

// The whole-number test comes before the cache check here, so a call that
// takes it leaves the cache as it was. The weights are normalised to sum 1,
// so a run cut at the rim still sums to 1.
extern "C" void make_lookup_sinc(int32_t q, int32_t d, int32_t *first, double *table, double **last,
                                 double c) {
  if (q < 1) return store_empty(0, first, table, last);
  const double x = c - 1.0;
  if (whole_number_shortcut(d, first, table, last, x)) return;
  refresh(g_sinc, q);
  Run run;
  if (!plan_run(g_sinc, d, x, &run)) return store_empty(0, first, table, last);
  store_run(run, first, table, last);
  double sum = 0.0;
  for (int32_t e = 0; e < run.count; ++e) {
    table[e] = hann_sinc(x - static_cast<double>(run.first + e), q);
    sum += table[e];
  }
  for (int32_t e = 0; e < run.count; ++e) table[e] = table[e] / sum;
}

// Derivatives of the normalised weights by forward difference with step
// kSincGradientStep; no whole-number shortcut.
extern "C" void make_lookup_sinc_grad(int32_t q, int32_t d, int32_t *first, double *table,
                                      double *dtable, double **last, double c) {
  if (q < 1) return store_empty(0, first, table, last);
  refresh(g_sinc_grad, q);
  const double x = c - 1.0;
  Run run;
  if (!plan_run(g_sinc_grad, d, x, &run)) {
    return store_empty(0, first, table, last);
  }
  store_run(run, first, table, last);
  double sum = 0.0;
  double sum2 = 0.0;
  for (int32_t e = 0; e < run.count; ++e) {
    const double u = x - static_cast<double>(run.first + e);
    table[e] = hann_sinc_or_one(u, q);
    sum += table[e];
    dtable[e] = hann_sinc_or_one(u + kSincGradientStep, q);
    sum2 += dtable[e];
  }
  for (int32_t e = 0; e < run.count; ++e) {
    table[e] = table[e] / sum;
    dtable[e] = (dtable[e] / sum2 - table[e]) / kSincGradientStep;
  }
}

}  // namespace volaccess

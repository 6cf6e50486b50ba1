// travo::Member: batch forms, spread over threads in contiguous slices.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "cpp/member_impl.hpp"
#include "cpp/spread.hpp"
#include "travo/travo.hpp"

namespace travo {

using detail::differentiable;
using detail::expect_length;
using detail::point_count;
using detail::region_of;
using detail::spread;
using detail::to_core;

void Member::values(Kind kind, std::span<const double> points, std::span<double> out, unsigned threads,
                    const BatchProgress &progress) const {
    const core::Kind k = to_core(kind);
    const std::size_t n = dim();
    const std::size_t count = point_count(points, n);
    expect_length("the value batch", out.size(), count);
    const double *x = points.data();
    double *v = out.data();
    spread(count, n + 1, threads, progress, [&batch = impl().batch, k, n, x, v](std::size_t first, std::size_t last) {
        batch.values(k, x + first * n, last - first, v + first);
    });
}

namespace {

// Sites of the points [first, last) a block at a time, handed to
// each(p, site).
template <class Each>
void each_site(const core::BatchEvaluator &batch, const double *points, std::size_t n, std::size_t first,
               std::size_t last, const Each &each) {
    constexpr std::size_t block = core::BatchEvaluator::kBlock;
    core::Site sites[block];
    for (std::size_t p = first; p < last; p += block) {
        const std::size_t used = std::min(block, last - p);
        batch.locate(points + p * n, used, sites);
        for (std::size_t q = 0; q < used; q++) each(p + q, sites[q]);
    }
}

}  // namespace

void Member::gradients(Kind kind, std::span<const double> points, std::span<double> out, unsigned threads,
                       const BatchProgress &progress) const {
    const core::Kind k = differentiable(kind);
    const std::size_t n = dim();
    const std::size_t count = point_count(points, n);
    expect_length("the gradient batch", out.size(), count * n);
    const double *x = points.data();
    double *g = out.data();
    spread(count, 2 * n, threads, progress, [&batch = impl().batch, k, n, x, g](std::size_t first, std::size_t last) {
        batch.gradients(k, x + first * n, last - first, g + first * n);
    });
}

void Member::values_and_gradients(Kind kind, std::span<const double> points, std::span<double> values_out,
                                  std::span<double> gradients_out, unsigned threads,
                                  const BatchProgress &progress) const {
    const core::Kind k = differentiable(kind);
    const std::size_t n = dim();
    const std::size_t count = point_count(points, n);
    expect_length("the value batch", values_out.size(), count);
    expect_length("the gradient batch", gradients_out.size(), count * n);
    const double *x = points.data();
    double *v = values_out.data();
    double *g = gradients_out.data();
    spread(count, 2 * n + 1, threads, progress,
           [&batch = impl().batch, k, n, x, v, g](std::size_t first, std::size_t last) {
               batch.values(k, x + first * n, last - first, v + first);
               batch.gradients(k, x + first * n, last - first, g + first * n);
           });
}

void Member::hessians(std::span<const double> points, std::span<double> out, unsigned threads,
                      const BatchProgress &progress) const {
    const std::size_t n = dim();
    const std::size_t count = point_count(points, n);
    expect_length("the Hessian batch", out.size(), count * n * n);
    const double *x = points.data();
    double *h = out.data();
    spread(count, n + n * n, threads, progress, [&batch = impl().batch, n, x, h](std::size_t first, std::size_t last) {
        batch.hessians(x + first * n, last - first, h + first * n * n);
    });
}

void Member::regions(std::span<const double> points, std::span<std::int64_t> out, unsigned threads,
                     const BatchProgress &progress) const {
    const std::size_t n = dim();
    const std::size_t count = point_count(points, n);
    expect_length("the region batch", out.size(), count);
    const double *x = points.data();
    std::int64_t *r = out.data();
    spread(count, n + 1, threads, progress, [&batch = impl().batch, n, x, r](std::size_t first, std::size_t last) {
        each_site(batch, x, n, first, last, [r](std::size_t p, const core::Site &site) { r[p] = region_of(site); });
    });
}

}  // namespace travo

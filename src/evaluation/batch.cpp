#include "evaluation/batch.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

namespace travo::core {
namespace {

const BatchKernels *kernels_of(Simd simd, uint32_t n) {
    switch (simd) {
    case Simd::SSE2:
        return batch_kernels_sse2(n);
    case Simd::AVX2:
        return batch_kernels_avx2(n);
    case Simd::AVX512:
        return batch_kernels_avx512(n);
    }
    return nullptr;
}

// The widest set at or below `cap` whose kernels this build holds.
Simd widest_up_to(Simd cap) {
    return widest_simd(cap, [](Simd simd) { return kernels_of(simd, 2) != nullptr; });
}

// Stack room for the scratch of a block in few dimensions.
constexpr uint32_t kStackDim = 16;

}  // namespace

// The block, a point and 2 n vectors of eight lanes for the derivatives.
std::size_t batch_scratch_size(uint32_t n) {
    return std::size_t(n) * BatchEvaluator::kMaxBlock + batch_point_room(n) + 2 * std::size_t(n) * 8;
}

uint32_t batch_find_region(const BatchTables &t, const double *x) {
    double r = 0.0;
    return t.index->find(*t.mb, x, &r);
}

Site batch_locate_one(const BatchTables &t, const double *x) {
    if (t.nan_refused && has_nan(x, t.n)) return Site{};
    return t.index != nullptr ? core::locate(*t.mb, *t.index, x) : core::locate(*t.mb, x);
}

bool BatchEvaluator::supported(Simd simd) { return kernels_of(simd, 2) != nullptr && processor_has(simd); }

Simd BatchEvaluator::chosen() { return widest_up_to(simd_cap()); }

const char *BatchEvaluator::name(Simd simd) { return simd_name(simd); }

BatchEvaluator::BatchEvaluator(const Member &mb, const RegionIndex *index, std::optional<Simd> simd, NanPoints nan)
    : simd_(simd ? widest_up_to(*simd) : chosen()) {
    const MinimaTable &tab = mb.minima;
    numbers_.nan_refused = nan == NanPoints::Refused;
    numbers_.mb = &mb;
    numbers_.index = index;
    numbers_.n = mb.dim;
    numbers_.m = mb.num_minima;
    if (!mb.isArgSet || mb.dim == 0 || mb.num_minima == 0) return;
    // Regions searched in lanes, or found by the index (a grid or a tree).
    const bool low = index != nullptr && index->mode() == RegionIndex::Mode::Grid;
    const bool searched = mb.num_minima <= (low ? kMaxGridRegions : kMaxRegions) + 1;
    const bool found = index != nullptr && mb.num_minima <= kMaxIndexedRegions + 1 &&
                       (index->mode() == RegionIndex::Mode::Grid || index->mode() == RegionIndex::Mode::Tree);
    if (!searched && !found) return;
    numbers_.indexed = !searched;
    if (tab.points == nullptr || tab.values == nullptr || tab.radii == nullptr || mb.domain_left == nullptr ||
        mb.domain_right == nullptr) {
        return;
    }
    const std::size_t n = mb.dim, m = mb.num_minima;
    // With finite rows a sum of squares is NaN only for a NaN coordinate of
    // the point, which the search looks for.
    for (std::size_t row = 0; row < m; row++) {
        for (std::size_t c = 0; c < n; c++) {
            if (!std::isfinite(tab.points[row][c])) return;
        }
    }
    lo_.resize(n);
    hi_.resize(n);
    coord_.resize(m * n);
    edge_.resize(m * n);
    out_bound_.resize(m);
    rows_.resize(m);
    for (std::size_t c = 0; c < n; c++) {
        lo_[c] = mb.domain_left[c] - kTol;
        hi_[c] = mb.domain_right[c] + kTol;
    }
    const double *t = tab.points[0];
    numbers_.vertex_value = tab.values[0];
    const double dl = mb.delta;
    numbers_.delta = dl;
    const RegionTerms delta_terms{0.0, 1.0, 1.0, dl};
    numbers_.delta_half = delta_terms.delta_half();
    numbers_.delta_15 = delta_terms.delta_15();
    numbers_.delta_05 = delta_terms.delta_05();
    for (std::size_t row = 0; row < m; row++) {
        const double *p = tab.points[row];
        for (std::size_t c = 0; c < n; c++) {
            coord_[row * n + c] = p[c];
            edge_[row * n + c] = t[c] - p[c];
        }
        BatchRow &rn = rows_[row];
        if (row == 0) {
            rn.sure_in = std::numeric_limits<double>::infinity();  // the paraboloid is never unsure
            continue;
        }
        const double rho = tab.radii[row];
        const SumBounds b = sum_bounds(rho);
        rn.sure_in = b.in;
        out_bound_[row] = b.out;
        // As locate and value compute them for a point of this region.
        const double rho2 = rho * rho, rho3 = rho2 * rho;
        const double f = tab.values[row];
        const double tm = norm(mb.dim, t, p);
        const RegionTerms terms{region_height(tm, numbers_.vertex_value, f), rho2, rho3, dl};
        rn.rho = rho;
        rn.f = f;
        rn.A = terms.A;
        rn.nd_a = terms.nd_a();
        rn.d_a3 = terms.d_a3();
        rn.d_a2 = terms.d_a2();
        rn.d2_c3 = terms.d2_c3();
        rn.d2_c4 = terms.d2_c4();
        rn.d2_c5 = terms.d2_c5();
    }
    if (numbers_.indexed && mb.dim <= RegionIndex::kGridMaxDim) {
        // A finer grid of the evaluator's own, whose cells the lanes walk.
        const RegionIndex fine(mb, RegionIndex::Layout::Grid, StopCheck{}, kLaneCellsPerRegion);
        if (fine.mode() == RegionIndex::Mode::Grid) {
            RegionIndex::Grid g = fine.grid();
            std::size_t cells = 1;
            for (uint32_t c = 0; c < n; c++) cells *= g.cells[c];
            cell_start_.assign(g.start, g.start + cells + 1);
            const std::size_t count = g.start[cells], size = n + 2;
            entries_.resize((count + 1) * size);
            for (std::size_t e = 0; e <= count; e++) {
                double *to = &entries_[e * size];
                const uint32_t row = e < count ? g.rows[e] : 0;
                for (std::size_t c = 0; c < n; c++) to[c] = coord_[row * n + c];
                to[n] = e < count ? out_bound_[row] : -1.0;
                to[n + 1] = static_cast<double>(row);
            }
            g.start = nullptr;  // the evaluator's copies, set by tables()
            g.rows = nullptr;
            numbers_.gridded = true;
            numbers_.grid = g;
            numbers_.entry_size = static_cast<uint32_t>(size);
            numbers_.no_entry = static_cast<uint32_t>(count);
        }
    }
    kernels_ = kernels_of(simd_, mb.dim);
}

BatchTables BatchEvaluator::tables() const {
    BatchTables t = numbers_;
    t.lo = lo_.data();
    t.hi = hi_.data();
    t.coord = coord_.data();
    t.edge = edge_.data();
    t.out_bound = out_bound_.data();
    t.rows = rows_.data();
    t.entries = entries_.data();
    t.grid.start = cell_start_.data();
    return t;
}

Site BatchEvaluator::locate_one(const double *x) const { return batch_locate_one(numbers_, x); }

namespace {

// Scratch for the block kernels: on the stack in few dimensions, else from
// the heap (std::bad_alloc before anything is evaluated).
class Scratch {
public:
    explicit Scratch(uint32_t n) {
        if (n > kStackDim) {
            heap_.resize(batch_scratch_size(n) + 8);
            void *p = heap_.data();
            std::size_t room = heap_.size() * sizeof(double);
            data_ = static_cast<double *>(std::align(64, batch_scratch_size(n) * sizeof(double), p, room));
        }
    }
    double *data() { return data_; }

private:
    alignas(64) double stack_[kStackDim * BatchEvaluator::kMaxBlock + kStackDim + 2 * kStackDim * 8];
    std::vector<double> heap_;
    double *data_ = stack_;
};

}  // namespace

void BatchEvaluator::values(Kind kind, const double *points, std::size_t count, double *out) const {
    const std::size_t n = numbers_.n;
    if (kernels_ == nullptr) {
        for (std::size_t p = 0; p < count; p++) out[p] = value(kind, locate_one(points + p * n));
        return;
    }
    if (count == 0) return;
    Scratch scratch(numbers_.n);
    kernels_->values(tables(), kind, BatchPoints{points, nullptr}, count, out, scratch.data());
}

void BatchEvaluator::values(Kind kind, const double *const *columns, std::size_t count, double *out) const {
    const uint32_t n = numbers_.n;
    if (kernels_ != nullptr) {
        if (count == 0) return;
        Scratch scratch(n);
        kernels_->values(tables(), kind, BatchPoints{nullptr, columns}, count, out, scratch.data());
        return;
    }
    std::vector<double> x(n);
    for (std::size_t p = 0; p < count; p++) {
        for (uint32_t c = 0; c < n; c++) x[c] = columns[c][p];
        out[p] = value(kind, locate_one(x.data()));
    }
}

// Calls each(p, site) for the points [0, count) in order; a site's x points
// into the points when they are stored one after another, else into a copy
// of the point that lasts for the call.
template <class Each>
void BatchEvaluator::each_site(BatchPoints pts, std::size_t count, const Each &each) const {
    const uint32_t n = numbers_.n;
    std::vector<double> copy(pts.rows != nullptr ? 0 : n);
    const auto point = [&](std::size_t p) -> const double * {
        if (pts.rows != nullptr) return pts.rows + p * n;
        for (uint32_t c = 0; c < n; c++) copy[c] = pts.columns[c][p];
        return copy.data();
    };
    if (kernels_ == nullptr) {
        for (std::size_t p = 0; p < count; p++) each(p, locate_one(point(p)));
        return;
    }
    Scratch scratch(n);
    const BatchTables t = tables();
    BatchFound found[kMaxBlock];
    const std::size_t block = kernels_->block;
    for (std::size_t first = 0; first < count; first += block) {
        const std::size_t used = count - first < block ? count - first : block;
        kernels_->find(t, pts, first, used, found, scratch.data());
        for (std::size_t q = 0; q < used; q++) {
            const double *x = point(first + q);
            const BatchFound &f = found[q];
            if (f.k == BatchFound::kRefused) {
                each(first + q, Site{});
            } else if (f.k == BatchFound::kUnsure) {
                each(first + q, locate_one(x));
            } else {
                each(first + q, located(*numbers_.mb, x, static_cast<uint32_t>(f.k), std::sqrt(f.sum)));
            }
        }
    }
}

void BatchEvaluator::locate(const double *points, std::size_t count, Site *sites) const {
    each_site(BatchPoints{points, nullptr}, count, [sites](std::size_t p, const Site &st) { sites[p] = st; });
}

void BatchEvaluator::gradients(Kind kind, const double *points, std::size_t count, double *out) const {
    const uint32_t n = numbers_.n;
    if (kernels_ == nullptr) {
        for (std::size_t p = 0; p < count; p++) first_derivatives(kind, locate_one(points + p * n), n, out + p * n);
        return;
    }
    if (count == 0) return;
    Scratch scratch(n);
    kernels_->gradients(tables(), kind, BatchPoints{points, nullptr}, count, 0, n, out, n, scratch.data());
}

void BatchEvaluator::hessians(const double *points, std::size_t count, double *out) const {
    const uint32_t n = numbers_.n;
    const std::size_t nn = std::size_t(n) * n;
    if (kernels_ == nullptr) {
        for (std::size_t p = 0; p < count; p++) {
            const Site site = locate_one(points + p * n);
            for (uint32_t i = 1; i <= n; i++) {
                core::second_derivatives(site, i, n, out + p * nn + std::size_t(i - 1) * n, 1);
            }
        }
        return;
    }
    if (count == 0) return;
    Scratch scratch(n);
    kernels_->hessians(tables(), BatchPoints{points, nullptr}, count, 0, n, 0, n, out, nn, scratch.data());
}

void BatchEvaluator::derivatives(Kind kind, uint32_t i, const double *const *columns, std::size_t count,
                                 double *out) const {
    if (i == 0 || i > numbers_.n) {
        for (std::size_t p = 0; p < count; p++) out[p] = kHuge;
        return;
    }
    if (kernels_ != nullptr) {
        if (count == 0) return;
        Scratch scratch(numbers_.n);
        kernels_->gradients(tables(), kind, BatchPoints{nullptr, columns}, count, i - 1, i, out, 1, scratch.data());
        return;
    }
    each_site(BatchPoints{nullptr, columns}, count,
              [kind, i, out](std::size_t p, const Site &st) { out[p] = first_derivative(kind, i, st); });
}

void BatchEvaluator::second_derivatives(uint32_t i, uint32_t j, const double *const *columns, std::size_t count,
                                        double *out) const {
    if (i == 0 || i > numbers_.n || j == 0 || j > numbers_.n) {
        for (std::size_t p = 0; p < count; p++) out[p] = kHuge;
        return;
    }
    if (kernels_ != nullptr) {
        if (count == 0) return;
        Scratch scratch(numbers_.n);
        kernels_->hessians(tables(), BatchPoints{nullptr, columns}, count, i - 1, i, j - 1, j, out, 1, scratch.data());
        return;
    }
    each_site(BatchPoints{nullptr, columns}, count,
              [i, j, out](std::size_t p, const Site &st) { out[p] = second_derivative(i, j, st); });
}

}  // namespace travo::core

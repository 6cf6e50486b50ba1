// travo::Member: a generated core member behind an immutable, shared handle.
#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cpp/rules.hpp"
#include "evaluation/batch.hpp"
#include "evaluation/evaluate.hpp"
#include "evaluation/lookup.hpp"
#include "generator/member.hpp"
#include "random/lagfib.hpp"
#include "travo/travo.hpp"

namespace travo {

struct Member::Impl {
    Parameters params;  // owns the box the core member points to
    core::Member core;  // owns its tables (host allocator)
    // Region lookup built once from the tables, which nothing changes after
    // generation (they are only handed out as read-only spans).
    core::RegionIndex index;
    // Batch evaluation over the tables and the index.
    core::BatchEvaluator batch;

    core::Site locate(const double *x) const { return core::locate(core, index, x); }

    Impl() = default;
    Impl(const Impl &) = delete;
    Impl &operator=(const Impl &) = delete;
    ~Impl() { core::free_tables(core); }
};

namespace {

core::Kind to_core(Kind kind) {
    switch (kind) {
    case Kind::ND: return core::Kind::ND;
    case Kind::D: return core::Kind::D;
    case Kind::D2: return core::Kind::D2;
    }
    throw std::invalid_argument("travo: unknown kind");
}

core::Kind differentiable(Kind kind) {
    if (kind == Kind::ND) throw std::invalid_argument("travo: the ND kind has no derivatives; use D or D2");
    return to_core(kind);
}

[[noreturn]] void bad_length(const char *what, std::size_t got, std::size_t want) {
    throw std::invalid_argument("travo: " + std::string(what) + " has " + std::to_string(got) +
                                " entries, expected " + std::to_string(want));
}

void expect_length(const char *what, std::size_t got, std::size_t want) {
    if (got != want) bad_length(what, got, want);
}

// Number of points in a batch of coordinates, n per point.
std::size_t point_count(std::span<const double> points, std::size_t n) {
    if (points.size() % n != 0) {
        throw std::invalid_argument("travo: a batch of " + std::to_string(points.size()) +
                                    " coordinates is not a whole number of points of dimension " +
                                    std::to_string(n));
    }
    return points.size() / n;
}

// Gradient at an already located point; false when a component is the
// error value.
bool fill_gradient(core::Kind kind, const core::Site &site, std::uint32_t n, double *g) {
    core::first_derivatives(kind, site, n, g);
    bool ok = true;
    for (std::uint32_t i = 0; i < n; i++) {
        if (g[i] >= error_value) ok = false;
    }
    return ok;
}

bool fill_hessian(const core::Site &site, std::uint32_t n, double *h) {
    bool ok = true;
    for (std::uint32_t i = 1; i <= n; i++) {
        double *row = h + static_cast<std::size_t>(i - 1) * n;
        core::second_derivatives(site, i, n, row, 1);
        for (std::uint32_t j = 0; j < n; j++) {
            if (row[j] >= error_value) ok = false;
        }
    }
    return ok;
}

// A thread of its own is given to at least this many numbers read or
// written (coordinates in, results out), so that starting it costs little
// beside the work: about ten thousand values in two dimensions, a few
// Hessians in a hundred.
constexpr std::size_t kNumbersPerThread = std::size_t(1) << 15;

// Runs body(first, last) over the points [0, count) in contiguous slices,
// one per thread: `threads` of them, or (0) as many as the hardware runs at
// once when each gets kNumbersPerThread numbers. Each point is evaluated on
// its own, so the results do not depend on the slicing. A thread that cannot
// be started leaves its slice to the calling thread.
template <class Body>
void spread(std::size_t count, std::size_t numbers_per_point, unsigned threads, const Body &body) {
    std::size_t workers = threads;
    if (threads == 0) {
        const std::size_t hardware = std::max(1u, std::thread::hardware_concurrency());
        const std::size_t min_points = std::max<std::size_t>(1, kNumbersPerThread / numbers_per_point);
        workers = std::min(hardware, count / min_points);
    }
    workers = std::min(workers, count);
    if (workers <= 1) {
        body(std::size_t(0), count);
        return;
    }
    // Slices of whole blocks, so that only the last one ends in a short block.
    constexpr std::size_t block = core::BatchEvaluator::kBlock;
    const std::size_t share = (count + workers - 1) / workers;
    const std::size_t slice = (share + block - 1) / block * block;
    std::vector<std::jthread> pool;
    pool.reserve(workers - 1);
    for (std::size_t first = slice; first < count; first += slice) {
        const std::size_t last = std::min(count, first + slice);
        try {
            pool.emplace_back([&body, first, last] { body(first, last); });
        } catch (const std::system_error &) {
            body(first, last);
        }
    }
    body(std::size_t(0), std::min(count, slice));
}

// Releases the tables of a generation that did not complete.
struct TablesGuard {
    core::Member *mb;
    ~TablesGuard() {
        if (mb != nullptr) core::free_tables(*mb);
    }
};

}  // namespace

Member generate(const Parameters &params) {
    auto impl = std::make_shared<Member::Impl>();
    impl->params = params;
    Parameters &p = impl->params;

    core::Member &mb = impl->core;
    mb.dim = p.dim;
    mb.num_minima = p.num_minima;
    // A box of the wrong length is a missing box to the core, which reports
    // it in its own order, after the test number, dimension and minima count.
    if (p.lower.size() == p.dim && p.upper.size() == p.dim) {
        mb.domain_left = p.lower.data();
        mb.domain_right = p.upper.data();
    }
    mb.global_dist = p.distance;
    mb.global_radius = p.radius;
    mb.global_value = p.global_value;

    TablesGuard guard{&mb};
    const auto rng = std::make_unique<core::RandomSource>();
    const TravoStatus status = core::arg_generate(mb, *rng, p.test_number);
    if (status != TRAVO_STATUS_OK) {
        const auto st = static_cast<Status>(status);
        throw Error(st, detail::rule(st, p));
    }
    guard.mb = nullptr;
    impl->index = core::RegionIndex(mb);
    impl->batch = core::BatchEvaluator(impl->core, &impl->index);
    return Member(std::move(impl));
}

std::uint32_t Member::dim() const noexcept { return impl_->core.dim; }
std::uint32_t Member::num_minima() const noexcept { return impl_->core.num_minima; }
const Parameters &Member::parameters() const noexcept { return impl_->params; }
double Member::delta() const noexcept { return impl_->core.delta; }

std::span<const double> Member::minimum_values() const noexcept {
    return {impl_->core.minima.values, impl_->core.num_minima};
}

std::span<const double> Member::radii() const noexcept {
    return {impl_->core.minima.radii, impl_->core.num_minima};
}

std::span<const double> Member::minimizer(std::size_t row) const {
    if (row >= impl_->core.num_minima) {
        throw std::out_of_range("travo: minimizer row " + std::to_string(row) + " of a member with " +
                                std::to_string(impl_->core.num_minima) + " rows");
    }
    return {impl_->core.minima.points[row], impl_->core.dim};
}

std::span<const std::uint32_t> Member::global_minimizers() const noexcept {
    return {impl_->core.glob.indices, impl_->core.glob.count};
}

bool Member::contains(std::span<const double> x) const {
    expect_length("the point", x.size(), dim());
    return impl_->locate(x.data()).where != core::Site::Refused;
}

namespace {

std::int64_t region_of(const core::Site &site) {
    return site.where == core::Site::Centre || site.where == core::Site::Region ? std::int64_t(site.k) : -1;
}

}  // namespace

std::int64_t Member::region(std::span<const double> x) const {
    expect_length("the point", x.size(), dim());
    return region_of(impl_->locate(x.data()));
}

double Member::value(Kind kind, std::span<const double> x) const {
    expect_length("the point", x.size(), dim());
    return core::value(to_core(kind), impl_->locate(x.data()));
}

bool Member::gradient(Kind kind, std::span<const double> x, std::span<double> g) const {
    const core::Kind k = differentiable(kind);
    expect_length("the point", x.size(), dim());
    expect_length("the gradient", g.size(), dim());
    return fill_gradient(k, impl_->locate(x.data()), dim(), g.data());
}

std::vector<double> Member::gradient(Kind kind, std::span<const double> x) const {
    std::vector<double> g(dim());
    gradient(kind, x, g);
    return g;
}

double Member::value_and_gradient(Kind kind, std::span<const double> x, std::span<double> g) const {
    const core::Kind k = differentiable(kind);
    expect_length("the point", x.size(), dim());
    expect_length("the gradient", g.size(), dim());
    const core::Site site = impl_->locate(x.data());
    fill_gradient(k, site, dim(), g.data());
    return core::value(k, site);
}

bool Member::hessian(std::span<const double> x, std::span<double> h) const {
    expect_length("the point", x.size(), dim());
    expect_length("the Hessian", h.size(), static_cast<std::size_t>(dim()) * dim());
    return fill_hessian(impl_->locate(x.data()), dim(), h.data());
}

std::vector<double> Member::hessian(std::span<const double> x) const {
    std::vector<double> h(static_cast<std::size_t>(dim()) * dim());
    hessian(x, h);
    return h;
}

void Member::values(Kind kind, std::span<const double> points, std::span<double> out, unsigned threads) const {
    const core::Kind k = to_core(kind);
    const std::size_t n = dim();
    const std::size_t count = point_count(points, n);
    expect_length("the value batch", out.size(), count);
    const double *x = points.data();
    double *v = out.data();
    spread(count, n + 1, threads, [this, k, n, x, v](std::size_t first, std::size_t last) {
        impl_->batch.values(k, x + first * n, last - first, v + first);
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

void Member::gradients(Kind kind, std::span<const double> points, std::span<double> out, unsigned threads) const {
    const core::Kind k = differentiable(kind);
    const std::size_t n = dim();
    const std::size_t count = point_count(points, n);
    expect_length("the gradient batch", out.size(), count * n);
    const double *x = points.data();
    double *g = out.data();
    spread(count, 2 * n, threads, [this, k, n, x, g](std::size_t first, std::size_t last) {
        each_site(impl_->batch, x, n, first, last, [k, n, g](std::size_t p, const core::Site &site) {
            fill_gradient(k, site, static_cast<std::uint32_t>(n), g + p * n);
        });
    });
}

void Member::values_and_gradients(Kind kind, std::span<const double> points, std::span<double> values_out,
                                  std::span<double> gradients_out, unsigned threads) const {
    const core::Kind k = differentiable(kind);
    const std::size_t n = dim();
    const std::size_t count = point_count(points, n);
    expect_length("the value batch", values_out.size(), count);
    expect_length("the gradient batch", gradients_out.size(), count * n);
    const double *x = points.data();
    double *v = values_out.data();
    double *g = gradients_out.data();
    spread(count, 2 * n + 1, threads, [this, k, n, x, v, g](std::size_t first, std::size_t last) {
        each_site(impl_->batch, x, n, first, last, [k, n, v, g](std::size_t p, const core::Site &site) {
            fill_gradient(k, site, static_cast<std::uint32_t>(n), g + p * n);
            v[p] = core::value(k, site);
        });
    });
}

void Member::hessians(std::span<const double> points, std::span<double> out, unsigned threads) const {
    const std::size_t n = dim();
    const std::size_t count = point_count(points, n);
    expect_length("the Hessian batch", out.size(), count * n * n);
    const double *x = points.data();
    double *h = out.data();
    spread(count, n + n * n, threads, [this, n, x, h](std::size_t first, std::size_t last) {
        each_site(impl_->batch, x, n, first, last, [n, h](std::size_t p, const core::Site &site) {
            fill_hessian(site, static_cast<std::uint32_t>(n), h + p * n * n);
        });
    });
}

void Member::regions(std::span<const double> points, std::span<std::int64_t> out, unsigned threads) const {
    const std::size_t n = dim();
    const std::size_t count = point_count(points, n);
    expect_length("the region batch", out.size(), count);
    const double *x = points.data();
    std::int64_t *r = out.data();
    spread(count, n + 1, threads, [this, n, x, r](std::size_t first, std::size_t last) {
        each_site(impl_->batch, x, n, first, last,
                  [r](std::size_t p, const core::Site &site) { r[p] = region_of(site); });
    });
}

std::string_view version() noexcept { return TRAVO_VERSION_TEXT; }

}  // namespace travo

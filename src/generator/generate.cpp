// Generation of a member: the vertex, the global minimizer, delta, the other
// local minimizers with their retries, then the attraction regions.
#include <algorithm>
#include <cmath>
#include <new>

#include "generator/fast_paths.hpp"
#include "generator/member.hpp"
#include "generator/meter.hpp"
#include "random/lagfib.hpp"

namespace travo::core {
namespace {

constexpr double kHalfTurn = 3.14159265;  // angle factor of the first angle
constexpr double kFullTurn = 6.2831853;   // angle factor of every further angle
constexpr double kDeltaScale = 10.0;
constexpr double kLocalWeight = 0.99;
constexpr double kGlobalWeight = 1.0;

// A complete re-placement after a coincidence is astronomically rare for
// any box that can hold the minimizers; a box too small to keep them 1e-10
// apart would repeat it forever, so generation gives up after this many.
constexpr int kMaxReplacements = 100;

// For any box that passes the parameter check a fixed share (at least about
// a fifth) of the box lies far enough from the global minimizer, so a row
// needs a handful of attempts. Only degenerate boxes, whose coordinates
// round to a few representable values, could reject forever.
constexpr long kMaxAttempts = 1000000;

inline double uniform_in(double u, double lo, double hi) { return u * (hi - lo) + lo; }

inline bool outside_band(double x, double lo, double hi) { return x > hi - kTol || x < lo + kTol; }

// Places the global minimizer M at distance d from the vertex T, using
// hyperspherical angles read straight from a freshly filled buffer.
void place_global(Member &mb, RandomSource &rng) {
    const uint32_t n = mb.dim;
    const double *a = mb.domain_left;
    const double *b = mb.domain_right;
    const double *t = mb.minima.points[0];
    double *g = mb.minima.points[1];
    const double d = mb.global_dist;

    double u = rng.rnd_num[rng.rnd_counter];
    g[0] = t[0] + d * std::cos(kHalfTurn * u);
    if (outside_band(g[0], a[0], b[0])) g[0] = t[0] - d * std::cos(kHalfTurn * u);
    double sine = std::sin(kHalfTurn * u);
    rng.rnd_counter++;

    for (uint32_t k = 1; k + 1 < n; k++) {
        u = rng.rnd_num[rng.rnd_counter];
        const double w = d * std::cos(kFullTurn * u);
        g[k] = t[k] + w * sine;
        if (outside_band(g[k], a[k], b[k])) g[k] = t[k] - w * sine;
        sine = sine * std::sin(kFullTurn * u);
        rng.rnd_counter++;
    }

    g[n - 1] = t[n - 1] + d * sine;
    if (outside_band(g[n - 1], a[n - 1], b[n - 1])) g[n - 1] = t[n - 1] - d * sine;
}

void draw_point(Member &mb, RandomSource &rng, double *p) {
    for (uint32_t k = 0; k < mb.dim; k++) {
        p[k] = uniform_in(rng.draw(), mb.domain_left[k], mb.domain_right[k]);
    }
}

// Rows 2..m-1, each attempt on a new buffer, until the row lies far enough
// from the global minimizer. A NaN distance compares false and is accepted.
// Returns TRAVO_MINIMA_COINCIDENCE when a row cannot be placed.
TravoStatus place_locals(Member &mb, RandomSource &rng, Meter &meter) {
    const double *global = mb.minima.points[1];
    const double reach = 2.0 * mb.global_radius;
    meter.pace(RandomSource::kBufferSize + mb.dim);
    if (!meter.step(2)) return kAbandoned;
    for (uint32_t i = 2; i < mb.num_minima; i++) {
        double *p = mb.minima.points[i];
        long attempts = 0;
        do {
            if (attempts++ == kMaxAttempts) return TRAVO_MINIMA_COINCIDENCE;
            rng.refill();
            draw_point(mb, rng, p);
        } while (reach - norm(mb.dim, p, global) > kTol);
        if (!meter.step()) return kAbandoned;
    }
    return TRAVO_STATUS_OK;
}

TravoStatus generate_member(Member &mb, RandomSource &rng, int32_t test_number, Path path, Meter &meter,
                            const Execution &execution) {
    const uint32_t m = mb.num_minima;
    MinimaTable &tab = mb.minima;

    rng.start(member_seed(mb.dim, m, test_number));
    rng.refill();
    draw_point(mb, rng, tab.points[0]);
    tab.values[0] = 0.0;
    rng.refill();
    place_global(mb, rng);

    tab.values[1] = mb.global_value;
    for (uint32_t i = 0; i < m; i++) tab.weights[i] = kLocalWeight;
    tab.weights[1] = kGlobalWeight;
    mb.delta = kDeltaScale * rng.draw();

    TravoStatus status = TRAVO_STATUS_OK;
    for (int attempt = 0;; attempt++) {
        status = place_locals(mb, rng, meter);
        if (status != TRAVO_STATUS_OK) return status;
        status = coincidence_check(mb, path, meter.stop_check());
        if (status == kAbandoned || !meter.step(m)) return kAbandoned;
        if (status == TRAVO_STATUS_OK) break;
        if (status == TRAVO_NO_MEMORY) return status;
        if (attempt + 1 == kMaxReplacements) return status;
    }
    return set_basins(mb, rng, path, &meter, execution);
}

}  // namespace

double norm(uint32_t n, const double *a, const double *b) {
    double sum = 0.0;
    for (uint32_t c = 0; c < n; c++) {
        const double diff = a[c] - b[c];
        sum += diff * diff;
    }
    return std::sqrt(sum);
}

TravoStatus coincidence_check_reference(const Member &mb) {
    const uint32_t m = mb.num_minima;
    double *const *p = mb.minima.points;
    if (m >= 2 && p == nullptr) return TRAVO_NO_MEMORY;
    for (uint32_t i = 2; i < m; i++) {
        if (norm(mb.dim, p[i], p[0]) < kTol) return TRAVO_PARABOLA_COINCIDENCE;
    }
    for (uint32_t i = 1; i + 1 < m; i++) {
        for (uint32_t j = i + 1; j < m; j++) {
            if (norm(mb.dim, p[i], p[j]) < kTol) return TRAVO_MINIMA_COINCIDENCE;
        }
    }
    return TRAVO_STATUS_OK;
}

TravoStatus coincidence_check(const Member &mb, Path path, const StopCheck &stop) {
    const bool try_fast = mb.minima.points != nullptr &&
                          (path == Path::Tree || path == Path::Lanes ||
                           (path == Path::Automatic && fast_coincidence_pays(mb.dim, mb.num_minima)));
    TravoStatus status = TRAVO_STATUS_OK;
    try {
        if (try_fast && coincidence_check_fast(mb, &status, stop)) return status;
    } catch (const std::bad_alloc &) {
        // The scan would need no storage, but at a size where the sweep
        // pays it would take forever.
        return TRAVO_NO_MEMORY;
    }
    return coincidence_check_reference(mb);
}

TravoStatus coincidence_check(const Member &mb) { return coincidence_check(mb, Path::Automatic); }

TravoStatus arg_generate(Member &mb, RandomSource &rng, int32_t test_number) {
    return arg_generate(mb, rng, test_number, Path::Automatic);
}

TravoStatus arg_generate(Member &mb, RandomSource &rng, int32_t test_number, const Progress *progress) {
    return arg_generate(mb, rng, test_number, Path::Automatic, progress);
}

bool Meter::flush() {
    if (progress_ == nullptr) return true;
    done_ = std::min(done_ + pending_, total_);
    pending_ = 0;
    return progress_->report(progress_->context, done_, total_);
}

TravoStatus arg_generate(Member &mb, RandomSource &rng, int32_t test_number, Path path, const Progress *progress,
                         const Execution &execution) {
    if (test_number < 1 || test_number > 100) return TRAVO_BAD_TEST_NUMBER;
    TravoStatus status = parameters_check(mb);
    if (status != TRAVO_STATUS_OK) return status;
    // From here on the tables are replaced: an earlier member is gone, and
    // until this generation succeeds there is nothing to evaluate.
    mb.isArgSet = 0;
    Meter meter(progress, mb.num_minima);
    status = alloc_tables(mb, meter.stop_check());
    if (status == kAbandoned) free_tables(mb);
    if (status != TRAVO_STATUS_OK) return status;

    try {
        status = generate_member(mb, rng, test_number, path, meter, execution);
    } catch (const std::bad_alloc &) {
        status = TRAVO_NO_MEMORY;
    }
    if (status == TRAVO_STATUS_OK && !meter.flush()) status = kAbandoned;
    if (status == kAbandoned) free_tables(mb);
    if (status == TRAVO_STATUS_OK) mb.isArgSet = 1;
    return status;
}

}  // namespace travo::core

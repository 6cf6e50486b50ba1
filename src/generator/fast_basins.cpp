// Region sizing and the coincidence test in m log m for a fixed dimension.
#include <algorithm>
#include <utility>
#include <vector>

#include "generator/fast_paths.hpp"
#include "generator/meter.hpp"
#include "spatial/spatial_index.hpp"

namespace travo::core {
namespace {

// Two rows whose coordinates on one axis differ by more than this are at
// least 2e-10 apart (less rounding), so they cannot coincide within 1e-10.
constexpr double kSweepReach = 2e-10;

using Keys = std::vector<std::pair<double, uint32_t>>;

// Sorts the keys into the order std::sort gives them (the row numbers
// differ, so there is one order), asking `stop` between runs of kStopEvery
// keys and between the merges of runs; false once it answered false.
bool sort_keys(Keys &keys, const StopCheck &stop) {
    if (stop.empty()) {
        std::sort(keys.begin(), keys.end());
        return true;
    }
    const std::size_t size = keys.size();
    for (std::size_t a = 0; a < size; a += kStopEvery) {
        if (!stop()) return false;
        std::sort(keys.begin() + a, keys.begin() + std::min<std::size_t>(size, a + kStopEvery));
    }
    for (std::size_t width = kStopEvery; width < size; width *= 2) {
        for (std::size_t a = 0; a + width < size; a += 2 * width) {
            if (!stop()) return false;
            std::inplace_merge(keys.begin() + a, keys.begin() + a + width,
                               keys.begin() + std::min(size, a + 2 * width));
        }
    }
    return true;
}

}  // namespace

bool fast_sizing_pays(uint32_t n, uint32_t m) {
    // The tree prunes well while it splits each coordinate a few times;
    // below these sizes, or in high dimension, the scans are as fast.
    if (n <= 4) return m >= 64;
    if (n <= 12) return m >= 1024;
    if (n <= 24) return m >= 8192;
    return false;
}

bool fast_coincidence_pays(uint32_t, uint32_t m) { return m >= 64; }

bool size_regions_fast(Member &mb) {
    Meter silent;
    bool abandoned = false;
    return size_regions_fast(mb, silent, &abandoned);
}

bool size_regions_fast(Member &mb, Meter &meter, bool *abandoned) {
    const uint32_t n = mb.dim;
    const uint32_t m = mb.num_minima;
    double *const *p = mb.minima.points;
    double *radii = mb.minima.radii;
    if (!is_safe_value(mb.global_radius) || !all_rows_safe(n, p, 0, m)) return false;

    KdTree tree(n, p, 0, m, 0, meter.stop_check());
    if (!tree.complete()) {
        *abandoned = true;
        return true;
    }

    // 1. Half the distance to the nearest other row. Rows are independent
    //    here, so they are visited in tree order, which keeps the walk local.
    //    The nearest row found is kept as a first candidate for step 3.
    std::vector<uint32_t> nearest_row(m);
    // A tree query visits a few leaves of rows.
    meter.pace(std::uint64_t(64) * n);
    for (uint32_t s = 0; s < tree.size(); s++) {
        if (!meter.step()) {
            *abandoned = true;
            return true;
        }
        const uint32_t i = tree.row_of_slot(s);
        radii[i] = 0.5 * tree.nearest(tree.slot_coords(s), i, kHuge, &nearest_row[i]);
    }

    // 2. The global region.
    detail::global_region(mb);

    // 3. Widening, in row order: each row sees the radii widened before it.
    //    Once some gap is found not greater than radii[i] + 1e-10, the
    //    smallest is not either and the row stays as it is, so the search
    //    may stop there; a row that is widened gets the exact smallest gap.
    //    The search starts from the gap to the nearest row of step 1, one of
    //    the values it takes the minimum of, so the minimum is unchanged; for
    //    most rows that gap is already small enough to end the search.
    tree.set_radii(radii);
    for (uint32_t i = 0; i < m; i++) {
        if (!meter.step()) {
            *abandoned = true;
            return true;
        }
        if (i == 1) continue;
        const double enough = radii[i] + kTol;
        double start = kHuge;
        if (const uint32_t j = nearest_row[i]; j != KdTree::kNone) {
            const double seed = exact_norm(n, p[i], p[j]) - radii[j];
            if (seed < start) start = seed;
        }
        const double e = tree.nearest_gap(p[i], i, start, enough);
        if (e > enough) {
            radii[i] = e;
            tree.raise_radius(i, e);
        }
    }
    return true;
}

bool coincidence_check_fast(const Member &mb, TravoStatus *status, const StopCheck &stop) {
    const uint32_t n = mb.dim;
    const uint32_t m = mb.num_minima;
    double *const *p = mb.minima.points;
    if (n == 0 || !all_rows_safe(n, p, 1, m)) return false;

    // The vertex test is a single pass already, and comes first.
    for (uint32_t i = 2; i < m; i++) {
        if (exact_norm(n, p[i], p[0]) < kTol) {
            *status = TRAVO_PARABOLA_COINCIDENCE;
            return true;
        }
    }

    if (m < 3) {
        *status = TRAVO_STATUS_OK;
        return true;
    }

    if (!stop()) {
        *status = kAbandoned;
        return true;
    }
    // Any pair of rows 1..m-1 closer than 1e-10: sort along the axis of
    // widest spread and compare only rows whose coordinates there are close.
    uint32_t axis = 0;
    double widest = -1.0;
    for (uint32_t c = 0; c < n; c++) {
        double lo = p[1][c], hi = p[1][c];
        for (uint32_t i = 2; i < m; i++) {
            lo = std::min(lo, p[i][c]);
            hi = std::max(hi, p[i][c]);
        }
        if (hi - lo > widest) {
            widest = hi - lo;
            axis = c;
        }
    }
    Keys keys;
    keys.reserve(m - 1);
    for (uint32_t i = 1; i < m; i++) keys.emplace_back(p[i][axis], i);
    if (!sort_keys(keys, stop)) {
        *status = kAbandoned;
        return true;
    }
    for (std::size_t a = 0; a < keys.size(); a++) {
        for (std::size_t b = a + 1; b < keys.size(); b++) {
            // Rounding is monotone, so once this difference is too large it
            // stays so for every later row.
            if (keys[b].first - keys[a].first > kSweepReach) break;
            if (exact_norm(n, p[keys[a].second], p[keys[b].second]) < kTol) {
                *status = TRAVO_MINIMA_COINCIDENCE;
                return true;
            }
        }
    }
    *status = TRAVO_STATUS_OK;
    return true;
}

}  // namespace travo::core

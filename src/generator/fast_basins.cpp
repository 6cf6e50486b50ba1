// Region sizing by a k-d tree in few dimensions or by the scans in vector
// lanes where a tree cannot prune, both over threads; the coincidence test
// by sort-and-sweep.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

#include "generator/fast_paths.hpp"
#include "generator/meter.hpp"
#include "generator/sizing.hpp"
#include "generator/workers.hpp"
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

constexpr uint32_t kNone = KdTree::kNone;

// Work, in coordinates of one row met with those of another, from which a
// sizing is shared among threads when the caller leaves the choice to it.
constexpr double kWorkPerThread = double(1 << 25);
// Work of the searches of one block of rows in the widening: large enough
// that the threads' meeting at its end costs little, small enough that
// progress is told often.
constexpr double kBlockWork = double(1 << 28);

unsigned thread_count(const Execution &execution, double work) {
    if (execution.threads != 0) return execution.threads;
    if (work < 2 * kWorkPerThread) return 1;
    return std::max(1u, std::thread::hardware_concurrency());
}

// Calls chunk(k) for k in [0, chunks) over the workers, telling the meter
// of `rows` rows in all, in shares as the chunks end; false once it asks to
// stop (the chunks begun still end).
template <class Chunk>
bool in_chunks(Workers &workers, Meter &meter, std::size_t chunks, std::uint64_t rows, const Chunk &chunk) {
    std::atomic<std::size_t> done{0};
    std::uint64_t told = 0;
    const auto share = [&](std::size_t count) { return rows * count / chunks; };
    const bool whole = workers.run(
        chunks,
        [&](std::size_t k) {
            chunk(k);
            done.fetch_add(1, std::memory_order_relaxed);
        },
        [&] {
            const std::uint64_t now = share(done.load(std::memory_order_relaxed));
            const std::uint64_t step = now - told;
            told = now;
            return meter.step(step);
        });
    // The chunks that other threads ended after the calling thread's last.
    return whole && meter.step(rows - told);
}

// The radius of each row from the smallest sum of squares to another row:
// half the root of it (the root rounds monotonically, so it is the smallest
// distance), taken as the scan takes it: below 1e+100 or not at all.
inline double first_radius(double sum) {
    const double dist = std::sqrt(sum);
    return 0.5 * (dist < kHuge ? dist : kHuge);
}

// The searches by the tree: rows in tree order for the first radii, so
// that the queries of a chunk stay near one another.
class TreeSearch {
public:
    static constexpr std::size_t kFirstChunk = 256;  // rows a chunk of the first radii
    static constexpr std::size_t kGapChunk = 16;     // rows a chunk of the widening

    // The tree's build asks `stop` now and then; once it answers false the
    // search is not complete() and may only be destroyed.
    TreeSearch(const Member &mb, const SizingKernels &kernels, const StopCheck &stop)
        : mb_(mb), kernels_(kernels), tree_(mb.dim, mb.minima.points, 0, mb.num_minima, leaf_size(mb.dim), stop) {
        if (tree_.complete()) panels_ = TreePanels(tree_);
    }
    bool complete() const { return tree_.complete(); }

    // Rows a leaf: beyond three dimensions a query meets many leaves, and
    // the rows of a leaf, met in lanes, cost less than the nodes above them
    // (measured with bench/generation_bench).
    static uint32_t leaf_size(uint32_t n) { return n <= 3 ? 12 : 128; }
    // Work of all the rows' searches of one stage.
    static double work(uint32_t n, uint32_t m) { return double(m) * n * 2048.0; }
    static uint32_t block(uint32_t, uint32_t) { return 1024; }
    // Where a row lies in the tree's order: the rows of a block are searched
    // in that order, so that the queries of a chunk stay near one another.
    uint32_t place(uint32_t row) const { return tree_.slot_of_row(row); }

    // Half the distance to the nearest other row of the rows in slots
    // [first, first + kFirstChunk), and that row.
    void first_radii(std::size_t first, double *radii, uint32_t *nearest) const {
        const std::size_t count = std::min<std::size_t>(kFirstChunk, tree_.size() - first);
        uint32_t rows[kFirstChunk], near[kFirstChunk];
        double sums[kFirstChunk];
        for (std::size_t k = 0; k < count; k++) rows[k] = tree_.row_of_slot(static_cast<uint32_t>(first + k));
        kernels_.tree_nearest_sums(panels_.view(tree_), mb_.minima.points, rows, count, sums, near);
        for (std::size_t k = 0; k < count; k++) {
            radii[rows[k]] = first_radius(sums[k]);
            nearest[rows[k]] = near[k];
        }
    }
    void set_radii(const double *radii) {
        tree_.set_radii(radii);
        panels_.set_radii(radii);
    }
    void gaps(const uint32_t *rows, std::size_t count, const double *start, const double *enough, double *out) const {
        kernels_.tree_nearest_gaps(panels_.view(tree_), mb_.minima.points, rows, count, start, enough, out);
    }
    void widened(uint32_t row, double radius) {
        tree_.raise_radius(row, radius);
        panels_.raise_radius(row, radius);
    }

private:
    const Member &mb_;
    const SizingKernels &kernels_;
    KdTree tree_;
    TreePanels panels_;
};

// The searches by the scans in lanes: every row against all the others.
class LaneSearch {
public:
    // Rows a chunk: each chunk reads every row once, a cache-sized tile at
    // a time, so a chunk of many rows reads the table from memory seldom.
    static constexpr std::size_t kFirstChunk = 32;
    static constexpr std::size_t kGapChunk = 32;

    LaneSearch(const Member &mb, const SizingKernels &kernels)
        : mb_(mb), kernels_(kernels), table_(mb.dim, mb.num_minima, mb.minima.points) {}

    static double work(uint32_t n, uint32_t m) { return double(m) * m * n; }
    static uint32_t block(uint32_t n, uint32_t m) {
        const double rows = kBlockWork / (double(m) * n);
        return static_cast<uint32_t>(std::clamp(rows, 128.0, 1024.0));
    }
    uint32_t place(uint32_t row) const { return row; }

    void first_radii(std::size_t first, double *radii, uint32_t *nearest) const {
        const uint32_t m = mb_.num_minima;
        const std::size_t count = std::min<std::size_t>(kFirstChunk, m - first);
        uint32_t rows[kFirstChunk];
        double sums[kFirstChunk];
        for (std::size_t k = 0; k < count; k++) rows[k] = static_cast<uint32_t>(first + k);
        kernels_.nearest_sums(table_.view(), mb_.minima.points, rows, count, sums, nearest + first);
        for (std::size_t k = 0; k < count; k++) radii[first + k] = first_radius(sums[k]);
    }
    void set_radii(const double *radii) { table_.set_radii(radii); }
    void gaps(const uint32_t *rows, std::size_t count, const double *start, const double *enough, double *out) const {
        kernels_.nearest_gaps(table_.view(), mb_.minima.points, rows, count, start, enough, out);
    }
    void widened(uint32_t row, double radius) { table_.raise_radius(row, radius); }

private:
    const Member &mb_;
    const SizingKernels &kernels_;
    PanelTable table_;
};

// Steps 1 to 3 with the searches of `search`; false when the meter asks to
// stop.
template <class Search>
bool size_with(Member &mb, Search &search, Meter &meter, const Execution &execution) {
    const uint32_t n = mb.dim;
    const uint32_t m = mb.num_minima;
    double *const *p = mb.minima.points;
    double *radii = mb.minima.radii;
    Workers workers(thread_count(execution, Search::work(n, m)));

    // 1. Half the distance to the nearest other row; rows are independent
    //    here. The nearest row found is kept as a first candidate for step 3.
    std::vector<uint32_t> nearest(m, kNone);
    meter.pace(static_cast<std::uint64_t>(Search::work(n, m) / m));
    const std::size_t first_chunks = (m + Search::kFirstChunk - 1) / Search::kFirstChunk;
    if (!in_chunks(workers, meter, first_chunks, m,
                   [&](std::size_t k) { search.first_radii(k * Search::kFirstChunk, radii, nearest.data()); })) {
        return false;
    }

    // 2. The global region.
    detail::global_region(mb);

    // 3. Widening, in row order: each row sees the radii widened before it.
    //    Once some gap is found not greater than radii[i] + 1e-10, the
    //    smallest is not either and the row stays as it is, so a search may
    //    stop there; a row that is widened gets the exact smallest gap. The
    //    gap to the nearest row of step 1 is one of the values the minimum is
    //    taken of, so starting from it changes nothing, and for most rows it
    //    already ends the search.
    //
    //    Rows go in blocks. Outside a block every radius stays as it is while
    //    the block's rows are visited: those before it are final, those after
    //    it not yet visited. So the rows of a block are searched at once,
    //    over the threads, with the radii of the block's start; then, in row
    //    order, each row's smallest gap is lowered by the rows of the block
    //    widened before it (a widened radius only lowers their gaps, so the
    //    values seen with the block's start radii are either exact or larger
    //    than values taken again), and the row is widened or not.
    search.set_radii(radii);
    const uint32_t block = Search::block(n, m);
    std::vector<uint32_t> open, grown;
    std::vector<double> start, enough, found;
    std::vector<std::size_t> order;
    for (uint32_t first = 0; first < m; first += block) {
        const uint32_t last = std::min(m, first + block);
        open.clear();
        start.clear();
        enough.clear();
        for (uint32_t i = first; i < last; i++) {
            if (i == 1) continue;
            const double stop = radii[i] + kTol;
            double from = kHuge;
            if (const uint32_t j = nearest[i]; j != kNone) {
                const double seed = exact_norm(n, p[i], p[j]) - radii[j];
                if (seed < from) from = seed;
            }
            if (!(from > stop)) continue;
            open.push_back(i);
            start.push_back(from);
            enough.push_back(stop);
        }
        found.resize(open.size());
        order.resize(open.size());
        std::iota(order.begin(), order.end(), std::size_t(0));
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return search.place(open[a]) < search.place(open[b]); });
        constexpr std::size_t chunk = Search::kGapChunk;
        const auto search_chunk = [&](std::size_t k) {
            const std::size_t at = k * chunk, count = std::min(chunk, open.size() - at);
            uint32_t rows[chunk];
            double from[chunk], stop[chunk], gap[chunk];
            for (std::size_t a = 0; a < count; a++) {
                rows[a] = open[order[at + a]];
                from[a] = start[order[at + a]];
                stop[a] = enough[order[at + a]];
            }
            search.gaps(rows, count, from, stop, gap);
            for (std::size_t a = 0; a < count; a++) found[order[at + a]] = gap[a];
        };
        // The block's rows are counted as its searches end.
        if (!in_chunks(workers, meter, (open.size() + chunk - 1) / chunk, last - first, search_chunk)) return false;
        grown.clear();
        for (std::size_t a = 0; a < open.size(); a++) {
            const uint32_t i = open[a];
            double e = found[a];
            if (!(e > enough[a])) continue;
            for (const uint32_t j : grown) {
                const double t = exact_norm(n, p[i], p[j]) - radii[j];
                if (t < e) e = t;
            }
            if (e > enough[a]) {
                radii[i] = e;
                search.widened(i, e);
                grown.push_back(i);
            }
        }
    }
    return true;
}

}  // namespace

Path sizing_path(uint32_t n, uint32_t m) {
    // The tree prunes well while it splits each coordinate a few times, and
    // the more rows, the more it prunes; in more dimensions, and for fewer
    // rows, the scans in lanes are faster. Tiny members take the
    // straightforward scans. (Measured with bench/generation_bench.)
    if (n <= 4) return m >= 64 ? Path::Tree : Path::Reference;
    if (m < 32) return Path::Reference;
    if (n <= 8 && m >= 4096) return Path::Tree;
    if (n <= 11 && m >= 32768) return Path::Tree;
    return Path::Lanes;
}

bool fast_coincidence_pays(uint32_t, uint32_t m) { return m >= 64; }

bool size_regions_fast(Member &mb, Path path, Meter &meter, bool *abandoned, const Execution &execution) {
    const uint32_t n = mb.dim;
    const uint32_t m = mb.num_minima;
    if (!is_safe_value(mb.global_radius) || !all_rows_safe(n, mb.minima.points, 0, m)) return false;
    const SizingKernels &kernels = sizing_kernels(execution.simd ? *execution.simd : simd_cap());
    if (path == Path::Tree) {
        TreeSearch search(mb, kernels, meter.stop_check());
        *abandoned = !search.complete() || !size_with(mb, search, meter, execution);
    } else {
        LaneSearch search(mb, kernels);
        *abandoned = !size_with(mb, search, meter, execution);
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

// The neighbour searches of region sizing for one vector width (see
// sizing.hpp for what they compute). Included by each of sizing_sse2.cpp,
// sizing_avx2.cpp and sizing_avx512.cpp, each compiled for its instruction
// set, with TRAVO_SIMD_NS naming the namespace and TRAVO_SIMD_WIDTH the
// doubles of a vector. Everything defined here has internal linkage and
// calls nothing with external linkage, so that no function compiled for a
// wider set can stand in for a narrower one's at link time.
#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "common/lanes.hpp"
#include "generator/sizing.hpp"
#include "spatial/spatial_index.hpp"

namespace travo::core::TRAVO_SIMD_NS {
namespace {

constexpr std::size_t kLanes = RowPanels::kLanes;
constexpr std::size_t kVectors = kLanes / kWidth;  // vectors a panel
static_assert(kLanes % kWidth == 0);
constexpr uint32_t kNone = UINT32_MAX;

// Query rows and panels summed at once: enough independent sums to keep
// the adders busy, few enough to stay in registers.
#if TRAVO_SIMD_WIDTH == 8
constexpr std::size_t kRows = 4, kPanels = 2;
#elif TRAVO_SIMD_WIDTH == 4
constexpr std::size_t kRows = 2, kPanels = 2;
#else
constexpr std::size_t kRows = 2, kPanels = 1;
#endif
// Coordinates between two looks at whether the partial sums can still win.
constexpr uint32_t kChunk = 8;
// Panels between two looks at whether every query row is settled.
constexpr uint32_t kSettleEvery = 16;

// Bits of the lanes where a < b, and where a <= b (none for NaN).
inline unsigned lanes_below(const Lanes &a, const Lanes &b) {
#if TRAVO_SIMD_WIDTH == 8 && defined(__AVX512F__)
    return _mm512_cmp_pd_mask(reinterpret_cast<__m512d>(a), reinterpret_cast<__m512d>(b), _CMP_LT_OQ);
#elif TRAVO_SIMD_WIDTH == 4 && defined(__AVX__)
    return static_cast<unsigned>(
        _mm256_movemask_pd(_mm256_cmp_pd(reinterpret_cast<__m256d>(a), reinterpret_cast<__m256d>(b), _CMP_LT_OQ)));
#elif TRAVO_SIMD_WIDTH == 2 && defined(__SSE2__)
    return static_cast<unsigned>(
        _mm_movemask_pd(_mm_cmplt_pd(reinterpret_cast<__m128d>(a), reinterpret_cast<__m128d>(b))));
#else
    unsigned bits = 0;
    for (std::size_t i = 0; i < kWidth; i++) bits |= (a[i] < b[i] ? 1u : 0u) << i;
    return bits;
#endif
}

inline unsigned lanes_at_most(const Lanes &a, const Lanes &b) {
#if TRAVO_SIMD_WIDTH == 8 && defined(__AVX512F__)
    return _mm512_cmp_pd_mask(reinterpret_cast<__m512d>(a), reinterpret_cast<__m512d>(b), _CMP_LE_OQ);
#elif TRAVO_SIMD_WIDTH == 4 && defined(__AVX__)
    return static_cast<unsigned>(
        _mm256_movemask_pd(_mm256_cmp_pd(reinterpret_cast<__m256d>(a), reinterpret_cast<__m256d>(b), _CMP_LE_OQ)));
#elif TRAVO_SIMD_WIDTH == 2 && defined(__SSE2__)
    return static_cast<unsigned>(
        _mm_movemask_pd(_mm_cmple_pd(reinterpret_cast<__m128d>(a), reinterpret_cast<__m128d>(b))));
#else
    unsigned bits = 0;
    for (std::size_t i = 0; i < kWidth; i++) bits |= (a[i] <= b[i] ? 1u : 0u) << i;
    return bits;
#endif
}

// Correctly rounded square roots, as std::sqrt gives them.
inline Lanes roots(const Lanes &v) {
#if TRAVO_SIMD_WIDTH == 8 && defined(__AVX512F__)
    const __m512d x = reinterpret_cast<__m512d>(v);
    return reinterpret_cast<Lanes>(_mm512_mask_sqrt_pd(x, static_cast<__mmask8>(0xff), x));
#elif TRAVO_SIMD_WIDTH == 4 && defined(__AVX__)
    return reinterpret_cast<Lanes>(_mm256_sqrt_pd(reinterpret_cast<__m256d>(v)));
#elif TRAVO_SIMD_WIDTH == 2 && defined(__SSE2__)
    return reinterpret_cast<Lanes>(_mm_sqrt_pd(reinterpret_cast<__m128d>(v)));
#else
    Lanes r;
    for (std::size_t i = 0; i < kWidth; i++) r[i] = __builtin_sqrt(v[i]);
    return r;
#endif
}

// KdTree::reach2, here with internal linkage: a bound on sums of squares
// above which the distance surely exceeds b.
inline double reach2(double b) {
    if (b < 0.0) return -1.0;
    const double t = b * (1.0 + KdTree::kReachRel) + KdTree::kReachAbs;
    return t * t * (1.0 + KdTree::kReachRel);
}

template <std::size_t R, std::size_t P>
using Sums = Lanes[R * P * kVectors];  // query row r, panel p, vector v at (r P + p) kVectors + v

// The sums of squares of q[r] - row, r < R, over the rows of panels
// first .. first + P - 1 of `coords` (laid out as RowPanels lays them out):
// each lane's sum taken over the coordinates in increasing order, as norm
// takes it. Every kChunk coordinates the sums are left unfinished (false)
// when no lane of any query row r and panel p is below limit[r][p] (Strict)
// or at most it.
template <std::size_t R, std::size_t P, bool Strict>
inline bool panel_sums(const double *coords, uint32_t n, const double *const *q, uint32_t first,
                       const Lanes (&limit)[R][P], Sums<R, P> &out) {
    constexpr std::size_t kSums = R * P * kVectors;
    const double *base = coords + std::size_t(first) * n * kLanes;
    Lanes acc[kSums];
#pragma GCC unroll 32
    for (std::size_t a = 0; a < kSums; a++) acc[a] = all(0.0);
    uint32_t c = 0;
    for (;;) {
        const uint32_t end = c + kChunk < n ? c + kChunk : n;
        for (; c < end; c++) {
            Lanes col[P * kVectors];
#pragma GCC unroll 32
            for (std::size_t pv = 0; pv < P * kVectors; pv++) {
                col[pv] = load(base + ((pv / kVectors) * n + c) * kLanes + (pv % kVectors) * kWidth);
            }
#pragma GCC unroll 8
            for (std::size_t r = 0; r < R; r++) {
                const Lanes x = all(q[r][c]);
#pragma GCC unroll 32
                for (std::size_t pv = 0; pv < P * kVectors; pv++) {
                    const Lanes d = x - col[pv];
                    acc[r * P * kVectors + pv] += d * d;
                }
            }
        }
        if (c == n) break;
        unsigned bits = 0;
#pragma GCC unroll 32
        for (std::size_t a = 0; a < kSums; a++) {
            const Lanes &lim = limit[a / (P * kVectors)][a / kVectors % P];
            bits |= Strict ? lanes_below(acc[a], lim) : lanes_at_most(acc[a], lim);
        }
        if (bits == 0) return false;
    }
#pragma GCC unroll 32
    for (std::size_t a = 0; a < kSums; a++) out[a] = acc[a];
    return true;
}

// Lane bits of one panel's vectors where sums[v] < limit (Strict) or
// sums[v] <= limit.
template <bool Strict>
inline unsigned panel_bits(const Lanes *sums, const Lanes &limit) {
    unsigned bits = 0;
    for (std::size_t v = 0; v < kVectors; v++) {
        bits |= (Strict ? lanes_below(sums[v], limit) : lanes_at_most(sums[v], limit)) << (v * kWidth);
    }
    return bits;
}

// The query rows of one pass: rows[k .. k + kRows), the last repeated past
// count (computed, not stored).
struct Queries {
    const double *q[kRows];
    uint32_t self[kRows];
    std::size_t used;

    Queries(const double *const *points, const uint32_t *rows, std::size_t k, std::size_t count) {
        used = count - k < kRows ? count - k : kRows;
        for (std::size_t r = 0; r < kRows; r++) {
            self[r] = rows[k + (r < used ? r : used - 1)];
            q[r] = points[self[r]];
        }
    }
};

template <std::size_t P>
inline void nearest_in(const RowPanels &t, const Queries &qs, uint32_t first, double (&best)[kRows],
                       uint32_t (&at)[kRows]) {
    // Hopeless once no lane of any query is below its best sum.
    Lanes limit[kRows][P];
    for (std::size_t r = 0; r < kRows; r++) {
        for (std::size_t p = 0; p < P; p++) limit[r][p] = all(best[r]);
    }
    Sums<kRows, P> acc;
    if (!panel_sums<kRows, P, true>(t.coords, t.n, qs.q, first, limit, acc)) return;
    for (std::size_t r = 0; r < kRows; r++) {
        for (std::size_t p = 0; p < P; p++) {
            const Lanes *sums = &acc[(r * P + p) * kVectors];
            const unsigned bits = panel_bits<true>(sums, limit[r][p]);
            if (bits == 0) continue;
            double sum[kLanes];
            for (std::size_t v = 0; v < kVectors; v++) store(sum + v * kWidth, sums[v]);
            const uint32_t row0 = (first + static_cast<uint32_t>(p)) * static_cast<uint32_t>(kLanes);
            for (uint32_t l = 0; l < kLanes; l++) {
                if ((bits >> l & 1u) != 0 && row0 + l != qs.self[r] && sum[l] < best[r]) {
                    best[r] = sum[l];
                    at[r] = row0 + l;
                }
            }
        }
    }
}

// Panels whose coordinates take about kTileBytes: the query rows of a call
// meet one such tile after another, so that it is read from the cache
// rather than from memory for all but the first group of rows.
constexpr std::size_t kTileBytes = std::size_t(1) << 18;

inline uint32_t tile_panels(uint32_t n) {
    const std::size_t panels = kTileBytes / (std::size_t(n) * kLanes * sizeof(double));
    return panels < kPanels ? static_cast<uint32_t>(kPanels) : static_cast<uint32_t>(panels / kPanels * kPanels);
}

void nearest_sums(const RowPanels &t, const double *const *points, const uint32_t *rows, std::size_t count,
                  double *sum_out, uint32_t *row_out) {
    for (std::size_t k = 0; k < count; k++) {
        sum_out[k] = __builtin_inf();
        row_out[k] = kNone;
    }
    const uint32_t tile = tile_panels(t.n);
    for (uint32_t from = 0; from < t.panels; from += tile) {
        const uint32_t to = t.panels - from < tile ? t.panels : from + tile;
        for (std::size_t k = 0; k < count; k += kRows) {
            const Queries qs(points, rows, k, count);
            double best[kRows];
            uint32_t at[kRows];
            for (std::size_t r = 0; r < kRows; r++) {
                const std::size_t i = k + (r < qs.used ? r : qs.used - 1);
                best[r] = sum_out[i];
                at[r] = row_out[i];
            }
            uint32_t p = from;
            for (; p + kPanels <= to; p += kPanels) nearest_in<kPanels>(t, qs, p, best, at);
            for (; p < to; p++) nearest_in<1>(t, qs, p, best, at);
            for (std::size_t r = 0; r < qs.used; r++) {
                sum_out[k + r] = best[r];
                row_out[k + r] = at[r];
            }
        }
    }
}

template <std::size_t P>
inline void gaps_in(const RowPanels &t, const Queries &qs, uint32_t first, double (&best)[kRows]) {
    // A row of panel p can go below best[r] only if its sum of squares is
    // within reach2(best[r] + the panel's largest radius) (see KdTree).
    Lanes limit[kRows][P];
    for (std::size_t r = 0; r < kRows; r++) {
        for (std::size_t p = 0; p < P; p++) limit[r][p] = all(reach2(best[r] + t.panel_radius[first + p]));
    }
    Sums<kRows, P> acc;
    if (!panel_sums<kRows, P, false>(t.coords, t.n, qs.q, first, limit, acc)) return;
    for (std::size_t p = 0; p < P; p++) {
        const uint32_t row0 = (first + static_cast<uint32_t>(p)) * static_cast<uint32_t>(kLanes);
        for (std::size_t r = 0; r < kRows; r++) {
            const Lanes *sums = &acc[(r * P + p) * kVectors];
            const unsigned bits = panel_bits<false>(sums, limit[r][p]);
            if (bits == 0) continue;
            double gap[kLanes];
            for (std::size_t v = 0; v < kVectors; v++) {
                store(gap + v * kWidth, roots(sums[v]) - load(t.radius + row0 + v * kWidth));
            }
            for (uint32_t l = 0; l < kLanes; l++) {
                if ((bits >> l & 1u) != 0 && row0 + l != qs.self[r] && gap[l] < best[r]) best[r] = gap[l];
            }
        }
    }
}

void nearest_gaps(const RowPanels &t, const double *const *points, const uint32_t *rows, std::size_t count,
                  const double *start, const double *enough, double *out) {
    for (std::size_t k = 0; k < count; k++) out[k] = start[k];
    const uint32_t tile = tile_panels(t.n);
    for (uint32_t from = 0; from < t.panels; from += tile) {
        const uint32_t to = t.panels - from < tile ? t.panels : from + tile;
        for (std::size_t k = 0; k < count; k += kRows) {
            const Queries qs(points, rows, k, count);
            double best[kRows], stop[kRows];
            for (std::size_t r = 0; r < kRows; r++) {
                const std::size_t i = k + (r < qs.used ? r : qs.used - 1);
                best[r] = out[i];
                stop[r] = enough[i];
            }
            const auto settled = [&] {
                for (std::size_t r = 0; r < kRows; r++) {
                    if (best[r] > stop[r]) return false;
                }
                return true;
            };
            uint32_t p = from;
            for (; p + kPanels <= to && !((p - from) % kSettleEvery == 0 && settled()); p += kPanels) {
                gaps_in<kPanels>(t, qs, p, best);
            }
            for (; p < to && !settled(); p++) gaps_in<1>(t, qs, p, best);
            for (std::size_t r = 0; r < qs.used; r++) out[k + r] = best[r];
        }
    }
}

// The searches by the tree. A subtree is passed over when the squared
// distance from the query to its box shows that no row in it can give a
// better answer, with margins far wider than rounding (see KdTree); a
// leaf's rows are met a panel at a time, as in the scans.

// The squared distance from q to the box of `node`, summed in any order:
// it is only compared with such margins.
inline double box_distance2(const TreeLanes &t, uint32_t node, const double *q) {
    const uint32_t n = t.n;
    const double *lo = t.boxes + std::size_t(node) * 2 * n;
    const double *hi = lo + n;
    double sum = 0.0;
    uint32_t c = 0;
    if (n >= kWidth) {
        const Lanes zero = all(0.0);
        Lanes acc = zero;
        for (; c + kWidth <= n; c += kWidth) {
            const Lanes x = load(q + c);
            const Lanes below = load(lo + c) - x, above = x - load(hi + c);
            Lanes gap = below > above ? below : above;
            gap = gap > zero ? gap : zero;
            acc += gap * gap;
        }
        for (std::size_t i = 0; i < kWidth; i++) sum += acc[i];
    }
    for (; c < n; c++) {
        const double below = lo[c] - q[c], above = q[c] - hi[c];
        const double gap = below > above ? (below > 0.0 ? below : 0.0) : (above > 0.0 ? above : 0.0);
        sum += gap * gap;
    }
    return sum;
}

// Visits the tree depth first, the nearer child first, calling leaf(node)
// for each leaf that hopeless(node, squared box distance) does not rule
// out. The tree is balanced (median splits), so the stack holds at most
// its depth plus one, far below kStack.
constexpr std::size_t kStack = 128;

template <class Hopeless, class Leaf>
inline void walk(const TreeLanes &t, const double *q, const Hopeless &hopeless, const Leaf &leaf) {
    uint32_t node[kStack];
    double dist2[kStack];
    std::size_t top = 0;
    node[top] = 0;
    dist2[top++] = box_distance2(t, 0, q);
    while (top > 0) {
        top--;
        const uint32_t k = node[top];
        if (hopeless(k, dist2[top])) continue;
        const KdTree::Node &nd = t.nodes[k];
        if (nd.left == kNone) {
            leaf(k);
            continue;
        }
        const double dl = box_distance2(t, nd.left, q), dr = box_distance2(t, nd.right, q);
        const bool left_first = dl <= dr;
        node[top] = left_first ? nd.right : nd.left;
        dist2[top++] = left_first ? dr : dl;
        node[top] = left_first ? nd.left : nd.right;
        dist2[top++] = left_first ? dl : dr;
    }
}

// Calls each(panel, sums) for the panels of leaf `node`, P at a time, with
// the sums left unfinished where none can be below (Strict) or at most
// `limit`.
template <bool Strict, class Each>
inline void leaf_sums(const TreeLanes &t, uint32_t node, const double *q, double limit, const Each &each) {
    const KdTree::Node &nd = t.nodes[node];
    const uint32_t first = t.leaf_panel[node];
    const uint32_t last = first + static_cast<uint32_t>((nd.end - nd.begin + kLanes - 1) / kLanes);
    const double *const qs[1] = {q};
    uint32_t p = first;
    for (; p + 4 <= last; p += 4) {
        const Lanes lim[1][4] = {{all(limit), all(limit), all(limit), all(limit)}};
        Sums<1, 4> acc;
        if (!panel_sums<1, 4, Strict>(t.coords, t.n, qs, p, lim, acc)) continue;
        for (uint32_t k = 0; k < 4; k++) each(p + k, &acc[k * kVectors]);
    }
    for (; p + 2 <= last; p += 2) {
        const Lanes lim[1][2] = {{all(limit), all(limit)}};
        Sums<1, 2> acc;
        if (!panel_sums<1, 2, Strict>(t.coords, t.n, qs, p, lim, acc)) continue;
        each(p, &acc[0]);
        each(p + 1, &acc[kVectors]);
    }
    if (p < last) {
        const Lanes lim[1][1] = {{all(limit)}};
        Sums<1, 1> acc;
        if (panel_sums<1, 1, Strict>(t.coords, t.n, qs, p, lim, acc)) each(p, &acc[0]);
    }
}

// A bound on computed sums of squares above which no row can have a sum
// below `best` (rounding of either sum is far below the margins).
inline double sum_reach(double best) {
    return best * (1.0 + 4.0 * KdTree::kReachRel) + KdTree::kReachAbs * KdTree::kReachAbs;
}

void tree_nearest_sums(const TreeLanes &t, const double *const *points, const uint32_t *rows, std::size_t count,
                       double *sum_out, uint32_t *row_out) {
    for (std::size_t k = 0; k < count; k++) {
        const uint32_t self = rows[k];
        const double *q = points[self];
        double best = __builtin_inf();
        uint32_t at = kNone;
        const auto hopeless = [&best](uint32_t, double d2) { return d2 > sum_reach(best); };
        const auto leaf = [&](uint32_t node) {
            leaf_sums<true>(t, node, q, best, [&](uint32_t panel, const Lanes *sums) {
                const unsigned bits = panel_bits<true>(sums, all(best));
                if (bits == 0) return;
                double sum[kLanes];
                for (std::size_t v = 0; v < kVectors; v++) store(sum + v * kWidth, sums[v]);
                for (uint32_t l = 0; l < kLanes; l++) {
                    const uint32_t row = t.row[std::size_t(panel) * kLanes + l];
                    if ((bits >> l & 1u) != 0 && row != self && sum[l] < best) {
                        best = sum[l];
                        at = row;
                    }
                }
            });
        };
        walk(t, q, hopeless, leaf);
        sum_out[k] = best;
        row_out[k] = at;
    }
}

void tree_nearest_gaps(const TreeLanes &t, const double *const *points, const uint32_t *rows, std::size_t count,
                       const double *start, const double *enough, double *out) {
    for (std::size_t k = 0; k < count; k++) {
        const uint32_t self = rows[k];
        const double *q = points[self];
        const double stop = enough[k];
        double best = start[k];
        // A row's distance - radius can go below best only if its distance
        // goes below best + radius. When that sum rounds below zero it is
        // below zero exactly, and no distance (never negative) can.
        const auto hopeless = [&](uint32_t node, double d2) {
            if (!(best > stop)) return true;
            const double reach = best + t.nodes[node].max_radius;
            return reach < 0.0 || d2 > reach2(reach);
        };
        const auto leaf = [&](uint32_t node) {
            const double limit = reach2(best + t.nodes[node].max_radius);
            leaf_sums<false>(t, node, q, limit, [&](uint32_t panel, const Lanes *sums) {
                const unsigned bits = panel_bits<false>(sums, all(limit));
                if (bits == 0) return;
                const std::size_t lane0 = std::size_t(panel) * kLanes;
                double gap[kLanes];
                for (std::size_t v = 0; v < kVectors; v++) {
                    store(gap + v * kWidth, roots(sums[v]) - load(t.radius + lane0 + v * kWidth));
                }
                for (uint32_t l = 0; l < kLanes; l++) {
                    if ((bits >> l & 1u) != 0 && t.row[lane0 + l] != self && gap[l] < best) best = gap[l];
                }
            });
        };
        walk(t, q, hopeless, leaf);
        out[k] = best;
    }
}

}  // namespace

const SizingKernels kSizingKernels{nearest_sums, nearest_gaps, tree_nearest_sums, tree_nearest_gaps};

}  // namespace travo::core::TRAVO_SIMD_NS

// The block kernels of batch evaluation for one vector width and block size
// (see batch.hpp for what they compute). Included by each of batch_sse2.cpp,
// batch_avx2.cpp and batch_avx512.cpp, each compiled for its instruction
// set, once for each block size, with TRAVO_SIMD_NS naming the namespace,
// TRAVO_SIMD_WIDTH the doubles of a vector and TRAVO_SIMD_BLOCK the points
// of a block. Everything defined here has internal linkage, so that
// no function compiled for a wider set can stand in for a narrower one's at
// link time; the kernels call out only to functions compiled for the
// baseline (value, first_derivative, second_derivative, batch_locate_one,
// batch_find_region).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "common/lanes.hpp"
#include "evaluation/batch.hpp"

namespace travo::core::TRAVO_SIMD_NS {
namespace {

constexpr std::size_t kBlock = TRAVO_SIMD_BLOCK;
static_assert(kBlock <= BatchEvaluator::kMaxBlock);
constexpr std::size_t kVectors = kBlock / kWidth;
static_assert(kBlock % kWidth == 0);

// A vector built lane by lane from get(i).
template <class Get>
inline Lanes gather(const Get &get) {
    Lanes r;
    for (std::size_t i = 0; i < kWidth; i++) r[i] = get(i);
    return r;
}

// Correctly rounded square roots, as std::sqrt gives them.
inline Lanes roots(const Lanes &v) {
#if TRAVO_SIMD_WIDTH == 8 && defined(__AVX512F__)
    // The masked form with every lane set: the plain one reads an undefined
    // source that GCC 12 warns about.
    const __m512d x = reinterpret_cast<__m512d>(v);
    return reinterpret_cast<Lanes>(_mm512_mask_sqrt_pd(x, static_cast<__mmask8>(0xff), x));
#elif TRAVO_SIMD_WIDTH == 4 && defined(__AVX__)
    return reinterpret_cast<Lanes>(_mm256_sqrt_pd(reinterpret_cast<__m256d>(v)));
#elif TRAVO_SIMD_WIDTH == 2 && defined(__SSE2__)
    return reinterpret_cast<Lanes>(_mm_sqrt_pd(reinterpret_cast<__m128d>(v)));
#else
    return gather([&v](std::size_t i) { return std::sqrt(v[i]); });
#endif
}

// The terms of the value formulas of kWidth regions, one a lane, as
// RegionTerms computed them once per region; each read from the rows only
// if the kind's formula asks for it.
struct LaneTerms {
    const BatchRow *const *row;
    double half, d15, d05;

    template <double BatchRow::*Term>
    Lanes get() const {
        return gather([this](std::size_t i) { return row[i]->*Term; });
    }
    Lanes nd_a() const { return get<&BatchRow::nd_a>(); }
    Lanes d_a3() const { return get<&BatchRow::d_a3>(); }
    Lanes d_a2() const { return get<&BatchRow::d_a2>(); }
    Lanes d2_c3() const { return get<&BatchRow::d2_c3>(); }
    Lanes d2_c4() const { return get<&BatchRow::d2_c4>(); }
    Lanes d2_c5() const { return get<&BatchRow::d2_c5>(); }
    double delta_half() const { return half; }
    double delta_15() const { return d15; }
    double delta_05() const { return d05; }
};

// A block of points, coordinate c of block point p at x[c * kBlock + p];
// the lanes beyond `used` repeat the last point (evaluated, not stored).
template <uint32_t N, bool Columns>
inline void load_block(const BatchTables &t, BatchPoints pts, std::size_t first, std::size_t used, double *x) {
    const uint32_t n = N != 0 ? N : t.n;
    if (used == kBlock) {
        for (uint32_t c = 0; c < n; c++) {
            double *xc = x + std::size_t(c) * kBlock;
            for (std::size_t p = 0; p < kBlock; p++) {
                xc[p] = Columns ? pts.columns[c][first + p] : pts.rows[(first + p) * n + c];
            }
        }
        return;
    }
    for (uint32_t c = 0; c < n; c++) {
        double *xc = x + std::size_t(c) * kBlock;
        for (std::size_t p = 0; p < kBlock; p++) {
            const std::size_t at = first + (p < used ? p : used - 1);
            xc[p] = Columns ? pts.columns[c][at] : pts.rows[at * n + c];
        }
    }
}

// What the search found, lane p of vector p / kWidth: the kept row (0: the
// vertex), its sum of squares and (for values) (x - M).(T - M) with M its
// centre, whether the point is outside the box and whether it has a NaN
// coordinate (1.0 or 0.0).
struct Searched {
    Lanes row[kVectors], sum[kVectors], dot[kVectors], outside[kVectors], nan[kVectors];

    static double lane(const Lanes (&v)[kVectors], std::size_t p) { return v[p / kWidth][p % kWidth]; }
};

// The sum of squares of row `row` - x over the first n coordinates of the
// block's vector v, from the first square on (0.0 + d * d, the first step
// of norm's sum, is d * d itself).
inline Lanes row_sum(const double *coord, const double *x, std::size_t v, uint32_t n) {
    const Lanes d0 = all(coord[0]) - load(x + v * kWidth);
    Lanes sum = d0 * d0;
    for (uint32_t c = 1; c < n; c++) {
        const Lanes d = all(coord[c]) - load(x + std::size_t(c) * kBlock + v * kWidth);
        sum += d * d;
    }
    return sum;
}

using Mask = decltype(Lanes{} < Lanes{});

inline bool any(const Mask &mask) {
    for (std::size_t i = 0; i < kWidth; i++) {
        if (mask[i] != 0) return true;
    }
    return false;
}

// Bit i set where lane i of the mask is.
inline uint64_t bits(const Mask &mask) {
#if TRAVO_SIMD_WIDTH == 8 && defined(__AVX512F__)
    const __m512i m = reinterpret_cast<__m512i>(mask);
    return _mm512_test_epi64_mask(m, m);
#elif TRAVO_SIMD_WIDTH == 4 && defined(__AVX__)
    return static_cast<uint64_t>(_mm256_movemask_pd(reinterpret_cast<__m256d>(mask)));
#elif TRAVO_SIMD_WIDTH == 2 && defined(__SSE2__)
    return static_cast<uint64_t>(_mm_movemask_pd(reinterpret_cast<__m128d>(mask)));
#else
    uint64_t b = 0;
    for (std::size_t i = 0; i < kWidth; i++) b |= uint64_t(mask[i] != 0) << i;
    return b;
#endif
}

// Row k against the block's vector v: its sum of squares (as row_sum) and,
// with Dot, (x - M).(T - M) summed as located sums it: from 0.0, each term
// (x_c - M_c) e_c, which is -(d_c e_c) exactly for d = M - x, so the sum
// subtracts d_c e_c. In many dimensions, false with the sums unfinished
// once no lane can be within `bound` (a running sum of squares never
// decreases; a NaN lane is never within it either way), checked every eight
// coordinates.
template <bool Dot>
inline bool row_within(const double *coord, const double *edge, const double *x, std::size_t v, uint32_t n,
                       const Lanes &bound, Lanes &sum, Lanes &dot) {
    constexpr uint32_t kChunk = 8;
    sum = all(0.0);
    dot = all(0.0);
    for (uint32_t c = 0; c < n; c++) {
        const Lanes d = all(coord[c]) - load(x + std::size_t(c) * kBlock + v * kWidth);
        sum = c == 0 ? d * d : sum + d * d;
        if constexpr (Dot) dot -= d * all(edge[c]);
        if (n > 2 * kChunk && c % kChunk == kChunk - 1 && !any(sum <= bound)) return false;
    }
    return true;
}

using Index = int32_t __attribute__((vector_size(kWidth * sizeof(int32_t))));

// base[at[i]] in lane i. (Loads one by one: the processors' gather
// instructions are slower here, measured with bench/batch_bench.)
inline Lanes gather_at(const double *base, const Index &at) {
    Lanes r = {};
    for (std::size_t i = 0; i < kWidth; i++) r[i] = base[at[i]];
    return r;
}

inline bool any_lane(const Index &v) {
    int32_t bits = 0;
    for (std::size_t i = 0; i < kWidth; i++) bits |= v[i];
    return bits != 0;
}

// The regions of vector v's points through the index's grid (t.gridded),
// in lanes: each lane walks the rows its cell lists, in row order, and keeps
// the first whose sum of squares is not above the upper bound, as the
// search over every region does: a row its cell does not list lies farther
// than its radius from the point along some axis, so its sum is above that
// bound too. The cell is grid_cell's, by the same operations, so a point
// lies in the cells that list every region that can hold it.
template <uint32_t N, bool Dot>
inline void grid_search(const BatchTables &t, const double *x, std::size_t v, Searched &s) {
    const uint32_t n = N != 0 ? N : t.n;
    const RegionIndex::Grid &g = t.grid;
    const Lanes zero = all(0.0);
    Lanes xs[N != 0 ? N : RegionIndex::kGridMaxDim];
    Index cell = Index{};
    for (uint32_t c = 0; c < n; c++) {
        xs[c] = load(x + std::size_t(c) * kBlock + v * kWidth);
        const Lanes at = (xs[c] - all(g.lo[c])) * all(g.inv[c]);
        const double cells = double(g.cells[c]);
        Lanes k = at > zero ? at : zero;
        k = k >= all(cells) ? all(cells - 1.0) : k;
        cell = cell * static_cast<int32_t>(g.cells[c]) + __builtin_convertvector(k, Index);
    }
    Index pos, end;
    for (std::size_t i = 0; i < kWidth; i++) {
        pos[i] = static_cast<int32_t>(g.start[cell[i]]);
        end[i] = static_cast<int32_t>(g.start[cell[i] + 1]);
    }
    const Index none = Index{} + static_cast<int32_t>(t.no_entry), size = Index{} + static_cast<int32_t>(t.entry_size);
    Index kept = none;  // the entry kept
    for (Index walking = pos < end; any_lane(walking);) {
        // The next listed row of each lane still walking, or none.
        const Index entry = walking ? pos : none, at = entry * size;
        Lanes sum = zero;
        for (uint32_t c = 0; c < n; c++) {
            const Lanes d = gather_at(t.entries + c, at) - xs[c];
            sum = c == 0 ? d * d : sum + d * d;
        }
        const auto in = sum <= gather_at(t.entries + n, at);
        s.sum[v] = in ? sum : s.sum[v];
        const Index hit = __builtin_convertvector(in, Index);
        kept = hit ? entry : kept;
        pos = hit ? end : pos + 1;
        walking = pos < end;
    }
    // The kept rows, and for values (x - M).(T - M) as the search sums it.
    const Lanes row = gather_at(t.entries + n + 1, kept * size);
    s.row[v] = row;
    if constexpr (Dot) {
        const Index base = __builtin_convertvector(row, Index) * static_cast<int32_t>(n);
        Lanes dot = zero;
        for (uint32_t c = 0; c < n; c++) {
            const Lanes d = gather_at(t.coord + c, base) - xs[c];
            dot -= d * gather_at(t.edge + c, base);
        }
        s.dot[v] = dot;
    }
}

// Every vector of a block through the grid; kept out of line, so that the
// search over every region, which most members take, stays as compact as
// it was.
template <uint32_t N, bool Dot>
__attribute__((noinline)) void grid_block(const BatchTables &t, const double *x, Searched &s) {
    for (std::size_t v = 0; v < kVectors; v++) grid_search<N, Dot>(t, x, v, s);
}

// N: the dimension when known at compile time (0: t.n). With t.indexed the
// regions are not searched over every row: they are found through the
// index's grid in lanes, or else point by point by the member's
// RegionIndex (the reference's answer), and the kept sum is that region's;
// `point` is room for one point.
template <uint32_t N, bool Dot>
inline void search(const BatchTables &t, const double *x, std::size_t used, double *point, Searched &s) {
    const uint32_t n = N != 0 ? N : t.n;
    const Lanes zero = all(0.0), one = all(1.0);
    for (std::size_t v = 0; v < kVectors; v++) {
        Lanes outside = zero, nan = zero;
        for (uint32_t c = 0; c < n; c++) {
            const Lanes xv = load(x + std::size_t(c) * kBlock + v * kWidth);
            outside = xv < all(t.lo[c]) ? one : outside;
            outside = xv > all(t.hi[c]) ? one : outside;
            nan = xv != xv ? one : nan;
        }
        s.outside[v] = outside;
        s.nan[v] = nan;
        s.sum[v] = row_sum(t.coord, x, v, n);
        s.row[v] = zero;
        s.dot[v] = zero;
    }
    if (t.gridded) {
        grid_block<N, Dot>(t, x, s);
        return;
    }
    if (t.indexed) {
        for (std::size_t p = 0; p < used; p++) {
            if (Searched::lane(s.outside, p) != 0.0 || Searched::lane(s.nan, p) != 0.0) continue;
            for (uint32_t c = 0; c < n; c++) point[c] = x[std::size_t(c) * kBlock + p];
            const uint32_t k = batch_find_region(t, point);
            if (k == 0) continue;
            const double *coord = t.coord + std::size_t(k) * n;
            const double *edge = t.edge + std::size_t(k) * n;
            double sum = 0.0, dot = 0.0;
            for (uint32_t c = 0; c < n; c++) {
                const double d = coord[c] - point[c];
                sum += d * d;
                if constexpr (Dot) dot += (point[c] - coord[c]) * edge[c];
            }
            s.row[p / kWidth][p % kWidth] = static_cast<double>(k);
            s.sum[p / kWidth][p % kWidth] = sum;
            s.dot[p / kWidth][p % kWidth] = dot;
        }
        return;
    }
    for (uint32_t k = t.m - 1; k >= 1; k--) {
        const double *coord = t.coord + std::size_t(k) * n, *edge = t.edge + std::size_t(k) * n;
        const Lanes bound = all(t.out_bound[k]), row = all(static_cast<double>(k));
        for (std::size_t v = 0; v < kVectors; v++) {
            Lanes sum, dot;
            if (!row_within<Dot>(coord, edge, x, v, n, bound, sum, dot)) continue;
            const auto in = sum <= bound;
            s.row[v] = in ? row : s.row[v];
            s.sum[v] = in ? sum : s.sum[v];
            if constexpr (Dot) s.dot[v] = in ? dot : s.dot[v];
        }
    }
}

// The per-point lookup for block point p.
inline Site locate_again(const BatchTables &t, const double *x, std::size_t p, double *point) {
    for (uint32_t c = 0; c < t.n; c++) point[c] = x[std::size_t(c) * kBlock + p];
    return batch_locate_one(t, point);
}

template <Kind K, uint32_t N>
void block_values(const BatchTables &t, const double *x, std::size_t used, double *out, double *point) {
    Searched s;
    search<N, true>(t, x, used, point, s);
    // Every point's distance to its kept row and the paraboloid's value
    // (the same squares as norm(x, vertex), with the other sign inside).
    // Points settled in a region are then packed into lanes of their own for
    // the region formulas; refused ones get the error value and unsettled
    // ones are evaluated point by point.
    uint32_t rows[kBlock];
    double first[kBlock], in[kBlock];
    Lanes dist[kVectors];
    for (std::size_t v = 0; v < kVectors; v++) {
        for (std::size_t i = 0; i < kWidth; i++) {
            const uint32_t row = static_cast<uint32_t>(s.row[v][i]);
            rows[v * kWidth + i] = row;
            in[v * kWidth + i] = t.rows[row].sure_in;
        }
        dist[v] = roots(s.sum[v]);
        const Lanes paraboloid = paraboloid_value(dist[v], t.vertex_value);
        store(first + v * kWidth, s.outside[v] != all(0.0) ? all(kHuge) : paraboloid);
    }
    // Lane bits of the points settled in a region and of those unsettled
    // (a NaN sum is never settled), among the `used`.
    uint64_t settled_in_region = 0, unsettled = 0;
    const Lanes zero = all(0.0);
    for (std::size_t v = 0; v < kVectors; v++) {
        const uint64_t inside = bits(s.outside[v] == zero);
        const uint64_t settled = bits(s.nan[v] == zero) & bits(s.sum[v] <= load(in + v * kWidth));
        settled_in_region |= (inside & settled & bits(s.row[v] != zero)) << (v * kWidth);
        unsettled |= (inside & ~settled) << (v * kWidth);
    }
    const uint64_t block = used == 64 ? ~uint64_t(0) : (uint64_t(1) << used) - 1;
    std::size_t reg[kBlock + kWidth], again[kBlock];
    std::size_t nr = 0, na = 0;
#if TRAVO_SIMD_WIDTH == 8 && defined(__AVX512F__)
    // The lanes of each vector compressed in registers (a loop over the bits
    // would end at a different point for each block).
    static_assert(sizeof(std::size_t) == sizeof(long long));
    for (std::size_t v = 0; v < kVectors; v++) {
        const __mmask8 k = static_cast<__mmask8>((settled_in_region & block) >> (v * kWidth));
        const __m512i lanes = _mm512_add_epi64(_mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0),
                                               _mm512_set1_epi64(static_cast<long long>(v * kWidth)));
        _mm512_storeu_si512(reg + nr, _mm512_maskz_compress_epi64(k, lanes));
        nr += static_cast<std::size_t>(__builtin_popcount(k));
    }
#else
    for (uint64_t b = settled_in_region & block; b != 0; b &= b - 1) reg[nr++] = std::size_t(__builtin_ctzll(b));
#endif
    for (uint64_t b = unsettled & block; b != 0; b &= b - 1) again[na++] = std::size_t(__builtin_ctzll(b));
    if (used == kBlock) {
        for (std::size_t v = 0; v < kVectors; v++) store(out + v * kWidth, load(first + v * kWidth));
    } else {
        for (std::size_t p = 0; p < used; p++) out[p] = first[p];
    }

    for (std::size_t a = 0; a < nr; a += kWidth) {
        std::size_t lane[kWidth];
        const BatchRow *row[kWidth];
        for (std::size_t i = 0; i < kWidth; i++) {
            lane[i] = reg[a + i < nr ? a + i : nr - 1];
            row[i] = &t.rows[rows[lane[i]]];
        }
        const Lanes r = gather([&](std::size_t i) { return Searched::lane(dist, lane[i]); });
        const Lanes rho = gather([&](std::size_t i) { return row[i]->rho; });
        const Lanes rho2 = rho * rho, rho3 = rho2 * rho;  // as the rows hold them
        const Lanes f = gather([&](std::size_t i) { return row[i]->f; });
        const Lanes sdot = gather([&](std::size_t i) { return Searched::lane(s.dot, lane[i]); });
        const Lanes q = sdot / r;
        const LaneTerms terms{row, t.delta_half, t.delta_15, t.delta_05};
        const Lanes region = region_value<K>(q, r, rho, rho2, rho3, f, terms);
        const Lanes value = r < all(kTol) ? f : region;  // kTol: the centre
        for (std::size_t i = kWidth; i-- > 0;) out[lane[i]] = value[i];
    }

    for (std::size_t a = 0; a < na; a++) out[again[a]] = value(K, locate_again(t, x, again[a], point));
}

template <Kind K, uint32_t N, bool Columns>
void values_with(const BatchTables &t, BatchPoints pts, std::size_t count, double *out, double *scratch) {
    double *point = scratch + std::size_t(t.n) * kBlock;
    for (std::size_t first = 0; first < count; first += kBlock) {
        const std::size_t used = count - first < kBlock ? count - first : kBlock;
        load_block<N, Columns>(t, pts, first, used, scratch);
        block_values<K, N>(t, scratch, used, out + first, point);
    }
}

template <Kind K>
void values_of(const BatchTables &t, BatchPoints pts, std::size_t count, double *out, double *scratch) {
    if (pts.rows != nullptr) {
        if (t.n == 2) return values_with<K, 2, false>(t, pts, count, out, scratch);
        return values_with<K, 0, false>(t, pts, count, out, scratch);
    }
    if (t.n == 2) return values_with<K, 2, true>(t, pts, count, out, scratch);
    values_with<K, 0, true>(t, pts, count, out, scratch);
}

void values(const BatchTables &t, Kind kind, BatchPoints pts, std::size_t count, double *out, double *scratch) {
    switch (kind) {
    case Kind::ND:
        return values_of<Kind::ND>(t, pts, count, out, scratch);
    case Kind::D:
        return values_of<Kind::D>(t, pts, count, out, scratch);
    case Kind::D2:
        return values_of<Kind::D2>(t, pts, count, out, scratch);
    }
}

// A searched block as the derivative kernels see it: each point's kept row,
// its distance, and the points settled in a region (reg[0..nr)).
struct Settled {
    uint32_t rows[kBlock];
    Lanes dist[kVectors];
    std::size_t reg[kBlock];
    std::size_t nr = 0;
};

enum class Where { Refused, Unsure, Paraboloid, Centre };

// Sorts the block's `used` points: those outside the box, unsure, on the
// paraboloid or at a centre go to other(p, where) one by one, those settled
// in a region into reg.
template <class Other>
inline void settle(const BatchTables &t, const Searched &s, std::size_t used, Settled &st, const Other &other) {
    for (std::size_t v = 0; v < kVectors; v++) {
        for (std::size_t i = 0; i < kWidth; i++) st.rows[v * kWidth + i] = static_cast<uint32_t>(s.row[v][i]);
        st.dist[v] = roots(s.sum[v]);
    }
    for (std::size_t p = 0; p < used; p++) {
        if (Searched::lane(s.outside, p) != 0.0) {
            other(p, Where::Refused);
        } else if (Searched::lane(s.nan, p) != 0.0 || !(Searched::lane(s.sum, p) <= t.rows[st.rows[p]].sure_in)) {
            other(p, Where::Unsure);
        } else if (st.rows[p] == 0) {
            other(p, Where::Paraboloid);
        } else if (Searched::lane(st.dist, p) < kTol) {
            other(p, Where::Centre);
        } else {
            st.reg[st.nr++] = p;
        }
    }
}

// The settled points reg[a .. a + kWidth) in lanes (the last repeated past
// nr): their block points and rows, distance r, (x - M).(T - M), radius and
// height, and for component c, d = x - M and e = T - M.
struct Packed {
    std::size_t lane[kWidth];
    std::size_t base[kWidth];  // row * n
    Lanes r, sdot, rho, A;

    Packed(const BatchTables &t, const Searched &s, const Settled &st, std::size_t a, uint32_t n) {
        const BatchRow *row[kWidth];
        for (std::size_t i = 0; i < kWidth; i++) {
            lane[i] = st.reg[a + i < st.nr ? a + i : st.nr - 1];
            base[i] = st.rows[lane[i]] * std::size_t(n);
            row[i] = &t.rows[st.rows[lane[i]]];
        }
        r = gather([&](std::size_t i) { return Searched::lane(st.dist, lane[i]); });
        sdot = gather([&](std::size_t i) { return Searched::lane(s.dot, lane[i]); });
        rho = gather([&](std::size_t i) { return row[i]->rho; });
        A = gather([&](std::size_t i) { return row[i]->A; });
    }
    Lanes d(const BatchTables &t, const double *x, uint32_t c) const {
        return gather([&](std::size_t i) { return x[std::size_t(c) * kBlock + lane[i]]; }) -
               gather([&](std::size_t i) { return t.coord[base[i] + c]; });
    }
    Lanes e(const BatchTables &t, uint32_t c) const {
        return gather([&](std::size_t i) { return t.edge[base[i] + c]; });
    }
};

// First derivatives of kind K, components [from, to), of the block's `used`
// points: the error value outside the box, 2 (x - T) on the paraboloid, 0
// at a centre; points settled in a region are packed into lanes for the
// derivative formulas of formulas.hpp, with the factors that do not depend
// on the component computed once a lane; unsettled points go point by
// point.
template <Kind K, uint32_t N>
void block_gradients(const BatchTables &t, const double *x, std::size_t used, uint32_t from, uint32_t to, double *out,
                     std::size_t stride, double *point) {
    const uint32_t n = N != 0 ? N : t.n;
    Searched s;
    search<N, true>(t, x, used, point, s);
    Settled st;
    settle(t, s, used, st, [&](std::size_t p, Where where) {
        double *g = out + p * stride;
        if (where == Where::Unsure) {
            const Site site = locate_again(t, x, p, point);
            for (uint32_t c = from; c < to; c++) g[c - from] = first_derivative(K, c + 1, site);
            return;
        }
        for (uint32_t c = from; c < to; c++) {
            g[c - from] = where == Where::Refused      ? kHuge
                          : where == Where::Paraboloid ? 2.0 * (x[std::size_t(c) * kBlock + p] - t.coord[c])
                                                       : 0.0;
        }
    });
    for (std::size_t a = 0; a < st.nr; a += kWidth) {
        const Packed pk(t, s, st, a, n);
        const FirstFactors<K, Lanes> factors(pk.rho, pk.r, pk.sdot, pk.sdot / pk.r, pk.A, t.delta);
        for (uint32_t c = from; c < to; c++) {
            const Lanes d = pk.d(t, x, c);
            const Lanes g = factors.entry(d, gradient_g(pk.e(t, c), pk.r, pk.sdot, d));
            for (std::size_t i = kWidth; i-- > 0;) out[pk.lane[i] * stride + (c - from)] = g[i];
        }
    }
}

template <Kind K, uint32_t N, bool Columns>
void gradients_with(const BatchTables &t, BatchPoints pts, std::size_t count, uint32_t from, uint32_t to, double *out,
                    std::size_t stride, double *scratch) {
    double *point = scratch + std::size_t(t.n) * kBlock;
    for (std::size_t first = 0; first < count; first += kBlock) {
        const std::size_t used = count - first < kBlock ? count - first : kBlock;
        load_block<N, Columns>(t, pts, first, used, scratch);
        block_gradients<K, N>(t, scratch, used, from, to, out + first * stride, stride, point);
    }
}

template <Kind K>
void gradients_of(const BatchTables &t, BatchPoints pts, std::size_t count, uint32_t from, uint32_t to, double *out,
                  std::size_t stride, double *scratch) {
    if (pts.rows != nullptr) {
        if (t.n == 2) return gradients_with<K, 2, false>(t, pts, count, from, to, out, stride, scratch);
        return gradients_with<K, 0, false>(t, pts, count, from, to, out, stride, scratch);
    }
    if (t.n == 2) return gradients_with<K, 2, true>(t, pts, count, from, to, out, stride, scratch);
    gradients_with<K, 0, true>(t, pts, count, from, to, out, stride, scratch);
}

void gradients(const BatchTables &t, Kind kind, BatchPoints pts, std::size_t count, uint32_t from, uint32_t to,
               double *out, std::size_t stride, double *scratch) {
    if (kind == Kind::D) return gradients_of<Kind::D>(t, pts, count, from, to, out, stride, scratch);
    gradients_of<Kind::D2>(t, pts, count, from, to, out, stride, scratch);
}

// Entries (i, j), i in [i0, i1), j in [j0, j1) (0-based), of the D2
// Hessians of the block's `used` points, point p's at out[p * stride], row
// by row: the error value outside the box, 2 on the paraboloid's diagonal
// and delta at a centre's (0 elsewhere); points settled in a region are
// packed into lanes for the second-derivative formulas of formulas.hpp;
// unsettled points go point by point. `dg` is room for 2 n vectors.
struct Entries {
    uint32_t i0, i1, j0, j1;
    std::size_t stride;
};

template <uint32_t N>
void block_hessians(const BatchTables &t, const double *x, std::size_t used, const Entries &en, double *out,
                    double *point, double *dg) {
    const uint32_t n = N != 0 ? N : t.n;
    const std::size_t cols = en.j1 - en.j0;
    Searched s;
    search<N, true>(t, x, used, point, s);
    Settled st;
    settle(t, s, used, st, [&](std::size_t p, Where where) {
        double *h = out + p * en.stride;
        if (where == Where::Unsure) {
            const Site site = locate_again(t, x, p, point);
            for (uint32_t i = en.i0; i < en.i1; i++) {
                for (uint32_t j = en.j0; j < en.j1; j++)
                    h[(i - en.i0) * cols + (j - en.j0)] = second_derivative(i + 1, j + 1, site);
            }
            return;
        }
        const double on = where == Where::Refused ? kHuge : where == Where::Paraboloid ? 2.0 : t.delta;
        const double off = where == Where::Refused ? kHuge : 0.0;
        for (uint32_t i = en.i0; i < en.i1; i++) {
            for (uint32_t j = en.j0; j < en.j1; j++) h[(i - en.i0) * cols + (j - en.j0)] = i == j ? on : off;
        }
    });
    // d and G of component c at dg + c * kWidth and dg + (n + c) * kWidth.
    const auto d = [dg](uint32_t c) { return load(dg + std::size_t(c) * kWidth); };
    const auto G = [dg, gs = std::size_t(n)](uint32_t c) { return load(dg + (gs + c) * kWidth); };
    for (std::size_t a = 0; a < st.nr; a += kWidth) {
        const Packed pk(t, s, st, a, n);
        const SecondFactors<Lanes> factors(pk.rho, pk.r, pk.sdot, pk.sdot / pk.r, pk.A, t.delta);
        for (uint32_t c = 0; c < n; c++) {
            if ((c < en.i0 || c >= en.i1) && (c < en.j0 || c >= en.j1)) continue;
            const Lanes dc = pk.d(t, x, c);
            store(dg + std::size_t(c) * kWidth, dc);
            store(dg + (std::size_t(n) + c) * kWidth, gradient_g(pk.e(t, c), pk.r, pk.sdot, dc));
        }
        for (uint32_t i = en.i0; i < en.i1; i++) {
            const Lanes di = d(i), ei = pk.e(t, i), Gi = G(i);
            for (uint32_t j = en.j0; j < en.j1; j++) {
                const Lanes h = factors.entry(di, ei, Gi, d(j), G(j), i == j);
                const std::size_t at = (i - en.i0) * cols + (j - en.j0);
                for (std::size_t k = kWidth; k-- > 0;) out[pk.lane[k] * en.stride + at] = h[k];
            }
        }
    }
}

template <uint32_t N, bool Columns>
void hessians_with(const BatchTables &t, BatchPoints pts, std::size_t count, const Entries &en, double *out,
                   double *scratch) {
    double *point = scratch + std::size_t(t.n) * kBlock;
    double *dg = point + batch_point_room(t.n);
    for (std::size_t first = 0; first < count; first += kBlock) {
        const std::size_t used = count - first < kBlock ? count - first : kBlock;
        load_block<N, Columns>(t, pts, first, used, scratch);
        block_hessians<N>(t, scratch, used, en, out + first * en.stride, point, dg);
    }
}

void hessians(const BatchTables &t, BatchPoints pts, std::size_t count, uint32_t i0, uint32_t i1, uint32_t j0,
              uint32_t j1, double *out, std::size_t stride, double *scratch) {
    const Entries en{i0, i1, j0, j1, stride};
    if (pts.rows != nullptr) {
        if (t.n == 2) return hessians_with<2, false>(t, pts, count, en, out, scratch);
        return hessians_with<0, false>(t, pts, count, en, out, scratch);
    }
    if (t.n == 2) return hessians_with<2, true>(t, pts, count, en, out, scratch);
    hessians_with<0, true>(t, pts, count, en, out, scratch);
}

template <uint32_t N>
void find_in(const BatchTables &t, const double *x, std::size_t used, BatchFound *found, double *point) {
    Searched s;
    search<N, false>(t, x, used, point, s);
    for (std::size_t p = 0; p < used; p++) {
        const uint32_t row = static_cast<uint32_t>(Searched::lane(s.row, p));
        const double sum = Searched::lane(s.sum, p);
        if (Searched::lane(s.outside, p) != 0.0) {
            found[p] = {BatchFound::kRefused, 0.0};
        } else if (Searched::lane(s.nan, p) != 0.0 || !(sum <= t.rows[row].sure_in)) {
            found[p] = {BatchFound::kUnsure, 0.0};
        } else {
            found[p] = {row, sum};
        }
    }
}

void find(const BatchTables &t, BatchPoints pts, std::size_t first, std::size_t used, BatchFound *found,
          double *scratch) {
    if (pts.rows != nullptr) {
        load_block<0, false>(t, pts, first, used, scratch);
    } else {
        load_block<0, true>(t, pts, first, used, scratch);
    }
    double *point = scratch + std::size_t(t.n) * kBlock;
    if (t.n == 2) {
        find_in<2>(t, scratch, used, found, point);
    } else {
        find_in<0>(t, scratch, used, found, point);
    }
}

}  // namespace

const BatchKernels kKernels{kBlock, values, find, gradients, hessians};

}  // namespace travo::core::TRAVO_SIMD_NS

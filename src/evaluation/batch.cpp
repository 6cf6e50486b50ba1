#include "evaluation/batch.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace travo::core {
namespace {

template <class V>
V all(double v) {
    V r = {};
    for (std::size_t i = 0; i < sizeof(V) / sizeof(double); i++) r[i] = v;
    return r;
}

template <class V>
V roots(V v) {
    V r = {};
    for (std::size_t i = 0; i < sizeof(V) / sizeof(double); i++) r[i] = std::sqrt(v[i]);
    return r;
}

}  // namespace

BatchEvaluator::BatchEvaluator(const Member &mb, const RegionIndex *index)
    : mb_(&mb), index_(index), n_(mb.dim), m_(mb.num_minima) {
    const MinimaTable &tab = mb.minima;
    if (!mb.isArgSet || n_ == 0 || n_ > kMaxDim || m_ == 0 || m_ > kRows) return;
    if (tab.points == nullptr || tab.values == nullptr || tab.radii == nullptr || mb.domain_left == nullptr ||
        mb.domain_right == nullptr) {
        return;
    }
    // With finite rows a sum of squares is NaN only for a NaN coordinate of
    // the point, which the search looks for.
    for (uint32_t row = 0; row < m_; row++) {
        for (uint32_t c = 0; c < n_; c++) {
            if (!std::isfinite(tab.points[row][c])) return;
        }
    }
    for (uint32_t c = 0; c < n_; c++) {
        lo_lanes_[c] = all<Lanes>(mb.domain_left[c] - kTol);
        hi_lanes_[c] = all<Lanes>(mb.domain_right[c] + kTol);
    }
    const double *t = tab.points[0];
    vertex_value_ = tab.values[0];
    const double dl = mb.delta;
    delta_half_ = dl / 2.0;
    delta_15_ = 1.5 * dl;
    delta_05_ = 0.5 * dl;
    for (uint32_t row = 0; row < m_; row++) {
        const double *p = tab.points[row];
        for (uint32_t c = 0; c < n_; c++) {
            coord_[c][row] = p[c];
            coord_lanes_[row][c] = all<Lanes>(p[c]);
            edge_[c][row] = t[c] - p[c];
        }
        row_lanes_[row] = all<Lanes>(static_cast<double>(row));
        if (row == 0) {
            sure_in_[0] = std::numeric_limits<double>::infinity();  // the paraboloid is never unsure
            continue;
        }
        const double rho = tab.radii[row];
        const SumBounds b = sum_bounds(rho);
        sure_in_[row] = b.in;
        out_lanes_[row] = all<Lanes>(b.out);
        // As locate and value compute them for a point of this region.
        const double rho2 = rho * rho, rho3 = rho2 * rho;
        const double f = tab.values[row];
        const double tm = norm(n_, t, p);
        const double A = tm * tm + vertex_value_ - f;
        rho_[row] = rho;
        rho2_[row] = rho2;
        rho3_[row] = rho3;
        f_[row] = f;
        nd_a_[row] = A / rho2;
        d_a3_[row] = 2.0 * A / rho3;
        d_a2_[row] = 3.0 * A / rho2;
        d2_c3_[row] = 10.0 * A / rho2;
        d2_c4_[row] = 15.0 * A / rho2;
        d2_c5_[row] = 6.0 * A / rho2;
    }
    blocked_ = true;
}

Site BatchEvaluator::locate_one(const double *x) const {
    return index_ != nullptr ? core::locate(*mb_, *index_, x) : core::locate(*mb_, x);
}

// A block of points in lanes (coordinate c of point p in lane p % kWidth of
// x[c][p / kWidth]) and, after the search, the lowest region of each point
// whose sum is not above its upper bound (0: none), whether the point is
// outside the box and whether it has a NaN coordinate (1.0 or 0.0).
struct BatchEvaluator::Block {
    static constexpr std::size_t kVectors = kBlock / kWidth;
    static_assert(kBlock % kWidth == 0);
    Lanes x[kMaxDim][kVectors];
    Lanes row[kVectors];
    Lanes outside[kVectors];
    Lanes nan[kVectors];

    double get(uint32_t c, std::size_t p) const { return x[c][p / kWidth][p % kWidth]; }
    double lane(const Lanes (&v)[kVectors], std::size_t p) const { return v[p / kWidth][p % kWidth]; }
};

// Copies `used` points into the block, repeating the last one in the lanes
// beyond it (they are evaluated and not stored). Whole vectors are stored:
// a vector read of lanes stored one by one would wait for the stores.
template <class Load>
void BatchEvaluator::load(Block &b, Load load_at, std::size_t first, std::size_t used) const {
    for (uint32_t c = 0; c < n_; c++) {
        for (std::size_t v = 0; v < Block::kVectors; v++) {
            Lanes lanes = {};
            for (std::size_t i = 0; i < kWidth; i++) {
                const std::size_t p = v * kWidth + i;
                lanes[i] = load_at(first + (p < used ? p : used - 1), c);
            }
            b.x[c][v] = lanes;
        }
    }
}

// N: the dimension when known at compile time (0: n_).
template <uint32_t N>
void BatchEvaluator::search(Block &b) const {
    const uint32_t n = N != 0 ? N : n_;
    const Lanes zero = all<Lanes>(0.0), one = all<Lanes>(1.0);
    for (std::size_t v = 0; v < Block::kVectors; v++) {
        Lanes outside = zero, nan = zero;
        for (uint32_t c = 0; c < n; c++) {
            const Lanes x = b.x[c][v];
            outside = x < lo_lanes_[c] ? one : outside;
            outside = x > hi_lanes_[c] ? one : outside;
            nan = x != x ? one : nan;
        }
        Lanes row = zero;
        for (uint32_t k = m_ - 1; k >= 1; k--) {
            // 0.0 + d * d, the first step of norm's sum, is d * d itself.
            const Lanes d0 = coord_lanes_[k][0] - b.x[0][v];
            Lanes sum = d0 * d0;
            for (uint32_t c = 1; c < n; c++) {
                const Lanes diff = coord_lanes_[k][c] - b.x[c][v];
                sum += diff * diff;
            }
            row = sum <= out_lanes_[k] ? row_lanes_[k] : row;
        }
        b.row[v] = row;
        b.outside[v] = outside;
        b.nan[v] = nan;
    }
}

int64_t BatchEvaluator::settle(const Block &b, std::size_t p, double *sum_out) const {
    if (b.lane(b.nan, p) != 0.0) return -1;
    const uint32_t k = static_cast<uint32_t>(b.lane(b.row, p));
    if (k == 0) return 0;
    double sum = 0.0;
    for (uint32_t c = 0; c < n_; c++) {
        const double diff = coord_[c][k] - b.get(c, p);
        sum += diff * diff;
    }
    *sum_out = sum;
    return sum <= sure_in_[k] ? static_cast<int64_t>(k) : -1;
}

template <Kind K, uint32_t N>
void BatchEvaluator::block_values(Block &b, std::size_t used, double *out) const {
    const uint32_t n = N != 0 ? N : n_;
    search<N>(b);
    // Every point's distance to its row: to the vertex for the paraboloid
    // (the same squares as norm(x, vertex), with the other sign inside),
    // and the paraboloid's value. Points settled in a region are then packed
    // into lanes of their own for the region formulas; refused ones get the
    // error value and unsettled ones are evaluated point by point.
    constexpr std::size_t kVectors = Block::kVectors;
    uint32_t rows[kBlock];
    Lanes sum[kVectors], in[kVectors], dist[kVectors], paraboloid[kVectors];
    for (std::size_t v = 0; v < kVectors; v++) {
        sum[v] = all<Lanes>(0.0);
        for (std::size_t i = 0; i < kWidth; i++) {
            rows[v * kWidth + i] = static_cast<uint32_t>(b.row[v][i]);
            in[v][i] = sure_in_[rows[v * kWidth + i]];
        }
        for (uint32_t c = 0; c < n; c++) {
            Lanes mc = all<Lanes>(0.0);
            for (std::size_t i = 0; i < kWidth; i++) mc[i] = coord_[c][rows[v * kWidth + i]];
            const Lanes diff = mc - b.x[c][v];
            sum[v] += diff * diff;
        }
    }
    for (std::size_t v = 0; v < kVectors; v++) {
        dist[v] = roots(sum[v]);
        paraboloid[v] = dist[v] * dist[v] + vertex_value_;
    }
    std::size_t reg[kBlock], again[kBlock];
    std::size_t nr = 0, na = 0;
    for (std::size_t p = 0; p < used; p++) {
        const std::size_t v = p / kWidth, i = p % kWidth;
        const bool outside = b.outside[v][i] != 0.0;
        const bool settled = b.nan[v][i] == 0.0 && sum[v][i] <= in[v][i];
        out[p] = outside ? kHuge : paraboloid[v][i];
        reg[nr] = p;
        nr += !outside && settled && rows[p] != 0;
        again[na] = p;
        na += !outside && !settled;
    }

    for (std::size_t a = 0; a < nr; a += kWidth) {
        std::size_t lane[kWidth];
        for (std::size_t i = 0; i < kWidth; i++) lane[i] = reg[a + i < nr ? a + i : nr - 1];
        Lanes r, rho, rho2, rho3, f, a1, a2, a3;
        for (std::size_t i = 0; i < kWidth; i++) {
            const uint32_t j = rows[lane[i]];
            r[i] = dist[lane[i] / kWidth][lane[i] % kWidth];
            rho[i] = rho_[j];
            rho2[i] = rho2_[j];
            rho3[i] = rho3_[j];
            f[i] = f_[j];
            if constexpr (K == Kind::ND) {
                a1[i] = nd_a_[j];
            } else if constexpr (K == Kind::D) {
                a1[i] = d_a3_[j];
                a2[i] = d_a2_[j];
            } else {
                a1[i] = d2_c3_[j];
                a2[i] = d2_c4_[j];
                a3[i] = d2_c5_[j];
            }
        }
        // (x - M).(T - M), in coordinate order from 0.0.
        Lanes s = all<Lanes>(0.0);
        for (uint32_t c = 0; c < n; c++) {
            Lanes x, mc, e;
            for (std::size_t i = 0; i < kWidth; i++) {
                const uint32_t j = rows[lane[i]];
                x[i] = b.get(c, lane[i]);
                mc[i] = coord_[c][j];
                e[i] = edge_[c][j];
            }
            s += (x - mc) * e;
        }
        const Lanes q = s / r;
        const Lanes r2 = r * r, r3 = r2 * r;
        Lanes region;
        if constexpr (K == Kind::ND) {
            region = (1.0 - 2.0 * q / rho + a1) * r2 + f;
        } else if constexpr (K == Kind::D) {
            region = (2.0 * q / rho2 - a1) * r3 + (1.0 - 4.0 * q / rho + a2) * r2 + f;
        } else {
            const Lanes r4 = r3 * r, r5 = r4 * r;
            const Lanes c3 = 3.0 - 12.0 * q / rho + a1 - delta_15_;
            const Lanes c4 = -3.0 + 16.0 * q / rho - a2 + delta_15_;
            const Lanes c5 = 1.0 - 6.0 * q / rho + a3 - delta_05_;
            region = delta_half_ * r2 + c3 * r3 / rho + c4 * r4 / rho2 + c5 * r5 / rho3 + f;
        }
        const Lanes value = r < kTol ? f : region;  // kTol: the centre
        for (std::size_t i = 0; i < kWidth; i++) out[lane[i]] = value[i];
    }

    for (std::size_t a = 0; a < na; a++) {
        double x[kMaxDim];
        for (uint32_t c = 0; c < n; c++) x[c] = b.get(c, again[a]);
        out[again[a]] = value(K, locate_one(x));
    }
}

template <uint32_t N, class Load>
void BatchEvaluator::values_with(Kind kind, Load load_at, std::size_t count, double *out) const {
    Block b;
    for (std::size_t first = 0; first < count; first += kBlock) {
        const std::size_t used = count - first < kBlock ? count - first : kBlock;
        load(b, load_at, first, used);
        switch (kind) {
        case Kind::ND: block_values<Kind::ND, N>(b, used, out + first); break;
        case Kind::D: block_values<Kind::D, N>(b, used, out + first); break;
        case Kind::D2: block_values<Kind::D2, N>(b, used, out + first); break;
        }
    }
}

void BatchEvaluator::values(Kind kind, const double *points, std::size_t count, double *out) const {
    const std::size_t n = n_;
    if (!blocked_) {
        for (std::size_t p = 0; p < count; p++) out[p] = value(kind, locate_one(points + p * n));
        return;
    }
    const auto load_at = [points, n](std::size_t p, uint32_t c) { return points[p * n + c]; };
    if (n == 2) {
        values_with<2>(kind, load_at, count, out);
    } else {
        values_with<0>(kind, load_at, count, out);
    }
}

void BatchEvaluator::values(Kind kind, const double *const *columns, std::size_t count, double *out) const {
    if (blocked_) {
        const auto load_at = [columns](std::size_t p, uint32_t c) { return columns[c][p]; };
        if (n_ == 2) {
            values_with<2>(kind, load_at, count, out);
        } else {
            values_with<0>(kind, load_at, count, out);
        }
        return;
    }
    const uint32_t n = n_;
    double small[kMaxDim];
    std::vector<double> large(n > kMaxDim ? n : 0);
    double *x = n > kMaxDim ? large.data() : small;
    for (std::size_t p = 0; p < count; p++) {
        for (uint32_t c = 0; c < n; c++) x[c] = columns[c][p];
        out[p] = value(kind, locate_one(x));
    }
}

void BatchEvaluator::locate(const double *points, std::size_t count, Site *sites) const {
    const std::size_t n = n_;
    if (!blocked_) {
        for (std::size_t p = 0; p < count; p++) sites[p] = locate_one(points + p * n);
        return;
    }
    Block b;
    for (std::size_t first = 0; first < count; first += kBlock) {
        const std::size_t used = count - first < kBlock ? count - first : kBlock;
        load(b, [points, n](std::size_t p, uint32_t c) { return points[p * n + c]; }, first, used);
        search<0>(b);
        for (std::size_t p = 0; p < used; p++) {
            const double *x = points + (first + p) * n;
            Site &st = sites[first + p];
            double sum = 0.0;
            if (b.lane(b.outside, p) != 0.0) {
                st = Site{};
            } else if (const int64_t k = settle(b, p, &sum); k < 0) {
                st = locate_one(x);
            } else {
                st = located(*mb_, x, static_cast<uint32_t>(k), std::sqrt(sum));
            }
        }
    }
}

}  // namespace travo::core

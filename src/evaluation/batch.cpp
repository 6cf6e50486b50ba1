#include "evaluation/batch.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace travo::core {
namespace {

// Two lanes, built whole: a vector read of lanes written one at a time
// would wait for the writes to drain.
template <class V>
V pair(double a, double b) {
    return V{a, b};
}

template <class V>
V all(double v) {
    return V{v, v};
}

template <class V>
V lanes_at(const std::vector<double> &v, std::size_t at) {
    V r;
    std::memcpy(&r, &v[at * 2], sizeof r);
    return r;
}

template <class V>
V roots(V v) {
    return V{std::sqrt(v[0]), std::sqrt(v[1])};
}

}  // namespace

BatchEvaluator::BatchEvaluator(const Member &mb, const RegionIndex *index)
    : mb_(&mb), index_(index), n_(mb.dim), m_(mb.num_minima) {
    const MinimaTable &tab = mb.minima;
    if (!mb.isArgSet || !fits(mb)) return;
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
    const std::size_t n = n_, m = m_;
    lo_lanes_.resize(n * kWidth);
    hi_lanes_.resize(n * kWidth);
    coord_lanes_.resize(m * n * kWidth);
    out_lanes_.resize(m * kWidth);
    row_lanes_.resize(m * kWidth);
    coord_.resize(m * n);
    edge_.resize(m * n);
    rows_.resize(m);
    const auto fill = [](double *lanes, double v) { lanes[0] = lanes[1] = v; };
    for (std::size_t c = 0; c < n; c++) {
        fill(&lo_lanes_[c * kWidth], mb.domain_left[c] - kTol);
        fill(&hi_lanes_[c * kWidth], mb.domain_right[c] + kTol);
    }
    const double *t = tab.points[0];
    vertex_value_ = tab.values[0];
    const double dl = mb.delta;
    const RegionTerms delta_terms{0.0, 1.0, 1.0, dl};
    delta_half_ = delta_terms.delta_half();
    delta_15_ = delta_terms.delta_15();
    delta_05_ = delta_terms.delta_05();
    for (std::size_t row = 0; row < m; row++) {
        const double *p = tab.points[row];
        for (std::size_t c = 0; c < n; c++) {
            coord_[row * n + c] = p[c];
            edge_[row * n + c] = t[c] - p[c];
            fill(&coord_lanes_[(row * n + c) * kWidth], p[c]);
        }
        fill(&row_lanes_[row * kWidth], static_cast<double>(row));
        RowNumbers &rn = rows_[row];
        if (row == 0) {
            rn.sure_in = std::numeric_limits<double>::infinity();  // the paraboloid is never unsure
            continue;
        }
        const double rho = tab.radii[row];
        const SumBounds b = sum_bounds(rho);
        rn.sure_in = b.in;
        fill(&out_lanes_[row * kWidth], b.out);
        // As locate and value compute them for a point of this region.
        const double rho2 = rho * rho, rho3 = rho2 * rho;
        const double f = tab.values[row];
        const double tm = norm(n_, t, p);
        const RegionTerms terms{region_height(tm, vertex_value_, f), rho2, rho3, dl};
        rn.rho = rho;
        rn.rho2 = rho2;
        rn.rho3 = rho3;
        rn.f = f;
        rn.nd_a = terms.nd_a();
        rn.d_a3 = terms.d_a3();
        rn.d_a2 = terms.d_a2();
        rn.d2_c3 = terms.d2_c3();
        rn.d2_c4 = terms.d2_c4();
        rn.d2_c5 = terms.d2_c5();
    }
    blocked_ = true;
}

// The terms of the value formulas of two regions, one a lane, as
// RegionTerms computed them once per region.
struct BatchEvaluator::LaneTerms {
    const RowNumbers &n0, &n1;
    double half, d15, d05;

    Lanes nd_a() const { return pair<Lanes>(n0.nd_a, n1.nd_a); }
    Lanes d_a3() const { return pair<Lanes>(n0.d_a3, n1.d_a3); }
    Lanes d_a2() const { return pair<Lanes>(n0.d_a2, n1.d_a2); }
    Lanes d2_c3() const { return pair<Lanes>(n0.d2_c3, n1.d2_c3); }
    Lanes d2_c4() const { return pair<Lanes>(n0.d2_c4, n1.d2_c4); }
    Lanes d2_c5() const { return pair<Lanes>(n0.d2_c5, n1.d2_c5); }
    double delta_half() const { return half; }
    double delta_15() const { return d15; }
    double delta_05() const { return d05; }
};

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
// beyond it (they are evaluated and not stored).
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
            outside = x < lanes_at<Lanes>(lo_lanes_, c) ? one : outside;
            outside = x > lanes_at<Lanes>(hi_lanes_, c) ? one : outside;
            nan = x != x ? one : nan;
        }
        Lanes row = zero;
        for (uint32_t k = m_ - 1; k >= 1; k--) {
            // 0.0 + d * d, the first step of norm's sum, is d * d itself.
            const std::size_t at = std::size_t(k) * n;
            const Lanes d0 = lanes_at<Lanes>(coord_lanes_, at) - b.x[0][v];
            Lanes sum = d0 * d0;
            for (uint32_t c = 1; c < n; c++) {
                const Lanes diff = lanes_at<Lanes>(coord_lanes_, at + c) - b.x[c][v];
                sum += diff * diff;
            }
            row = sum <= lanes_at<Lanes>(out_lanes_, k) ? lanes_at<Lanes>(row_lanes_, k) : row;
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
        const double diff = coord_[std::size_t(k) * n_ + c] - b.get(c, p);
        sum += diff * diff;
    }
    *sum_out = sum;
    return sum <= rows_[k].sure_in ? static_cast<int64_t>(k) : -1;
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
        const uint32_t j0 = static_cast<uint32_t>(b.row[v][0]), j1 = static_cast<uint32_t>(b.row[v][1]);
        rows[2 * v] = j0;
        rows[2 * v + 1] = j1;
        in[v] = pair<Lanes>(rows_[j0].sure_in, rows_[j1].sure_in);
        sum[v] = all<Lanes>(0.0);
        for (uint32_t c = 0; c < n; c++) {
            const Lanes diff = pair<Lanes>(coord_[j0 * std::size_t(n) + c], coord_[j1 * std::size_t(n) + c]) -
                               b.x[c][v];
            sum[v] += diff * diff;
        }
    }
    for (std::size_t v = 0; v < kVectors; v++) {
        dist[v] = roots(sum[v]);
        paraboloid[v] = paraboloid_value(dist[v], vertex_value_);
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

    for (std::size_t a = 0; a < nr; a += 2) {
        const std::size_t l0 = reg[a], l1 = reg[a + 1 < nr ? a + 1 : a];
        const RowNumbers &n0 = rows_[rows[l0]], &n1 = rows_[rows[l1]];
        const Lanes r = pair<Lanes>(dist[l0 / 2][l0 % 2], dist[l1 / 2][l1 % 2]);
        const Lanes rho = pair<Lanes>(n0.rho, n1.rho), rho2 = pair<Lanes>(n0.rho2, n1.rho2);
        const Lanes rho3 = pair<Lanes>(n0.rho3, n1.rho3), f = pair<Lanes>(n0.f, n1.f);
        // (x - M).(T - M), in coordinate order from 0.0.
        Lanes s = all<Lanes>(0.0);
        for (uint32_t c = 0; c < n; c++) {
            const std::size_t at0 = rows[l0] * std::size_t(n) + c, at1 = rows[l1] * std::size_t(n) + c;
            const Lanes x = pair<Lanes>(b.get(c, l0), b.get(c, l1));
            const Lanes mc = pair<Lanes>(coord_[at0], coord_[at1]);
            s += (x - mc) * pair<Lanes>(edge_[at0], edge_[at1]);
        }
        const Lanes q = s / r;
        const LaneTerms terms{n0, n1, delta_half_, delta_15_, delta_05_};
        const Lanes region = region_value<K>(q, r, rho, rho2, rho3, f, terms);
        const Lanes value = r < kTol ? f : region;  // kTol: the centre
        out[l1] = value[1];
        out[l0] = value[0];
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
        case Kind::ND:
            block_values<Kind::ND, N>(b, used, out + first);
            break;
        case Kind::D:
            block_values<Kind::D, N>(b, used, out + first);
            break;
        case Kind::D2:
            block_values<Kind::D2, N>(b, used, out + first);
            break;
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
        load(
            b, [points, n](std::size_t p, uint32_t c) { return points[p * n + c]; }, first, used);
        if (n == 2) {
            search<2>(b);
        } else {
            search<0>(b);
        }
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

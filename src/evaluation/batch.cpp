#include "evaluation/batch.hpp"

#include <cmath>
#include <vector>

namespace travo::core {

BatchEvaluator::BatchEvaluator(const Member &mb, const RegionIndex *index)
    : mb_(&mb), index_(index), n_(mb.dim), m_(mb.num_minima) {
    const MinimaTable &tab = mb.minima;
    if (!mb.isArgSet || n_ == 0 || n_ > kMaxDim || m_ == 0 || m_ > kRows) return;
    if (tab.points == nullptr || tab.values == nullptr || tab.radii == nullptr || mb.domain_left == nullptr ||
        mb.domain_right == nullptr) {
        return;
    }
    for (uint32_t c = 0; c < n_; c++) {
        lo_[c] = mb.domain_left[c] - kTol;
        hi_[c] = mb.domain_right[c] + kTol;
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
            edge_[c][row] = t[c] - p[c];
        }
        if (row == 0) {
            // No region: the lanes of paraboloid points compute the region
            // formulas on these harmless numbers and discard the result.
            rho_[0] = rho2_[0] = rho3_[0] = 1.0;
            continue;
        }
        const double rho = tab.radii[row];
        const SumBounds b = sum_bounds(rho);
        sure_in_[row] = b.in;
        sure_out_[row] = b.out;
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

// The box test and the region search of a block: found.row[p] is the
// region of point p (0: none), unless found.unsure[p] (some sum needs its
// square root, or is NaN) or found.outside[p] (the point is refused).
void BatchEvaluator::search(const double (&xs)[kMaxDim][kBlock], Found &found) const {
    double row[kBlock], unsure[kBlock], outside[kBlock];
    for (std::size_t p = 0; p < kBlock; p++) row[p] = unsure[p] = outside[p] = 0.0;
    for (uint32_t c = 0; c < n_; c++) {
        const double lo = lo_[c], hi = hi_[c];
        for (std::size_t p = 0; p < kBlock; p++) {
            outside[p] = xs[c][p] < lo ? 1.0 : outside[p];
            outside[p] = xs[c][p] > hi ? 1.0 : outside[p];
        }
    }
    for (uint32_t k = m_ - 1; k >= 1; k--) {
        double sum[kBlock];
        for (std::size_t p = 0; p < kBlock; p++) sum[p] = 0.0;
        for (uint32_t c = 0; c < n_; c++) {
            const double centre = coord_[c][k];
            for (std::size_t p = 0; p < kBlock; p++) {
                const double diff = centre - xs[c][p];
                sum[p] += diff * diff;
            }
        }
        const double in = sure_in_[k], out = sure_out_[k], at = static_cast<double>(k);
        for (std::size_t p = 0; p < kBlock; p++) {
            const bool inside = sum[p] <= in;
            const bool outside_region = sum[p] > out;
            row[p] = inside ? at : row[p];
            unsure[p] = inside == outside_region ? 1.0 : unsure[p];  // neither (in <= out)
        }
    }
    for (std::size_t p = 0; p < kBlock; p++) {
        found.row[p] = row[p];
        found.unsure[p] = unsure[p];
        found.outside[p] = outside[p];
    }
}

template <Kind K>
void BatchEvaluator::block_values(const double (&xs)[kMaxDim][kBlock], std::size_t used, double *out) const {
    Found found;
    search(xs, found);
    const double *row = found.row, *unsure = found.unsure, *outside = found.outside;

    // The row of each point (the vertex for the paraboloid) and its numbers.
    uint32_t j[kBlock];
    for (std::size_t p = 0; p < kBlock; p++) j[p] = static_cast<uint32_t>(row[p]);
    double mc[kMaxDim][kBlock], e[kMaxDim][kBlock];
    for (uint32_t c = 0; c < n_; c++) {
        for (std::size_t p = 0; p < kBlock; p++) {
            mc[c][p] = coord_[c][j[p]];
            e[c][p] = edge_[c][j[p]];
        }
    }
    double rho[kBlock], rho2[kBlock], rho3[kBlock], f[kBlock], a1[kBlock], a2[kBlock], a3[kBlock];
    for (std::size_t p = 0; p < kBlock; p++) {
        rho[p] = rho_[j[p]];
        rho2[p] = rho2_[j[p]];
        rho3[p] = rho3_[j[p]];
        f[p] = f_[j[p]];
        if constexpr (K == Kind::ND) {
            a1[p] = nd_a_[j[p]];
        } else if constexpr (K == Kind::D) {
            a1[p] = d_a3_[j[p]];
            a2[p] = d_a2_[j[p]];
        } else {
            a1[p] = d2_c3_[j[p]];
            a2[p] = d2_c4_[j[p]];
            a3[p] = d2_c5_[j[p]];
        }
    }

    // The distance to the row (to the vertex: the paraboloid's distance, the
    // same squares with the other sign inside) and (x - M).(T - M).
    double sum[kBlock], s[kBlock];
    for (std::size_t p = 0; p < kBlock; p++) sum[p] = s[p] = 0.0;
    for (uint32_t c = 0; c < n_; c++) {
        for (std::size_t p = 0; p < kBlock; p++) {
            const double diff = mc[c][p] - xs[c][p];
            sum[p] += diff * diff;
            s[p] += (xs[c][p] - mc[c][p]) * e[c][p];
        }
    }

    // Every formula at every point, then the choice among them, so that
    // both loops are straight-line code.
    double r[kBlock], region[kBlock];
    for (std::size_t p = 0; p < kBlock; p++) {
        r[p] = std::sqrt(sum[p]);
        const double q = s[p] / r[p];
        const double r2 = r[p] * r[p], r3 = r2 * r[p];
        if constexpr (K == Kind::ND) {
            region[p] = (1.0 - 2.0 * q / rho[p] + a1[p]) * r2 + f[p];
        } else if constexpr (K == Kind::D) {
            region[p] = (2.0 * q / rho2[p] - a1[p]) * r3 + (1.0 - 4.0 * q / rho[p] + a2[p]) * r2 + f[p];
        } else {
            const double r4 = r3 * r[p], r5 = r4 * r[p];
            const double c3 = 3.0 - 12.0 * q / rho[p] + a1[p] - delta_15_;
            const double c4 = -3.0 + 16.0 * q / rho[p] - a2[p] + delta_15_;
            const double c5 = 1.0 - 6.0 * q / rho[p] + a3[p] - delta_05_;
            region[p] = delta_half_ * r2 + c3 * r3 / rho[p] + c4 * r4 / rho2[p] + c5 * r5 / rho3[p] + f[p];
        }
        sum[p] = r[p] * r[p] + vertex_value_;  // the paraboloid
    }
    double res[kBlock];
    for (std::size_t p = 0; p < kBlock; p++) {
        const double in_region = r[p] < kTol ? f[p] : region[p];
        const double v = row[p] == 0.0 ? sum[p] : in_region;
        res[p] = outside[p] != 0.0 ? kHuge : v;
    }
    for (std::size_t p = 0; p < used; p++) out[p] = res[p];

    for (std::size_t p = 0; p < used; p++) {
        if (unsure[p] != 0.0 && outside[p] == 0.0) {
            double x[kMaxDim];
            for (uint32_t c = 0; c < n_; c++) x[c] = xs[c][p];
            out[p] = value(K, locate_one(x));
        }
    }
}

template <class Load>
void BatchEvaluator::values_with(Kind kind, Load load, std::size_t count, double *out) const {
    double xs[kMaxDim][kBlock];
    for (std::size_t first = 0; first < count; first += kBlock) {
        const std::size_t used = count - first < kBlock ? count - first : kBlock;
        for (uint32_t c = 0; c < n_; c++) {
            for (std::size_t p = 0; p < used; p++) xs[c][p] = load(first + p, c);
            // The lanes beyond the last point repeat it; they are not stored.
            for (std::size_t p = used; p < kBlock; p++) xs[c][p] = xs[c][used - 1];
        }
        switch (kind) {
        case Kind::ND: block_values<Kind::ND>(xs, used, out + first); break;
        case Kind::D: block_values<Kind::D>(xs, used, out + first); break;
        case Kind::D2: block_values<Kind::D2>(xs, used, out + first); break;
        }
    }
}

void BatchEvaluator::values(Kind kind, const double *points, std::size_t count, double *out) const {
    const std::size_t n = n_;
    if (!blocked_) {
        for (std::size_t p = 0; p < count; p++) out[p] = value(kind, locate_one(points + p * n));
        return;
    }
    values_with(kind, [points, n](std::size_t p, uint32_t c) { return points[p * n + c]; }, count, out);
}

void BatchEvaluator::values(Kind kind, const double *const *columns, std::size_t count, double *out) const {
    if (blocked_) {
        values_with(kind, [columns](std::size_t p, uint32_t c) { return columns[c][p]; }, count, out);
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
    double xs[kMaxDim][kBlock];
    Found found;
    const double *row = found.row, *unsure = found.unsure, *outside = found.outside;
    for (std::size_t first = 0; first < count; first += kBlock) {
        const std::size_t used = count - first < kBlock ? count - first : kBlock;
        for (uint32_t c = 0; c < n_; c++) {
            for (std::size_t p = 0; p < used; p++) xs[c][p] = points[(first + p) * n + c];
            for (std::size_t p = used; p < kBlock; p++) xs[c][p] = xs[c][used - 1];
        }
        search(xs, found);
        for (std::size_t p = 0; p < used; p++) {
            const double *x = points + (first + p) * n;
            Site &st = sites[first + p];
            if (outside[p] != 0.0) {
                st = Site{};
            } else if (unsure[p] != 0.0) {
                st = locate_one(x);
            } else {
                const uint32_t k = static_cast<uint32_t>(row[p]);
                double sum = 0.0;
                if (k != 0) {
                    for (uint32_t c = 0; c < n_; c++) {
                        const double diff = coord_[c][k] - x[c];
                        sum += diff * diff;
                    }
                }
                st = located(*mb_, x, k, std::sqrt(sum));
            }
        }
    }
}

}  // namespace travo::core

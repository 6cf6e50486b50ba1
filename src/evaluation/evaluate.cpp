#include "evaluation/evaluate.hpp"

#include <cmath>

#include "evaluation/region_index.hpp"

namespace travo::core {
namespace {

bool index_ok(const Member &mb, uint32_t i) { return i != 0 && i <= mb.dim; }

struct D2Coefficients {
    double c3, c4, c5;
};

// Coefficients of r^3/rho, r^4/rho^2 and r^5/rho^3 in the D2 polynomial.
inline D2Coefficients d2_coefficients(const Site &st) {
    const double rho = st.rho, q = st.q, A = st.A, dl = st.delta;
    const double rho2 = rho * rho;
    return {3.0 - 12.0 * q / rho + 10.0 * A / rho2 - 1.5 * dl, -3.0 + 16.0 * q / rho - 15.0 * A / rho2 + 1.5 * dl,
            1.0 - 6.0 * q / rho + 6.0 * A / rho2 - 0.5 * dl};
}

// Inside a region with r >= 1e-10: the polynomial of each kind.
double region_value(Kind kind, const Site &st) {
    const double rho = st.rho, r = st.r, q = st.q, A = st.A, f = st.f;
    const double rho2 = rho * rho, rho3 = rho2 * rho;
    const double r2 = r * r, r3 = r2 * r;
    switch (kind) {
    case Kind::ND:
        return (1.0 - 2.0 * q / rho + A / rho2) * r2 + f;
    case Kind::D:
        return (2.0 * q / rho2 - 2.0 * A / rho3) * r3 + (1.0 - 4.0 * q / rho + 3.0 * A / rho2) * r2 + f;
    case Kind::D2: {
        const double dl = st.delta;
        const double r4 = r3 * r, r5 = r4 * r;
        const auto [c3, c4, c5] = d2_coefficients(st);
        return dl / 2.0 * r2 + c3 * r3 / rho + c4 * r4 / rho2 + c5 * r5 / rho3 + f;
    }
    }
    return kHuge;
}

}  // namespace

uint32_t find_region(const Member &mb, const double *x, double *r_out) {
    const uint32_t m = mb.num_minima;
    for (uint32_t k = 1; k < m; k++) {
        const double dist = norm(mb.dim, mb.minima.points[k], x);
        if (!(dist > mb.minima.radii[k])) {
            *r_out = dist;
            return k;
        }
    }
    return 0;
}

bool admitted(const Member &mb, const double *x) {
    if (!mb.isArgSet || x == nullptr || mb.domain_left == nullptr || mb.domain_right == nullptr) return false;
    for (uint32_t c = 0; c < mb.dim; c++) {
        if (x[c] < mb.domain_left[c] - kTol || x[c] > mb.domain_right[c] + kTol) return false;
    }
    return true;
}

Site located(const Member &mb, const double *x, uint32_t k, double r) {
    Site st;
    const MinimaTable &tab = mb.minima;
    st.n = mb.dim;
    st.x = x;
    st.vertex = tab.points[0];
    st.vertex_value = tab.values[0];
    st.delta = mb.delta;
    if (k == 0) {
        st.where = Site::Paraboloid;
        return st;
    }
    st.k = k;
    st.centre = tab.points[k];
    st.f = tab.values[k];
    st.rho = tab.radii[k];
    st.r = r;
    if (r < kTol) {
        st.where = Site::Centre;
        return st;
    }
    st.where = Site::Region;
    const double *t = st.vertex;
    const double *mc = st.centre;
    const double tm = norm(mb.dim, t, mc);
    st.A = tm * tm + st.vertex_value - st.f;
    double s = 0.0;
    for (uint32_t c = 0; c < mb.dim; c++) s += (x[c] - mc[c]) * (t[c] - mc[c]);
    st.s = s;
    st.q = s / r;
    return st;
}

namespace {

// The stages of every evaluation around the region search, which `find`
// performs with the signature of find_region.
template <class Find>
Site locate_with(const Member &mb, const double *x, Find find) {
    if (!admitted(mb, x)) return Site{};
    double r = 0.0;
    const uint32_t k = find(mb, x, &r);
    return located(mb, x, k, r);
}

template <class Locate>
TravoStatus gradient_with(const Member &mb, Kind kind, const double *x, double *g, Locate locate_at) {
    if (!mb.isArgSet || g == nullptr) return TRAVO_BAD_DERIVATIVE;
    const Site st = locate_at(x);
    first_derivatives(kind, st, mb.dim, g);
    TravoStatus status = TRAVO_STATUS_OK;
    for (uint32_t i = 0; i < mb.dim; i++) {
        if (g[i] >= kHuge) status = TRAVO_BAD_DERIVATIVE;
    }
    return status;
}

template <class Locate>
TravoStatus hessian_with(const Member &mb, const double *x, double *const *h, Locate locate_at) {
    if (!mb.isArgSet || h == nullptr) return TRAVO_BAD_DERIVATIVE;
    for (uint32_t i = 0; i < mb.dim; i++) {
        if (h[i] == nullptr) return TRAVO_BAD_DERIVATIVE;
    }
    const Site st = locate_at(x);
    TravoStatus status = TRAVO_STATUS_OK;
    for (uint32_t i = 1; i <= mb.dim; i++) {
        second_derivatives(st, i, mb.dim, h[i - 1], 1);
        for (uint32_t j = 0; j < mb.dim; j++) {
            if (h[i - 1][j] >= kHuge) status = TRAVO_BAD_DERIVATIVE;
        }
    }
    return status;
}

}  // namespace

// The scan without a square root per region decides as find_region does.
Site locate(const Member &mb, const double *x) { return locate_with(mb, x, find_region_scan); }

Site locate_reference(const Member &mb, const double *x) { return locate_with(mb, x, find_region); }

Site locate(const Member &mb, const RegionIndex &index, const double *x) {
    return locate_with(mb, x, [&index](const Member &member, const double *p, double *r) {
        return index.find(member, p, r);
    });
}

double value(Kind kind, const Site &st) {
    switch (st.where) {
    case Site::Refused:
        return kHuge;
    case Site::Paraboloid: {
        const double dist = norm(st.n, st.x, st.vertex);
        return dist * dist + st.vertex_value;
    }
    case Site::Centre:
        return st.f;
    case Site::Region:
        return region_value(kind, st);
    }
    return kHuge;
}

double first_derivative(Kind kind, uint32_t i, const Site &st) {
    switch (st.where) {
    case Site::Refused:
        return kHuge;
    case Site::Paraboloid:
        return 2.0 * (st.x[i - 1] - st.vertex[i - 1]);
    case Site::Centre:
        return 0.0;
    case Site::Region:
        break;
    }
    const double rho = st.rho, r = st.r, s = st.s, q = st.q, A = st.A;
    const double rho2 = rho * rho, rho3 = rho2 * rho;
    const double d = st.x[i - 1] - st.centre[i - 1];
    const double e = st.vertex[i - 1] - st.centre[i - 1];
    const double G = e * r - s * d / r;
    if (kind == Kind::D) {
        return G * (2.0 * r / rho2 - 4.0 / rho) +
               d * (2.0 + 6.0 * A / rho2 + 6.0 * s / rho2 - 6.0 * A * r / rho3 - 8.0 * q / rho);
    }
    const double dl = st.delta;
    const double r2 = r * r;
    const double P = (5.0 - 30.0 * q / rho + 30.0 * A / rho2 - 2.5 * dl) / rho3;
    const double Q = (-12.0 + 64.0 * q / rho - 60.0 * A / rho2 + 6.0 * dl) / rho2;
    const double R = (9.0 - 36.0 * q / rho + 30.0 * A / rho2 - 4.5 * dl) / rho;
    return dl * d + (G * r / rho2) * (-6.0 * r2 / rho2 + 16.0 * r / rho - 12.0) +
           d * r * (P * r2 + Q * r + R);
}

double second_derivative(uint32_t i, uint32_t j, const Site &st) {
    switch (st.where) {
    case Site::Refused:
        return kHuge;
    case Site::Paraboloid:
        return i == j ? 2.0 : 0.0;
    case Site::Centre:
        return i == j ? st.delta : 0.0;
    case Site::Region:
        break;
    }
    const double rho = st.rho, r = st.r, s = st.s, dl = st.delta;
    const double rho2 = rho * rho, rho3 = rho2 * rho, rho4 = rho3 * rho;
    const double r2 = r * r, r3 = r2 * r;
    const auto [c3, c4, c5] = d2_coefficients(st);
    const double di = st.x[i - 1] - st.centre[i - 1];
    const double dj = st.x[j - 1] - st.centre[j - 1];
    const double ei = st.vertex[i - 1] - st.centre[i - 1];
    const double ej = st.vertex[j - 1] - st.centre[j - 1];
    const double Gi = ei * r - s * di / r;
    const double Gj = ej * r - s * dj / r;
    double H = ei * dj / r - Gj * di / r2;
    if (i == j) H -= s / r;

    double sum = (-12.0 / rho2) * (H * r + Gi * dj / r);
    sum += (8.0 / rho2) * (c4 * di * dj);
    sum += (64.0 / rho3) * (Gj * di);
    sum += (16.0 / rho3) * (2.0 * Gi * dj + H * r2);
    sum += (15.0 / rho3) * (c5 * di * dj * r);
    sum += (-6.0 / rho4) * (H * r3 + 3.0 * Gi * dj * r);
    sum += (-30.0 / rho4) * (Gj * di * r);
    sum += (-36.0 / rho2) * (Gj * di / r);
    sum += (3.0 / rho) * (c3 * di * dj / r);
    if (i == j) sum += 3.0 * c3 * r / rho + 4.0 * c4 * r2 / rho2 + 5.0 * c5 * r3 / rho3 + dl;
    return sum;
}

void first_derivatives(Kind kind, const Site &st, uint32_t n, double *g) {
    switch (st.where) {
    case Site::Refused:
        for (uint32_t i = 0; i < n; i++) g[i] = kHuge;
        return;
    case Site::Paraboloid:
        for (uint32_t i = 0; i < n; i++) g[i] = 2.0 * (st.x[i] - st.vertex[i]);
        return;
    case Site::Centre:
        for (uint32_t i = 0; i < n; i++) g[i] = 0.0;
        return;
    case Site::Region:
        break;
    }
    // first_derivative with its factors that do not depend on i taken out
    // of the loop: the same expressions, so the same bits.
    const double rho = st.rho, r = st.r, s = st.s, q = st.q, A = st.A;
    const double rho2 = rho * rho, rho3 = rho2 * rho;
    if (kind == Kind::D) {
        const double a = 2.0 * r / rho2 - 4.0 / rho;
        const double b = 2.0 + 6.0 * A / rho2 + 6.0 * s / rho2 - 6.0 * A * r / rho3 - 8.0 * q / rho;
        for (uint32_t i = 0; i < n; i++) {
            const double d = st.x[i] - st.centre[i];
            const double e = st.vertex[i] - st.centre[i];
            const double G = e * r - s * d / r;
            g[i] = G * a + d * b;
        }
        return;
    }
    const double dl = st.delta;
    const double r2 = r * r;
    const double P = (5.0 - 30.0 * q / rho + 30.0 * A / rho2 - 2.5 * dl) / rho3;
    const double Q = (-12.0 + 64.0 * q / rho - 60.0 * A / rho2 + 6.0 * dl) / rho2;
    const double R = (9.0 - 36.0 * q / rho + 30.0 * A / rho2 - 4.5 * dl) / rho;
    const double W = -6.0 * r2 / rho2 + 16.0 * r / rho - 12.0;
    const double V = P * r2 + Q * r + R;
    for (uint32_t i = 0; i < n; i++) {
        const double d = st.x[i] - st.centre[i];
        const double e = st.vertex[i] - st.centre[i];
        const double G = e * r - s * d / r;
        g[i] = dl * d + (G * r / rho2) * W + d * r * V;
    }
}

void second_derivatives(const Site &st, uint32_t i, uint32_t n, double *row, std::size_t step) {
    switch (st.where) {
    case Site::Refused:
        for (uint32_t j = 1; j <= n; j++) row[(j - 1) * step] = kHuge;
        return;
    case Site::Paraboloid:
        for (uint32_t j = 1; j <= n; j++) row[(j - 1) * step] = i == j ? 2.0 : 0.0;
        return;
    case Site::Centre:
        for (uint32_t j = 1; j <= n; j++) row[(j - 1) * step] = i == j ? st.delta : 0.0;
        return;
    case Site::Region:
        break;
    }
    // second_derivative with what does not depend on j computed once.
    const double rho = st.rho, r = st.r, s = st.s, dl = st.delta;
    const double rho2 = rho * rho, rho3 = rho2 * rho, rho4 = rho3 * rho;
    const double r2 = r * r, r3 = r2 * r;
    const auto [c3, c4, c5] = d2_coefficients(st);
    const double k12 = -12.0 / rho2, k8 = 8.0 / rho2, k64 = 64.0 / rho3, k16 = 16.0 / rho3, k15 = 15.0 / rho3;
    const double k6 = -6.0 / rho4, k30 = -30.0 / rho4, k36 = -36.0 / rho2, k3 = 3.0 / rho;
    const double diagonal = 3.0 * c3 * r / rho + 4.0 * c4 * r2 / rho2 + 5.0 * c5 * r3 / rho3 + dl;
    const double di = st.x[i - 1] - st.centre[i - 1];
    const double ei = st.vertex[i - 1] - st.centre[i - 1];
    const double Gi = ei * r - s * di / r;
    for (uint32_t j = 1; j <= n; j++) {
        const double dj = st.x[j - 1] - st.centre[j - 1];
        const double ej = st.vertex[j - 1] - st.centre[j - 1];
        const double Gj = ej * r - s * dj / r;
        double H = ei * dj / r - Gj * di / r2;
        if (i == j) H -= s / r;
        double sum = k12 * (H * r + Gi * dj / r);
        sum += k8 * (c4 * di * dj);
        sum += k64 * (Gj * di);
        sum += k16 * (2.0 * Gi * dj + H * r2);
        sum += k15 * (c5 * di * dj * r);
        sum += k6 * (H * r3 + 3.0 * Gi * dj * r);
        sum += k30 * (Gj * di * r);
        sum += k36 * (Gj * di / r);
        sum += k3 * (c3 * di * dj / r);
        if (i == j) sum += diagonal;
        row[(j - 1) * step] = sum;
    }
}

double value_at(const Member &mb, Kind kind, const double *x) { return value(kind, locate(mb, x)); }

double deriv_at(const Member &mb, Kind kind, uint32_t i, const double *x) {
    if (!index_ok(mb, i)) return kHuge;
    return first_derivative(kind, i, locate(mb, x));
}

double deriv2_at(const Member &mb, uint32_t i, uint32_t j, const double *x) {
    if (!index_ok(mb, i) || !index_ok(mb, j)) return kHuge;
    return second_derivative(i, j, locate(mb, x));
}

TravoStatus gradient(const Member &mb, Kind kind, const double *x, double *g) {
    return gradient_with(mb, kind, x, g, [&mb](const double *p) { return locate(mb, p); });
}

TravoStatus hessian(const Member &mb, const double *x, double *const *h) {
    return hessian_with(mb, x, h, [&mb](const double *p) { return locate(mb, p); });
}

double value_at(const Member &mb, const RegionIndex &index, Kind kind, const double *x) {
    return value(kind, locate(mb, index, x));
}

double deriv_at(const Member &mb, const RegionIndex &index, Kind kind, uint32_t i, const double *x) {
    if (!index_ok(mb, i)) return kHuge;
    return first_derivative(kind, i, locate(mb, index, x));
}

double deriv2_at(const Member &mb, const RegionIndex &index, uint32_t i, uint32_t j, const double *x) {
    if (!index_ok(mb, i) || !index_ok(mb, j)) return kHuge;
    return second_derivative(i, j, locate(mb, index, x));
}

TravoStatus gradient(const Member &mb, const RegionIndex &index, Kind kind, const double *x, double *g) {
    return gradient_with(mb, kind, x, g, [&](const double *p) { return locate(mb, index, p); });
}

TravoStatus hessian(const Member &mb, const RegionIndex &index, const double *x, double *const *h) {
    return hessian_with(mb, x, h, [&](const double *p) { return locate(mb, index, p); });
}

}  // namespace travo::core

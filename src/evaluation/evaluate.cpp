#include "evaluation/evaluate.hpp"

#include <cmath>

namespace travo::core {
namespace {

bool index_ok(const Member &mb, uint32_t i) { return i != 0 && i <= mb.dim; }

// The region quantities of a located point for the derivative formulas.
RegionPoint region_point(const Site &st) {
    return {st.x, st.centre, st.vertex, st.r, st.s, st.q, st.A, st.rho, st.delta};
}

template <Kind K>
void fill_first(const Site &st, uint32_t n, double *g) {
    const FirstDerivative<K> first(region_point(st));
    for (uint32_t c = 0; c < n; c++) g[c] = first.entry(c);
}

}  // namespace

bool admitted(const Member &mb, const double *x) {
    if (!mb.isArgSet || x == nullptr || mb.domain_left == nullptr || mb.domain_right == nullptr) return false;
    for (uint32_t c = 0; c < mb.dim; c++) {
        if (x[c] < mb.domain_left[c] - kTol || x[c] > mb.domain_right[c] + kTol) return false;
    }
    return true;
}

bool has_nan(const double *x, uint32_t n) {
    for (uint32_t c = 0; c < n; c++) {
        if (std::isnan(x[c])) return true;
    }
    return false;
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
    st.A = region_height(tm, st.vertex_value, st.f);
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

Site locate(const Member &mb, const double *x) { return locate_with(mb, x, find_region_scan); }

Site locate_reference(const Member &mb, const double *x) { return locate_with(mb, x, find_region); }

Site locate(const Member &mb, const RegionIndex &index, const double *x) {
    return locate_with(mb, x,
                       [&index](const Member &member, const double *p, double *r) { return index.find(member, p, r); });
}

double value(Kind kind, const Site &st) {
    switch (st.where) {
    case Site::Refused:
        return kHuge;
    case Site::Paraboloid:
        return paraboloid_value(norm(st.n, st.x, st.vertex), st.vertex_value);
    case Site::Centre:
        return st.f;
    case Site::Region:
        break;
    }
    const double rho = st.rho, rho2 = rho * rho, rho3 = rho2 * rho;
    const RegionTerms terms{st.A, rho2, rho3, st.delta};
    switch (kind) {
    case Kind::ND:
        return region_value<Kind::ND>(st.q, st.r, rho, rho2, rho3, st.f, terms);
    case Kind::D:
        return region_value<Kind::D>(st.q, st.r, rho, rho2, rho3, st.f, terms);
    case Kind::D2:
        return region_value<Kind::D2>(st.q, st.r, rho, rho2, rho3, st.f, terms);
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
    if (kind == Kind::D) return FirstDerivative<Kind::D>(region_point(st)).entry(i - 1);
    return FirstDerivative<Kind::D2>(region_point(st)).entry(i - 1);
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
    const SecondDerivative second(region_point(st));
    return second.entry(second.row(i - 1), j - 1);
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
    if (kind == Kind::D) {
        fill_first<Kind::D>(st, n, g);
    } else {
        fill_first<Kind::D2>(st, n, g);
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
    const SecondDerivative second(region_point(st));
    const SecondDerivative::Row ri = second.row(i - 1);
    for (uint32_t j = 0; j < n; j++) row[j * step] = second.entry(ri, j);
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

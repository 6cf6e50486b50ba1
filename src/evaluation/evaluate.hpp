// Evaluation of a generated member: where a point lies (with a region
// search of lookup.hpp), values of the three kinds, first and second
// derivatives (the expressions of formulas.hpp).
// Everything here only reads the member, allocates nothing and is safe to
// call from several threads on one member.
#pragma once

#include <cstddef>
#include <cstdint>

#include "evaluation/formulas.hpp"
#include "evaluation/lookup.hpp"
#include "generator/member.hpp"

namespace travo::core {

// Where a point lies, found once and shared by values and derivatives.
struct Site {
    enum Where { Refused, Paraboloid, Centre, Region } where = Refused;
    uint32_t n = 0;
    const double *x = nullptr;
    const double *vertex = nullptr;  // T
    double vertex_value = 0.0;       // t
    // Inside region k (Centre or Region):
    uint32_t k = 0;
    const double *centre = nullptr;  // M
    double f = 0.0;                  // minimum value
    double rho = 0.0;                // radius
    double r = 0.0;                  // distance from M to x
    // Region only (r >= 1e-10):
    double s = 0.0;      // (x - M).(T - M)
    double q = 0.0;      // s / r
    double A = 0.0;      // height of the region
    double delta = 0.0;  // D2 coefficient
};

// Refusal while nothing is generated or the point is outside the box, the
// search over regions 1..m-1 (lowest index wins), and the quantities of the
// region formulas.
Site locate(const Member &mb, const double *x);

// The two stages of locate around the region search: whether the point is
// evaluated at all (a generated member, the point in the box or within 1e-10
// of it), and the Site of an admitted point whose search gave region k (0:
// none) at distance r. Batch evaluation searches regions its own way and
// builds its Sites with the same code.
bool admitted(const Member &mb, const double *x);
Site located(const Member &mb, const double *x, uint32_t k, double r);

// Whether a coordinate of x[0..n-1] is NaN. Such a point passes the box
// test of `admitted` (every comparison with NaN is false) and is searched as
// any other: the module-wide interface evaluates it so. The C++ interface
// and everything built on it refuse it as lying outside the box.
bool has_nan(const double *x, uint32_t n);

// locate with the region search done by find_region itself; locate uses
// find_region_scan, which decides the same without a square root per
// region.
Site locate_reference(const Member &mb, const double *x);
// locate with the lookup answered by an index built from `mb`.
Site locate(const Member &mb, const RegionIndex &index, const double *x);

double value(Kind kind, const Site &site);
// First partial derivative (1-based index already checked) of D or D2 kind.
double first_derivative(Kind kind, uint32_t i, const Site &site);
// Second partial derivative of the D2 kind (1-based indices already checked).
double second_derivative(uint32_t i, uint32_t j, const Site &site);

// Every first derivative (g[0..n-1]) and row i of second derivatives
// (second_derivative(i, j) at row[(j - 1) * step], j = 1..n) at a located
// point, n its dimension: the same bits as the single entries above, with
// what does not depend on the index computed once.
void first_derivatives(Kind kind, const Site &site, uint32_t n, double *g);
void second_derivatives(const Site &site, uint32_t i, uint32_t n, double *row, std::size_t step);

// Per-operation entry points with the index checks.
double value_at(const Member &mb, Kind kind, const double *x);
double deriv_at(const Member &mb, Kind kind, uint32_t i, const double *x);
double deriv2_at(const Member &mb, uint32_t i, uint32_t j, const double *x);

// Gradient (D or D2) and D2 Hessian from one region lookup; same bits as the
// per-component operations. Statuses as in the C interface.
TravoStatus gradient(const Member &mb, Kind kind, const double *x, double *g);
TravoStatus hessian(const Member &mb, const double *x, double *const *h);

// The same with the lookup answered by an index built from `mb`.
double value_at(const Member &mb, const RegionIndex &index, Kind kind, const double *x);
double deriv_at(const Member &mb, const RegionIndex &index, Kind kind, uint32_t i, const double *x);
double deriv2_at(const Member &mb, const RegionIndex &index, uint32_t i, uint32_t j, const double *x);
TravoStatus gradient(const Member &mb, const RegionIndex &index, Kind kind, const double *x, double *g);
TravoStatus hessian(const Member &mb, const RegionIndex &index, const double *x, double *const *h);

}  // namespace travo::core

// Fuzz target for the library: random dimension, minima count, box,
// parameters, test number and points. Aborts when an invariant of a
// generated member or of its evaluation does not hold.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "evaluation/evaluate.hpp"
#include "fuzz_input.hpp"
#include "generator/member.hpp"
#include "random/lagfib.hpp"

using namespace travo::core;

namespace {

[[noreturn]] void violated(const char *what) {
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

void require(bool ok, const char *what) {
    if (!ok) violated(what);
}

bool documented(TravoStatus st) {
    switch (st) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
    case 8:
    case 14:
    case 15:
    case 16:
        return true;
    default:
        return false;
    }
}

bool finite_member(const Member &mb) {
    for (uint32_t c = 0; c < mb.dim; c++) {
        if (!std::isfinite(mb.domain_left[c]) || !std::isfinite(mb.domain_right[c])) return false;
    }
    return std::isfinite(mb.global_value) && std::isfinite(mb.global_dist) && std::isfinite(mb.global_radius);
}

void check_member(const Member &mb) {
    const MinimaTable &t = mb.minima;
    const uint32_t m = mb.num_minima, n = mb.dim;
    require(mb.isArgSet == 1, "flag set after success");
    require(t.radii[1] == mb.global_radius || (std::isnan(t.radii[1]) && std::isnan(mb.global_radius)),
            "global radius exact");
    require(mb.glob.count >= 1 && mb.glob.count <= m, "global count");
    std::vector<bool> global(m, false);
    for (uint32_t k = 0; k < mb.glob.count; k++) {
        const uint32_t i = mb.glob.indices[k];
        require(i < m, "global index in range");
        require(k == 0 || mb.glob.indices[k - 1] < i, "global indices increasing");
        global[i] = true;
    }
    require(global[1], "row 1 is global");
    require(finite_member(mb), "accepted parameters and bounds are finite");
    // Positions carry rounding relative to the box's magnitude, and the
    // global radius may exceed half the distance by the 1e-10 tolerance.
    double scale = 1.0;
    for (uint32_t c = 0; c < n; c++) {
        scale = std::fmax(scale, std::fmax(std::fabs(mb.domain_left[c]), std::fabs(mb.domain_right[c])));
    }
    const double slack = 1e-10 + 1e-13 * scale;
    for (uint32_t i = 0; i < m; i++) {
        if (!global[i]) require(t.values[i] > mb.global_value, "local value above the global value");
        for (uint32_t j = i + 1; j < m; j++) {
            const double dist = norm(n, t.points[i], t.points[j]);
            if (!std::isfinite(dist)) continue;
            if (!(t.radii[i] + t.radii[j] <= dist + slack)) {
                std::fprintf(stderr, "rows %u and %u: radii %.17g %.17g, distance %.17g (n=%u m=%u R=%.17g d=%.17g)\n",
                             i, j, t.radii[i], t.radii[j], dist, n, m, mb.global_radius, mb.global_dist);
                for (uint32_t c = 0; c < n; c++) {
                    std::fprintf(stderr, "  c%u box [%.17g, %.17g] T %.17g M %.17g\n", c, mb.domain_left[c],
                                 mb.domain_right[c], t.points[0][c], t.points[1][c]);
                }
                violated("regions do not overlap");
            }
        }
    }
}

void check_points(const Member &mb, travo::fuzz::Input &in) {
    const uint32_t n = mb.dim;
    std::vector<double> x(n), g(n), rows(static_cast<size_t>(n) * n);
    std::vector<double *> h(n);
    for (uint32_t i = 0; i < n; i++) h[i] = &rows[static_cast<size_t>(i) * n];
    for (int s = 0; s < 8 && !in.empty(); s++) {
        const uint8_t mode = in.byte();
        if (mode < 128) {
            // Near a minimizer, scaled by its region.
            const uint32_t k = in.byte() % mb.num_minima;
            const double rho = mb.minima.radii[k];
            for (uint32_t c = 0; c < n; c++) x[c] = mb.minima.points[k][c] + rho * (2 * in.unit() - 1);
        } else {
            for (uint32_t c = 0; c < n; c++) {
                x[c] = mb.domain_left[c] + (mb.domain_right[c] - mb.domain_left[c]) * in.number(-0.01, 1.01);
            }
        }
        bool point_finite = true;
        for (double xc : x) point_finite = point_finite && std::isfinite(xc);
        if (!point_finite) continue;
        // An accepted member has a finite value and finite derivatives at
        // every finite point of its box.
        for (Kind kind : {Kind::ND, Kind::D, Kind::D2}) {
            const double v = value_at(mb, kind, x.data());
            require(std::isfinite(v), "finite value at a finite point");
            if (v < TRAVO_ERROR_VALUE) {
                require(v >= mb.global_value - 1e-9 * std::fabs(mb.global_value), "no value below the global minimum");
            }
            if (kind == Kind::ND || !(v < TRAVO_ERROR_VALUE)) continue;
            const TravoStatus st = gradient(mb, kind, x.data(), g.data());
            require(st == TRAVO_STATUS_OK, "gradient where the value is finite");
            for (double gi : g) {
                if (!std::isfinite(gi)) {
                    const Site st = locate(mb, x.data());
                    std::fprintf(stderr, "value %.17g at site %d region %u rho %.17g r %.17g A %.17g s %.17g\n", v,
                                 static_cast<int>(st.where), st.k, st.rho, st.r, st.A, st.s);
                    violated("finite gradient");
                }
            }
            if (kind == Kind::D2) {
                require(hessian(mb, x.data(), h.data()) == TRAVO_STATUS_OK, "Hessian where the value is finite");
                for (double hij : rows) require(std::isfinite(hij), "finite Hessian");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    travo::fuzz::Input in(data, size);
    Member mb;
    RandomSource rng;
    const uint8_t shape = in.byte();
    mb.dim = shape < 250 ? 2 + shape % 7 : in.u32() % 1100;
    const uint8_t count = in.byte();
    mb.num_minima = count < 250 ? count % 40 : in.u32() % 300;
    const bool sane = in.byte() < 200;

    // Sometimes boxes and global values up to the limits of the doubles,
    // where values and derivatives would overflow unless refused.
    const uint8_t huge = in.byte();
    const double box_scale = huge >= 224 ? std::ldexp(1.0, (huge - 224) * 8) : 1.0;
    if (mb.dim >= 2 && mb.dim <= TRAVO_MAX_DIM && in.byte() < 250) {
        require(domain_alloc(mb) == TRAVO_STATUS_OK, "box allocation");
        for (uint32_t c = 0; c < mb.dim; c++) {
            const double lo = box_scale * in.number(-10.0, 10.0);
            mb.domain_left[c] = lo;
            mb.domain_right[c] = sane ? lo + box_scale * (1e-6 + in.number(0.0, 20.0)) : in.number(-10.0, 10.0);
        }
    }
    mb.global_value = sane ? -1e-9 - in.number(0.0, 100.0) : in.number(-100.0, 1.0);
    if (huge >= 192 && huge < 224) mb.global_value = -std::ldexp(0.5 + in.unit(), (huge - 192) * 32);
    if (sane && mb.domain_left != nullptr) {
        double side = mb.domain_right[0] - mb.domain_left[0];
        for (uint32_t c = 1; c < mb.dim; c++) side = std::fmin(side, mb.domain_right[c] - mb.domain_left[c]);
        mb.global_dist = in.unit() * 0.5 * side;
        mb.global_radius = in.unit() * 0.5 * mb.global_dist;
    } else {
        mb.global_dist = in.number(0.0, 2.0);
        mb.global_radius = in.number(0.0, 1.0);
    }
    const int32_t test = static_cast<int32_t>(in.byte() < 245 ? 1 + in.byte() % 100 : in.u32());

    const TravoStatus checked = parameters_check(mb);
    const TravoStatus st = arg_generate(mb, rng, test);
    require(documented(st), "documented status");
    require(test < 1 || test > 100 || checked == TRAVO_STATUS_OK || st == checked, "generation checks first");
    if (st == TRAVO_STATUS_OK) {
        check_member(mb);
        check_points(mb, in);
    } else {
        require(mb.isArgSet == 0, "flag clear after failure");
    }
    free_tables(mb);
    domain_free(mb);
    return 0;
}

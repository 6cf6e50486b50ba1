// The state behind a travo::Member and the checks and fills shared by the
// pieces of the C++ interface: generation, single-point evaluation and the
// batch forms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

#include "evaluation/batch.hpp"
#include "evaluation/evaluate.hpp"
#include "evaluation/lookup.hpp"
#include "generator/member.hpp"
#include "travo/travo.hpp"

namespace travo {

struct Member::Impl {
    Parameters params;  // owns the box the core member points to
    core::Member core;  // owns its tables (host allocator)
    // Region lookup built once from the tables, which nothing changes after
    // generation (they are only handed out as read-only spans).
    core::RegionIndex index;
    // Batch evaluation over the tables and the index; like locate below, it
    // refuses a point with a NaN coordinate as lying outside the box.
    core::BatchEvaluator batch;

    core::Site locate(const double *x) const {
        return core::has_nan(x, core.dim) ? core::Site{} : core::locate(core, index, x);
    }

    Impl() = default;
    Impl(const Impl &) = delete;
    Impl &operator=(const Impl &) = delete;
    ~Impl() { core::free_tables(core); }
};

namespace detail {

inline core::Kind to_core(Kind kind) {
    switch (kind) {
    case Kind::ND:
        return core::Kind::ND;
    case Kind::D:
        return core::Kind::D;
    case Kind::D2:
        return core::Kind::D2;
    }
    throw std::invalid_argument("travo: unknown kind");
}

inline core::Kind differentiable(Kind kind) {
    if (kind == Kind::ND) throw std::invalid_argument("travo: the ND kind has no derivatives; use D or D2");
    return to_core(kind);
}

[[noreturn]] inline void bad_length(const char *what, std::size_t got, std::size_t want) {
    throw std::invalid_argument("travo: " + std::string(what) + " has " + std::to_string(got) + " entries, expected " +
                                std::to_string(want));
}

inline void expect_length(const char *what, std::size_t got, std::size_t want) {
    if (got != want) bad_length(what, got, want);
}

// Number of points in a batch of coordinates, n per point.
inline std::size_t point_count(std::span<const double> points, std::size_t n) {
    if (points.size() % n != 0) {
        throw std::invalid_argument("travo: a batch of " + std::to_string(points.size()) +
                                    " coordinates is not a whole number of points of dimension " + std::to_string(n));
    }
    return points.size() / n;
}

// Gradient at an already located point; false when a component is the
// error value.
inline bool fill_gradient(core::Kind kind, const core::Site &site, std::uint32_t n, double *g) {
    core::first_derivatives(kind, site, n, g);
    bool ok = true;
    for (std::uint32_t i = 0; i < n; i++) {
        if (g[i] >= error_value) ok = false;
    }
    return ok;
}

inline bool fill_hessian(const core::Site &site, std::uint32_t n, double *h) {
    bool ok = true;
    for (std::uint32_t i = 1; i <= n; i++) {
        double *row = h + static_cast<std::size_t>(i - 1) * n;
        core::second_derivatives(site, i, n, row, 1);
        for (std::uint32_t j = 0; j < n; j++) {
            if (row[j] >= error_value) ok = false;
        }
    }
    return ok;
}

// Region row of a located point, -1 outside every region.
inline std::int64_t region_of(const core::Site &site) {
    return site.where == core::Site::Centre || site.where == core::Site::Region ? std::int64_t(site.k) : -1;
}

}  // namespace detail

}  // namespace travo

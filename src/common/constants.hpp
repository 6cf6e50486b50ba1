// Constants shared by the core and by both public interfaces, in one place,
// and the checks that tie the C++ interface's constants to those of travo.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "travo/travo.h"
#include "travo/travo.hpp"

namespace travo::core {

// Tolerance of every comparison made by the generator, by evaluation and by
// the parameter rules.
inline constexpr double kTol = 1e-10;
// Starting value of minimum searches; also the evaluation error value.
inline constexpr double kHuge = TRAVO_ERROR_VALUE;

// Dimensions a member can have.
inline constexpr std::uint32_t kMinDim = 2;
inline constexpr std::uint32_t kMaxDim = TRAVO_MAX_DIM;

// Shortest side of a box of n >= 1 coordinates: coordinate 0 first, then a
// side replaces the current one only when it is strictly shorter (so a NaN
// side never does).
inline double shortest_side(std::size_t n, const double *lower, const double *upper) {
    double s = upper[0] - lower[0];
    for (std::size_t i = 1; i < n; i++) {
        const double side = upper[i] - lower[i];
        if (side < s) s = side;
    }
    return s;
}

}  // namespace travo::core

static_assert(travo::error_value == TRAVO_ERROR_VALUE);
static_assert(travo::min_dimension == travo::core::kMinDim);
static_assert(travo::max_dimension == TRAVO_MAX_DIM);
static_assert(static_cast<int>(travo::Status::ok) == TRAVO_STATUS_OK);
static_assert(static_cast<int>(travo::Status::bad_dimension) == TRAVO_BAD_DIMENSION);
static_assert(static_cast<int>(travo::Status::bad_minima_count) == TRAVO_BAD_MINIMA_COUNT);
static_assert(static_cast<int>(travo::Status::bad_test_number) == TRAVO_BAD_TEST_NUMBER);
static_assert(static_cast<int>(travo::Status::bad_domain) == TRAVO_BAD_DOMAIN);
static_assert(static_cast<int>(travo::Status::bad_global_value) == TRAVO_BAD_GLOBAL_VALUE);
static_assert(static_cast<int>(travo::Status::bad_global_distance) == TRAVO_BAD_GLOBAL_DISTANCE);
static_assert(static_cast<int>(travo::Status::bad_global_radius) == TRAVO_BAD_GLOBAL_RADIUS);
static_assert(static_cast<int>(travo::Status::no_memory) == TRAVO_NO_MEMORY);
static_assert(static_cast<int>(travo::Status::bad_derivative) == TRAVO_BAD_DERIVATIVE);
static_assert(static_cast<int>(travo::Status::parabola_coincidence) == TRAVO_PARABOLA_COINCIDENCE);
static_assert(static_cast<int>(travo::Status::minima_coincidence) == TRAVO_MINIMA_COINCIDENCE);
static_assert(static_cast<int>(travo::Status::no_global_minimum) == TRAVO_NO_GLOBAL_MINIMUM);

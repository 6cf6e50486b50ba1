// A member of the test class as an explicit object, and the generator
// operations on it. The module-wide C interface and the C++ interface are
// both thin layers over these functions; nothing here touches global state
// except the host allocator.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/constants.hpp"
#include "common/stop_check.hpp"
#include "travo/travo.h"

namespace travo::core {

class RandomSource;

struct Member {
    uint32_t dim = 0;         // n
    uint32_t num_minima = 0;  // m
    double *domain_left = nullptr;
    double *domain_right = nullptr;
    double global_dist = 0.0;
    double global_radius = 0.0;
    double global_value = 0.0;
    MinimaTable minima{};
    GlobalMinimaList glob{};
    int isArgSet = 0;    // 1 while a generated member is available
    double delta = 0.0;  // coefficient of the D2 kind
};

// Limits that keep every value and every first and second derivative of a
// member finite and below the error value 1e+100 in magnitude, so that no
// result can be taken for a refusal (docs/bad-input.md derives them). Any
// two points that evaluation combines, and every region radius, lie within
// 1.5 box diagonals W; values stay below 400 W^2 and the intermediates of
// the formulas below 200 (1.5 W)^5, so W is at most 1e48.
inline constexpr double kMaxBoxDiagonal = 1e48;
// The global region, of height A = d^2 - g and radius R, has values below
// 60 A, first derivatives below 120 A / R and second derivatives below
// 400 A / R^2: A may reach 1e100 / 400 times min(1, R^2).
inline constexpr double kMaxGlobalHeight = 2.5e97;

// Length of the diagonal of the box (NaN or infinite for such bounds).
double box_diagonal(uint32_t n, const double *lower, const double *upper);
// The lowest global value whose region keeps every result within the
// limits for distance d and radius R: d^2 - kMaxGlobalHeight * min(1, R^2).
double lowest_global_value(double d, double r);

// Parameters and storage.
TravoStatus set_default(Member &mb);
TravoStatus domain_alloc(Member &mb);
void domain_free(Member &mb);
TravoStatus parameters_check(const Member &mb);
TravoStatus alloc_tables(Member &mb);
// The same, asking `stop` between rows; kAbandoned (below) when it answers
// false, with what was taken left for free_tables.
TravoStatus alloc_tables(Member &mb, const StopCheck &stop);
void free_tables(Member &mb);

// Status of a generation abandoned by its progress callback. It is none of
// the TravoStatus codes, and only a caller that passed a callback sees it.
inline constexpr TravoStatus kAbandoned = -1;

struct Progress {
    // Called now and then during generation with the work done so far out of
    // the total (same unit); returning false abandons the generation.
    bool (*report)(void *context, std::uint64_t done, std::uint64_t total) = nullptr;
    void *context = nullptr;
};

// Generation: places the minimizers, draws delta and sizes the regions.
// With a progress callback (which may be null), an abandoned generation
// returns kAbandoned with its tables released and isArgSet 0.
TravoStatus arg_generate(Member &mb, RandomSource &rng, int32_t test_number);
TravoStatus arg_generate(Member &mb, RandomSource &rng, int32_t test_number, const Progress *progress);
TravoStatus coincidence_check(const Member &mb);
TravoStatus set_basins(Member &mb, RandomSource &rng);

// Euclidean distance over n coordinates, summed in increasing order.
double norm(uint32_t n, const double *a, const double *b);

// Byte size of `count` items of `size` bytes, or 0 when it does not fit in
// the 32-bit sizes that the tables are specified with.
std::size_t table_bytes(std::size_t count, std::size_t size);

}  // namespace travo::core

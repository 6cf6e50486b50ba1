// Fast generation paths and the straightforward forms they must match.
//
// The straightforward forms (…_reference) scan every pair of rows: region
// sizing and the coincidence test cost m^2 n. The fast forms use a k-d tree
// (region sizing) and a sort-and-sweep (coincidence test) and give the same
// bits; the unsuffixed operations of member.hpp choose between them.
#pragma once

#include <cstdint>

#include "generator/member.hpp"

namespace travo::core {

// Which form an operation runs. Automatic takes the fast form where it is
// eligible and pays off; Fast takes it wherever it is eligible (finite
// coordinates and radius within kSafeMagnitude), whatever the size;
// Reference always scans.
enum class Path { Automatic, Reference, Fast };

class Meter;

TravoStatus arg_generate(Member &mb, RandomSource &rng, int32_t test_number, Path path,
                         const Progress *progress = nullptr);
// With a stop check that answers false the test ends with kAbandoned.
TravoStatus coincidence_check(const Member &mb, Path path, const StopCheck &stop = {});
// With a meter, the rows are counted on it and the sizing may be abandoned
// (kAbandoned).
TravoStatus set_basins(Member &mb, RandomSource &rng, Path path, Meter *meter = nullptr);

TravoStatus coincidence_check_reference(const Member &mb);
TravoStatus set_basins_reference(Member &mb, RandomSource &rng);

// Whether the fast forms are expected to beat the scans for m rows of n
// coordinates (measured with bench/generation_bench).
bool fast_sizing_pays(uint32_t n, uint32_t m);
bool fast_coincidence_pays(uint32_t n, uint32_t m);

// Steps 1 to 3 of region sizing (first radii, global region, widening) with
// the tree. Returns false, having changed nothing, when the member holds a
// coordinate or a global radius that is not finite or beyond kSafeMagnitude.
// Rows are counted on `meter`; when it asks to stop, *abandoned is set and
// the radii are left part way.
bool size_regions_fast(Member &mb, Meter &meter, bool *abandoned);
bool size_regions_fast(Member &mb);

// The coincidence test by sort-and-sweep. Returns false, having decided
// nothing, when rows 1..m-1 hold a coordinate that is not finite or beyond
// kSafeMagnitude; otherwise stores the status in *status (kAbandoned when
// `stop` answered false).
bool coincidence_check_fast(const Member &mb, TravoStatus *status, const StopCheck &stop = {});

namespace detail {
// Step 2 of region sizing, shared by both forms.
void global_region(Member &mb);
}  // namespace detail

}  // namespace travo::core

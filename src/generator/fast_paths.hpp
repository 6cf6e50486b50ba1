// Fast generation paths and the straightforward forms they must match.
//
// The straightforward forms (…_reference) scan every pair of rows, one
// distance at a time: region sizing and the coincidence test cost m^2 n.
// The fast forms give the same bits: region sizing by a k-d tree in few
// dimensions, or by the same scans in vector lanes, over threads, where a
// tree cannot prune; the coincidence test by a sort-and-sweep. The
// unsuffixed operations of member.hpp choose between them.
#pragma once

#include <cstdint>
#include <optional>

#include "common/simd.hpp"
#include "generator/member.hpp"

namespace travo::core {

// Which form an operation runs. Automatic takes a fast form where it is
// eligible and pays off; Tree and Lanes take theirs wherever it is eligible
// (finite coordinates and radius within kSafeMagnitude), whatever the size:
// region sizing by the k-d tree or by the scans in lanes, the coincidence
// test by the sweep for both; Reference always scans.
enum class Path { Automatic, Reference, Tree, Lanes };

// How the fast forms of region sizing run: on `threads` threads (0: as many
// as the hardware runs at once, when the work is large enough to share),
// with the kernels of the widest instruction set the processor has at or
// below `simd` (by default as batch evaluation chooses: TRAVO_SIMD, else
// the widest). The results do not depend on either.
struct Execution {
    unsigned threads = 0;
    std::optional<Simd> simd;
};

class Meter;

TravoStatus arg_generate(Member &mb, RandomSource &rng, int32_t test_number, Path path,
                         const Progress *progress = nullptr, const Execution &execution = {});
// With a stop check that answers false the test ends with kAbandoned.
TravoStatus coincidence_check(const Member &mb, Path path, const StopCheck &stop = {});
// With a meter, the rows are counted on it and the sizing may be abandoned
// (kAbandoned).
TravoStatus set_basins(Member &mb, RandomSource &rng, Path path, Meter *meter = nullptr,
                       const Execution &execution = {});

TravoStatus coincidence_check_reference(const Member &mb);
TravoStatus set_basins_reference(Member &mb, RandomSource &rng);

// Which form of region sizing pays off for m rows of n coordinates
// (measured with bench/generation_bench): the straightforward scans for
// small members, the tree in few dimensions, else the scans in lanes.
Path sizing_path(uint32_t n, uint32_t m);
bool fast_coincidence_pays(uint32_t n, uint32_t m);

// Steps 1 to 3 of region sizing (first radii, global region, widening) by
// the tree (Path::Tree) or the scans in lanes (Path::Lanes). Returns false,
// having changed nothing, when the member holds a coordinate or a global
// radius that is not finite or beyond kSafeMagnitude. Rows are counted on
// `meter`; when it asks to stop, *abandoned is set and the radii are left
// part way.
bool size_regions_fast(Member &mb, Path path, Meter &meter, bool *abandoned, const Execution &execution = {});

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

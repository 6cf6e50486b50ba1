// Pieces shared by the benchmark programs.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "generator/member.hpp"
#include "random/lagfib.hpp"

namespace travo::bench {

// Generates test 1 of the default parameters over [-1, 1]^n with m minima
// into `mb`, which the caller releases.
inline void generate_default(core::Member &mb, uint32_t n, uint32_t m) {
    mb.dim = n;
    mb.num_minima = m;
    core::domain_alloc(mb);
    mb.global_value = -1.0;
    mb.global_dist = 2.0 / 3.0;
    mb.global_radius = 1.0 / 3.0;
    core::RandomSource rng;
    core::arg_generate(mb, rng, 1);
}

// Registers the program's benchmarks, then runs what the command line asks.
inline int run(int argc, char **argv, void (*register_all)()) {
    register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace travo::bench

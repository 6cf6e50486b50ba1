// Generation of a whole member, along the straightforward scans and along
// the path the library chooses (the fast forms where they pay off).
//
// Names: generate/<path>/n:<n>/m:<m>, path = reference | automatic | fast
// (fast: the tree and the sweep at every size, to show where they pay).
// Sizes whose reference run would take minutes are registered for the
// automatic path only (see kReferenceLimit).
#include <benchmark/benchmark.h>

#include "bench_support.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "generator/fast_paths.hpp"
#include "generator/member.hpp"
#include "random/lagfib.hpp"

namespace core = travo::core;

namespace {

// Largest m·m·n for which the reference is run (about a minute here).
constexpr double kReferenceLimit = 1e10;
// Largest m·n for which the automatic path is run.
constexpr double kAutomaticLimit = 2e6;

void generate(benchmark::State &state, core::Path path, uint32_t n, uint32_t m) {
    core::Member mb;
    mb.dim = n;
    mb.num_minima = m;
    if (core::domain_alloc(mb) != TRAVO_STATUS_OK) {
        state.SkipWithError("no box");
        return;
    }
    mb.global_value = -1.0;
    mb.global_dist = 2.0 / 3.0;
    mb.global_radius = 1.0 / 3.0;
    core::RandomSource rng;
    int32_t test = 1;
    for (auto _ : state) {
        const TravoStatus status = core::arg_generate(mb, rng, test, path);
        benchmark::DoNotOptimize(mb.minima.radii[m - 1]);
        if (status != TRAVO_STATUS_OK) state.SkipWithError("generation failed");
        state.PauseTiming();
        core::free_tables(mb);
        test = test % 100 + 1;
        state.ResumeTiming();
    }
    core::domain_free(mb);
    state.counters["m"] = m;
    state.counters["n"] = n;
}

double min_of(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

void register_all() {
    const int64_t dims[] = {2, 10, 100};
    const int64_t counts[] = {10, 100, 1000, 10000, 100000, 1000000};
    const std::pair<const char *, core::Path> paths[] = {
        {"reference", core::Path::Reference}, {"automatic", core::Path::Automatic}, {"fast", core::Path::Tree}};
    for (const auto &[name, path] : paths) {
        for (int64_t n : dims) {
            for (int64_t m : counts) {
                const double md = double(m), nd = double(n);
                if (path == core::Path::Reference && md * md * nd > kReferenceLimit) continue;
                if (path != core::Path::Reference && md * nd > kAutomaticLimit) continue;
                if (path == core::Path::Tree && (m > 10000 || md * nd > 1e5)) continue;
                const std::string label = std::string("generate/") + name + "/n:" + std::to_string(n) +
                                          "/m:" + std::to_string(m);
                auto *b = benchmark::RegisterBenchmark(label.c_str(), generate, path, uint32_t(n), uint32_t(m));
                b->Unit(benchmark::kMillisecond)->ComputeStatistics("min", min_of);
            }
        }
    }
}

}  // namespace

int main(int argc, char **argv) { return travo::bench::run(argc, argv, register_all); }

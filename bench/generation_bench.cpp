// Generation of a whole member, along the straightforward scans and along
// the path the library chooses (the fast forms where they pay off).
//
// Names: generate/<path>/n:<n>/m:<m>, path =
//   reference   the pairwise scans, one distance at a time;
//   automatic   what arg_generate chooses, on as many threads as the
//               hardware runs when the member is large enough;
//   tree, lanes region sizing by the k-d tree or by the scans in lanes, at
//               every size, to show where each pays (one thread);
//   threads_1, threads_2  automatic on one and on two threads, for the
//               largest members.
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

void generate(benchmark::State &state, core::Path path, unsigned threads, uint32_t n, uint32_t m) {
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
        const TravoStatus status = core::arg_generate(mb, rng, test, path, nullptr, core::Execution{threads, {}});
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
    const int64_t dims[] = {2, 10, 20, 100};
    const int64_t counts[] = {10, 100, 1000, 10000, 100000, 1000000};
    const struct {
        const char *name;
        core::Path path;
        unsigned threads;
    } paths[] = {{"reference", core::Path::Reference, 1}, {"automatic", core::Path::Automatic, 0},
                 {"tree", core::Path::Tree, 1},           {"lanes", core::Path::Lanes, 1},
                 {"threads_1", core::Path::Automatic, 1}, {"threads_2", core::Path::Automatic, 2}};
    for (const auto &p : paths) {
        for (int64_t n : dims) {
            for (int64_t m : counts) {
                const double md = double(m), nd = double(n);
                if (p.path == core::Path::Reference && md * md * nd > kReferenceLimit) continue;
                if (p.path != core::Path::Reference && md * nd > kAutomaticLimit) continue;
                if ((p.path == core::Path::Tree || p.path == core::Path::Lanes) && (m > 10000 || md * nd > 1e5)) {
                    continue;
                }
                if (p.threads != 0 && p.path == core::Path::Automatic && md * nd < 1e6) continue;
                const std::string label = std::string("generate/") + p.name + "/n:" + std::to_string(n) +
                                          "/m:" + std::to_string(m);
                auto *b = benchmark::RegisterBenchmark(label.c_str(), generate, p.path, p.threads, uint32_t(n),
                                                       uint32_t(m));
                b->Unit(benchmark::kMillisecond)->ComputeStatistics("min", min_of)->UseRealTime();
            }
        }
    }
}

}  // namespace

int main(int argc, char **argv) { return travo::bench::run(argc, argv, register_all); }

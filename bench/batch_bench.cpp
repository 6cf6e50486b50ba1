// Evaluation of many points at once: the batch forms of the C++ interface
// and the host entry.
//
// Names (times per batch; the counter `points` holds the batch size):
//   batch_<op>/<path>/n:<n>/m:<m>, op = value_D2 | gradient_D2 | hessian,
//     reference    one point after another, each located by find_region
//                  (every region, a square root each) and evaluated;
//     per_point    one point after another through the member's
//                  RegionIndex (the batch loop before blocks and threads);
//     one_thread   travo::Member's batch form on the calling thread;
//     all_threads  the same over std::thread::hardware_concurrency() threads;
//     sse2, avx2, avx512  (values) core::BatchEvaluator held to that
//                  instruction set, one thread (absent where the processor
//                  lacks it); one_thread runs the widest the processor has.
//   batch_value_D2_paraboloid/<set>/n/m: the same with points outside every
//     region only (the search and the paraboloid, no region formulas).
//   scale_<op>/threads_<k>/n:<n>/m:<m>: travo::Member's batch form over
//     1,000,000 points on k threads (1 and 2), for the speed-up of threads.
//   host_D2/<path>/points:<k>: travo(10, -1, 2/3, 1/3, "D2_func", 1, X, Y) with
//   X, Y of k points,
//     entry         the host entry called through travo's host layer
//                   (travo::host::call): checks, generation, evaluation,
//                   the result copied out of the call;
//     module_loop   the same member generated through the module-wide C
//                   interface and TRAVO_D2_func called at each point, as
//                   the entry did before it read the member once;
//     library_batch travo::Member::values on one thread at the same points
//                   (the member generated beforehand).
#include <benchmark/benchmark.h>

#include "bench_support.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "evaluation/batch.hpp"
#include "evaluation/evaluate.hpp"
#include "evaluation/lookup.hpp"
#include "generator/member.hpp"
#include "host/host_call.hpp"
#include "random/lagfib.hpp"
#include "travo/travo.h"
#include "travo/travo.hpp"

namespace core = travo::core;

namespace {

struct Fixture {
    core::Member mb;  // the same member as `f`, for the per-point paths
    std::unique_ptr<core::RegionIndex> index;
    std::unique_ptr<travo::Member> f;
    std::vector<double> points;  // one after another
    std::size_t count = 0;
    ~Fixture() {
        core::free_tables(mb);
        core::domain_free(mb);
    }
};

// Points per batch: about a hundred thousand numbers in, fewer for Hessians.
std::size_t batch_size(const std::string &op, uint32_t n) {
    if (op == "hessian") return std::max<std::size_t>(16, 131072 / (std::size_t(n) * n));
    return std::max<std::size_t>(128, 131072 / n);
}

// `count` points (0: batch_size).
Fixture &fixture(const std::string &op, uint32_t n, uint32_t m, std::size_t count = 0) {
    static std::map<std::tuple<std::string, uint32_t, uint32_t, std::size_t>, std::unique_ptr<Fixture>> cache;
    auto &slot = cache[{op, n, m, count}];
    if (!slot) {
        slot = std::make_unique<Fixture>();
        core::Member &mb = slot->mb;
        travo::bench::generate_default(mb, n, m);
        slot->index = std::make_unique<core::RegionIndex>(mb);
        travo::Parameters p = travo::Parameters::in_cube(n);
        p.num_minima = m;
        slot->f = std::make_unique<travo::Member>(travo::generate(p));
        // As in evaluation_bench: half uniform in the box, half inside
        // regions, so that both branches of the formulas are timed.
        slot->count = count != 0 ? count : batch_size(op, n);
        std::mt19937_64 gen(n * 7919u + m);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        if (op == "value_D2_paraboloid") {
            // Points outside every region only: the search and the
            // paraboloid without the region formulas.
            std::vector<double> x(n);
            while (slot->points.size() < slot->count * n) {
                for (double &v : x) v = u(gen);
                if (core::locate(mb, x.data()).where != core::Site::Paraboloid) continue;
                slot->points.insert(slot->points.end(), x.begin(), x.end());
            }
            return *slot;
        }
        for (std::size_t t = 0; t < slot->count; t++) {
            if (t % 2 == 0) {
                for (uint32_t i = 0; i < n; i++) slot->points.push_back(u(gen));
            } else {
                const uint32_t k = 1 + static_cast<uint32_t>(gen() % (m - 1));
                const double *c = mb.minima.points[k];
                const double step = 0.5 * mb.minima.radii[k] / std::sqrt(double(n));
                for (uint32_t i = 0; i < n; i++) slot->points.push_back(std::clamp(c[i] + step * u(gen), -1.0, 1.0));
            }
        }
    }
    return *slot;
}

enum class Path { Reference, PerPoint, OneThread, AllThreads, TwoThreads };

// Points of the scaling benchmarks.
constexpr std::size_t kScalePoints = 1000000;

unsigned threads_of(Path path) {
    if (path == Path::TwoThreads) return 2;
    return path == Path::AllThreads ? std::max(1u, std::thread::hardware_concurrency()) : 1u;
}

core::Site site_of(const Fixture &fx, Path path, const double *x) {
    return path == Path::Reference ? core::locate_reference(fx.mb, x) : core::locate(fx.mb, *fx.index, x);
}

void finish(benchmark::State &state, const Fixture &fx) {
    state.counters["points"] = static_cast<double>(fx.count);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * fx.count));
}

void batch_value(benchmark::State &state, Path path, uint32_t n, uint32_t m, std::size_t count) {
    Fixture &fx = fixture("value_D2", n, m, count);
    std::vector<double> out(fx.count);
    for (auto _ : state) {
        if (path == Path::Reference || path == Path::PerPoint) {
            for (std::size_t p = 0; p < fx.count; p++) {
                out[p] = core::value(core::Kind::D2, site_of(fx, path, &fx.points[p * n]));
            }
        } else {
            fx.f->values(travo::Kind::D2, fx.points, out, threads_of(path));
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    finish(state, fx);
}

void batch_value_simd(benchmark::State &state, core::Simd simd, uint32_t n, uint32_t m, const char *op) {
    Fixture &fx = fixture(op, n, m);
    std::vector<double> out(fx.count);
    const core::BatchEvaluator batch(fx.mb, fx.index.get(), simd);
    for (auto _ : state) {
        batch.values(core::Kind::D2, fx.points.data(), fx.count, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    finish(state, fx);
}

void batch_gradient(benchmark::State &state, Path path, uint32_t n, uint32_t m, std::size_t count) {
    Fixture &fx = fixture("gradient_D2", n, m, count);
    std::vector<double> out(fx.count * n);
    for (auto _ : state) {
        if (path == Path::Reference || path == Path::PerPoint) {
            for (std::size_t p = 0; p < fx.count; p++) {
                const core::Site st = site_of(fx, path, &fx.points[p * n]);
                for (uint32_t i = 1; i <= n; i++) out[p * n + i - 1] = core::first_derivative(core::Kind::D2, i, st);
            }
        } else {
            fx.f->gradients(travo::Kind::D2, fx.points, out, threads_of(path));
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    finish(state, fx);
}

void batch_hessian(benchmark::State &state, Path path, uint32_t n, uint32_t m, std::size_t count) {
    Fixture &fx = fixture("hessian", n, m, count);
    const std::size_t nn = std::size_t(n) * n;
    std::vector<double> out(fx.count * nn);
    for (auto _ : state) {
        if (path == Path::Reference || path == Path::PerPoint) {
            for (std::size_t p = 0; p < fx.count; p++) {
                const core::Site st = site_of(fx, path, &fx.points[p * n]);
                for (uint32_t i = 1; i <= n; i++) {
                    for (uint32_t j = 1; j <= n; j++) {
                        out[p * nn + (i - 1) * n + j - 1] = core::second_derivative(i, j, st);
                    }
                }
            }
        } else {
            fx.f->hessians(fx.points, out, threads_of(path));
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    finish(state, fx);
}

// The points of the host benchmarks, also used by bench/octave_host.m:
// x_k = -1 + 2 frac(k a1), y_k = -1 + 2 frac(k a2), k = 0..count-1 (a
// low-discrepancy sequence over the box).
constexpr double kA1 = 0.7548776662466927;
constexpr double kA2 = 0.5698402909980532;

void host_points(std::size_t count, std::vector<double> &x, std::vector<double> &y) {
    x.resize(count);
    y.resize(count);
    for (std::size_t k = 0; k < count; k++) {
        const double u = double(k) * kA1, v = double(k) * kA2;
        x[k] = -1.0 + 2.0 * (u - std::floor(u));
        y[k] = -1.0 + 2.0 * (v - std::floor(v));
    }
}

void host_entry(benchmark::State &state, std::size_t count) {
    std::vector<double> x, y;
    host_points(count, x, y);
    const auto m = travo::host::scalar(10), g = travo::host::scalar(-1), d = travo::host::scalar(2.0 / 3.0),
               r = travo::host::scalar(1.0 / 3.0), action = travo::host::text("D2_func"), test = travo::host::scalar(1),
               X = travo::host::matrix(count, 1, x), Y = travo::host::matrix(count, 1, y);
    for (auto _ : state) {
        const travo::host::Outcome out = travo::host::call(
            mexFunction, 1, {m.get(), g.get(), d.get(), r.get(), action.get(), test.get(), X.get(), Y.get()});
        if (!out.ok || out.result.data.size() != count) state.SkipWithError("the call failed");
        benchmark::DoNotOptimize(out.result.data.data());
    }
    state.counters["points"] = static_cast<double>(count);
}

void host_module_loop(benchmark::State &state, std::size_t count) {
    std::vector<double> x, y, out(count);
    host_points(count, x, y);
    for (auto _ : state) {
        TRAVO_dim = 2;
        if (TRAVO_domain_alloc() != TRAVO_STATUS_OK) state.SkipWithError("no box");
        TRAVO_num_minima = 10;
        TRAVO_global_value = -1.0;
        TRAVO_global_dist = 2.0 / 3.0;
        TRAVO_global_radius = 1.0 / 3.0;
        if (TRAVO_arg_generate(1) != TRAVO_STATUS_OK) state.SkipWithError("generation failed");
        double point[2];
        for (std::size_t k = 0; k < count; k++) {
            point[0] = x[k];
            point[1] = y[k];
            out[k] = TRAVO_D2_func(point);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        TRAVO_free();
        TRAVO_domain_free();
    }
    state.counters["points"] = static_cast<double>(count);
}

void host_library_batch(benchmark::State &state, std::size_t count) {
    std::vector<double> x, y, points(2 * count), out(count);
    host_points(count, x, y);
    for (std::size_t k = 0; k < count; k++) {
        points[2 * k] = x[k];
        points[2 * k + 1] = y[k];
    }
    const travo::Member f = travo::generate(travo::Parameters{});
    for (auto _ : state) {
        f.values(travo::Kind::D2, points, out, 1);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["points"] = static_cast<double>(count);
}

double min_of(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

void register_all() {
    auto reg = [](const std::string &label, auto fn, auto... args) {
        return benchmark::RegisterBenchmark(label.c_str(), fn, args...)
            ->ComputeStatistics("min", min_of)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
    };
    const std::pair<const char *, Path> paths[] = {{"reference", Path::Reference},
                                                   {"per_point", Path::PerPoint},
                                                   {"one_thread", Path::OneThread},
                                                   {"all_threads", Path::AllThreads}};
    auto name = [](const char *op, const char *path, uint32_t n, uint32_t m) {
        return std::string("batch_") + op + "/" + path + "/n:" + std::to_string(n) + "/m:" + std::to_string(m);
    };
    const std::pair<uint32_t, uint32_t> value_sizes[] = {{2, 10},  {2, 100},   {2, 1000}, {5, 10},
                                                         {10, 10}, {10, 1000}, {100, 10}, {1000, 10}};
    for (const auto &[n, m] : value_sizes) {
        for (const auto &[pname, path] : paths) reg(name("value_D2", pname, n, m), batch_value, path, n, m, 0);
        for (core::Simd simd : {core::Simd::SSE2, core::Simd::AVX2, core::Simd::AVX512}) {
            if (!core::BatchEvaluator::supported(simd)) continue;
            reg(name("value_D2", core::BatchEvaluator::name(simd), n, m), batch_value_simd, simd, n, m, "value_D2");
        }
        const core::Simd widest = core::BatchEvaluator::chosen();
        reg(name("value_D2_paraboloid", core::BatchEvaluator::name(widest), n, m), batch_value_simd, widest, n, m,
            "value_D2_paraboloid");
    }
    const std::pair<uint32_t, uint32_t> gradient_sizes[] = {{2, 10}, {10, 10}, {1000, 10}};
    for (const auto &[n, m] : gradient_sizes) {
        for (const auto &[pname, path] : paths) reg(name("gradient_D2", pname, n, m), batch_gradient, path, n, m, 0);
    }
    const std::pair<uint32_t, uint32_t> hessian_sizes[] = {{2, 10}, {10, 10}, {100, 10}};
    for (const auto &[n, m] : hessian_sizes) {
        for (const auto &[pname, path] : paths) reg(name("hessian", pname, n, m), batch_hessian, path, n, m, 0);
    }
    // 1,000,000 points on one thread and on two.
    const auto scale = [&](const char *op, auto fn, uint32_t n, uint32_t m) {
        for (const auto &[pname, path] :
             {std::pair{"threads_1", Path::OneThread}, std::pair{"threads_2", Path::TwoThreads}}) {
            reg(std::string("scale_") + op + "/" + pname + "/n:" + std::to_string(n) + "/m:" + std::to_string(m), fn,
                path, n, m, kScalePoints);
        }
    };
    scale("value_D2", batch_value, 2, 10);
    scale("value_D2", batch_value, 2, 1000);
    scale("value_D2", batch_value, 10, 10);
    scale("gradient_D2", batch_gradient, 2, 10);
    scale("gradient_D2", batch_gradient, 10, 10);
    scale("hessian", batch_hessian, 2, 10);
    for (std::size_t count : {std::size_t(1), std::size_t(1000), std::size_t(1000000)}) {
        const std::string k = "/points:" + std::to_string(count);
        reg("host_D2/entry" + k, host_entry, count);
        reg("host_D2/module_loop" + k, host_module_loop, count);
        reg("host_D2/library_batch" + k, host_library_batch, count);
    }
}

}  // namespace

int main(int argc, char **argv) { return travo::bench::run(argc, argv, register_all); }

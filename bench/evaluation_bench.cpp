// Cost of one evaluation at a point: values of each kind, the gradient and
// the Hessian, with the region lookups side by side.
//
// Names: <operation>/<lookup>/n:<n>/m:<m> where lookup is
//   reference   find_region: every region, a square root each;
//   scan        find_region_scan: every region, square roots only where the
//               bounds cannot decide (what the module-wide interface uses);
//   index       RegionIndex built once for the member (what an immutable
//               member of the C++ interface can own);
//   tree, rows, grid  RegionIndex with each of its layouts imposed
//               (value_D2 only; grid in up to three dimensions), to show
//               where each pays;
//   components  the gradient or Hessian as n or n^2 separate operations,
//               each with its own lookup (reference lookup).
// Along the other lookups the gradient and Hessian come from one lookup
// through first_derivatives and second_derivatives, as the library runs
// them.
#include <benchmark/benchmark.h>

#include "bench_support.hpp"

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "evaluation/evaluate.hpp"
#include "evaluation/lookup.hpp"
#include "generator/member.hpp"
#include "random/lagfib.hpp"

namespace core = travo::core;
using core::Kind;

namespace {

constexpr std::size_t kPoints = 512;

struct Fixture {
    core::Member mb;
    std::unique_ptr<core::RegionIndex> index;             // as chosen by size
    std::unique_ptr<core::RegionIndex> tree, rows, grid;  // each layout imposed
    std::vector<std::vector<double>> points;              // spread over the box

    Fixture() = default;
    Fixture(const Fixture &) = delete;
    Fixture &operator=(const Fixture &) = delete;
    ~Fixture() {
        core::free_tables(mb);
        core::domain_free(mb);
    }
};

Fixture &fixture(uint32_t n, uint32_t m) {
    static std::map<std::pair<uint32_t, uint32_t>, std::unique_ptr<Fixture>> cache;
    auto &slot = cache[{n, m}];
    if (!slot) {
        slot = std::make_unique<Fixture>();
        core::Member &mb = slot->mb;
        travo::bench::generate_default(mb, n, m);
        slot->index = std::make_unique<core::RegionIndex>(mb);
        slot->tree = std::make_unique<core::RegionIndex>(mb, core::RegionIndex::Layout::Tree);
        slot->rows = std::make_unique<core::RegionIndex>(mb, core::RegionIndex::Layout::Rows);
        slot->grid = std::make_unique<core::RegionIndex>(mb, core::RegionIndex::Layout::Grid);
        // Half the points uniform in the box, half inside regions (near
        // minimizers), so that both branches of the formulas are timed.
        std::mt19937_64 gen(n * 7919u + m);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (std::size_t t = 0; t < kPoints; t++) {
            std::vector<double> x(n);
            if (t % 2 == 0) {
                for (double &v : x) v = u(gen);
            } else {
                const uint32_t k = 1 + static_cast<uint32_t>(gen() % (m - 1));
                const double *c = mb.minima.points[k];
                const double step = 0.5 * mb.minima.radii[k] / std::sqrt(double(n));
                for (uint32_t i = 0; i < n; i++) x[i] = std::clamp(c[i] + step * u(gen), -1.0, 1.0);
            }
            slot->points.push_back(std::move(x));
        }
    }
    return *slot;
}

enum class Lookup { Reference, Scan, Index, Tree, Rows, Grid };

core::Site site_of(const Fixture &f, Lookup lookup, const double *x) {
    switch (lookup) {
    case Lookup::Reference:
        return core::locate_reference(f.mb, x);
    case Lookup::Scan:
        return core::locate(f.mb, x);
    case Lookup::Tree:
        return core::locate(f.mb, *f.tree, x);
    case Lookup::Rows:
        return core::locate(f.mb, *f.rows, x);
    case Lookup::Grid:
        return core::locate(f.mb, *f.grid, x);
    case Lookup::Index:
        break;
    }
    return core::locate(f.mb, *f.index, x);
}

void value(benchmark::State &state, Kind kind, Lookup lookup, uint32_t n, uint32_t m) {
    Fixture &f = fixture(n, m);
    std::size_t t = 0;
    for (auto _ : state) {
        const double *x = f.points[t++ % kPoints].data();
        benchmark::DoNotOptimize(core::value(kind, site_of(f, lookup, x)));
    }
}

void gradient(benchmark::State &state, Lookup lookup, uint32_t n, uint32_t m) {
    Fixture &f = fixture(n, m);
    std::vector<double> g(n);
    std::size_t t = 0;
    for (auto _ : state) {
        const double *x = f.points[t++ % kPoints].data();
        core::first_derivatives(Kind::D2, site_of(f, lookup, x), n, g.data());
        benchmark::DoNotOptimize(g.data());
        benchmark::ClobberMemory();
    }
}

// The straightforward gradient: one complete operation per component.
void gradient_components(benchmark::State &state, uint32_t n, uint32_t m) {
    Fixture &f = fixture(n, m);
    std::vector<double> g(n);
    std::size_t t = 0;
    for (auto _ : state) {
        const double *x = f.points[t++ % kPoints].data();
        for (uint32_t i = 1; i <= n; i++) {
            g[i - 1] = core::first_derivative(Kind::D2, i, core::locate_reference(f.mb, x));
        }
        benchmark::DoNotOptimize(g.data());
        benchmark::ClobberMemory();
    }
}

void hessian(benchmark::State &state, Lookup lookup, uint32_t n, uint32_t m) {
    Fixture &f = fixture(n, m);
    std::vector<double> h(std::size_t(n) * n);
    std::vector<double *> rows(n);
    for (uint32_t i = 0; i < n; i++) rows[i] = &h[std::size_t(i) * n];
    std::size_t t = 0;
    for (auto _ : state) {
        const double *x = f.points[t++ % kPoints].data();
        const core::Site st = site_of(f, lookup, x);
        for (uint32_t i = 1; i <= n; i++) core::second_derivatives(st, i, n, rows[i - 1], 1);
        benchmark::DoNotOptimize(h.data());
        benchmark::ClobberMemory();
    }
}

// The straightforward Hessian: one complete operation per entry.
void hessian_components(benchmark::State &state, uint32_t n, uint32_t m) {
    Fixture &f = fixture(n, m);
    std::vector<double> h(std::size_t(n) * n);
    std::size_t t = 0;
    for (auto _ : state) {
        const double *x = f.points[t++ % kPoints].data();
        for (uint32_t i = 1; i <= n; i++) {
            for (uint32_t j = 1; j <= n; j++) {
                h[std::size_t(i - 1) * n + j - 1] = core::second_derivative(i, j, core::locate_reference(f.mb, x));
            }
        }
        benchmark::DoNotOptimize(h.data());
        benchmark::ClobberMemory();
    }
}

double min_of(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

std::string name(const std::string &op, const std::string &lookup, uint32_t n, uint32_t m) {
    return op + "/" + lookup + "/n:" + std::to_string(n) + "/m:" + std::to_string(m);
}

void register_all() {
    // Every benchmark also reports the minimum over repetitions.
    auto reg = [](const std::string &label, auto fn, auto... args) {
        return benchmark::RegisterBenchmark(label.c_str(), fn, args...)->ComputeStatistics("min", min_of);
    };
    const std::pair<const char *, Kind> kinds[] = {{"ND", Kind::ND}, {"D", Kind::D}, {"D2", Kind::D2}};
    const std::pair<const char *, Lookup> lookups[] = {
        {"reference", Lookup::Reference}, {"scan", Lookup::Scan}, {"index", Lookup::Index}};
    for (uint32_t m : {10u, 1000u}) {
        for (uint32_t n : {2u, 10u, 100u, 1000u}) {
            for (const auto &[kname, kind] : kinds) {
                for (const auto &[lname, lookup] : lookups) {
                    reg(name(std::string("value_") + kname, lname, n, m), value, kind, lookup, n, m);
                }
            }
            reg(name("value_D2", "tree", n, m), value, Kind::D2, Lookup::Tree, n, m);
            reg(name("value_D2", "rows", n, m), value, Kind::D2, Lookup::Rows, n, m);
            if (n <= core::RegionIndex::kGridMaxDim)
                reg(name("value_D2", "grid", n, m), value, Kind::D2, Lookup::Grid, n, m);
            for (const auto &[lname, lookup] : lookups) {
                reg(name("gradient_D2", lname, n, m), gradient, lookup, n, m);
                reg(name("hessian", lname, n, m), hessian, lookup, n, m)->Unit(benchmark::kMicrosecond);
            }
            reg(name("gradient_D2", "components", n, m), gradient_components, n, m)->Unit(benchmark::kMicrosecond);
            // n^2 lookups of m·n each: only where that stays within seconds.
            if (double(n) * n * n * m <= 1e9) {
                reg(name("hessian", "components", n, m), hessian_components, n, m)->Unit(benchmark::kMicrosecond);
            }
        }
    }
}

}  // namespace

int main(int argc, char **argv) { return travo::bench::run(argc, argv, register_all); }

// The C++ side of bench/python_bench.py: times Member::values and the
// single-point Member::value over points read from a file, for the same
// member as the Python side.
//
//   travo_python_reference POINTS_FILE DIM MINIMA TEST REPETITIONS THREADS
//
// POINTS_FILE holds count * DIM doubles (native byte order). Prints
// "values SECONDS" (shortest of the repetitions, whole batch) and
// "value SECONDS" (one single-point call at the first point, averaged over
// a loop of calls, shortest loop).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "travo/travo.hpp"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s POINTS_FILE DIM MINIMA TEST REPETITIONS THREADS\n", argv[0]);
        return 2;
    }
    const auto dim = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
    travo::Parameters params = travo::Parameters::in_cube(dim);
    params.num_minima = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
    params.test_number = static_cast<std::int32_t>(std::strtol(argv[4], nullptr, 10));
    const int repetitions = std::max(1, std::atoi(argv[5]));
    const auto threads = static_cast<unsigned>(std::strtoul(argv[6], nullptr, 10));

    std::ifstream file(argv[1], std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<double> points(bytes.size() / sizeof(double));
    std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(points.size() * sizeof(double)),
              reinterpret_cast<char *>(points.data()));
    const std::size_t count = points.size() / dim;
    if (count == 0) return 1;

    const travo::Member f = travo::generate(params);
    std::vector<double> out(count);
    double best = 1e300;
    for (int r = 0; r < repetitions; r++) {
        const auto start = std::chrono::steady_clock::now();
        f.values(travo::Kind::D2, points, out, threads);
        best = std::min(best, seconds_since(start));
    }
    std::printf("values %.9g\n", best);

    // The single call at the first point, as the Python side times it.
    const std::size_t singles = 200000;
    double best_single = 1e300, sink = 0.0;
    for (int r = 0; r < repetitions; r++) {
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < singles; i++) sink += f.value(travo::Kind::D2, {points.data(), dim});
        best_single = std::min(best_single, seconds_since(start) / static_cast<double>(singles));
    }
    std::printf("value %.9g\n", best_single);
    return sink == 0.123456789 ? 3 : 0;  // keeps the loop from being optimised away
}

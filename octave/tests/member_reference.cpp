// Results of one member computed by the C++ interface, for the Octave tests
// of travo_member to compare with:
//   member_reference dim minima value distance radius test lower(dim) upper(dim) points...
// ("-" for a distance or radius left out, derived by Parameters::resolve)
// prints, one number a line with 17 significant digits, the row count m, the
// minima table row by row (value, radius, coordinates), delta, then for each
// point the ND, D and D2 values, the D and D2 gradients, the Hessian row by
// row and the region row (from 0, -1 for none).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "travo/travo.hpp"

int main(int argc, char **argv) {
    if (argc < 7) return 2;
    auto given = [](const char *arg) {
        return std::strcmp(arg, "-") == 0 ? std::nullopt : std::optional<double>(std::strtod(arg, nullptr));
    };
    travo::Parameters::Given g;
    g.dim = static_cast<std::uint32_t>(std::atoi(argv[1]));
    g.num_minima = static_cast<std::uint32_t>(std::atol(argv[2]));
    g.global_value = std::strtod(argv[3], nullptr);
    g.distance = given(argv[4]);
    g.radius = given(argv[5]);
    g.test_number = std::atoi(argv[6]);
    const std::size_t n = *g.dim;
    if (static_cast<std::size_t>(argc) < 7 + 2 * n) return 2;
    std::vector<double> x;  // the bounds, then the points
    for (int a = 7; a < argc; a++) x.push_back(std::strtod(argv[a], nullptr));
    g.lower.emplace(x.begin(), x.begin() + n);
    g.upper.emplace(x.begin() + n, x.begin() + 2 * n);
    try {
        const travo::Parameters p = travo::Parameters::resolve(g);
        const travo::Member f = travo::generate(p);
        auto put = [](double v) { std::printf("%.17g\n", v); };
        put(f.num_minima());
        for (std::size_t r = 0; r < f.num_minima(); r++) {
            put(f.minimum_values()[r]);
            put(f.radii()[r]);
            for (double c : f.minimizer(r)) put(c);
        }
        put(f.delta());
        for (std::size_t k = 2 * n; k + n <= x.size(); k += n) {
            const std::span<const double> pt(x.data() + k, n);
            for (travo::Kind kind : {travo::Kind::ND, travo::Kind::D, travo::Kind::D2}) put(f.value(kind, pt));
            for (double g : f.gradient(travo::Kind::D, pt)) put(g);
            for (double g : f.gradient(travo::Kind::D2, pt)) put(g);
            for (double h : f.hessian(pt)) put(h);
            put(static_cast<double>(f.region(pt)));
        }
    } catch (const std::exception &e) {
        std::printf("%s\n", e.what());
        return 1;
    }
    return 0;
}

// Uses the installed C++ interface beside the C interface: the same member
// through both must give the same bits.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "travo/travo.h"
#include "travo/travo.hpp"

int main() {
    travo::Parameters p;
    p.num_minima = 12;
    p.test_number = 3;
    const travo::Member f = travo::generate(p);

    if (TRAVO_set_default() != TRAVO_STATUS_OK) return 1;
    TRAVO_num_minima = 12;
    if (TRAVO_arg_generate(3) != TRAVO_STATUS_OK) return 1;

    const double x[2] = {0.3, -0.45};
    const double a = f.value(travo::Kind::D2, x), b = TRAVO_D2_func(x);
    double g[2];
    TRAVO_D2_gradient(x, g);
    const std::vector<double> h = f.gradient(travo::Kind::D2, x);
    const bool same = std::memcmp(&a, &b, sizeof a) == 0 && std::memcmp(h.data(), g, sizeof g) == 0;
    const bool minimum = f.value(travo::Kind::D2, f.minimizer(1)) == -1.0;
    std::printf("travo %s: D2 value %.17g, %s\n", std::string(travo::version()).c_str(), a,
                same && minimum ? "as the C interface" : "DIFFERS");
    TRAVO_free();
    TRAVO_domain_free();
    return same && minimum ? 0 : 1;
}

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "random/lagfib.hpp"
#include "travo/travo.h"

using travo::core::RandomSource;

namespace {

constexpr double kUlp = 1.0 / 4503599627370496.0;  // 2^-52

std::vector<double> deliver(RandomSource &src, int n) {
    std::vector<double> out(n);
    src.array(out.data(), n);
    return out;
}

}  // namespace

// Check values of the stream of the default member's seed and of seed 0;
// the module-wide source of the C interface is the same stream.
TEST(LaggedFibonacci, CheckValuesOfTheStream) {
    RandomSource src;
    src.start(2000900);
    auto a = deliver(src, 1009);
    EXPECT_TRUE(a[0] == 534544799382057.0 * kUlp && a[1008] == 3789822735901963.0 * kUlp);
    src.start(0);
    EXPECT_EQ(src.ran_u[0], 337432044646195.0 * kUlp);
    EXPECT_EQ(TRAVO_initialize_rnd(2, 10, 1), TRAVO_STATUS_OK);  // seed 2000900
    src.start(2000900);
    EXPECT_EQ(0, std::memcmp(TRAVO_get_ran_u(), src.ran_u, sizeof src.ran_u));
    ranf_start(2000900);
    ranf_array(a.data(), 1009);
    EXPECT_EQ(a, deliver(src, 1009));
}

// Seeding forgets everything before, and only the low 30 bits of the seed
// count; the member seed wraps in 32-bit two's complement.
TEST(LaggedFibonacci, OnlyTheLowThirtyBitsOfTheSeedCount) {
    for (const auto &p : {std::pair{12345, 12345 | (1 << 30)}, {-1, 0x3FFFFFFF}, {1 << 30, 0}}) {
        RandomSource a, b;
        a.start(77);
        deliver(a, 5000);
        a.start(p.first);
        b.start(p.second);
        EXPECT_EQ(0, std::memcmp(a.ran_u, b.ran_u, sizeof a.ran_u)) << p.first;
    }
    EXPECT_EQ(travo::core::member_seed(1000, 4294967295u, 1), static_cast<int32_t>(1000000000u - 200u));
}

// Deliveries of any size are one stream of multiples of 2^-52 in [0, 1);
// the first 100 are the state as it stood; neither a delivery below 100
// nor one into no array changes the source; draws continue across the
// refill at 1009.
TEST(LaggedFibonacci, DeliveriesAndDrawsAreOneStream) {
    RandomSource a, b;
    a.start(3);
    b.start(3);
    const std::vector<double> state(a.ran_u, a.ran_u + 100), whole = deliver(b, 2018);
    EXPECT_EQ(deliver(a, 100), state);
    a.start(3);
    auto x = deliver(a, 1009);
    a.array(x.data(), 99);
    a.array(nullptr, 1009);
    const auto y = deliver(a, 1009);
    x.insert(x.end(), y.begin(), y.end());
    EXPECT_EQ(x, whole);
    for (double u : whole) ASSERT_TRUE(u >= 0.0 && u < 1.0 && u / kUlp == std::floor(u / kUlp)) << u;
    a.start(3);
    a.refill();
    for (int i = 0; i < 1009; i++) ASSERT_EQ(a.draw(), whole[i]) << i;
    EXPECT_EQ(a.rnd_counter, 0);
    EXPECT_EQ(a.draw(), whole[1009]);
}
